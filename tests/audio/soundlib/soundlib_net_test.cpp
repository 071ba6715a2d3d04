// Network streams against a local server: ICY streams and their headers, every fault a server
// can show (each with its error code, within the time-outs), stalls and drops (seen at once,
// however much audio is buffered), HLS; against real servers of other makers (icecast2,
// Liquidsoap's harbor, the ffmpeg CLI over HTTP and HTTPS), each of which must play its tone,
// also through playlists and redirects that cross between http and https; and host names that
// resolve late or not at all, whichever protocol resolves them.

#include "engine_test_support.h"
#include "live_servers.h"
#include "tcp_proxy.h"
#include "test_stream_server.h"
#include "wav_analysis.h"

#include <gtest/gtest.h>

#include <atomic>
#include <dlfcn.h>
#include <netdb.h>
#include <thread>
#include <unistd.h>

using namespace miravox::test;
using std::chrono::milliseconds;

// Host names under ".resolver.test" reach a resolver these tests control, whoever asks: our own
// client or FFmpeg's protocols (this definition takes the place of the C library's for the whole
// program). "nx" does not exist; "never" answers only after kSlowLookup; "once" answers its first
// lookup at once and every later one after kSlowLookup. Other names go to the system's resolver.
namespace {
constexpr auto kSlowLookup = std::chrono::milliseconds(2500);
std::atomic<int> once_lookups{0};
std::atomic<int> slow_lookups_running{0};
} // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** res) {
    using Real = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    const std::string name = node ? node : "";
    const std::string suffix = ".resolver.test";
    const bool numeric_only = hints && (hints->ai_flags & AI_NUMERICHOST);
    if (numeric_only || name.size() <= suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return real(node, service, hints, res);
    const std::string host = name.substr(0, name.size() - suffix.size());
    if (host == "nx")
        return EAI_NONAME;
    if (host == "once" && once_lookups.fetch_add(1) == 0)
        return real("127.0.0.1", service, hints, res);
    ++slow_lookups_running;
    std::this_thread::sleep_for(kSlowLookup);
    --slow_lookups_running;
    return host == "never" ? EAI_AGAIN : real("127.0.0.1", service, hints, res);
}

namespace {

const VirtualDevices devices;

constexpr int kConnectTimeoutMs = 1500;
constexpr int kReadTimeoutMs = 3000;
constexpr auto kBound = milliseconds(kConnectTimeoutMs + 2000); // no open may block longer

class NetTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(BASS_Init(kSilentDevice, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
        mp3_ = new std::string;
        const std::string p = devices.dir().file("stream.mp3");
        ASSERT_TRUE(make_stream_mp3(p, 430, 4.0));
        *mp3_ = read_file(p);
    }
    static void TearDownTestSuite() {
        BASS_Free();
        delete mp3_;
    }

    void SetUp() override {
        BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, kConnectTimeoutMs);
        BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, kReadTimeoutMs);
        BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
        BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
        BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
        BASS_SetConfigPtr(BASS_CONFIG_NET_AGENT, "Miravox");
    }

    static AudioMount radio() {
        AudioMount m;
        m.data = *mp3_;
        m.headers = {"icy-name:Radio Alfa", "icy-genre:Pop", "icy-br:128"};
        return m;
    }

    static std::u16string wide(const std::string& ascii) {
        return std::u16string(ascii.begin(), ascii.end());
    }

    static HSTREAM open_url(const std::string& url, DWORD flags = BASS_STREAM_AUTOFREE) {
        return BASS_StreamCreateURL(wide(url).c_str(), 0, flags | BASS_UNICODE, nullptr, nullptr);
    }

    static bool gone(HSTREAM h) {
        BASS_ChannelIsActive(h);
        return BASS_ErrorGetCode() == BASS_ERROR_HANDLE;
    }

    static std::vector<std::string> tags(HSTREAM h) {
        std::vector<std::string> lines;
        const char* p = BASS_ChannelGetTags(h, BASS_TAG_HTTP);
        while (p && *p) {
            lines.emplace_back(p);
            p += lines.back().size() + 1;
        }
        return lines;
    }

    static std::string* mp3_;
    TestStreamServer server_;
};

std::string* NetTest::mp3_ = nullptr;

