// The dead-air watch of the relay: a stream that stays connected but carries only silence
// (SILENCIO seconds below SILENCIO_DB) is cut and handled as a lost one.

#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "engine_state.h"
#include "threaded_timer.h"

void Tfrm_miravox::check_silence_settings() {
    // The settings stay in MIRAVOX.INI as written (a save in the setup dialog keeps them); only
    // this run's watch is off.
    const QString refusal = miravox::silence_settings_refusal();
    if (refusal.isEmpty())
        return;
    silence_watch.refuse();
    SALVA_LOGS(refusal);
}

bool Tfrm_miravox::watch_stream_silence() {
    if (WSILENCIO <= 0 || silence_watch.refused())
        return false;
    // Only the stream's own level is measured; while a commercial or a jingle is on the air
    // the station is not silent, and a studio that pauses under it is no fault.
    const bool relaying = Timer_Reconexao->Enabled() && WERRO_WEB == 0 && Canal_web->isStarted();
    // Nor while the air is being handed back to a preferred link, which has just proved itself.
    if (!relaying || Canal_Comercial->isStarted() || canal_vinhetas->isStarted() || handing_over()) {
        silence_watch.reset();
        return false;
    }
    const int seconds =
        silence_watch.observe(Canal_web->PeakDb(), miravox::clock().now_ms(), WSILENCIO, WSILENCIO_DB);
    if (seconds == 0)
        return false;
    SALVA_LOGS("SILÊNCIO NO STREAMING (" + QString::number(seconds) + " s)");
    station_event(miravox::StationEventKind::silence_cut, "SILÊNCIO NO STREAMING", current_link());
    // From here on as a source lost while playing: the main tick puts local music on the air,
    // the web channel's stop reports the disconnection and the supervisor counts down to the
    // reopening. Freeing the stream closes the silent connection at once.
    BASS_ERRO_WEB = 2;
    loss_cause_ = "SILÊNCIO";
    Canal_web->Stop();
    Canal_web->FreeFile();
    return true;
}
