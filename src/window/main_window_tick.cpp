// The main tick: the periodic decision step of the whole playout, the jingle watcher and the
// device refresh that follows a closing jingle.

#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "cool_gauge.h"
#include "engine_state.h"
#include "record_fields.h"
#include "rled.h"
#include "service_notify.h"
#include "soundlib.h"
#include "tessel_grid.h"
#include "threaded_timer.h"
#include "utilities.h"
#include "weekday_files.h"

#include <QFileInfo>
#include <QPushButton>
#include <QTabBar>

#include <algorithm>

// Whether the scheduled file `path` (empty: none scheduled) can be played; one that is named
// but cannot be found is logged, or a lost spot or jingle would leave no trace.
bool Tfrm_miravox::scheduled_file_found(const QString& what, const QString& path) {
    if (path.isEmpty())
        return false;
    if (QFileInfo(path).isFile())
        return true;
    SALVA_LOGS(what + path + " não localizado");
    return false;
}

QTime schedule_time(const QString& hhmm, const QTime& fallback) {
    // Read as the editors read it: "9:30" written by hand is 09:30.
    return miravox::parse_stored_time(hhmm.trimmed() + ":00").value_or(fallback);
}

void Tfrm_miravox::stop_and_free_all_channels() {
    // First, so that the web channel's stop below is the air's as ever.
    abandon_handover({});
    proof_of_play.cut_short(Canal_Comercial->Position());
    // A link test still opening on the cue is dropped below: its button is free again.
    if (Canal_cue->IsOpening())
        BitBtn31->setEnabled(true);
    for (TTesselBass* channel : {Canal_web, Canal_Comercial, canal_vinhetas, Canal_Musica, Canal_cue}) {
        channel->Stop();
        channel->FreeFile();
    }
    stop_return_check();
}

