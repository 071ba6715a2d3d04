// The operator's hands on the playout: the key commands the window sees before its controls,
// the today grid's manual Play/Stop menu, the general level toggle, stop-and-close, the device
// re-initialisation and the diagnostics dump.

#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "cool_gauge.h"
#include "dialog_service.h"
#include "engine_state.h"
#include "rled.h"
#include "round_half_even.h"
#include "tessel_grid.h"
#include "threaded_timer.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>

namespace {

QString time_text() {
    return miravox::clock().now().time().toString("HH:mm:ss");
}

QString flag(bool b) {
    return b ? QStringLiteral("1") : QStringLiteral("0");
}

// The modifier keys and mouse buttons held, compared as a whole: Ctrl+I means Ctrl and nothing
// else. The keypad flag only says where a key sits, so it does not count.
bool held_exactly(Qt::KeyboardModifiers shift, Qt::KeyboardModifier wanted) {
    const Qt::KeyboardModifiers keys = shift & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    return keys == wanted && QGuiApplication::mouseButtons() == Qt::NoButton;
}

// A plain or shifted letter typed into an editable field is text, not a command: a stream
// link or a file path may well contain a "q", and typing one must not take the relay off the
// air. Ctrl+Q (the key the main tab advertises) works everywhere.
bool typing_into_field(Qt::KeyboardModifiers shift) {
    const auto* edit = qobject_cast<const QLineEdit*>(QApplication::focusWidget());
    if (!edit || edit->isReadOnly() || !edit->isEnabled())
        return false;
    const Qt::KeyboardModifiers keys =
        shift & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier | Qt::ShiftModifier);
    return keys == Qt::NoModifier;
}

QString channel_line(const QString& caption, TTesselBass* channel) {
    return caption + flag(channel->isStarted()) + "  - Fading: " + flag(channel->IsFadind()) +
           "  - Volume: " + QString::number(miravox::round_half_even(channel->Volume()));
}

// Q with the window unlocked: the stream goes off and the window asks to close; the close
// handler sees Tag -1 and asks for the shutdown confirmation.
void stop_and_close(Tfrm_miravox& w) {
    w.SALVA_LOGS("SHIFT + Q (Canal Web - Stop)");
    w.Stop1Click();
    w.WERRO_WEB = -1;
    w.timer_meter->setEnabled(false);
    w.Timer_Reconexao->setEnabled(false);
    w.Canal_web->Stop();
    w.Tag = -1;
    w.close();
}

// Alt+U, confirmed. A running relay keeps its timer and reopens the stream 30 ticks later.
void reinitialise_devices(Tfrm_miravox& w) {
    w.Label10->setText("ATUALIZANDO DRIVERS");
    w.SALVA_LOGS("ATUALIZACAO DEVICE - ALT+U");
    w.stop_and_free_all_channels();
    w.WERRO_WEB = -1;
    ATUALIZA_DEVICE(nullptr, w.dialogs);
    w.WTMP_RECONEXAO = 30;
    w.CoolGauge1->setProgress(0);
}

} // namespace

void Tfrm_miravox::FormKeyDown(int Key, Qt::KeyboardModifiers Shift) {
    switch (Key) {
    case Qt::Key_Q:
        if (WACESSO && !typing_into_field(Shift))
            stop_and_close(*this);
        break;
    case Qt::Key_I:
        if (held_exactly(Shift, Qt::ControlModifier)) {
            tesselGrid1->setVisible(tesselGrid1->isHidden());
            for (QLabel* label : {Label20, Label23, Label24, Label31})
                label->clear();
        } else if (held_exactly(Shift, Qt::AltModifier)) {
            dialogs.information(diagnostics_dump());
        }
        break;
    case Qt::Key_U:
        if (held_exactly(Shift, Qt::AltModifier) &&
            dialogs.CONFIRMA("Tem certeza que quer Reiniciar Drivers de Placa de Som ??"))
            reinitialise_devices(*this);
        break;
    case Qt::Key_F8:
        if (held_exactly(Shift, Qt::NoModifier))
            ControledeVolume1Click();
        break;
    case Qt::Key_F10:
        if (held_exactly(Shift, Qt::NoModifier))
            Configurao1Click();
        break;
    default:
        break;
    }
}

void Tfrm_miravox::PopupMenu1Popup() {
    const bool playing = Canal_web->isStarted();
    const QString link = tesselGrid1->Cells(2, tesselGrid1->Row()).trimmed();
    Play1->setEnabled(!link.isEmpty() && !playing);
    Stop1->setEnabled(playing);
}