TEST_F(NetTest, IcyStreamPlaysAndKeepsTheServersHeaderLines) {
    server_.add_audio("/radio", radio());
    StreamHandle h(open_url(server_.url("/radio")));
    ASSERT_NE(h.get(), 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);

    const auto lines = tags(h);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "ICY 200 OK");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "icy-name:Radio Alfa"), lines.end()) << "exactly as sent";
    ASSERT_EQ(server_.requests().size(), 1u);
    EXPECT_EQ(server_.requests()[0].header("User-Agent"), "Miravox");

    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return position_s(h) > 0.3; }, milliseconds(3000)));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
    EXPECT_EQ(peak_bin(h), 5);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_CONNECTED), 1u);
    const QWORD capacity = BASS_StreamGetFilePosition(h, BASS_FILEPOS_END);
    EXPECT_EQ(capacity, 5000u * 441u / 10u * 8u) << "5 s of output";
    const QWORD buffered = BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER);
    EXPECT_GT(buffered, 0u);
    EXPECT_LE(buffered, capacity);
    EXPECT_GT(BASS_StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD), 16000u);

    EXPECT_EQ(BASS_ChannelGetLength(h, BASS_POS_BYTE), static_cast<QWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
}

TEST_F(NetTest, StopOfANetworkStreamNeverLeavesPositionError) {
    // The channel stops a stream with Stop, SetPosition(0), IsActive and then reads the error
    // code: for a network stream it must not read 7 (that would mean "play again").
    server_.add_audio("/radio", radio());
    StreamHandle h(open_url(server_.url("/radio")));
    ASSERT_NE(h.get(), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    sleep_ms(200);
    ASSERT_TRUE(BASS_ChannelStop(h));
    EXPECT_FALSE(BASS_ChannelSetPosition(h, 0, BASS_POS_BYTE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    const double at = position_s(h);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE)) << "a stopped network stream continues";
    ASSERT_TRUE(wait_until([&] { return position_s(h) > at + 0.1; }, milliseconds(2000)));
}

TEST_F(NetTest, UserAgentComesFromTheOption) {
    server_.add_audio("/radio", radio());
    BASS_SetConfigPtr(BASS_CONFIG_NET_AGENT | BASS_UNICODE, u"Miravox/Teste");
    StreamHandle h(open_url(server_.url("/radio")));
    ASSERT_NE(h.get(), 0u);
    EXPECT_EQ(server_.requests().at(0).header("User-Agent"), "Miravox/Teste");
}

struct Fault {
    const char* name;
    std::function<std::string(TestStreamServer&)> setup; // returns the address to open
    int error;
};

void PrintTo(const Fault& f, std::ostream* os) {
    *os << f.name;
}

AudioMount with_fault(StreamFault fault) {
    AudioMount m;
    m.data = "x";
    m.fault = fault;
    return m;
}

const Fault kFaults[] = {
    {"Refused",
     [](TestStreamServer&) {
         return "http://127.0.0.1:" + std::to_string(TestStreamServer::unused_port()) + "/";
     },
     BASS_ERROR_NONET},
    {"NotFound", [](TestStreamServer& s) { return s.url("/nothing-here"); }, BASS_ERROR_FILEOPEN},
    {"ServerError",
     [](TestStreamServer& s) {
         s.add_status("/e", 500);
         return s.url("/e");
     },
     BASS_ERROR_FILEOPEN},
    {"Forbidden",
     [](TestStreamServer& s) {
         s.add_status("/f", 403);
         return s.url("/f");
     },
     BASS_ERROR_WMA_DENIED},
    {"AcceptsButSilent",
     [](TestStreamServer& s) {
         s.add_audio("/s", with_fault(StreamFault::Silent));
         return s.url("/s");
     },
     BASS_ERROR_TIMEOUT},
    {"AnswersButSendsNothing",
     [](TestStreamServer& s) {
         AudioMount m = with_fault(StreamFault::StallAfter);
         m.fault_after_bytes = 0;
         s.add_audio("/n", m);
         return s.url("/n");
     },
     BASS_ERROR_TIMEOUT},
    {"EndlessHeader",
     [](TestStreamServer& s) {
         s.add_audio("/h", with_fault(StreamFault::EndlessHeader));
         return s.url("/h");
     },
     BASS_ERROR_FILEOPEN},
    {"Garbage",
     [](TestStreamServer& s) {
         s.add_audio("/g", with_fault(StreamFault::Garbage));
         return s.url("/g");
     },
     BASS_ERROR_FILEFORM},
    {"RedirectLoop",
     [](TestStreamServer& s) {
         s.add_redirect("/a", "/b");
         s.add_redirect("/b", s.url("/a"));
         return s.url("/a");
     },
     BASS_ERROR_FILEOPEN},
    {"UnknownScheme", [](TestStreamServer&) { return std::string("gopher://127.0.0.1/x"); },
     BASS_ERROR_FILEOPEN},
    {"EmptyPlaylist",
     [](TestStreamServer& s) {
         s.add_file("/l.pls", "[playlist]\nNumberOfEntries=0\n", "audio/x-scpls");
         return s.url("/l.pls");
     },
     BASS_ERROR_FILEFORM},
    {"PlaylistOfItself",
     [](TestStreamServer& s) {
         s.add_file("/self.m3u", s.url("/self.m3u") + "\n", "audio/x-mpegurl");
         return s.url("/self.m3u");
     },
     BASS_ERROR_FILEFORM},
};

class NetFaultTest : public NetTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(NetFaultTest, FailsWithItsCodeWithinTheTimeOut) {
    const std::string url = GetParam().setup(server_);
    const auto start = std::chrono::steady_clock::now();
    const HSTREAM h = open_url(url);
    const int error = BASS_ErrorGetCode();
    EXPECT_LT(elapsed_ms(start), kBound.count()) << "the open must not block beyond its time-out";
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Faults, NetFaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetTest, RedirectsAndPlaylistsLeadToTheStream) {
    server_.add_audio("/radio", radio());
    server_.add_redirect("/old", "/radio");
    server_.add_file("/list.pls", "[playlist]\nFile1=" + server_.url("/old") + "\nLength1=-1\n",
                     "audio/x-scpls");
    StreamHandle a(open_url(server_.url("/old")));
    EXPECT_NE(a.get(), 0u) << BASS_ErrorGetCode();
    StreamHandle b(open_url(server_.url("/list.pls")));
    EXPECT_NE(b.get(), 0u) << BASS_ErrorGetCode();
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 0);
    EXPECT_EQ(open_url(server_.url("/list.pls")), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
}

TEST_F(NetTest, ServerThatTricklesOneFramePerSecondOpensAndPlays) {
    // No burst, one 128 kbps frame's worth of bytes a second: the server is never silent for the
    // time-out, so the open waits for the few frames that tell the format and give the first
    // audio (about three seconds here), within three time-outs at most.
    AudioMount m = radio();
    m.burst_bytes = 0;
    m.bytes_per_second = 418;
    server_.add_audio("/trickle", m);
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 5000);
    const auto start = std::chrono::steady_clock::now();
    StreamHandle h(open_url(server_.url("/trickle")));
    ASSERT_NE(h.get(), 0u) << "error " << BASS_ErrorGetCode() << " after " << elapsed_ms(start) << " ms";
    EXPECT_LT(elapsed_ms(start), 3 * 5000 + 3000) << "three time-outs, and a loaded machine's slack";
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    EXPECT_TRUE(wait_until([&] { return position_s(h) > 0.05; }, milliseconds(6000))) << "a second frame played";
}