void Tfrm_miravox::Timer_sempreTimer(QObject*) {
    publish_station_state();
    miravox::service_notifier().tick(station_state, [this](const QString& line) { SALVA_LOGS(line); });
    if (tesselGrid1->isHidden())
        refresh_diagnostic_lines();
    if (BASS_UPDATING)
        return;

    COR_PAINEL(Panel11, Canal_web->isStarted());
    COR_PAINEL(Panel14, Canal_Musica->isStarted());
    COR_PAINEL(Panel19, Canal_Comercial->isStarted());
    if (Canal_Comercial->isStarted())
        proof_of_play.progress(Canal_Comercial->Position());
    const QDateTime now_dt = miravox::clock().now();
    const QTime now = now_dt.time();
    Label9->setText(now.toString("HH:mm:ss"));

    // A channel found its buffer stalled: stop everything and bring the devices up again.
    if (BASS_ERRO_BUFFER) {
        SALVA_LOGS("Erro de Buffer - update Device");
        station_event(miravox::StationEventKind::device_failed, "Erro de Buffer - update Device");
        stop_and_free_all_channels();
        WERRO_WEB = -1;
        WTMP_RECONEXAO = 0;
        CoolGauge1->setProgress(0);
        ATUALIZA_DEVICE(nullptr, dialogs);
        return;
    }

    // A device that a re-initialisation could not bring back is tried again every few seconds;
    // once it is back the air starts again as after a buffer error, the stream without a countdown.
    if (miravox::retry_lost_devices(nullptr, dialogs, [this](const QString& line) { SALVA_LOGS(line); })) {
        stop_and_free_all_channels();
        WERRO_WEB = -1;
        WTMP_RECONEXAO = 60;
        CoolGauge1->setProgress(0);
        miravox::clear_device_errors();
        return;
    }

    if (now_dt.date() != WDATA_ATUAL) {
        WCT_ERROWEB = 0;
        WDATA_ATUAL = now_dt.date();
        WULTIMO_HORARIO = "---";
        Timer_sempre->Tag = 0;
        const int weekday = WDATA_ATUAL.dayOfWeek() % 7; // Sunday first
        semana->setCurrentIndex(weekday);
        PageControl4->setCurrentIndex(weekday);
        CARREGA_GRADE_DSP();
        CARREGA_GRADE_WEB();
        ATUALIZA_AGENDA();
        SALVA_LOGS("NOVA DATA: Atualização de Grade");
        stop_and_free_all_channels();
        WERRO_WEB = -1;
        WTMP_RECONEXAO = 0;
        CoolGauge1->setProgress(0);
        ATUALIZA_DEVICE(nullptr, dialogs);
        LIBERA_MEMORIA([this] { process_messages(); });
    }

    if (++Timer_sempre->Tag > 200) {
        Timer_sempre->Tag = 0;
        ATUALIZA_AGENDA();
    }

    look_up_commercials(now_dt);

    // Select the stream window that contains now.
    if (!WENCONTRADO_ACIONAMENTO) {
        for (const QString& record : wlista_horario) {
            const QTime start = schedule_time(PEGA_CAMPO(1, record), now);
            const QTime end = schedule_time(PEGA_CAMPO(2, record), now);
            if (!(start <= now && now < end))
                continue;
            WULTIMO_HORARIO = "---";
            WHORA_ABRIR = PEGA_CAMPO(1, record).trimmed();
            WHORA_FECHAR = PEGA_CAMPO(2, record).trimmed();
            WWEB_PLAY = PEGA_CAMPO(3, record).trimmed();
            arm_backup_links(record);
            WAUDIO_ABRIR = PEGA_CAMPO(6, record).trimmed();
            WAUDIO_FECHAR = PEGA_CAMPO(7, record).trimmed();
            WVOL_GERAL = WVOL_MAX;
            Label12->setText(WHORA_FECHAR);
            Label5->setText(WHORA_ABRIR);
            WENCONTRADO_ACIONAMENTO = true;
            break;
        }
    }

    if (WENCONTRADO_ACIONAMENTO) {
        const QTime close = schedule_time(WHORA_FECHAR, now);
        if (now >= close && close > WTIME_ACIONADO && WHORA_FECHAR != WULTIMO_HORARIO) {
            WACIONADO = false;
            SALVA_LOGS("*** DESLIGAMENTO " + WHORA_ABRIR + "  AS " + WHORA_FECHAR + " ***");
            FINALIZA_WEB();
            if (scheduled_file_found("Vinheta de encerramento: ", WAUDIO_FECHAR)) {
                canal_vinhetas->FreeFile();
                canal_vinhetas->setFileName(WAUDIO_FECHAR);
                canal_vinhetas->setVolume(100);
                canal_vinhetas->Play();
                Label10->setText("Vinheta de encerramento...");
                SALVA_LOGS("Vinheta de encerramento: " + WAUDIO_FECHAR);
                Timer_play_Vinhetas->Tag = 1;
                Timer_play_Vinhetas->setEnabled(true);
            }
            WENCONTRADO_ACIONAMENTO = false;
            WULTIMO_HORARIO = WHORA_FECHAR;
        } else if (!WACIONADO) {
            WACIONADO = true;
            VU_GERAL->setPosition(WVOL_GERAL);
            SALVA_LOGS("*** ACIONAMENTO " + WHORA_ABRIR + "  AS " + WHORA_FECHAR + " ***");
            WULTIMO_HORARIO = "---";
            WCT_ERROWEB = 0;
            SALVA_LOGS("ABRE WEB");
            WTIME_ACIONADO = now;
            drift_logged_ = false;
            if (scheduled_file_found("Vinheta de abertura: ", WAUDIO_ABRIR)) {
                Label10->setText("Vinheta de abertura...");
                SALVA_LOGS("Vinheta de abertura: " + WAUDIO_ABRIR);
                canal_vinhetas->FreeFile();
                canal_vinhetas->setFileName(WAUDIO_ABRIR);
                canal_vinhetas->setVolume(100);
                canal_vinhetas->Play();
                Timer_play_Vinhetas->Tag = 0;
                Timer_play_Vinhetas->setEnabled(true);
            } else {
                INICIA_WEB();
            }
        }
    }

    // The stream cannot be received: keep its channel stopped and local music playing. Not on a
    // lost transmission device: that would be a failed start (and log lines) at every tick until
    // it is back, and its return starts the air again anyway. Nor while another link is being
    // brought in: it takes the air, or its failure passes the loss on.
    if (WENCONTRADO_ACIONAMENTO && WACIONADO && BASS_ERRO_WEB != 0 && !WMUSICA_STOP && !failing_over() &&
        !handing_over()) {
        Canal_web->Stop();
        WERRO_WEB = -1;
        WCT_PRONTO = 0;
        if (!Canal_Musica->isStarted() && !miravox::device_lost(WDVTRA + 1)) {
            SALVA_LOGS("Erro WEB: " + QString::number(BASS_ERRO_WEB) + " - Acionando Musicas locais");
            PLAY_MUSICA_LOCAL();
        }
    }
    fill_stream_gap();
}

