// Whole playout scenarios: the real main window with its timers running against a clock that
// moves with real time (or faster, to skip waits), the real engine with a capture device on
// the transmission output, generated audio and a local stream server behind a relay that the
// test can cut. Checked on the operation log and on which tone went on air when.

#include "main_window_fixture.h"

#include "cool_gauge.h"
#include "proof_of_play.h"
#include "tcp_proxy.h"
#include "test_stream_server.h"
#include "wav_analysis.h"

#include <QLabel>

#include <algorithm>

using namespace miravox;
using namespace miravox::testing;

namespace {

// Tones of the station: each source has its own, so the capture tells which one aired.
constexpr double kOpenHz = 880, kStreamHz = 440, kSpotHz = 1320, kMusicHz = 660, kCloseHz = 990;

class PlayoutTest : public MainWindowTest {
protected:
    static inline QTemporaryDir* capture_dir_ = nullptr;

    static void SetUpTestSuite() {
        MainWindowTest::SetUpTestSuite();
        capture_dir_ = new QTemporaryDir;
        qputenv("MIRAVOX_AUDIO_DEVICES",
                ("capture:PRINCIPAL:" + capture_path() + ";silent:ESCUTA").toUtf8());
        ASSERT_TRUE(make_wav(media("open.wav"), 1.5, kOpenHz));
        ASSERT_TRUE(make_wav(media("close.wav"), 1.5, kCloseHz));
        ASSERT_TRUE(make_wav(media("spot.wav"), 1.5, kSpotHz));
        ASSERT_TRUE(test::make_stream_mp3(media("radio.mp3").toStdString(), kStreamHz, 4.0));
    }
    static QString capture_path() { return capture_dir_->path() + "/air.wav"; }

    void before_window() override {
        QDir().mkpath(program_folder() + "MUSICAS");
        for (const char* name : {"a.wav", "b.wav"})
            ASSERT_TRUE(make_wav(program_folder() + "MUSICAS/" + name, 2.5, kMusicHz));
        test::AudioMount radio;
        radio.data = test::read_file(media("radio.mp3").toStdString());
        radio.headers = {"icy-name:Radio Teste"};
        server.add_audio("/radio", radio);
    }

    QString window_line(const QString& start, const QString& end) const {
        return "|" + start + "|" + end + "|" + QString::fromStdString(proxy.url("/radio")) + "|STREAMING|100|" +
               media("open.wav") + "|" + media("close.wav") + "|0|0||";
    }

    // Lets the timers run for `ms` of real time, the clock moving `speed` times as fast.
    void run(int ms, int speed = 1) {
        QDeadlineTimer deadline(ms);
        QElapsedTimer step;
        step.start();
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(2);
            advance_ms(step.restart() * speed);
        }
    }
    // Runs until `done` or `ms` of real time.
    template <class F> bool run_until(F done, int ms, int speed = 1) {
        QDeadlineTimer deadline(ms);
        QElapsedTimer step;
        step.start();
        while (!done() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(2);
            advance_ms(step.restart() * speed);
        }
        return done();
    }
    bool logged(const QString& message) const { return log_messages().contains(message); }
    bool logged_starting(const QString& prefix) const {
        const QStringList m = log_messages();
        return std::any_of(m.begin(), m.end(), [&](const QString& s) { return s.startsWith(prefix); });
    }
    int index_of(const QString& prefix) const {
        const QStringList m = log_messages();
        for (int i = 0; i < m.size(); ++i)
            if (m[i].startsWith(prefix))
                return i;
        return -1;
    }

    // The order in which tones first held the air for at least `min_windows` 100 ms windows in
    // a row, from `from_s` seconds of the capture on.
    std::vector<int> air_sequence(double from_s, int min_windows = 3) const {
        const Capture capture = read_capture(capture_path());
        const std::vector<double> tones{kOpenHz, kStreamHz, kSpotHz, kMusicHz, kCloseHz};
        const std::vector<int> windows = dominant_tones(capture, tones, 0.1);
        std::vector<int> sequence;
        int run_tone = -2, run_length = 0;
        for (size_t i = size_t(from_s * 10); i < windows.size(); ++i) {
            run_length = windows[i] == run_tone ? run_length + 1 : 1;
            run_tone = windows[i];
            if (run_length == min_windows && run_tone >= 0 && (sequence.empty() || sequence.back() != run_tone))
                sequence.push_back(run_tone);
        }
        return sequence;
    }
    double captured_seconds() const { return read_capture(capture_path()).seconds(); }

    test::TestStreamServer server;
    TcpProxy proxy{server.port()};
};

enum Tone { Open, Stream, Spot, Music, Close };

} // namespace