TEST_F(NetTest, StalledStreamShowsAFallingBufferThenStalledThenEnds) {
    AudioMount m = radio();
    m.burst_bytes = 24000; // 1.5 s of audio at once
    m.fault = StreamFault::StallAfter;
    m.fault_after_bytes = 48000; // 3 s of audio, then nothing
    server_.add_audio("/stall", m);
    StreamHandle h(open_url(server_.url("/stall")));
    ASSERT_NE(h.get(), 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return position_s(h) > 1.6; }, milliseconds(4000)));
    const QWORD earlier = BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER);
    sleep_ms(500);
    const QWORD later = BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER);
    EXPECT_LT(later, earlier) << "nothing comes in, the buffer drains";
    ASSERT_TRUE(
        wait_until([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STALLED; }, milliseconds(3000)));
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER), 0u);
    ASSERT_TRUE(wait_until([&] { return BASS_StreamGetFilePosition(h, BASS_FILEPOS_CONNECTED) == 0; },
                           milliseconds(2500)));
    const HSTREAM handle = h.release();
    EXPECT_TRUE(wait_until([&] { return gone(handle); }, milliseconds(kReadTimeoutMs + 2000)))
        << "after the read time-out the stream ends and frees itself";
}

TEST_F(NetTest, DroppedStreamEnds) {
    AudioMount m = radio();
    m.burst_bytes = 16000;
    m.fault = StreamFault::CloseAfter;
    m.fault_after_bytes = 16000; // 1 s of audio
    server_.add_audio("/drop", m);
    server_.add_audio("/drop2", m);
    StreamHandle kept(open_url(server_.url("/drop"), 0));
    const HSTREAM freed = open_url(server_.url("/drop2"));
    ASSERT_NE(kept.get(), 0u);
    ASSERT_NE(freed, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(kept, FALSE));
    ASSERT_TRUE(BASS_ChannelPlay(freed, FALSE));
    ASSERT_TRUE(
        wait_until([&] { return BASS_ChannelIsActive(kept) == BASS_ACTIVE_STOPPED; }, milliseconds(4000)));
    EXPECT_EQ(BASS_StreamGetFilePosition(kept, BASS_FILEPOS_CONNECTED), 0u);
    EXPECT_NEAR(position_s(kept), 1.0, 0.1);
    EXPECT_FALSE(BASS_ChannelPlay(kept, FALSE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);
    EXPECT_TRUE(wait_until([&] { return gone(freed); }, milliseconds(2000)));
}

// A server that has sent far more than the buffer holds (as IceCast does at connect): the rest
// waits in the socket or in our download. Whether the server is still there must not wait for
// that audio to be decoded.
class NetLinkTest : public NetTest {
  protected:
    static AudioMount ahead_by(int seconds) {
        AudioMount m = radio();
        m.burst_bytes = static_cast<size_t>(seconds) * 16000;
        return m;
    }
    static QWORD connected(HSTREAM h) { return BASS_StreamGetFilePosition(h, BASS_FILEPOS_CONNECTED); }
    static double buffered_s(HSTREAM h) {
        return seconds_of(h, BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER));
    }
};

