// Local music: the shuffled list of the music folder and the fallback that plays it while the
// stream cannot be received.

#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "dialog_service.h"
#include "engine_state.h"
#include "file_lookup.h"
#include "rled.h"
#include "tessel_grid.h"
#include "threaded_timer.h"
#include "utilities.h"

#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QRandomGenerator>

namespace {

// A uniform integer a <= x < b, and a when a = b.
int random_range(QRandomGenerator& random, int a, int b) { return a >= b ? a : random.bounded(a, b); }

} // namespace

void Tfrm_miravox::bitbtn10Click() {
    for (int r = 1; r < Stringgrid2->RowCount(); ++r)
        Stringgrid2->setCells(0, r, QString());
    Stringgrid2->setRowCount(2);
    bitbtn11->setEnabled(false);

    if (!QDir(WPATH_MUSICAS).exists()) {
        dialogs.notice_aviso("Diretório de Músicas:" + WPATH_MUSICAS + "  inexistente - Verifique !!");
    } else {
        QStringList names;
        LISTA_AUDIOS(WPATH_MUSICAS, "*.*", &names, dialogs, [this] { process_messages(); });
        if (!names.isEmpty()) {
            Stringgrid2->setRowCount(names.size() + 1);
            Stringgrid2->setCells(0, 0, "Descrição das Músicas");
            for (int i = 0; i < names.size(); ++i)
                Stringgrid2->setCells(0, i + 1, names[i]);
            QRandomGenerator random(quint32(miravox::clock().now_ms()));
            for (int r = 1; r < Stringgrid2->RowCount(); ++r)
                Stringgrid2->MoveRow(r, random_range(random, 1, Stringgrid2->RowCount() - 1));
            Stringgrid2->setRow(1);
            const QString first = miravox::find_file(WPATH_MUSICAS, Stringgrid2->Cells(0, 1));
            if (!first.isEmpty()) {
                Canal_Musica->FreeFile();
                Canal_Musica->setFileName(first);
                Canal_Musica->setNomeArquivo(Stringgrid2->Cells(0, 1));
                Canal_Musica->setVolume(WVOL_GERAL);
            }
            bitbtn11->setEnabled(true);
            bitbtn13->setEnabled(false);
        }
    }
    Stringgrid2->setEnabled(true);
}

void Tfrm_miravox::bitbtn11Click() {
    WMUSICA_STOP = false;
    PLAY_MUSICA_LOCAL();
}

void Tfrm_miravox::bitbtn13Click() {
    Canal_web->Stop();
    WERRO_WEB = -1;
    WMUSICA_STOP = true;
    Canal_Musica->Stop();
}

void Tfrm_miravox::PLAY_MUSICA_LOCAL() {
    // A track that does not open shows a box, whose nested loop runs the timers: the fallback
    // would start the same track again (a second box, and so on) before the cursor has moved.
    if (music_start_under_way_)
        return;
    if (WENCONTRADO_ACIONAMENTO && WACIONADO && Canal_web->IsCarregado()) {
        WVOL_WEB = 0;
        Canal_web->setVolume(0);
    }
    const int row = Stringgrid2->Row();
    if (row <= 0 || Stringgrid2->Cells(0, row).trimmed().isEmpty()) {
        SALVA_LOGS("Grid musical não contem dados ou linha do grid está vazia");
        return;
    }
    if (Canal_Musica->isStarted()) {
        SALVA_LOGS("Canal de Musicas locais já em execução - Operação cancelada");
        return;
    }
    const QString name = Stringgrid2->Cells(0, row);
    const QString path = WPATH_MUSICAS.trimmed() + name;
    // The list holds upper-cased names; the file system here tells case apart.
    const QString existing = miravox::find_file(WPATH_MUSICAS.trimmed(), name);
    if (existing.isEmpty()) {
        SALVA_LOGS("Arquivo musical: " + path + " não encontrado !!!");
        // The fallback retries every tick while the stream is down: a notice, which never
        // waits and is not queued twice, keeps an absent operator from a pile of boxes.
        dialogs.notice_aviso("Arquivo " + path + " + não encontrado !!!");
        return;
    }
    Canal_Musica->FreeFile();
    music_start_under_way_ = true;
    Canal_Musica->setFileName(existing);
    music_start_under_way_ = false;
    Canal_Musica->setNomeArquivo(name);
    SALVA_LOGS("PLAY MUSICA LOCAL: " + Canal_Musica->NomeArquivo());
    Canal_Musica->setVolume(WVOL_GERAL);
    bitbtn11->setEnabled(false);
    bitbtn13->setEnabled(true);
    Canal_Musica->Play();
    Stringgrid2->setRow(row + 1 < Stringgrid2->RowCount() ? row + 1 : 1);
    VU_GERAL->setPosition(WVOL_GERAL);
}

