// Faults injected while the program plays: its log folder removed, unwritable or on a full disk,
// a full disk under the schedule editor, schedule files edited by hand, a music folder of ten
// thousand files, music files that are not audio, and the moments a busy main thread can miss
// (a jingle's end, a commercial in a window's closing minute).

#include "running_window_fixture.h"

#include "file_size_limit.h"
#include "tessel_grid.h"

#include <QLineEdit>
#include <QRandomGenerator>
#include <QTabBar>

#include <set>
#include <unistd.h>

using namespace miravox;
using namespace miravox::testing;

namespace {

class Faults : public RunningWindowTest {
  protected:
    // The number and message of an operation log line "|HH:MM:SS|N|message|".
    static std::pair<int, QString> entry(const QString& line) {
        const QStringList parts = line.split('|');
        return {parts.value(2).toInt(), parts.mid(3, parts.size() - 4).join('|')};
    }
    // Two windows back to back on the local radio: 18:00-18:02 and 18:02-18:04.
    void two_windows() {
        write_weekday(
            kMonday, ".WEB",
            {window_line("18:00", "18:02", radio_link()), window_line("18:02", "18:04", radio_link())});
    }
    // Puts the stream on the air in the first window.
    void on_air_at_six() {
        two_windows();
        start_at(at(17, 59, 59, 500));
        ASSERT_TRUE(run_until([&] { return on_air(); }, 8000));
    }
    // A commercial due at 18:00 whose file is text, not audio.
    void broken_commercial_at_six() {
        const QString spot = program_folder() + "SPOT.MP3";
        ASSERT_TRUE(write_text_file(spot, {"this is not audio"}));
        write_weekday(kMonday, ".DSP", {"|18:00|07/12/2026|07/12/2026|" + spot + "|"});
    }
};

} // namespace

// ---- The log folder --------------------------------------------------------------------------

TEST_F(Faults, LogFolderRemovedWhileOnAirLosesEntriesUntilItIsBackThenCountsFromZero) {
    on_air_at_six();
    ASSERT_TRUE(QDir(logs_folder()).removeRecursively());

    // The first window ends and the second one begins: both play, their entries are lost.
    set_now(at(18, 1, 59, 800));
    ASSERT_TRUE(run_until([&] { return window->WHORA_ABRIR == "18:02" && on_air(); }, 8000));
    EXPECT_FALSE(QDir(logs_folder()).exists());
    EXPECT_EQ(window->Log.wlista_logs.size(), 1); // every entry found no file and started afresh
    EXPECT_TRUE(dialogs.shown.isEmpty());

    ASSERT_TRUE(QDir().mkpath(logs_folder()));
    set_now(at(18, 3, 59, 800));
    ASSERT_TRUE(run_until([&] { return !window->WENCONTRADO_ACIONAMENTO; }, 3000));
    const QStringList lines = log_file();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(entry(lines.first()), std::make_pair(0, QString("*** DESLIGAMENTO 18:02  AS 18:04 ***")));
    for (int i = 0; i < lines.size(); ++i)
        EXPECT_EQ(entry(lines[i]).first, i);
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(Faults, EngineErrorLogBringsTheRemovedFolderBackAndTheOperationLogStartsAgainAtZero) {
    broken_commercial_at_six();
    start_at(at(18, 0, 0));
    ASSERT_TRUE(QDir(logs_folder()).removeRecursively());
    ASSERT_TRUE(run_until([&] { return dialogs.count_containing("ERRO AO CARREGAR CANAL") > 0; }, 5000));

    // Each block of the engine error log found its folder (it makes it): nothing to report.
    EXPECT_EQ(dialogs.count_containing("Erro ao Salvar LOGS de Erro (BS)"), 0);
    EXPECT_EQ(dialogs.count_containing("ERRO AO CARREGAR CANAL"), 1);
    EXPECT_TRUE(error_log_texts().contains("Cerregar Canal"));
    // The commercial never played, so the level it ducked comes back by itself.
    ASSERT_TRUE(run_until([&] { return WVOL_GERAL >= WVOL_MAX; }, 5000));

    window->PLAY_MUSICA_LOCAL(); // an operation log entry: the empty music list
    ASSERT_EQ(log_file().size(), 1);
    EXPECT_EQ(entry(log_file().first()),
              std::make_pair(0, QString("Grid musical não contem dados ou linha do grid está vazia")));
}

TEST_F(Faults, UnwritableLogFolderLosesEntriesSilentlyAndEachLostErrorBlockIsReportedOnce) {
    broken_commercial_at_six();
    start_at(at(18, 0, 0));
    // A file where the folder should be: nothing can be written there, not even by root.
    ASSERT_TRUE(QDir(logs_folder()).removeRecursively());
    ASSERT_TRUE(write_text_file(logs_folder(), {"in the way"}));
    ASSERT_TRUE(run_until([&] { return dialogs.count_containing("ERRO AO CARREGAR CANAL") > 0; }, 5000));
    window->PLAY_MUSICA_LOCAL(); // an operation log entry, lost without a word

    // The failed open wrote two blocks (the first attempt and the retry): two reports, no more.
    EXPECT_EQ(dialogs.count_containing("Erro ao Salvar LOGS de Erro (BS)"), 2);
    const int ticks = main_ticks;
    run(400);
    EXPECT_GT(main_ticks, ticks); // the program goes on
    EXPECT_EQ(dialogs.count_containing("Erro ao Salvar LOGS de Erro (BS)"), 2);

    ASSERT_TRUE(QFile::remove(logs_folder()));
    ASSERT_TRUE(QDir().mkpath(logs_folder()));
    window->PLAY_MUSICA_LOCAL();
    ASSERT_EQ(log_file().size(), 1);
    EXPECT_EQ(entry(log_file().first()).first, 0);
}

TEST_F(Faults, FullDiskKeepsTheDaysEntriesInMemoryAndTheNextEntryThatFitsWritesThemAll) {
    on_air_at_six();
    const QString path = window->Log.file_for(now().date());
    const QByteArray before = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const int kept = int(window->Log.wlista_logs.size());
    {
        FileSizeLimit full_disk(before.size()); // the day's file may not grow
        set_now(at(18, 1, 59, 800));
        ASSERT_TRUE(run_until([&] { return window->WHORA_ABRIR == "18:02" && on_air(); }, 8000));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), before); // whole, never cut short
    }
    EXPECT_GT(window->Log.wlista_logs.size(), kept + 2);
    EXPECT_TRUE(dialogs.shown.isEmpty());
    window->PLAY_MUSICA_LOCAL();
    const QStringList lines = log_file();
    EXPECT_EQ(lines.size(), window->Log.wlista_logs.size());
    for (int i = 0; i < lines.size(); ++i)
        EXPECT_EQ(entry(lines[i]).first, i);
    EXPECT_TRUE(lines.filter("*** ACIONAMENTO 18:02  AS 18:04 ***").size() == 1);
}