TEST_F(NetLinkTest, ClosedConnectionReadsDisconnectedAtOnceAndWhatCameStillPlays) {
    server_.add_audio("/radio", ahead_by(10));
    miravox::testing::TcpProxy proxy(server_.port());
    StreamHandle h(open_url(proxy.url("/radio"), 0));
    ASSERT_NE(h.get(), 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return position_s(h) > 0.5 && buffered_s(h) > 4.5; }, milliseconds(4000)));
    EXPECT_EQ(connected(h), 1u);

    proxy.cut();
    const auto cut_at = std::chrono::steady_clock::now();
    ASSERT_TRUE(wait_until([&] { return connected(h) == 0; }, milliseconds(4000)));
    EXPECT_LT(elapsed_ms(cut_at), 1500) << "seen at once, not after ~5 s of backlog were decoded";
    EXPECT_GT(buffered_s(h), 3.0) << "seconds of audio still buffered";
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);

    // The backlog that came before the cut plays too, then the stream ends by itself.
    const double more_than_buffered = position_s(h) + buffered_s(h) + 1.5;
    EXPECT_TRUE(wait_until([&] { return position_s(h) > more_than_buffered; }, milliseconds(9000)));
    EXPECT_TRUE(
        wait_until([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; }, milliseconds(12000)));
    EXPECT_GT(position_s(h), 9.0) << "about all that was sent";
}

TEST_F(NetLinkTest, StalledConnectionReadsDisconnectedAtTheReadTimeOutAfterItsLastByte) {
    AudioMount m = ahead_by(10);
    m.fault = StreamFault::StallAfter;
    m.fault_after_bytes = m.burst_bytes + 24000; // 1.5 s at pace, then nothing on an open connection
    server_.add_audio("/stall", m);
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 1000);
    const auto opening = std::chrono::steady_clock::now();
    StreamHandle h(open_url(server_.url("/stall"), 0));
    ASSERT_NE(h.get(), 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return connected(h) == 0; }, milliseconds(8000)));
    const double after_ms = elapsed_ms(opening);
    EXPECT_GT(after_ms, 2400) << "not before the read time-out has passed since the last byte";
    EXPECT_LT(after_ms, 4500)
        << "counted from the last byte, not from when the decoder next needs one (~7 s)";
    EXPECT_GT(buffered_s(h), 2.0);
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
}

TEST_F(NetLinkTest, HealthyStreamsStayConnectedWithAFullBufferAPauseOrAServerHeldBack) {
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 1000); // a false drop would show within a second
    server_.add_audio("/ahead", ahead_by(10));         // full buffer, backlog in the socket
    server_.add_audio("/paced", radio());              // caught up: reads wait for the server
    AudioMount flood = radio();
    flood.bytes_per_second = 0; // as fast as we take: our download stops at its cap, the server waits
    server_.add_audio("/flood", flood);
    StreamHandle ahead(open_url(server_.url("/ahead"), 0));
    StreamHandle paced(open_url(server_.url("/paced"), 0));
    StreamHandle flooding(open_url(server_.url("/flood"), 0));
    ASSERT_TRUE(ahead.get() && paced.get() && flooding.get()) << BASS_ErrorGetCode();
    for (HSTREAM h : {ahead.get(), paced.get(), flooding.get()}) {
        ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    }
    const auto start = std::chrono::steady_clock::now();
    bool paused = false;
    int checks = 0;
    while (elapsed_ms(start) < 8000) {
        const double t = elapsed_ms(start);
        if (!paused && t > 3000) {
            ASSERT_TRUE(BASS_ChannelPause(ahead)); // nothing is taken from its buffer meanwhile
            paused = true;
        } else if (paused && t > 5000 && BASS_ChannelIsActive(ahead) == BASS_ACTIVE_PAUSED) {
            ASSERT_TRUE(BASS_ChannelPlay(ahead, FALSE));
        }
        for (HSTREAM h : {ahead.get(), paced.get(), flooding.get()}) {
            ASSERT_EQ(connected(h), 1u) << "stream " << h << " dropped at " << t << " ms";
        }
        if (t > 1000) {
            ASSERT_GT(buffered_s(ahead), 3.0) << "the backlog keeps its buffer full";
        }
        ++checks;
        sleep_ms(50);
    }
    EXPECT_GT(checks, 40);
    for (HSTREAM h : {ahead.get(), paced.get(), flooding.get()})
        EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
}

