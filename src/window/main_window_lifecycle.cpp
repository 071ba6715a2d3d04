// The life of the main window: creation (configuration, folders, channels, start banner), the
// first activation, close requests (only a confirmed shutdown ends the program) and the
// window events that reach the handlers.

#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "cool_gauge.h"
#include "dialog_service.h"
#include "engine_state.h"
#include "program_folder.h"
#include "rled.h"
#include "service_notify.h"
#include "soundlib.h"
#include "tessel_grid.h"
#include "text_file.h"
#include "threaded_timer.h"
#include "weekday_files.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateEdit>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>

#include <time.h>

namespace {

QString banner(const QString& what) {
    const QString stars(33, '*');
    return stars + "  " + what + Tfrm_miravox::version_title() + " " + stars + " ";
}

// Whole days since the computer started, from a millisecond counter that wraps at 2^32.
qint64 days_since_boot() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    const quint64 ms = quint64(ts.tv_sec) * 1000 + quint64(ts.tv_nsec / 1000000);
    return qint64(quint32(ms)) / 86400000;
}

} // namespace

Tfrm_miravox::Tfrm_miravox(miravox::DialogService& dialogs_, QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint), dialogs(dialogs_), Log(PASTA_PROGRAMA() + "LOGS/"),
      proof_of_play(PASTA_PROGRAMA() + "LOGS/", [this](const QString& line) { SALVA_LOGS(line); }, &dialogs) {
    minimise_application = [this] { showMinimized(); };
    proof_of_play.link_on_air = [this] { return link_on_air(); };
    build_ui();
    create_timers();
    FormCreate();
}

Tfrm_miravox::~Tfrm_miravox() {
    miravox::service_notifier().stopping();
    qApp->removeEventFilter(this);
    proof_of_play.cut_short(Canal_Comercial->Position(), "programa encerrado");
    // Timers first: no handler may run on a half-destroyed window.
    for (TThreadedTimer* t : timers())
        delete t;
}

QString Tfrm_miravox::version_title() { return QStringLiteral("Oravel Mira-Vox 1.0"); }

void Tfrm_miravox::process_messages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

std::vector<TThreadedTimer*> Tfrm_miravox::timers() const {
    return {Timer_sempre,         Timer_play_Vinhetas,        Timer_UpdateDevice,         Timer_Reconexao,
            timer_meter,          Timer_Play_Comercial,       timer_DiminuirVolume_geral, timer_aumentarvolume_geral,
            timer_DiminuirVolume_web, timer_aumentarvolume_web};
}

void Tfrm_miravox::create_timers() {
    auto make = [this](int interval, void (Tfrm_miravox::*handler)(QObject*)) {
        auto* timer = new TThreadedTimer(this);
        if (interval)
            timer->setInterval(interval);
        timer->OnTimer = [this, handler](QObject* sender) { (this->*handler)(sender); };
        return timer;
    };
    Timer_sempre = make(300, &Tfrm_miravox::Timer_sempreTimer);
    Timer_play_Vinhetas = make(50, &Tfrm_miravox::Timer_play_VinhetasTimer);
    Timer_UpdateDevice = make(0, &Tfrm_miravox::Timer_UpdateDeviceTimer);
    Timer_Reconexao = make(0, &Tfrm_miravox::Timer_ReconexaoTimer);
    timer_meter = make(100, &Tfrm_miravox::timer_meterTimer);
    Timer_Play_Comercial = make(300, &Tfrm_miravox::Timer_Play_ComercialTimer);
    timer_DiminuirVolume_geral = make(100, &Tfrm_miravox::timer_DiminuirVolume_geralTimer);
    timer_aumentarvolume_geral = make(100, &Tfrm_miravox::timer_aumentarvolume_geralTimer);
    timer_DiminuirVolume_web = make(100, &Tfrm_miravox::timer_DiminuirVolume_webTimer);
    timer_aumentarvolume_web = make(100, &Tfrm_miravox::timer_aumentarvolume_webTimer);
}

TTesselBass* Tfrm_miravox::create_channel(int device, void (Tfrm_miravox::*on_stop)(QObject*)) {
    auto* channel = new TTesselBass(this, dialogs);
    if (on_stop)
        channel->OnStop = [this, on_stop](QObject* sender) { (this->*on_stop)(sender); };
    channel->CriaCanal(device, false, reinterpret_cast<void*>(winId()), 1);
    channel->setBuffer(5000);
    return channel;
}

TTesselBass* Tfrm_miravox::create_link_channel(int device, void (Tfrm_miravox::*on_stop)(QObject*)) {
    TTesselBass* channel = create_channel(device, on_stop);
    channel->setBufferOutNet(std::uint16_t(WTAMBR_NET));
    channel->setBufferReadNet(4000);
    channel->setReportsWebState(false);
    return channel;
}

void Tfrm_miravox::create_channels() {
    Canal_web = create_channel(WDVTRA + 1, &Tfrm_miravox::Canal_webStop);
    Canal_web->setBufferOutNet(std::uint16_t(WTAMBR_NET));
    Canal_web->setBufferReadNet(4000);
    Canal_web->setVolume(WVOL_MAX);

    Canal_Comercial = create_channel(WDVTRA + 1, &Tfrm_miravox::Canal_ComercialStop);
    Canal_Comercial->setVolume(WVOL_MAX);
    Canal_Comercial->setResetPosition(true);

    Canal_Musica = create_channel(WDVTRA + 1, &Tfrm_miravox::Canal_MusicaStop);
    Canal_Musica->setVolume(WVOL_MAX);
    Canal_Musica->setResetPosition(true);

    canal_vinhetas = create_channel(WDVTRA + 1, &Tfrm_miravox::canal_vinhetasStop);
    canal_vinhetas->setVolume(100);
    canal_vinhetas->setResetPosition(true);

    Canal_cue = create_link_channel(WDVCUE + 1, &Tfrm_miravox::Canal_cueStop);
    Canal_cue->setVolume(100);
    Canal_cue->setResetPosition(true);
}