// The commercial of this minute, looked up once per minute. A tick that comes more than a
// minute after the last minute it looked up (a held thread, a suspended machine, a clock step
// forward) looks up each minute in between too, so that no paid spot vanishes without a trace:
// a trigger found less than kLatestTriggerS late still airs, a later one is logged and written
// to proof of play as not aired. Minutes of an earlier day are not looked up: the day's
// triggers are today's file.
void Tfrm_miravox::look_up_commercials(const QDateTime& now) {
    const QString minute = now.time().toString("HH:mm:ss").left(5);
    if (minute == WULTIMO_TIMEDSP)
        return;
    WULTIMO_TIMEDSP = minute;
    const QDateTime this_minute(now.date(), QTime(now.time().hour(), now.time().minute()));
    const QDateTime previous = last_minute_looked_up_;
    last_minute_looked_up_ = this_minute;
    const bool skipped = previous.isValid() && previous.secsTo(this_minute) > 60;
    if (skipped) {
        QDateTime m = std::max(previous.addSecs(60), QDateTime(now.date(), QTime(0, 0)));
        for (; m < this_minute; m = m.addSecs(60))
            trigger_commercial(m.time().toString("HH:mm"), m.secsTo(now));
    }
    trigger_commercial(minute, skipped ? this_minute.secsTo(now) : 0);
}

void Tfrm_miravox::trigger_commercial(const QString& minute, qint64 late_s) {
    constexpr qint64 kLatestTriggerS = 30;
    const QString path = PEGA_CAMPO(4, BUSCA_DISPARO(minute));
    if (late_s >= kLatestTriggerS) {
        if (path.trimmed().isEmpty())
            return;
        const QString reason = "atraso de " + QString::number(late_s) + " s";
        SALVA_LOGS("Comercial não executado (" + minute + ", " + reason + "): " + path);
        proof_of_play.not_aired(minute, path, reason);
        return;
    }
    if (scheduled_file_found("Comercial: ", path)) {
        WPATH_AUDIODSP = path;
        proof_of_play.due(minute);
        timer_DiminuirVolume_geral->setEnabled(true);
        Timer_Play_Comercial->setEnabled(true);
    } else if (!path.trimmed().isEmpty()) {
        proof_of_play.missing(minute, path);
    }
}

void Tfrm_miravox::Timer_play_VinhetasTimer(QObject*) {
    // A jingle that is no longer playing ended (or never played) without this watcher seeing
    // its last 900 ms, e.g. while the main thread was held: what follows its end follows all
    // the same, or the window would stay silent to its end.
    const bool ended = !canal_vinhetas->isStarted();
    if (!ended && canal_vinhetas->Position() <= std::int64_t(canal_vinhetas->FileLength()) - 900)
        return;
    Timer_play_Vinhetas->setEnabled(false);
    if (!ended)
        canal_vinhetas->StopFade(700);
    if (Timer_play_Vinhetas->Tag == 0)
        INICIA_WEB();
    else if (Timer_play_Vinhetas->Tag == 1)
        arm_device_refresh();
}

void Tfrm_miravox::arm_device_refresh() {
    device_refresh_deadline_ = miravox::clock().now().addSecs(kDeviceRefreshLongestWaitS);
    Timer_UpdateDevice->setEnabled(true);
}

void Tfrm_miravox::Timer_UpdateDeviceTimer(QObject*) {
    // Once a new window has started, the refresh would free its freshly opened stream; and a
    // commercial that never ends (or never starts) must not hold it until one does. It is
    // dropped then: the end of the relay has re-initialised the devices already.
    if (WENCONTRADO_ACIONAMENTO || miravox::clock().now() > device_refresh_deadline_) {
        SALVA_LOGS("Atualização de Devices descartada");
        end_device_refresh();
        return;
    }
    Label10->setText("Atualizando Devices");
    // A commercial due in the window's last minute airs to its end before everything stops.
    if (canal_vinhetas->isStarted() || BASS_UPDATING || Canal_Comercial->isStarted() ||
        Timer_Play_Comercial->Enabled())
        return;
    stop_and_free_all_channels();
    WERRO_WEB = -1;
    WTMP_RECONEXAO = 0;
    CoolGauge1->setProgress(0);
    BASS_Stop();
    ATUALIZA_DEVICE(nullptr, dialogs);
    end_device_refresh();
}

void Tfrm_miravox::end_device_refresh() {
    Timer_UpdateDevice->setEnabled(false);
    // A new window may have put its own text there meanwhile.
    if (Label10->text() == "Atualizando Devices")
        Label10->setText("Status");
}

void Tfrm_miravox::canal_vinhetasStop(QObject*) { canal_vinhetas->setVolume(0); }
