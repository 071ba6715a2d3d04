// Commercial insertion: the general ramps that duck the stream and the local music under a
// commercial and bring them back, the stream fade-in, and the commercial start.

#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "engine_state.h"
#include "error_log.h"
#include "rled.h"
#include "soundlib.h"
#include "threaded_timer.h"

#include <QFileInfo>

#include <algorithm>

namespace {

// About a twentieth of the target per 100 ms tick. At levels of 21 or less a twentieth rounds
// to 0 and the ramp would never arrive (a fade-in would leave the stream silent for good), so a
// ramp always moves at least one point.
int general_step() { return std::max(1, (WVOL_MAX - 2) / 20); }
int stream_step() { return std::max(1, (WVOL_GERAL - 2) / 20); }

} // namespace

void Tfrm_miravox::timer_DiminuirVolume_geralTimer(QObject*) {
    WVOL_GERAL -= general_step();
    VU_GERAL->setPosition(WVOL_GERAL);
    if (WVOL_GERAL <= WVOL_MIN) {
        // The commercial start applies WVOL_MIN itself.
        timer_DiminuirVolume_geral->setEnabled(false);
    } else if (WVOL_GERAL <= 3) {
        Canal_web->setVolume(0);
        Canal_Musica->setVolume(0);
        timer_DiminuirVolume_geral->setEnabled(false);
    } else {
        Canal_web->setVolume(WVOL_GERAL);
        Canal_Musica->setVolume(WVOL_GERAL);
        VU_GERAL->setPosition(WVOL_GERAL);
    }
}

void Tfrm_miravox::Timer_Play_ComercialTimer(QObject*) {
    ++Timer_Play_Comercial->Tag;
    if (WVOL_GERAL <= WVOL_MIN || Timer_Play_Comercial->Tag > 100) {
        if (QFileInfo(WPATH_AUDIODSP).isFile()) {
            Canal_web->setVolume(WVOL_MIN);
            Canal_Musica->setVolume(WVOL_MIN);
            VU_GERAL->setPosition(WVOL_MIN);
            Timer_Play_Comercial->Tag = 0;
            Timer_Play_Comercial->setEnabled(false);
            proof_of_play.cut_short(Canal_Comercial->Position(), "novo comercial");
            Canal_Comercial->FreeFile();
            Canal_Comercial->setFileName(WPATH_AUDIODSP);
            const int open_error = BASS_ErrorGetCode();
            Canal_Comercial->setVolume(100);
            // The position stays where the output stopped, so the stop handler can tell what was
            // heard (every start loads the file afresh: nothing here ever plays it again).
            Canal_Comercial->setResetPosition(false);
            Canal_Comercial->Play();
            if (Canal_Comercial->isStarted()) {
                proof_of_play.started(WPATH_AUDIODSP, Canal_Comercial->FileLength());
            } else {
                const int code = open_error ? open_error : BASS_ErrorGetCode();
                proof_of_play.failed(WPATH_AUDIODSP, TEXTO_ERRO_BS(std::int16_t(code)));
                // A file that does not play never raises its stop: bring the level back here, or
                // the stream would stay ducked until the next commercial.
                Canal_ComercialStop(Canal_Comercial);
            }
        } else {
            Panel13->setCaption(miravox::clock().now().time().toString("HH:mm:ss") + " - Comercial :" +
                                WPATH_AUDIODSP + " Não localizado");
            proof_of_play.missing({}, WPATH_AUDIODSP);
        }
    }
    if (Timer_Play_Comercial->Tag > 200)
        Timer_Play_Comercial->Tag = 0;
}

void Tfrm_miravox::Canal_ComercialStop(QObject*) {
    // Stops the program asks for record their airing first; what stops here by itself is the
    // file's end, or the channel giving up on an output that stopped moving.
    proof_of_play.stopped(Canal_Comercial->Position(), BASS_ERRO_BUFFER ? miravox::kOutputFroze : QString());
    // A stop while the next commercial waits to start lets go of the previous one (the end of a
    // window stops every channel in the very tick that found the commercial): it still airs.
    if (Timer_Play_Comercial->Enabled())
        return;
    timer_aumentarvolume_geral->setEnabled(true);
    WPATH_AUDIODSP.clear();
    Timer_Play_Comercial->setEnabled(false);
}

void Tfrm_miravox::timer_aumentarvolume_geralTimer(QObject*) {
    WVOL_GERAL += general_step();
    const int level = WVOL_GERAL >= WVOL_MAX ? WVOL_MAX : WVOL_GERAL;
    if (Canal_web->isStarted() && Canal_Musica->isStarted()) {
        // The stream waits, silent, for the local track to end.
        Canal_Musica->setVolume(level);
    } else {
        Canal_web->setVolume(level);
        Canal_Musica->setVolume(level);
    }
    VU_GERAL->setPosition(level);
    if (WVOL_GERAL >= WVOL_MAX)
        timer_aumentarvolume_geral->setEnabled(false);
}

void Tfrm_miravox::timer_aumentarvolume_webTimer(QObject*) {
    if (Canal_Musica->isStarted() || Canal_Comercial->isStarted())
        return;
    WVOL_WEB += stream_step();
    if (WVOL_WEB >= WVOL_GERAL) {
        Canal_web->setVolume(WVOL_GERAL);
        VU_GERAL->setPosition(WVOL_GERAL);
        timer_aumentarvolume_web->setEnabled(false);
    } else {
        Canal_web->setVolume(WVOL_WEB);
        VU_GERAL->setPosition(WVOL_WEB);
    }
}

// Never enabled: kept so the diagnostics can report it as the other ramps.
void Tfrm_miravox::timer_DiminuirVolume_webTimer(QObject*) {}