void Tfrm_miravox::LE_CONFIGURACAO() {
    miravox::apply_configuration(miravox::read_configuration_file(PASTA_PROGRAMA() + miravox::kConfigFileName),
                                 PASTA_PROGRAMA());
    PageControl1->setVisible(WACESSO);
    if (WAUTO_DEVICE) {
        QStringList names;
        CARREGA_DEVICES(names);
        DETECTA_DEVICES(names, dialogs);
    }
}

void Tfrm_miravox::FormCreate() {
    BASS_SetConfig(BASS_CONFIG_BUFFER, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 20000);
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 20000);
    BASS_SetConfig(BASS_CONFIG_NET_PASSIVE, 1);
    BASS_SetConfig(BASS_CONFIG_REC_BUFFER, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_PROXY, 0);

    const QDateTime now = miravox::clock().now();
    WERRO_WEB = -1;
    WTMP_RECONEXAO = 60;
    WCT_ERROWEB = WCT_TEMPOCONEXAO = WCT_ZEROPROGRESSO = 0;
    WWEB_PLAY.clear();
    WENCONTRADO_ACIONAMENTO = WACIONADO = false;
    WTIME_ACIONADO = now.time();
    WDATA_ATUAL = now.date();
    WVOL_WEB = 100;
    WVOL_GERAL = 100;
    WVOL_MAX = 100;
    WVOL_MIN = 30;
    CoolGauge1->setProgress(0);

    LE_CONFIGURACAO();

    wlista_horario.clear();
    Log.wlista_logs.clear();
    for (const QString& folder : {WPATH_DADOS, WPATH_MUSICAS, PASTA_PROGRAMA() + "LOGS/"})
        if (!folder.trimmed().isEmpty())
            QDir().mkpath(folder);
    Log.load_today();
    WDATA_ATUAL = miravox::clock().now().date();

    create_channels();
    VU_GERAL->setPosition(WVOL_MAX);
    Panel3->setCaption(version_title());
    WACIONADO = false;

    SALVA_LOGS(banner("INICIADO APLICAÇÃO: "));
    SALVA_LOGS("LOCAL: " + PASTA_PROGRAMA());
    SALVA_LOGS("PATH DADOS: " + WPATH_DADOS);
    SALVA_LOGS("PATH MUSICAS: " + WPATH_MUSICAS);
    SALVA_LOGS("VOL MAX: " + QString::number(WVOL_MAX));
    SALVA_LOGS("VOL MIN: " + QString::number(WVOL_MIN));
    check_silence_settings();
    alerts = miravox::AlertService::start(station_state, miravox::alert_settings(PASTA_PROGRAMA()),
                                          [this](const QString& line) { SALVA_LOGS(line); });

    DateEdit1->setDate(WDATA_ATUAL);
    DateEdit2->setDate(WDATA_ATUAL.addDays(30));
    load_banner();

    qApp->installEventFilter(this);
    Timer_sempre->setEnabled(true);
}

void Tfrm_miravox::FormActivate() {
    if (activated_)
        return;
    activated_ = true;
    PageControl1->setCurrentIndex(0);
    const int weekday = miravox::weekday_number(miravox::clock().now().date()) - 1;
    semana->setCurrentIndex(weekday);
    PageControl4->setCurrentIndex(weekday);
    CARREGA_GRADE_WEB();
    CARREGA_GRADE_DSP();
    MaskEdit3->setText(miravox::clock().now().time().toString("HH:mm:ss"));
    bitbtn10Click();
    ATUALIZA_AGENDA();
    const qint64 days = days_since_boot();
    if (days > 15) {
        Panel13->setColor(0x4080FF);
        Panel13->setCaption(QString::number(days) + " dias Ativo - RECOMENDA-SE à Reinicialização do COMPUTADOR");
    }
}

bool Tfrm_miravox::FormClose() {
    if (Tag == -1) {
        Tag = 0;
        if (dialogs.CONFIRMA("Deseja Realmente Desativar o Sistema ??")) {
            Timer_sempre->setEnabled(false);
            Timer_Reconexao->setEnabled(false);
            SALVA_LOGS(banner("ENCERRADA APLICAÇÃO: "));
            station_event(miravox::StationEventKind::stopping, "Aplicação encerrada");
            return true;
        }
        return false;
    }
    Edit1->clear();
    apply_lock_state();
    if (minimise_application)
        minimise_application();
    return false;
}

void Tfrm_miravox::apply_lock_state() {
    WACESSO = WSENHA.trimmed().isEmpty();
    PageControl1->setVisible(WACESSO);
}

void Tfrm_miravox::Label28Click() { close(); }

void Tfrm_miravox::closeEvent(QCloseEvent* event) {
    if (FormClose())
        event->accept();
    else
        event->ignore();
}

void Tfrm_miravox::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FormActivate();
}

void Tfrm_miravox::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

// Key preview: the window sees every key before the focused control does. A key event travels
// from the focused widget up to its parents; it is taken once, at its first receiver.
bool Tfrm_miravox::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        QWidget* target = QApplication::focusWidget();
        if (!target || target->window() != this)
            target = this;
        if (watched == target) {
            auto* key = static_cast<QKeyEvent*>(event);
            FormKeyDown(key->key(), key->modifiers());
        }
    }
    return QWidget::eventFilter(watched, event);
}