// A relayed stream whose server stops sending plays out what it has in hand and then runs
// dry: the loss of the link is declared only after the read time-out and the channel's own
// unhealthy ticks, seconds of dead air later. Local music fills the gap from the first tick
// that finds the stream dry; the stream goes on muted underneath. If it sounds again for a
// while (a hiccup shorter than the time-out) the track fades out and the stream fades back in,
// as after any local track; if the link is declared lost instead, the track simply goes on as
// the fallback's first one and the drop takes its usual course.
void Tfrm_miravox::fill_stream_gap() {
    // A stream must have been heard: one still gathering its first seconds is not a gap.
    constexpr int kHeardTicks = 3;
    // Ticks of sound again before the stream is handed back (about a second).
    constexpr int kBackTicks = 4;
    const bool relaying = WENCONTRADO_ACIONAMENTO && WACIONADO && WERRO_WEB == 0 && Canal_web->isStarted();
    const bool dry = relaying && Canal_web->IsDry();
    if (!relaying) {
        stream_sounding_ticks_ = 0;
        stream_heard_ = false;
    } else if (dry) {
        stream_sounding_ticks_ = 0;
    } else if (++stream_sounding_ticks_ >= kHeardTicks) {
        stream_heard_ = true;
    }

    if (filling_stream_gap_) {
        if (relaying && Canal_Musica->isStarted()) {
            if (stream_sounding_ticks_ >= kBackTicks) {
                filling_stream_gap_ = false;
                SALVA_LOGS("Stream de volta - Encerrando musica local");
                Canal_Musica->StopFade(300);
            }
            return;
        }
        // The track ended with the stream still dry (the next one fills on), or the drop path
        // has taken over: nothing is left to hand back. The drop is logged as always, the
        // track on the air being the fallback's first one.
        filling_stream_gap_ = false;
        if (BASS_ERRO_WEB != 0 && WENCONTRADO_ACIONAMENTO && WACIONADO && !WMUSICA_STOP && Canal_Musica->isStarted())
            SALVA_LOGS("Erro WEB: " + QString::number(BASS_ERRO_WEB) + " - Acionando Musicas locais");
    }
    // A backup that runs dry while the air is handed back from it is left to the hand-back.
    if (!dry || !stream_heard_ || WMUSICA_STOP || Canal_Musica->isStarted() || Canal_Comercial->isStarted() ||
        canal_vinhetas->isStarted() || handing_over())
        return;
    if (fail_over_dry_stream())
        return;
    SALVA_LOGS("Stream sem dados - Acionando Musicas locais");
    PLAY_MUSICA_LOCAL();
    filling_stream_gap_ = Canal_Musica->isStarted();
}

void Tfrm_miravox::Canal_MusicaStop(QObject*) {
    bitbtn11->setEnabled(true);
    bitbtn13->setEnabled(false);
    if (WERRO_WEB != 0 && WENCONTRADO_ACIONAMENTO && WACIONADO && !WMUSICA_STOP) {
        if (!Canal_Musica->isStarted()) {
            SALVA_LOGS("Musica(stop) - Play musica local - erro WEB:" + QString::number(WERRO_WEB));
            PLAY_MUSICA_LOCAL();
        }
    } else if (WERRO_WEB == 0 && Canal_web->Volume() < 100) {
        timer_aumentarvolume_web->setEnabled(true);
    }
}