TEST_F(PlayoutTest, ATypicalWindowWithCommercialDropAndReturn) {
    write_weekday(kMonday, ".WEB", {window_line("18:00", "18:03")});
    write_weekday(kMonday, ".DSP", {"|18:01|07/12/2026|07/12/2026|" + media("spot.wav") + "|"});
    set_now(QDateTime(QDate(2026, 12, 7), QTime(17, 59, 59, 500)));
    window->FormActivate();
    const double air_start = captured_seconds();
    window->Timer_sempre->setEnabled(true);

    // Activation at 18:00:00: the opening jingle, then the stream faded in.
    ASSERT_TRUE(run_until([&] { return logged("*** ACIONAMENTO 18:00  AS 18:03 ***"); }, 3000));
    EXPECT_TRUE(logged("Vinheta de abertura: " + media("open.wav")));
    ASSERT_TRUE(run_until([&] { return logged("Conectado à RADIO TESTE"); }, 8000));
    EXPECT_TRUE(logged("Conectando à " + QString::fromStdString(proxy.url("/radio"))));
    ASSERT_TRUE(run_until([&] { return !window->timer_aumentarvolume_web->Enabled(); }, 5000));
    EXPECT_EQ(window->Canal_web->Volume(), 100);

    // The commercial of 18:01 ducks the stream and brings it back.
    set_now(QDateTime(QDate(2026, 12, 7), QTime(18, 0, 59, 700)));
    ASSERT_TRUE(run_until([&] { return window->Canal_Comercial->isStarted(); }, 4000));
    EXPECT_NEAR(window->Canal_web->Volume(), WVOL_MIN, 1);
    ASSERT_TRUE(run_until([&] { return !window->Canal_Comercial->isStarted(); }, 4000));
    ASSERT_TRUE(run_until([&] { return !window->timer_aumentarvolume_geral->Enabled(); }, 4000));
    EXPECT_EQ(WVOL_GERAL, 100);

    // The source dies: local music takes over as soon as the stream runs dry, and the drop,
    // declared a few seconds later, is reported once.
    proxy.cut();
    ASSERT_TRUE(run_until([&] { return window->Canal_Musica->isStarted() && logged_starting("Erro WEB: "); }, 12000));
    EXPECT_TRUE(logged_starting("Erro WEB: 2 - Acionando Musicas locais") ||
                logged_starting("Erro WEB: 1 - Acionando Musicas locais"));
    EXPECT_TRUE(logged_starting("PLAY MUSICA LOCAL: "));
    const QStringList messages = log_messages();
    EXPECT_EQ(int(std::count_if(messages.begin(), messages.end(),
                                [](const QString& s) { return s.startsWith("DESCONECTADO"); })),
              1);

    // The source returns: the relay reopens it after its countdown (skipped at 25x) and it
    // fades in once the local track has ended.
    proxy.restore();
    ASSERT_TRUE(run_until([&] { return window->Canal_web->isStarted(); }, 8000, 25));
    ASSERT_TRUE(run_until([&] { return !window->Canal_Musica->isStarted() && window->Canal_web->Volume() >= 99; },
                          12000));
    EXPECT_EQ(window->WERRO_WEB, 0);

    // 18:03: the relay ends, the closing jingle plays and the devices are refreshed.
    set_now(QDateTime(QDate(2026, 12, 7), QTime(18, 2, 59, 800)));
    ASSERT_TRUE(run_until([&] { return logged("*** DESLIGAMENTO 18:00  AS 18:03 ***"); }, 3000));
    EXPECT_TRUE(logged("Vinheta de encerramento: " + media("close.wav")));
    ASSERT_TRUE(run_until([&] { return window->Timer_UpdateDevice->Enabled(); }, 3000));
    ASSERT_TRUE(run_until([&] { return !window->Timer_UpdateDevice->Enabled(); }, 3000));
    EXPECT_EQ(window->Label10->text(), "Status");
    EXPECT_FALSE(window->Canal_web->isStarted());

    // The log tells the story in order, and so does the air.
    EXPECT_LT(index_of("*** ACIONAMENTO"), index_of("Conectado à RADIO TESTE"));
    EXPECT_LT(index_of("Conectado à RADIO TESTE"), index_of("PLAY MUSICA LOCAL"));
    EXPECT_LT(index_of("PLAY MUSICA LOCAL"), index_of("*** DESLIGAMENTO"));
    const std::vector<int> air = air_sequence(air_start);
    const std::vector<int> expected{Open, Stream, Spot, Stream, Music, Stream, Close};
    std::vector<int> found;
    for (int tone : air) // the expected order must appear as a subsequence
        if (found.size() < expected.size() && tone == expected[found.size()])
            found.push_back(tone);
    EXPECT_EQ(found, expected) << "air sequence size " << air.size();
}

