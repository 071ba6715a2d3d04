// The main tick driven tick by tick against the test clock: window selection, activation and
// deactivation, back-to-back and overlapping windows, the date change and the commercial minute.

#include "main_window_fixture.h"

#include "engine_state.h"

#include <QFile>
#include <QLabel>
#include <QRandomGenerator>
#include <QTabBar>

using namespace miravox;
using namespace miravox::testing;

namespace {

class MainTickTest : public MainWindowTest {
protected:
    static QDateTime at(int h, int m, int s = 0, int day = 7) { return QDateTime(QDate(2026, 12, day), QTime(h, m, s)); }
    QString line(const QString& start, const QString& end, const QString& open = {}, const QString& close = {}) {
        return "|" + start + "|" + end + "|http://127.0.0.1:1/radio|STREAMING|100|" + open + "|" + close + "|0|0||";
    }
    void tick_at(const QDateTime& t) {
        set_now(t);
        window->Timer_sempreTimer(nullptr);
    }
    void load() { window->ATUALIZA_AGENDA(); }
    // A file of random bytes under an audio name: it exists, but no channel can play it.
    QString corrupt_file() {
        const QString path = program_folder() + "corrupt.mp3";
        QByteArray noise(16 * 1024, Qt::Uninitialized);
        QRandomGenerator(5).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(noise) == noise.size());
        return path;
    }
};

} // namespace

TEST_F(MainTickTest, SelectsActivatesAndDeactivatesAWindow) {
    write_weekday(kMonday, ".WEB", {line("18:10", "18:20")});
    load();
    tick_at(at(18, 9, 59));
    EXPECT_FALSE(window->WENCONTRADO_ACIONAMENTO);
    tick_at(at(18, 10, 0));
    EXPECT_TRUE(window->WENCONTRADO_ACIONAMENTO);
    EXPECT_TRUE(window->WACIONADO);
    EXPECT_EQ(log_count("*** ACIONAMENTO 18:10  AS 18:20 ***"), 1);
    EXPECT_EQ(log_count("ABRE WEB"), 1);
    EXPECT_TRUE(window->Timer_Reconexao->Enabled()); // no opening jingle: the relay is armed at once
    tick_at(at(18, 15, 0));
    EXPECT_EQ(log_count("*** ACIONAMENTO 18:10  AS 18:20 ***"), 1); // once
    tick_at(at(18, 20, 0));
    EXPECT_FALSE(window->WENCONTRADO_ACIONAMENTO);
    EXPECT_FALSE(window->WACIONADO);
    EXPECT_EQ(log_count("*** DESLIGAMENTO 18:10  AS 18:20 ***"), 1);
    EXPECT_EQ(window->WULTIMO_HORARIO, "18:20");
    EXPECT_FALSE(window->Timer_Reconexao->Enabled());
    tick_at(at(18, 20, 1));
    EXPECT_EQ(log_count("*** DESLIGAMENTO 18:10  AS 18:20 ***"), 1);
}

TEST_F(MainTickTest, BackToBackWindowsHandTheJingleChannelOver) {
    write_weekday(kMonday, ".WEB",
                  {line("18:00", "18:01", media("jingle.wav"), media("jingle.wav")),
                   line("18:01", "18:02", media("jingle.wav"), media("jingle.wav"))});
    load();
    tick_at(at(18, 0, 30));
    EXPECT_EQ(window->Timer_play_Vinhetas->Tag, 0);
    tick_at(at(18, 1, 0));
    EXPECT_EQ(log_count("*** DESLIGAMENTO 18:00  AS 18:01 ***"), 1);
    EXPECT_EQ(window->Timer_play_Vinhetas->Tag, 1); // the closing jingle is watched
    tick_at(at(18, 1, 0));
    EXPECT_EQ(log_count("*** ACIONAMENTO 18:01  AS 18:02 ***"), 1);
    EXPECT_EQ(window->Timer_play_Vinhetas->Tag, 0); // now the opening jingle: no device refresh
    EXPECT_TRUE(window->canal_vinhetas->isStarted());
}

TEST_F(MainTickTest, OverlappingWindowsTakeTheEarliestStart) {
    write_weekday(kMonday, ".WEB", {line("18:30", "20:00"), line("18:00", "19:00")});
    load();
    tick_at(at(18, 45, 0));
    EXPECT_EQ(window->WHORA_ABRIR, "18:00");
    EXPECT_EQ(window->WHORA_FECHAR, "19:00");
}

TEST_F(MainTickTest, UnreadableOrReversedTimesAreNeverSelected) {
    write_weekday(kMonday, ".WEB", {line("18:00", "xx:yy"), line("19:00", "18:00"), "", "# header"});
    load();
    for (int m = 0; m < 60; m += 10)
        tick_at(at(18, m, 0));
    EXPECT_FALSE(window->WENCONTRADO_ACIONAMENTO);
}