void Tfrm_miravox::Play1Click() {
    if (Canal_web->isStarted()) {
        Canal_web->Stop();
        return;
    }
    WERRO_WEB = -1;
    WTMP_RECONEXAO = 60;
    CoolGauge1->setProgress(0);
    SALVA_LOGS("ACIONAMENTO: MANUAL  -  " + time_text());
    WWEB_PLAY = tesselGrid1->Cells(2, tesselGrid1->Row());
    if (!WWEB_PLAY.toUpper().contains("HTTP"))
        return;

    INICIA_WEB();
    const QTime now = miravox::clock().now().time();
    const QTime open = schedule_time(WHORA_ABRIR, now);
    const QTime close = schedule_time(WHORA_FECHAR, now);
    if (open <= now && now < close) {
        // Inside the window the main tick selected last: take it over as if it had activated it.
        Timer_Reconexao->setEnabled(true);
        WVOL_MAX = WVOL_GERAL;
        Label12->setText(WHORA_FECHAR);
        Label5->setText(WHORA_ABRIR);
        WENCONTRADO_ACIONAMENTO = true;
        WACIONADO = true;
    }
}

void Tfrm_miravox::Stop1Click() {
    if (!Canal_web->isStarted())
        return;
    SALVA_LOGS("DESLIGAMENTO MANUAL: " + time_text());
    Timer_Reconexao->setEnabled(false);
    timer_meter->setEnabled(false);
    Meter1->setPosition(0);
    Label10->setText("Status");
    Label6->setText("Status");
    WERRO_WEB = -1;
    WTMP_RECONEXAO = 0;
    CoolGauge1->setProgress(0);
    CoolGauge1->setBackColor(bgr_color(0x808080));
    Label5->setText("00:00:00");
    Label12->setText("00:00:00");
    Canal_web->Stop();
}

void Tfrm_miravox::ControledeVolume1Click() {
    if (!WACESSO || timer_DiminuirVolume_geral->Enabled() || timer_aumentarvolume_geral->Enabled())
        return;
    if (WVOL_GERAL < WVOL_MAX)
        timer_aumentarvolume_geral->setEnabled(true);
    else
        timer_DiminuirVolume_geral->setEnabled(true);
}

void Tfrm_miravox::Configurao1Click() {
    if (WACESSO && open_setup_dialog)
        open_setup_dialog();
}

QString Tfrm_miravox::diagnostics_dump() const {
    const QString rule(98, '-');
    const QStringList lines{
        rule,
        "Data Inicio: " + wdata_inicio.toString("dd/MM/yyyy") + "   -   " + whora_inicio.toString("HH:mm:ss"),
        rule,
        "Playng: " + QString::number(wct_playing),
        "Canais Criados: " + QString::number(wct_canais_criados),
        "Canais Carregados: " + QString::number(wct_canais_carregados),
        "Atualiza Device: " + QString::number(wct_atualiza_device),
        "Erro ao Criar Canal: " + QString::number(wct_erro_criar),
        "Canais não Atualizado: " + QString::number(wct_play_sem_update),
        rule,
        "AUTO-DEVICE: " + flag(WAUTO_DEVICE),
        "DEVICE WEB: " + Canal_web->DeviceAtual(),
        "DEVICE CUE: " + Canal_cue->DeviceAtual(),
        rule,
        channel_line("Canal WEB Started: ", Canal_web),
        channel_line("Canal COMERCIAL Started: ", Canal_Comercial),
        channel_line("Canal MUSICA Started: ", Canal_Musica),
        channel_line("Canal CUE Started: ", Canal_cue),
        rule,
        "Timer Meter: " + flag(timer_meter->Enabled()),
        "Timer Play_Comercial: " + flag(Timer_Play_Comercial->Enabled()),
        "Timer vol_ALL down: " + flag(timer_DiminuirVolume_geral->Enabled()),
        "Timer vol_ALL UP: " + flag(timer_aumentarvolume_geral->Enabled()),
        "Timer vol_WEB down: " + flag(timer_DiminuirVolume_web->Enabled()),
        "Timer vol_WEB UP: " + flag(timer_aumentarvolume_web->Enabled()),
        rule,
        "CW POSITION: " + QString::number(Canal_web->WebPosition()),
        "CW DOWNLOAD: " + QString::number(Canal_web->WebLength()),
        "WCT_PRONTO: " + QString::number(WCT_PRONTO),
        "WERRO_WEB: " + QString::number(WERRO_WEB),
        rule,
        "ENCONTRADO ACIONAMENTO: " + flag(WENCONTRADO_ACIONAMENTO),
        "WHORA ABRIR: " + WHORA_ABRIR,
        "WHORA FECHAR: " + WHORA_FECHAR,
        "WULTIMO HORARIO: " + WULTIMO_HORARIO,
        "WTIME_ACIONADO: " + WTIME_ACIONADO.toString("HH:mm:ss"),
        "WACIONADO: " + flag(WACIONADO),
        "BASS_ERRO_BUFFER: " + flag(BASS_ERRO_BUFFER),
        "WMIN_POS: " + QString::number(WMIN_POS),
    };
    return lines.join('\r');
}