TEST_F(NetTest, OpeningBlocksOnlyTheCaller) {
    // While an open waits for a silent server, a playing stream keeps playing.
    const std::string file = devices.dir().file("long.wav");
    ASSERT_TRUE(write_wav_mono(file, 44100 * 10, sine(440, 0.3)));
    StreamHandle playing(BASS_StreamCreateFile(FALSE, file.c_str(), 0, 0, 0));
    ASSERT_TRUE(BASS_ChannelPlay(playing, FALSE));
    server_.add_audio("/silent", with_fault(StreamFault::Silent));
    const double before = position_s(playing);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(open_url(server_.url("/silent")), 0u);
    const double blocked_s = elapsed_ms(start) / 1000.0;
    EXPECT_GT(blocked_s, 1.0);
    EXPECT_GT(position_s(playing) - before, blocked_s - 0.3);
}

TEST_F(NetTest, PrebufferFillsBeforeTheOpenReturns) {
    AudioMount m = radio();
    m.burst_bytes = 64000;
    server_.add_audio("/radio", m);
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 2000);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 50);
    StreamHandle h(open_url(server_.url("/radio")));
    ASSERT_NE(h.get(), 0u);
    EXPECT_GE(BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER) * 2,
              BASS_StreamGetFilePosition(h, BASS_FILEPOS_END));
}

// Whichever protocol resolves a host name (our own client for http, FFmpeg's for https, HLS and
// mmsh), a name that does not exist fails at once with the same code, and one that does not
// resolve within the time-out fails with the time-out's code within it, opened from several
// threads at once. FFmpeg resolves a name again after we did: when that second lookup hangs,
// the open still ends with the time-out.
TEST_F(NetTest, HostNamesThatDoNotResolveInTimeFailWithinTheTimeOutWhoeverResolvesThem) {
    const std::string port = ":" + std::to_string(TestStreamServer::unused_port());
    struct Case {
        std::string url;
        bool hls;
        int error;
        int error_code = -1;
        double ms = 0;
    };
    std::vector<Case> cases;
    for (const char* scheme : {"http", "https", "mmsh"}) {
        cases.push_back({std::string(scheme) + "://nx.resolver.test" + port + "/radio", false, BASS_ERROR_FILEOPEN});
        cases.push_back({std::string(scheme) + "://never.resolver.test" + port + "/radio", false, BASS_ERROR_TIMEOUT});
    }
    cases.push_back({"http://nx.resolver.test" + port + "/live.m3u8", true, BASS_ERROR_FILEOPEN});
    cases.push_back({"http://never.resolver.test" + port + "/live.m3u8", true, BASS_ERROR_TIMEOUT});
    cases.push_back({"https://once.resolver.test" + port + "/radio", false, BASS_ERROR_TIMEOUT});

    std::vector<std::thread> openers;
    for (Case& c : cases)
        openers.emplace_back([&c] {
            BASS_SetDevice(kSilentDevice);
            const auto start = std::chrono::steady_clock::now();
            const HSTREAM h = c.hls ? BASS_HLS_StreamCreateURL(c.url.c_str(), BASS_STREAM_AUTOFREE, nullptr, nullptr)
                                    : open_url(c.url);
            c.error_code = BASS_ErrorGetCode();
            c.ms = elapsed_ms(start);
            if (h)
                BASS_StreamFree(h);
        });
    for (std::thread& t : openers)
        t.join();
    for (const Case& c : cases) {
        EXPECT_EQ(c.error_code, c.error) << c.url;
        EXPECT_LT(c.ms, c.error == BASS_ERROR_TIMEOUT ? kBound.count() : 1000.0) << c.url;
    }
    // The lookups we stopped waiting for end on their own; let them, before the program ends.
    EXPECT_TRUE(wait_until([] { return slow_lookups_running.load() == 0; }, kSlowLookup + milliseconds(2000)));
}

