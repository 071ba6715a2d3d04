// The stream relay: arming, opening the link, the reconnection supervisor with its countdown
// and limit, the web channel's stop handler and the end of the relay.

#include "main_window.h"

#include "clock.h"
#include "cool_gauge.h"
#include "engine_state.h"
#include "rled.h"
#include "soundlib.h"
#include "threaded_timer.h"

#include <QLabel>
#include <QTimer>

#include <cmath>

namespace {

constexpr std::uint32_t kRed = 0x0000FF;
constexpr std::uint32_t kGray = 0x808080;

QString time_text() { return miravox::clock().now().time().toString("HH:mm:ss"); }

// A duration as a time of day "HH:mm:ss" (a negative one reads as its magnitude).
QString elapsed_text(const QTime& from, const QTime& to) {
    const int ms = std::abs(from.msecsTo(to));
    return QTime(0, 0).addMSecs(ms).toString("HH:mm:ss");
}

} // namespace

void Tfrm_miravox::INICIA_WEB() {
    if (Timer_Reconexao->Enabled())
        return;
    // An open asked for by an earlier relay has no say in this one.
    Canal_web->AbandonOpen();
    end_backup_links();
    Label6->setText(WWEB_PLAY);
    WVOL_WEB = 0;
    Canal_web->setVolume(0);
    WERRO_WEB = -1;
    CoolGauge1->setBackColor(bgr_color(kRed));
    WTMP_RECONEXAO = 60;
    CoolGauge1->setProgress(0);
    Timer_Reconexao->setEnabled(true);
    Label10->setText("Aguarde...");
    if (!Canal_Musica->isStarted() && !Canal_Comercial->isStarted())
        timer_aumentarvolume_web->setEnabled(true);
}

void Tfrm_miravox::Timer_ReconexaoTimer(QObject*) {
    if (WCT_ERROWEB >= 50) {
        Timer_Reconexao->setEnabled(false);
        FINALIZA_WEB();
        SALVA_LOGS("LIMITE DE RE-CONEXÃO ATINGIDO");
        station_event(miravox::StationEventKind::limit_reached, "LIMITE DE RE-CONEXÃO ATINGIDO", WWEB_PLAY);
        stop_and_free_all_channels();
        WERRO_WEB = -1;
        WTMP_RECONEXAO = 0;
        CoolGauge1->setProgress(0);
        ATUALIZA_DEVICE(nullptr, dialogs);
        Label10->setText("LIMITE DE RE-CONEXÃO ATINGIDO");
        return;
    }
    Label21->setText(elapsed_text(WTIME_ACIONADO, miravox::clock().now().time()));
    log_clock_drift();
    // The link is being opened: the relay waits for the result as it waited for the open itself
    // when opens held the main thread, so the countdown neither runs nor starts another.
    if (Canal_web->IsOpening() || failing_over() || handing_over())
        return;
    if (++WCT_TEMPOCONEXAO > 360) {
        WCT_TEMPOCONEXAO = 0;
        WCT_ERROWEB = 0;
    }
    Timer_Reconexao->setInterval(500);
    if (WERRO_WEB != 0 || !Canal_web->isStarted()) {
        WERRO_WEB = -1;
        ++WTMP_RECONEXAO;
        if (WTMP_RECONEXAO >= 60) {
            WTMP_RECONEXAO = 0;
            WERRO_WEB = -1;
            SALVA_LOGS("Iniciando Play (WEB)");
            if (!Canal_web->isStarted())
                CONECTA_WEB();
        }
        CoolGauge1->setProgress(WTMP_RECONEXAO);
    }
}

void Tfrm_miravox::CONECTA_WEB() {
    WMUSICA_STOP = false;
    QPalette palette = Label10->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    Label10->setPalette(palette);
    BASS_SetConfig(BASS_CONFIG_NET_PROXY, 0);
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 20000);
    if (WERRO_WEB == 0 && WCT_PRONTO == 0)
        return;

    Label10->setText("CONECTANDO AGUARDE...");
    process_messages();
    SALVA_LOGS(Label10->text());
    if (!Canal_web->isStarted())
        Canal_web->FreeFile();

    const QString link = current_link();
    if (link.trimmed().isEmpty()) {
        WERRO_WEB = -1;
        conecta_web_result();
        return;
    }
    SALVA_LOGS("Conectando à " + link);
    // The open runs on the channel's own thread; the tick, the commercials, the jingles, local
    // music and the operator's keys go on meanwhile.
    Canal_web->OpenWeb(link, [this](int code) { conecta_web_opened(code, false); });
}

