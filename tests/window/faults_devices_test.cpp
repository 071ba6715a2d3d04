// Sound cards that fail: the cue card never comes up, the transmission card comes up at the start
// and at the first re-initialisation, then is lost for good. The program reports each failure
// once where it happens, keeps its schedule (windows open and close on time) and keeps trying.

#include "running_window_fixture.h"

#include "engine_state.h"

using namespace miravox;
using namespace miravox::testing;

namespace {

class FailingCards : public RunningWindowTest {
  protected:
    static void SetUpTestSuite() {
        RunningWindowTest::SetUpTestSuite();
        // Read once per process, at the first engine call: every window of this program sees them.
        qputenv("MIRAVOX_AUDIO_DEVICES", "flaky:PRINCIPAL:2;broken:ESCUTA");
    }
    void before_window() override { write_config({"DVTRA=0", "DVCUE=1"}); }
};

} // namespace

TEST_F(FailingCards, EachFailureIsReportedTheScheduleGoesOnAndTheCardIsTriedAgain) {
    // Start: the transmission card comes up, the cue card does not (one box, one log block).
    const QString driver_text =
        "notice: Inicialização da Device(PLACA DE SOM) com Problemas\n" + TEXTO_ERRO_BS(BASS_ERROR_DRIVER);
    EXPECT_EQ(dialogs.shown, QStringList{driver_text});
    EXPECT_EQ(error_log_texts(), QStringList{"Inicialização da Device"});
    EXPECT_EQ(wlista_devices, std::vector<std::int16_t>{1});

    // A window with a closing jingle: its end re-initialises the card twice (the relay's end,
    // then the refresh after the jingle); the second time the card is gone.
    write_weekday(kMonday, ".WEB",
                  {window_line("18:00", "18:01", radio_link(), {}, media("jingle.wav")),
                   window_line("18:02", "18:03", radio_link(), media("jingle.wav"), media("jingle.wav"))});
    start_at(at(18, 0, 0));
    ASSERT_TRUE(run_until([&] { return on_air(); }, 8000));
    set_now(at(18, 0, 59, 800));
    const QString lost = "notice: Inicialização da Device (1) com Problemas - UPDATE 2";
    ASSERT_TRUE(run_until([&] { return dialogs.shown.contains(lost); }, 8000));
    EXPECT_TRUE(logged("*** DESLIGAMENTO 18:00  AS 18:01 ***"));
    EXPECT_EQ(dialogs.count_containing("UPDATE 2"), 1);

    // The next window finds no card: its jingle and its stream cannot open, and each says so;
    // local music is not tried on the lost card (it would fail at every tick), which is tried
    // again every few seconds, with one line for the whole outage; the window still opens and
    // closes on time.
    set_now(at(18, 1, 59, 800));
    ASSERT_TRUE(run_until([&] { return logged("*** ACIONAMENTO 18:02  AS 18:03 ***"); }, 5000));
    const QString open_failed = " - Erro ao Carregar WEB -  Erro:" + QString::number(BASS_ERROR_INIT);
    ASSERT_TRUE(run_until(
        [&] {
            const QStringList m = log_messages();
            return std::any_of(m.begin(), m.end(), [&](const QString& s) { return s.endsWith(open_failed); });
        },
        10000))
        << log_messages().join("\n").toStdString();
    EXPECT_GE(dialogs.count_containing("ERRO AO CARREGAR CANAL"), 1);
    run(2000, 10); // several attempts
    EXPECT_FALSE(logged_starting("Erro WEB: 1 - Acionando Musicas locais"));
    EXPECT_EQ(count_starting("Inicialização da Device (1) com Problemas - nova tentativa"), 1);
    EXPECT_EQ(error_log_texts().count("Inicialização da Device (1) com Problemas"), 1);
    EXPECT_EQ(lost_devices(), std::vector<std::int16_t>{1});
    const int ticks = main_ticks;
    set_now(at(18, 2, 59, 800));
    ASSERT_TRUE(run_until([&] { return logged("*** DESLIGAMENTO 18:02  AS 18:03 ***"); }, 5000));
    EXPECT_GT(main_ticks, ticks);

    // Each re-initialisation tries the card again and says once more that it is gone.
    const int reports = dialogs.count_containing("UPDATE 2");
    window->FormKeyDown(Qt::Key_U, Qt::AltModifier);
    EXPECT_EQ(dialogs.count_containing("UPDATE 2"), reports + 1);
    EXPECT_FALSE(BASS_UPDATING);
}