TEST_F(NetTest, MmsAddressesAreTriedThroughFfmpeg) {
    const std::string url =
        "mms://127.0.0.1:" + std::to_string(TestStreamServer::unused_port()) + "/radio.wmv";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(BASS_WMA_StreamCreateFile(FALSE, url.c_str(), 0, 0, BASS_STREAM_AUTOFREE), 0u);
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_LT(elapsed_ms(start), kBound.count());
}

// Servers of other makers, started here and opened with the program's settings (5 s time-out):
// each must open and put its own tone on the air (a capture device).
class RealServerTest : public NetTest {
  protected:
    static void SetUpTestSuite() {
        NetTest::SetUpTestSuite();
        ASSERT_TRUE(BASS_Init(kCaptureDevice, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    }
    static void TearDownTestSuite() {
        BASS_SetDevice(kCaptureDevice);
        BASS_Free();
        BASS_SetDevice(kSilentDevice);
        NetTest::TearDownTestSuite();
    }
    void SetUp() override {
        NetTest::SetUp();
        BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 5000);
        BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 5000);
    }

    // Opens `url` on the capture device, plays it for two seconds and checks that `hz` is what
    // went on the air, of the tones these tests use.
    static void expect_plays(const std::string& url, double hz) {
        SCOPED_TRACE(url);
        BASS_SetDevice(kCaptureDevice);
        const auto start = std::chrono::steady_clock::now();
        StreamHandle h(open_url(url));
        const double open_ms = elapsed_ms(start);
        ASSERT_NE(h.get(), 0u) << "error " << BASS_ErrorGetCode() << " after " << open_ms << " ms";
        EXPECT_LT(open_ms, 5000) << "within the time-out";
        std::printf("%s opened in %.0f ms\n", url.c_str(), open_ms);
        ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
        ASSERT_TRUE(wait_until([&] { return position_s(h) > 2.0; }, milliseconds(10000)));
        const miravox::testing::Capture air =
            miravox::testing::read_capture(QString::fromStdString(devices.capture_path()));
        // The best of the last three half seconds: a server with no burst may leave one gap while
        // the stream gathers its cushion on a busy machine.
        const size_t window = 44100 / 2;
        ASSERT_GT(air.left.size(), 3 * window);
        size_t from = 0;
        double level = -1;
        for (size_t back = 1; back <= 3; ++back) {
            const size_t at = air.left.size() - back * window;
            const double l = miravox::testing::tone_level(air, hz, at, window);
            if (l > level) {
                level = l;
                from = at;
            }
        }
        EXPECT_GT(level, 0.05) << "the stream's tone is on the air";
        for (double other : kTones) {
            if (other != hz) {
                EXPECT_LT(miravox::testing::tone_level(air, other, from, window), level / 4) << other << " Hz";
            }
        }
    }

    static constexpr double kTones[] = {440, 550, 660, 770};
    TempDir dir_{"soundlib-servers"};
};

TEST_F(RealServerTest, IcecastMountsOfEveryCodecAndTheWaysToThemPlay) {
    Icecast icecast(dir_.path());
    std::string why;
    if (!icecast.start(why))
        GTEST_SKIP() << why;
    ASSERT_TRUE(icecast.add_source("/radio.mp3", 440, LiveCodec::Mp3, why)) << why;
    ASSERT_TRUE(icecast.add_source("/radio.aac", 550, LiveCodec::Aac, why)) << why;
    ASSERT_TRUE(icecast.add_source("/radio.ogg", 660, LiveCodec::Vorbis, why)) << why;
    ASSERT_TRUE(icecast.add_source("/radio.opus", 770, LiveCodec::Opus, why)) << why;
    expect_plays(icecast.url("/radio.mp3"), 440);
    expect_plays(icecast.url("/radio.aac"), 550);
    expect_plays(icecast.url("/radio.ogg"), 660);
    expect_plays(icecast.url("/radio.opus"), 770);

    // A playlist and a redirect of another server lead to the mounts.
    server_.add_file("/radio.pls", "[playlist]\nFile1=" + icecast.url("/radio.mp3") + "\nLength1=-1\n",
                     "audio/x-scpls");
    server_.add_file("/radio.m3u", "#EXTM3U\n" + icecast.url("/radio.aac") + "\n", "audio/x-mpegurl");
    server_.add_redirect("/moved", icecast.url("/radio.ogg"));
    expect_plays(server_.url("/radio.pls"), 440);
    expect_plays(server_.url("/radio.m3u"), 550);
    expect_plays(server_.url("/moved"), 660);

    const auto lines = tags(StreamHandle(open_url(icecast.url("/radio.mp3"))));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "icy-name:Live radio.mp3"), lines.end())
        << "the station name among icecast's header lines";
}