TEST_F(PlayoutTest, StartingInsideAWindowActivatesItOnTheFirstTick) {
    write_weekday(kMonday, ".WEB", {window_line("17:00", "19:00")});
    set_now(QDateTime(QDate(2026, 12, 7), QTime(18, 0, 0)));
    window->FormActivate();
    window->Timer_sempre->setEnabled(true);
    ASSERT_TRUE(run_until([&] { return logged("*** ACIONAMENTO 17:00  AS 19:00 ***"); }, 2000));
    EXPECT_TRUE(logged("Vinheta de abertura: " + media("open.wav")));
    EXPECT_EQ(window->Label5->text(), "17:00");
    EXPECT_EQ(window->Label12->text(), "19:00");
}

// A day of commercials in the proof-of-play file: one airs whole, one is due with its file
// missing, and one is cut short when the window ends during it; the report counts them.
TEST_F(PlayoutTest, EveryCommercialOfTheDayIsRecordedWithItsOutcome) {
    ASSERT_TRUE(make_wav(media("long_spot.wav"), 20, kSpotHz));
    write_weekday(kMonday, ".WEB", {window_line("18:00", "18:02")});
    write_weekday(kMonday, ".DSP",
                  {"|17:59|07/12/2026|07/12/2026|" + media("spot.wav") + "|",
                   "|18:00|07/12/2026|07/12/2026|" + media("gone.wav") + "|",
                   "|18:01|07/12/2026|07/12/2026|" + media("long_spot.wav") + "|"});
    const QString logs = program_folder() + "LOGS/";
    const QString csv = proof_of_play_file(logs, QDate(2026, 12, 7));
    const auto rows = [&] { // airings ended (one on the air has a row from its start)
        const std::vector<Airing> all = read_airings(csv);
        return std::count_if(all.begin(), all.end(), [](const Airing& a) { return a.outcome != kAiringOnAir; });
    };
    set_now(QDateTime(QDate(2026, 12, 7), QTime(17, 58, 59, 500)));
    window->FormActivate();
    window->Timer_sempre->setEnabled(true);

    ASSERT_TRUE(run_until([&] { return rows() == 1; }, 8000));
    set_now(QDateTime(QDate(2026, 12, 7), QTime(17, 59, 59, 500)));
    ASSERT_TRUE(run_until([&] { return rows() == 2; }, 3000));
    set_now(QDateTime(QDate(2026, 12, 7), QTime(18, 0, 59, 500)));
    ASSERT_TRUE(run_until([&] { return window->Canal_Comercial->isStarted(); }, 6000));
    run(2500);
    set_now(QDateTime(QDate(2026, 12, 7), QTime(18, 1, 59, 800)));
    ASSERT_TRUE(run_until(
        [&] { return logged("*** DESLIGAMENTO 18:00  AS 18:02 ***") && window->proof_of_play.all_written(); }, 3000));
    EXPECT_EQ(rows(), 3);

    const std::vector<Airing> day = read_airings(csv);
    EXPECT_EQ(day[0].scheduled, "17:59");
    EXPECT_EQ(day[0].outcome, kAiringComplete);
    EXPECT_EQ(day[0].file, media("spot.wav"));
    EXPECT_EQ(day[0].start.toString("HH:mm"), "17:59");
    EXPECT_EQ(day[1].scheduled, "18:00");
    EXPECT_EQ(day[1].outcome, kAiringMissing);
    EXPECT_EQ(day[1].file, media("gone.wav"));
    EXPECT_EQ(day[1].seconds_aired, 0);
    EXPECT_EQ(day[2].scheduled, "18:01");
    EXPECT_EQ(day[2].outcome, kAiringCut);
    EXPECT_EQ(day[2].file_seconds, 20);
    EXPECT_EQ(day[2].end.toString("HH:mm"), "18:02"); // cut when the window ended
    EXPECT_GE(day[2].seconds_aired, 2);
    EXPECT_LE(day[2].seconds_aired, 6);

    const QString report = commercials_report(logs, QDate(2026, 12, 7), QDate(2026, 12, 7), false);
    EXPECT_TRUE(report.contains(media("long_spot.wav") + "\n  Completos: 0   Interrompidos: 1   Não exibidos: 0"));
    EXPECT_TRUE(report.contains(media("gone.wav") + "\n  Completos: 0   Interrompidos: 0   Não exibidos: 1"));
    EXPECT_TRUE(report.contains(media("spot.wav") + "\n  Completos: 1   Interrompidos: 0   Não exibidos: 0"));
}