TEST_F(MainTickTest, DateChangeInsideAWindowStopsEverythingAndKeepsTheWindow) {
    write_weekday(kMonday, ".WEB", {line("18:00", "23:59")});
    write_weekday(kMonday + 1, ".WEB", {line("00:00", "23:59")});
    load();
    tick_at(at(23, 0, 0));
    ASSERT_TRUE(window->WACIONADO);
    const int refreshes = wct_atualiza_device;
    tick_at(at(0, 0, 1, 8));
    EXPECT_EQ(log_count("NOVA DATA: Atualização de Grade"), 1);
    EXPECT_EQ(window->WDATA_ATUAL, QDate(2026, 12, 8));
    EXPECT_EQ(window->semana->currentIndex(), 2); // Tuesday
    EXPECT_TRUE(window->WENCONTRADO_ACIONAMENTO);
    EXPECT_TRUE(window->WACIONADO);
    EXPECT_EQ(wct_atualiza_device, refreshes + 1);
    EXPECT_EQ(window->wlista_horario.size(), 1);
}

TEST_F(MainTickTest, CommercialDueInTheFirstMinuteFiresOnTheFirstTickOnce) {
    write_weekday(kMonday, ".DSP", {"|18:00|07/12/2026|07/12/2026|" + media("spot.mp3") + "|"});
    tick_at(at(18, 0, 10));
    EXPECT_EQ(window->WPATH_AUDIODSP, media("spot.mp3"));
    EXPECT_TRUE(window->timer_DiminuirVolume_geral->Enabled());
    EXPECT_TRUE(window->Timer_Play_Comercial->Enabled());
    window->timer_DiminuirVolume_geral->setEnabled(false);
    window->Timer_Play_Comercial->setEnabled(false);
    tick_at(at(18, 0, 40));
    EXPECT_FALSE(window->Timer_Play_Comercial->Enabled()); // once per minute
}

TEST_F(MainTickTest, BufferFailureStopsEverythingAndReinitialisesTheDevices) {
    write_weekday(kMonday, ".WEB", {line("18:00", "19:00")});
    load();
    tick_at(at(18, 0, 5));
    BASS_ERRO_BUFFER = true;
    tick_at(at(18, 0, 6));
    EXPECT_EQ(log_count("Erro de Buffer - update Device"), 1);
    EXPECT_FALSE(BASS_ERRO_BUFFER);
    EXPECT_EQ(window->WERRO_WEB, -1);
    EXPECT_TRUE(window->WACIONADO);
}

TEST_F(MainTickTest, ListRefreshesEveryTwoHundredAndOneTicks) {
    load();
    write_weekday(kMonday, ".WEB", {line("20:00", "21:00")});
    for (int i = 0; i < 200; ++i)
        window->Timer_sempreTimer(nullptr);
    EXPECT_TRUE(window->wlista_horario.isEmpty());
    window->Timer_sempreTimer(nullptr);
    EXPECT_EQ(window->wlista_horario.size(), 1);
}

TEST_F(MainTickTest, OneDigitHoursWrittenByHandAreReadAsTheEditorsReadThem) {
    write_weekday(kMonday, ".WEB", {line("9:30", "10:00"), line("8:00", "9:15")});
    load();
    tick_at(at(0, 5, 0));
    EXPECT_FALSE(window->WENCONTRADO_ACIONAMENTO); // "9:30" is not "now"
    tick_at(at(8, 0, 0));
    EXPECT_EQ(log_count("*** ACIONAMENTO 8:00  AS 9:15 ***"), 1);
    tick_at(at(9, 15, 0));
    EXPECT_EQ(log_count("*** DESLIGAMENTO 8:00  AS 9:15 ***"), 1);
    tick_at(at(9, 30, 0));
    EXPECT_EQ(log_count("*** ACIONAMENTO 9:30  AS 10:00 ***"), 1);
}

// A jingle or a spot that has gone when it is due would otherwise leave no trace at all.
TEST_F(MainTickTest, ScheduledFilesThatCannotBeFoundWhenDueAreLogged) {
    const QString gone = program_folder() + "gone.mp3";
    write_weekday(kMonday, ".WEB", {line("18:10", "18:20", gone, gone)});
    write_weekday(kMonday, ".DSP", {"|18:15|07/12/2026|07/12/2026|" + gone + "|"});
    load();
    tick_at(at(18, 10, 0));
    EXPECT_EQ(log_count("Vinheta de abertura: " + gone + " não localizado"), 1);
    EXPECT_TRUE(window->Timer_Reconexao->Enabled()); // the stream starts at once
    tick_at(at(18, 15, 0));
    EXPECT_EQ(log_count("Comercial: " + gone + " não localizado"), 1);
    EXPECT_FALSE(window->Timer_Play_Comercial->Enabled());
    tick_at(at(18, 20, 0));
    EXPECT_EQ(log_count("Vinheta de encerramento: " + gone + " não localizado"), 1);
    EXPECT_FALSE(window->Timer_play_Vinhetas->Enabled());
}