TEST_F(RealServerTest, LiquidsoapHarborWithoutABurstPlays) {
    LiquidsoapHarbor harbor(dir_.path());
    std::string why;
    if (!harbor.start("/radio.mp3", 550, why))
        GTEST_SKIP() << why;
    expect_plays(harbor.url(), 550);
}

// An HTTPS server that publishes a playlist and a redirect, both leading to `target` (Python's
// standard library: the ffmpeg CLI serves nothing but its stream).
class HttpsSignpost {
  public:
    HttpsSignpost(const std::string& cert, const std::string& key, const std::string& target)
        : port_(TestStreamServer::unused_port()) {
        if (::access(kPython, X_OK) != 0)
            return;
        static const char* const kScript = R"(
import http.server, ssl, sys
port, cert, key, target = sys.argv[1:5]
class Signpost(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/moved":
            self.send_response(302)
            self.send_header("Location", target)
            self.end_headers()
        elif self.path == "/radio.pls":
            body = ("[playlist]\nFile1=%s\nLength1=-1\n" % target).encode()
            self.send_response(200)
            self.send_header("Content-Type", "audio/x-scpls")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        else:
            self.send_error(404)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", int(port)), Signpost)
tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
tls.load_cert_chain(cert, key)
server.socket = tls.wrap_socket(server.socket, server_side=True)
server.serve_forever()
)";
        process_ = ChildProcess({kPython, "-c", kScript, std::to_string(port_), cert, key, target});
        listening_ = wait_listening(port_, milliseconds(10000));
    }
    bool listening() const { return listening_; }
    std::string url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    static constexpr const char* kPython = "/usr/bin/python3";
    uint16_t port_;
    ChildProcess process_;
    bool listening_ = false;
};

// https wherever a link leads: a playlist served over http whose entry is https (many stations
// publish these), a redirect from http to https and back, a playlist served over https.
TEST_F(RealServerTest, FfmpegsOwnHttpAndHttpsServersPlayHoweverTheLinkLeadsToThem) {
    std::string cert, key, why;
    ASSERT_TRUE(make_self_signed_cert(dir_.path(), cert, key));
    FfmpegListener http(660);
    ASSERT_TRUE(http.start(why)) << why;
    expect_plays(http.url(), 660);
    FfmpegListener https(770, cert, key);
    ASSERT_TRUE(https.start(why)) << why;
    expect_plays(https.url(), 770);

    server_.add_file("/radio.pls", "[playlist]\nFile1=" + https.url() + "\nLength1=-1\n", "audio/x-scpls");
    server_.add_redirect("/moved", https.url());
    ASSERT_TRUE(https.start(why)) << why;
    expect_plays(server_.url("/radio.pls"), 770);
    ASSERT_TRUE(https.start(why)) << why;
    EXPECT_NE(StreamHandle(open_url(server_.url("/moved"))).get(), 0u) << BASS_ErrorGetCode();

    HttpsSignpost signpost(cert, key, http.url());
    if (!signpost.listening())
        GTEST_SKIP() << "no Python to serve an https playlist and redirect";
    for (const char* way : {"/moved", "/radio.pls"}) {
        ASSERT_TRUE(http.start(why)) << why;
        EXPECT_NE(StreamHandle(open_url(signpost.url(way))).get(), 0u) << way << ": error " << BASS_ErrorGetCode();
    }
}

class HlsTest : public NetTest {
  protected:
    void SetUp() override {
        NetTest::SetUp();
        ASSERT_TRUE(make_hls(dir_.path(), 430, 8.0, 1.0, set_));
        server_.add_directory("/hls", dir_.path());
    }
    LiveHls live_from_set() {
        LiveHls live;
        for (size_t i = 0; i < set_.segments.size(); ++i)
            live.segments.push_back({set_.segments[i], set_.durations[i]});
        live.target_duration = 1;
        return live;
    }
    TempDir dir_{"soundlib-hls"};
    HlsSet set_;
};