void Tfrm_miravox::conecta_web_opened(int code, bool hls_retry) {
    // The relay was switched off while the link opened (a manual stop, the shutdown key): the
    // stream must not start on its own after it.
    if (!Timer_Reconexao->Enabled()) {
        Canal_web->FreeFile();
        return;
    }
    WERRO_WEB = code;
    if (!hls_retry && (WERRO_WEB != 0 || !Canal_web->IsCarregado()) && current_link().toUpper().contains(".M3U8")) {
        SALVA_LOGS("RE-CONEXÃO HLS");
        Canal_web->FreeFile();
        Canal_web->OpenWeb(current_link().trimmed(), [this](int again) { conecta_web_opened(again, true); });
        return;
    }
    conecta_web_result();
}

void Tfrm_miravox::conecta_web_result() {
    if (WERRO_WEB != 0 || !Canal_web->IsCarregado()) {
        Label10->setText(time_text() + " - Erro ao Carregar WEB -  Erro:" + QString::number(WERRO_WEB));
        SALVA_LOGS(Label10->text());
        station_event(miravox::StationEventKind::stream_lost, Label10->text(), current_link());
        Canal_web->Stop();
        Canal_web->FreeFile();
        // The next backup, if any, is opened at once: the whole list failing counts as one.
        if (try_next_link("Erro " + QString::number(WERRO_WEB)))
            return;
        ++WCT_ERROWEB;
        WTMP_RECONEXAO = WCT_ERROWEB <= 2 ? 30 : 0;
        CoolGauge1->setProgress(0);
    } else {
        failing_over_ = false;
        show_link_on_air();
        Canal_web->setPosition(0);
        Canal_web->setVolume(0);
        Canal_web->Play();
        timer_meter->setEnabled(true);
    }

    if (WERRO_WEB == 0) {
        WCT_PRONTO = 0;
        WTMP_RECONEXAO = 0;
        timer_aumentarvolume_web->setEnabled(true);
        VU_GERAL->setPosition(int(std::lround(Canal_web->Volume())));
    }
}

void Tfrm_miravox::Canal_webStop(QObject*) {
    // A backup lost while the air is being handed back from it is no loss: the link coming back
    // takes the air, or, if it fails, the hand-back passes the loss on.
    if (handing_over())
        return;
    WCT_TEMPOCONEXAO = 0;
    const int code = BASS_ErrorGetCode();
    if (code == BASS_ERROR_POSITION) {
        SALVA_LOGS(Label10->text() + " - RE-PLAY-  Código: " + QString::number(code) +
                   " Web: " + QString::number(BASS_ERRO_WEB));
        if (Canal_web->Volume() < 100)
            timer_aumentarvolume_web->setEnabled(true);
        if (!Canal_web->isStarted())
            Canal_web->Play();
        return;
    }
    timer_meter->setEnabled(false);
    Meter1->setPosition(0);
    station_event(miravox::StationEventKind::stream_lost, "DESCONECTADO", current_link());
    if (!Label10->text().contains("DESCONECTADO")) {
        Label10->setText("DESCONECTADO");
        SALVA_LOGS(QString("DESCONECTADO") + " Código-ws: " + QString::number(BASS_ErrorGetCode()) +
                   " Web: " + QString::number(BASS_ERRO_WEB));
    }
    // A link lost on the air hands over to the next backup before local music. The open is
    // posted: whoever stopped the channel may free it right after, which would drop the open.
    if (Timer_Reconexao->Enabled() && BASS_ERRO_WEB != 0 && !failing_over_ && !Canal_web->IsOpening() &&
        link_index_ + 1 < relay_links_.size()) {
        failing_over_ = true;
        const QString cause = loss_cause_.isEmpty() ? QStringLiteral("DESCONECTADO") : loss_cause_;
        loss_cause_.clear();
        QTimer::singleShot(0, this, [this, cause] {
            failing_over_ = false;
            if (Timer_Reconexao->Enabled() && !Canal_web->IsOpening() && !try_next_link(cause))
                WTMP_RECONEXAO = 0;
        });
    }
}

void Tfrm_miravox::FINALIZA_WEB() {
    Timer_Reconexao->setEnabled(false);
    end_backup_links();
    timer_meter->setEnabled(false);
    Meter1->setPosition(0);
    Label10->setText("Status");
    Label6->setText("Status");
    CoolGauge1->setBackColor(bgr_color(kGray));
    Label5->setText("00:00:00");
    Label12->setText("00:00:00");
    if (BASS_UPDATING)
        return;
    stop_and_free_all_channels();
    WERRO_WEB = -1;
    WTMP_RECONEXAO = 0;
    CoolGauge1->setProgress(0);
    ATUALIZA_DEVICE(nullptr, dialogs);
}

// A card or a server whose clock runs far off shows in the log once a window: the relay makes up
// for it, but a failing card clock is worth a look.
void Tfrm_miravox::log_clock_drift() {
    if (drift_logged_)
        return;
    const float ppm = Canal_web->WebDriftNotice();
    if (ppm == 0)
        return;
    drift_logged_ = true;
    SALVA_LOGS("RELÓGIO: placa e servidor diferem " + QString::number(std::lround(ppm)) + " ppm (compensado)");
}