// The refresh after a closing jingle stops and frees every channel: inside the next window it
// would cut its freshly opened stream. A closing jingle that cannot play arms it at once.
TEST_F(MainTickTest, TheDeviceRefreshAfterAClosingJingleNeverFiresInsideTheNextWindow) {
    const QString corrupt = corrupt_file();
    write_weekday(kMonday, ".WEB", {line("18:00", "18:01", {}, corrupt), line("18:01", "18:05", {}, corrupt)});
    load();
    tick_at(at(18, 0, 0));
    tick_at(at(18, 1, 0));
    ASSERT_EQ(log_count("*** DESLIGAMENTO 18:00  AS 18:01 ***"), 1);
    EXPECT_FALSE(window->canal_vinhetas->isStarted());
    window->Timer_play_VinhetasTimer(nullptr);
    ASSERT_TRUE(window->Timer_UpdateDevice->Enabled());
    tick_at(at(18, 1, 0).addMSecs(300)); // the next window opens before the refresh's first tick
    ASSERT_EQ(log_count("*** ACIONAMENTO 18:01  AS 18:05 ***"), 1);
    const int refreshes = wct_atualiza_device;
    set_now(at(18, 1, 1));
    window->Timer_UpdateDeviceTimer(nullptr);
    EXPECT_FALSE(window->Timer_UpdateDevice->Enabled());
    EXPECT_EQ(wct_atualiza_device, refreshes);
    EXPECT_EQ(log_count("Atualização de Devices descartada"), 1);
    EXPECT_TRUE(window->WACIONADO);
    EXPECT_TRUE(window->Timer_Reconexao->Enabled()); // the new window's relay goes on

    // Alone, it waits for a commercial that is due, but not for ever (this one never starts).
    tick_at(at(18, 5, 0));
    const int after_relay = wct_atualiza_device;
    window->Timer_play_VinhetasTimer(nullptr);
    ASSERT_TRUE(window->Timer_UpdateDevice->Enabled());
    window->Timer_Play_Comercial->setEnabled(true);
    set_now(at(18, 9, 0));
    window->Timer_UpdateDeviceTimer(nullptr);
    EXPECT_TRUE(window->Timer_UpdateDevice->Enabled());
    EXPECT_EQ(window->Label10->text(), "Atualizando Devices");
    set_now(at(18, 10, 1));
    window->Timer_UpdateDeviceTimer(nullptr);
    window->Timer_Play_Comercial->setEnabled(false);
    EXPECT_FALSE(window->Timer_UpdateDevice->Enabled());
    EXPECT_EQ(window->Label10->text(), "Status");
    EXPECT_EQ(wct_atualiza_device, after_relay);
    EXPECT_EQ(log_count("Atualização de Devices descartada"), 2);
}

TEST_F(MainTickTest, MinutesTheTickDidNotSeeAreLookedUpAndThoseFoundTooLateAreWrittenAsNotAired) {
    const QString spot = media("spot.mp3");
    const auto trigger = [&](const QString& minute) { return "|" + minute + "|07/12/2026|07/12/2026|" + spot + "|"; };
    write_weekday(kMonday, ".DSP", {trigger("18:01"), trigger("18:02"), trigger("18:03"), trigger("18:05")});
    tick_at(at(18, 0, 10));
    tick_at(at(18, 3, 20)); // the tick was held for three minutes
    EXPECT_EQ(log_count("Comercial não executado (18:01, atraso de 140 s): " + spot), 1);
    EXPECT_EQ(log_count("Comercial não executado (18:02, atraso de 80 s): " + spot), 1);
    EXPECT_TRUE(window->Timer_Play_Comercial->Enabled()); // 18:03, 20 s late, still airs
    EXPECT_EQ(window->WPATH_AUDIODSP, spot);
    window->timer_DiminuirVolume_geral->setEnabled(false);
    window->Timer_Play_Comercial->setEnabled(false);

    tick_at(at(18, 5, 45)); // 18:04 has no trigger; 18:05 is 45 s late
    EXPECT_FALSE(window->Timer_Play_Comercial->Enabled());
    EXPECT_EQ(log_count("Comercial não executado (18:05, atraso de 45 s): " + spot), 1);

    ASSERT_TRUE(wait_for_rows());
    const std::vector<Airing> rows = read_airings(proof_of_play_file(program_folder() + "LOGS/", QDate(2026, 12, 7)));
    ASSERT_EQ(rows.size(), 3u);
    const QStringList minutes{"18:01", "18:02", "18:05"};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].scheduled, minutes[int(i)]);
        EXPECT_EQ(rows[i].outcome, kAiringError);
        EXPECT_EQ(rows[i].file, spot);
    }
    EXPECT_EQ(rows[0].detail, "atraso de 140 s");
}