TEST_F(HlsTest, VodPlaysToItsEnd) {
    server_.add_file("/short/vod.m3u8",
                     "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXT-X-PLAYLIST-TYPE:VOD\n#EXTINF:1.0,\n/hls/" +
                         set_.segments[0] + "\n#EXTINF:1.0,\n/hls/" + set_.segments[1] + "\n#EXT-X-ENDLIST\n",
                     "application/vnd.apple.mpegurl");
    const std::u16string url = wide(server_.url("/short/vod.m3u8"));
    const HSTREAM h =
        BASS_HLS_StreamCreateURL(url.c_str(), BASS_UNICODE | BASS_STREAM_AUTOFREE, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return position_s(h) > 0.5; }, milliseconds(20000)));
    EXPECT_EQ(peak_bin(h), 5);
    EXPECT_TRUE(wait_until([&] { return gone(h); }, milliseconds(20000)))
        << "ends after about 2 s and frees itself";

    // The plain call recognises an HLS playlist by its answer.
    StreamHandle plain(open_url(server_.url("/hls/" + set_.playlist)));
    EXPECT_NE(plain.get(), 0u) << BASS_ErrorGetCode();
}

TEST_F(HlsTest, LivePlaylistThatKeepsGrowingKeepsPlaying) {
    LiveHls live = live_from_set();
    for (auto& s : live.segments)
        s.uri = "/hls/" + s.uri;
    server_.add_live_hls("/live.m3u8", live);
    const std::u16string url = wide(server_.url("/live.m3u8"));
    StreamHandle h(
        BASS_HLS_StreamCreateURL(url.c_str(), BASS_UNICODE | BASS_STREAM_AUTOFREE, nullptr, nullptr));
    ASSERT_NE(h.get(), 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return position_s(h) > 3.5; }, milliseconds(30000)))
        << "played past the segments published at the start";
    EXPECT_NE(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_CONNECTED), 1u);
    EXPECT_GT(server_.request_count("/live.m3u8"), 1u) << "the playlist was reloaded";
}

TEST_F(HlsTest, LivePlaylistThatStopsGrowingEnds) {
    LiveHls live = live_from_set();
    for (auto& s : live.segments)
        s.uri = "/hls/" + s.uri;
    live.stop_after = 3;
    server_.add_live_hls("/stuck.m3u8", live);
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 2000);
    const std::u16string url = wide(server_.url("/stuck.m3u8"));
    const HSTREAM h =
        BASS_HLS_StreamCreateURL(url.c_str(), BASS_UNICODE | BASS_STREAM_AUTOFREE, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    EXPECT_TRUE(wait_until([&] { return gone(h); }, milliseconds(9000)))
        << "three segments, then the read time-out: the stream ends instead of waiting ~1000 s";
}

TEST_F(HlsTest, PlaylistThatPointsToItselfFailsInTime) {
    server_.add_file("/loop.m3u8", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=64000\n/loop.m3u8\n",
                     "application/vnd.apple.mpegurl");
    const std::u16string url = wide(server_.url("/loop.m3u8"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(BASS_HLS_StreamCreateURL(url.c_str(), BASS_UNICODE, nullptr, nullptr), 0u);
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_LT(elapsed_ms(start), kBound.count());
}

// A server without a burst whose encoder makes the audio in real time (ffmpeg's own): the stream
// waits for its cushion and then plays on, instead of starting on its first bytes, running dry
// and starting again half a second later. About 5 s.
TEST_F(RealServerTest, ServerWithoutABurstStartsOnceAndPlaysOnWithoutAHole) {
    FfmpegListener ffmpeg(660);
    std::string why;
    ASSERT_TRUE(ffmpeg.start(why)) << why;
    BASS_SetDevice(kCaptureDevice);
    const size_t from = capture_mark(devices.capture_path(), 100);
    StreamHandle h(open_url(ffmpeg.url()));
    ASSERT_NE(h.get(), 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return position_s(h) > 3.0; }, milliseconds(10000)));
    const miravox::testing::Capture air =
        miravox::testing::read_capture(QString::fromStdString(devices.capture_path()));
    const size_t block = 44100 / 20;
    std::vector<double> levels;
    for (size_t at = from; at + block <= air.left.size(); at += block)
        levels.push_back(miravox::testing::tone_level(air, 660, at, block));
    size_t first = 0;
    while (first < levels.size() && levels[first] < 0.05)
        ++first;
    ASSERT_LT(first + 40, levels.size()) << "two seconds of the tone after it began";
    // The block where it began and the last one may be partly silent.
    size_t holes = 0;
    for (size_t i = first + 1; i + 1 < levels.size(); ++i)
        holes += levels[i] < 0.05;
    EXPECT_EQ(holes, 0u) << "50 ms blocks without the tone after it began at block " << first << " of "
                         << levels.size();
}

} // namespace