// ---- The weekday files -----------------------------------------------------------------------

TEST_F(Faults, FullDiskRefusesAnEditorAdditionKeepsTheFileAndTheWindowPlaysOn) {
    on_air_at_six();
    const QByteArray before = weekday_bytes(kMonday, ".WEB");
    const QStringList files_before = QDir(data_folder()).entryList(QDir::Files);
    window->semana->setCurrentIndex(kMonday - 1);
    window->Edit24->setText(radio_link());
    window->MaskEdit1->setText("20:00:00");
    window->MaskEdit2->setText("21:00:00");
    {
        FileSizeLimit full_disk(16);
        window->BitBtn32Click();
    }
    EXPECT_TRUE(dialogs.shown.last().startsWith("info: Erro ao gravar o arquivo "))
        << dialogs.shown.last().toStdString();
    EXPECT_EQ(weekday_bytes(kMonday, ".WEB"), before);
    EXPECT_EQ(QDir(data_folder()).entryList(QDir::Files), files_before); // no half-written copy left
    EXPECT_TRUE(on_air());
    set_now(at(18, 1, 59, 800));
    ASSERT_TRUE(run_until([&] { return logged("*** DESLIGAMENTO 18:00  AS 18:02 ***"); }, 3000));
}

TEST_F(Faults, ScheduleFilesEditedByHandArePickedUpAndMalformedLinesSkipped) {
    start_at(at(18, 0, 0));
    // An editor of the operator's own: UTF-8 without a mark, LF line ends, no final line end.
    const QByteArray web = "not a record at all\n"
                           "|18:02|zz:zz|http://127.0.0.1:1/bad|STREAMING|100|||0|0||\n"
                           "|18:02|18:01|http://127.0.0.1:1/reversed|STREAMING|100|||0|0||\n"
                           "||||\n" +
                           QByteArray(3000, 'x') + "\n" +
                           window_line("18:02", "18:04", radio_link()).toUtf8() + "\n|18:05|18:06|ação";
    QFile file(weekday_path(kMonday, ".WEB"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(web);
    file.close();
    const QString spot = program_folder() + "SPOT.WAV";
    ASSERT_TRUE(make_wav(spot, 1.0, 1320));
    write_weekday(kMonday, ".DSP",
                  {"garbage", "|25:99|07/12/2026|07/12/2026|" + spot + "|",
                   "|18:03|99/99/9999|31/12/2026|" + spot + "|",
                   "|18:03|07/12/2026|07/12/2026|" + spot + "|"});

    // The list is reread about once a minute: the window is found, the bad lines are not.
    ASSERT_TRUE(run_until([&] { return logged("*** ACIONAMENTO 18:02  AS 18:04 ***"); }, 15000, 20));
    EXPECT_EQ(window->WWEB_PLAY, radio_link());
    EXPECT_EQ(count_starting("*** ACIONAMENTO"), 1);
    // The commercial's minute: read at that minute, the bad lines passed over.
    ASSERT_TRUE(run_until([&] { return window->Canal_Comercial->isStarted(); }, 15000, 20));
    EXPECT_EQ(window->Canal_Comercial->FilePath(), spot);

    // Deleted by hand while its window plays: the window keeps what it read and ends on time.
    ASSERT_TRUE(QFile::remove(weekday_path(kMonday, ".WEB")));
    ASSERT_TRUE(run_until([&] { return logged("*** DESLIGAMENTO 18:02  AS 18:04 ***"); }, 15000, 20));
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

// ---- Music -----------------------------------------------------------------------------------

TEST_F(Faults, MusicFolderOfTenThousandFilesListsAndShufflesEveryTrackOnce) {
    QDir().mkpath(program_folder() + "MUSICAS");
    ASSERT_TRUE(make_wav(music("TRACK.WAV"), 0.5, 660));
    std::set<QString> names{"TRACK.WAV"};
    for (int i = 1; i < 10000; ++i) {
        const QString name = QString("T%1.WAV").arg(i, 5, 10, QChar('0'));
        ASSERT_EQ(::link(QFile::encodeName(music("TRACK.WAV")), QFile::encodeName(music(name))), 0);
        names.insert(name);
    }
    window->bitbtn10Click();
    ASSERT_EQ(window->Stringgrid2->RowCount(), 10001);
    std::set<QString> listed;
    for (int r = 1; r < window->Stringgrid2->RowCount(); ++r)
        listed.insert(window->Stringgrid2->Cells(0, r));
    EXPECT_EQ(listed, names);
    const QString first = window->Stringgrid2->Cells(0, 1);
    window->bitbtn11Click();
    EXPECT_TRUE(window->Canal_Musica->isStarted());
    EXPECT_TRUE(logged("PLAY MUSICA LOCAL: " + first));
    EXPECT_EQ(window->Stringgrid2->Row(), 2);
}

TEST_F(Faults, MusicFilesThatAreNotAudioArePassedOverEachWithANotice) {
    QDir().mkpath(program_folder() + "MUSICAS");
    ASSERT_TRUE(make_wav(music("A_GOOD.WAV"), 0.6, 660));
    ASSERT_TRUE(make_wav(music("F_GOOD.WAV"), 0.6, 660));
    QByteArray noise(20000, '\0');
    QRandomGenerator random(7);
    for (char& c : noise)
        c = char(random.generate());
    ASSERT_TRUE(test::write_file(music("B_NOISE.MP3").toStdString(), noise.toStdString()));
    ASSERT_TRUE(test::write_file(music("C_EMPTY.WAV").toStdString(), ""));
    ASSERT_TRUE(write_text_file(music("D_TEXT.WAV"), {"RIFF? no, a shopping list"}));
    ASSERT_TRUE(make_wav(music("E_CUT.WAV"), 5.0, 660)); // cut to 0.3 s: its header promises more
    QFile cut(music("E_CUT.WAV"));
    ASSERT_TRUE(cut.resize(44 + 44100 * 4 * 3 / 10));
    write_weekday(kMonday, ".WEB", {window_line("18:00", "18:10", refused_link())});
    set_now(at(18, 0, 0));
    window->FormActivate(); // lists the music
    const QStringList order{"A_GOOD.WAV", "B_NOISE.MP3", "C_EMPTY.WAV",
                            "D_TEXT.WAV", "E_CUT.WAV",   "F_GOOD.WAV"};
    for (int r = 0; r < order.size(); ++r)
        window->Stringgrid2->setCells(0, r + 1, order[r]);
    window->Stringgrid2->setRow(1);
    dialogs.shown.clear(); // the list's first track may have been one that does not open

    // Nobody is there to close a box: each failure is a notice, which holds nothing.
    const qsizetype failures_before = error_log_texts().count("Cerregar Canal");
    start_at(at(18, 0, 0));
    ASSERT_TRUE(run_until([&] { return logged("PLAY MUSICA LOCAL: F_GOOD.WAV"); }, 30000));

    for (const char* bad : {"B_NOISE.MP3", "C_EMPTY.WAV", "D_TEXT.WAV"})
        EXPECT_EQ(dialogs.count_containing("notice: ERRO AO CARREGAR CANAL:\n\nArquivo: " + music(bad)), 1) << bad;
    EXPECT_EQ(error_log_texts().count("Cerregar Canal") - failures_before, 3);
    EXPECT_EQ(count_starting("PLAY MUSICA LOCAL: B_NOISE.MP3"), 1);
    for (const char* good : {"A_GOOD.WAV", "E_CUT.WAV"})
        EXPECT_TRUE(logged(QString("PLAY MUSICA LOCAL: ") + good)) << good;
    EXPECT_TRUE(window->Canal_Musica->isStarted());
}

// ---- Moments a held main thread can miss -----------------------------------------------------

TEST_F(Faults, AnOpeningJingleThatEndedUnseenStillStartsTheStream) {
    write_weekday(kMonday, ".WEB", {window_line("18:00", "18:10", radio_link(), media("jingle.wav"))});
    window->ATUALIZA_AGENDA();
    set_now(at(18, 0, 0));
    window->Timer_sempreTimer(nullptr);
    ASSERT_TRUE(window->Timer_play_Vinhetas->Enabled());
    // The watcher does not get to look (a held main thread) while the jingle's own tick sees its end.
    window->Timer_play_Vinhetas->setEnabled(false);
    ASSERT_TRUE(run_until([&] { return !window->canal_vinhetas->isStarted(); }, 5000));
    ASSERT_FALSE(window->Timer_Reconexao->Enabled());
    window->Timer_play_VinhetasTimer(nullptr);
    EXPECT_FALSE(window->Timer_play_Vinhetas->Enabled());
    EXPECT_TRUE(window->Timer_Reconexao->Enabled()); // the relay is armed all the same
}

TEST_F(Faults, ACommercialDueInAWindowsClosingMinuteAirsToItsEnd) {
    const QString spot = program_folder() + "SPOT.WAV";
    const QString closing = program_folder() + "CLOSE.WAV";
    ASSERT_TRUE(make_wav(spot, 2.0, 1320));
    ASSERT_TRUE(make_wav(closing, 3.0, 990)); // still playing when the commercial starts
    write_weekday(kMonday, ".WEB", {window_line("18:00", "18:02", radio_link(), {}, closing)});
    write_weekday(
        kMonday, ".DSP",
        {"|18:01|07/12/2026|07/12/2026|" + spot + "|", "|18:02|07/12/2026|07/12/2026|" + spot + "|"});
    start_at(at(18, 0, 59, 500));
    // 18:01: a commercial inside the window; it stays loaded on its channel once it has ended.
    ASSERT_TRUE(run_until([&] { return window->Canal_Comercial->isStarted(); }, 5000));
    ASSERT_TRUE(
        run_until([&] { return !window->Canal_Comercial->isStarted() && WVOL_GERAL >= WVOL_MAX; }, 8000));

    // 18:02: the same tick finds the next commercial and ends the window, which stops every channel.
    set_now(at(18, 1, 59, 800));
    ASSERT_TRUE(run_until([&] { return logged("*** DESLIGAMENTO 18:00  AS 18:02 ***"); }, 3000));
    ASSERT_TRUE(run_until([&] { return window->Canal_Comercial->isStarted(); }, 5000));
    int furthest = 0;
    ASSERT_TRUE(run_until(
        [&] {
            if (window->Canal_Comercial->isStarted())
                furthest = std::max(furthest, window->Canal_Comercial->Position());
            return !window->Canal_Comercial->isStarted();
        },
        6000));
    EXPECT_GT(furthest, int(window->Canal_Comercial->FileLength()) - 300);             // not cut short
    ASSERT_TRUE(run_until([&] { return window->Label10->text() == "Status"; }, 5000)); // then the refresh
    ASSERT_TRUE(run_until([&] { return WVOL_GERAL >= WVOL_MAX; }, 5000));
}
