// A stream server that goes wrong while its window plays: it never answers, stalls, closes or
// resets the connection mid-stream, sends garbage or a header that never ends, or redirects to
// itself. Whatever it does, the relay reports it, local music keeps the air and the main tick
// keeps running (the program is held at most one connect time-out at a time).

#include "running_window_fixture.h"

#include <QLabel>

using namespace miravox;
using namespace miravox::testing;

namespace {

constexpr int kConnectTimeoutMs = 1500; // TAMBR_NET of the station

enum class Fault { Silent, EndlessHeader, Garbage, RedirectLoop, StallAfter, CloseAfter, ResetAfter };

struct Case {
    const char* name;
    Fault fault;
    int open_error; // the open's error code; 0 when the link opens and fails later
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class NetworkFaults : public RunningWindowTest, public ::testing::WithParamInterface<Case> {
  protected:
    void before_window() override { write_config({"TAMBR_NET=" + QString::number(kConnectTimeoutMs)}); }

    // Serves the fault at a path of its own and returns the link to it.
    QString faulty_link(Fault fault) {
        if (fault == Fault::RedirectLoop) {
            server.add_redirect("/loop", server.url("/loop"));
            return QString::fromStdString(server.url("/loop"));
        }
        test::AudioMount mount;
        mount.data = test::read_file(media("stream.mp3").toStdString());
        mount.headers = {std::string("icy-name:") + kStation};
        mount.fault_after_bytes = 40000; // a couple of seconds of audio
        switch (fault) {
        case Fault::Silent:
            mount.fault = test::StreamFault::Silent;
            break;
        case Fault::EndlessHeader:
            mount.fault = test::StreamFault::EndlessHeader;
            break;
        case Fault::Garbage:
            mount.fault = test::StreamFault::Garbage;
            break;
        case Fault::StallAfter:
            mount.fault = test::StreamFault::StallAfter;
            break;
        case Fault::CloseAfter:
            mount.fault = test::StreamFault::CloseAfter;
            break;
        case Fault::ResetAfter:
            mount.fault = test::StreamFault::ResetAfter;
            break;
        case Fault::RedirectLoop:
            break;
        }
        server.add_audio("/faulty", mount);
        return QString::fromStdString(server.url("/faulty"));
    }
};

} // namespace

TEST_P(NetworkFaults, RelayReportsItMusicKeepsTheAirAndTheMainTickRuns) {
    const Case c = GetParam();
    write_weekday(kMonday, ".WEB", {window_line("18:00", "18:10", faulty_link(c.fault))});
    QDir().mkpath(program_folder() + "MUSICAS");
    ASSERT_TRUE(make_wav(music("A.WAV"), 20, 660));
    const auto events = window->station_state.open_queue();
    start_at(at(17, 59, 59, 500));

    if (c.open_error) {
        ASSERT_TRUE(
            run_until([&] { return logged_starting("Erro WEB: 1 - Acionando Musicas locais"); }, 15000));
        const QStringList m = log_messages();
        EXPECT_TRUE(std::any_of(m.begin(), m.end(), [&](const QString& s) {
            return s.endsWith(" - Erro ao Carregar WEB -  Erro:" + QString::number(c.open_error));
        })) << m.join("\n").toStdString();
    } else {
        ASSERT_TRUE(run_until([&] { return on_air(); }, 8000));
        ASSERT_TRUE(run_until([&] { return logged_starting("Erro WEB: "); }, 20000))
            << log_messages().join("\n").toStdString();
        EXPECT_TRUE(logged_starting("DESCONECTADO"));
        // Local music filled the air from the moment the stream ran dry, before the loss was declared.
        const QStringList m = log_messages();
        const auto first = [&](const QString& prefix) {
            return std::find_if(m.begin(), m.end(), [&](const QString& s) { return s.startsWith(prefix); }) - m.begin();
        };
        EXPECT_LT(first("Stream sem dados - Acionando Musicas locais"), first("DESCONECTADO"))
            << m.join("\n").toStdString();
        EXPECT_FALSE(logged("Erro de Buffer - update Device")) << "a lost stream taken for a stalled output";
    }
    ASSERT_TRUE(run_until([&] { return window->Canal_Musica->isStarted(); }, 5000));
    EXPECT_TRUE(logged("PLAY MUSICA LOCAL: A.WAV"));

    // The air stays with the music while the relay keeps trying; the program answered throughout.
    const int ticks = main_ticks;
    run(3000);
    EXPECT_TRUE(window->Canal_Musica->isStarted());
    EXPECT_GT(main_ticks, ticks + 5);
    EXPECT_LT(longest_tick_gap_ms, kConnectTimeoutMs + 2500);
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.shown.join("\n").toStdString();

    // Watchers from outside heard of the loss once, and see the music on the air.
    const std::vector<miravox::StationEvent> posted = events->take();
    EXPECT_EQ(std::count_if(posted.begin(), posted.end(),
                            [](const auto& e) { return e.kind == miravox::StationEventKind::stream_lost; }),
              1);
    const miravox::StationSnapshot state = window->station_state.snapshot();
    EXPECT_EQ(state.on_air, miravox::OnAir::music);
    EXPECT_FALSE(state.stream_connected);
    EXPECT_EQ(state.drops_total, c.open_error ? 0u : 1u);
    EXPECT_TRUE(state.last_drop.isValid());
    EXPECT_EQ(state.last_drop_seconds, -1);
}

INSTANTIATE_TEST_SUITE_P(Servers, NetworkFaults,
                         ::testing::Values(Case{"NeverAnswers", Fault::Silent, BASS_ERROR_TIMEOUT},
                                           Case{"EndlessHeader", Fault::EndlessHeader, BASS_ERROR_FILEOPEN},
                                           Case{"Garbage", Fault::Garbage, BASS_ERROR_FILEFORM},
                                           Case{"RedirectsToItself", Fault::RedirectLoop,
                                                BASS_ERROR_FILEOPEN},
                                           Case{"StallsMidStream", Fault::StallAfter, 0},
                                           Case{"ClosesMidStream", Fault::CloseAfter, 0},
                                           Case{"ResetsMidStream", Fault::ResetAfter, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// The server freezes for a moment shorter than the read time-out: local music fills the air
// while the stream is dry, and hands it back as soon as the stream sounds again, instead of
// costing the network's programme a whole track. The link is never declared lost.
TEST_F(RunningWindowTest, AStreamThatRunsDryForAMomentIsFilledAndHandedBack) {
    write_weekday(kMonday, ".WEB", {window_line("18:00", "18:10", radio_link())});
    QDir().mkpath(program_folder() + "MUSICAS");
    ASSERT_TRUE(make_wav(music("A.WAV"), 30, 660));
    start_at(at(17, 59, 59, 500));
    ASSERT_TRUE(run_until([&] { return on_air() && window->Canal_web->Volume() >= 99; }, 10000));
    proxy.hold(true); // about 2 s of audio in hand, then dry; 4 s of read time-out
    ASSERT_TRUE(run_until([&] { return window->Canal_Musica->isStarted(); }, 5000))
        << log_messages().join("\n").toStdString();
    EXPECT_TRUE(logged("Stream sem dados - Acionando Musicas locais"));
    proxy.hold(false);
    ASSERT_TRUE(run_until([&] { return logged("Stream de volta - Encerrando musica local"); }, 5000))
        << log_messages().join("\n").toStdString();
    ASSERT_TRUE(run_until([&] { return !window->Canal_Musica->isStarted() && window->Canal_web->Volume() >= 99; }, 8000));
    EXPECT_TRUE(window->Canal_web->isStarted());
    EXPECT_FALSE(logged_starting("DESCONECTADO"));
    EXPECT_EQ(count_starting("PLAY MUSICA LOCAL: "), 1);
}
