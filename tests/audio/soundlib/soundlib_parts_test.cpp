// The engine's building blocks on their own: ring buffers, device list parsing, address
// parsing, the HTTP connection's download pump, error mapping, the spectrum, the capture writer,
// text conversion, a stream's output when its decoder falls behind.

#include "byte_source.h"
#include "decoder.h"
#include "error_state.h"
#include "http_client.h"
#include "live_format.h"
#include "output_device.h"
#include "spectrum.h"
#include "spsc_ring.h"
#include "stream.h"
#include "test_media.h"
#include "text_encoding.h"
#include "wav_writer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <numeric>
#include <optional>
#include <random>
#include <thread>

extern "C" {
#include <libavutil/error.h>
}

using namespace miravox::soundlib;

TEST(FrameRing, KeepsOrderAcrossTheWrapAndNeverOverfills) {
    FrameRing ring(5);
    const float a[] = {1, 1, 2, 2, 3, 3, 4, 4};
    EXPECT_EQ(ring.write(a, 4), 4u);
    std::vector<float> got;
    ring.consume(3, [&](const float* f, size_t n) { got.insert(got.end(), f, f + n * 2); });
    EXPECT_EQ(got, (std::vector<float>{1, 1, 2, 2, 3, 3}));
    const float b[] = {5, 5, 6, 6, 7, 7, 8, 8, 9, 9};
    EXPECT_EQ(ring.write(b, 5), 4u) << "only the free space is taken";
    EXPECT_EQ(ring.free_space(), 0u);
    got.clear();
    ring.consume(10, [&](const float* f, size_t n) { got.insert(got.end(), f, f + n * 2); });
    EXPECT_EQ(got, (std::vector<float>{4, 4, 5, 5, 6, 6, 7, 7, 8, 8}));
    EXPECT_EQ(ring.read_count(), 8u);
}

TEST(FrameRing, SkipStopsAtWhatWasWritten) {
    FrameRing ring(8);
    const float a[6] = {};
    ring.write(a, 3);
    ring.skip_to(100);
    EXPECT_EQ(ring.read_count(), 3u);
    ring.skip_to(1);
    EXPECT_EQ(ring.read_count(), 3u) << "never backwards";
}

TEST(SpscQueue, PeeksAheadAndRefusesWhenFull) {
    SpscQueue<int, 2> q;
    EXPECT_TRUE(q.push(1));
    EXPECT_TRUE(q.push(2));
    EXPECT_FALSE(q.push(3));
    EXPECT_EQ(q.peek(1).value(), 2);
    EXPECT_FALSE(q.peek(2).has_value());
    q.pop();
    EXPECT_EQ(q.peek().value(), 2);
    EXPECT_TRUE(q.push(3));
}

TEST(VirtualDeviceList, ParsesEntriesAndSkipsBadOnes) {
    const auto list =
        parse_virtual_devices("silent:PRINCIPAL;;capture:ESCUTA:/tmp/a:b.wav;speaker:X;capture:Y;silent:");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "PRINCIPAL");
    EXPECT_EQ(list[0].kind, DeviceDescription::Kind::Silent);
    EXPECT_TRUE(list[0].is_default);
    EXPECT_EQ(list[1].name, "ESCUTA");
    EXPECT_EQ(list[1].kind, DeviceDescription::Kind::Capture);
    EXPECT_EQ(list[1].capture_path, "/tmp/a:b.wav") << "a path may hold colons";
}

TEST(HttpUrl, ParsesAndResolvesLocations) {
    HttpUrl u;
    ASSERT_TRUE(HttpUrl::parse("HTTP://user:pw@radio.example:8000/live/stream?x=1#frag", u));
    EXPECT_EQ(u.scheme, "http");
    EXPECT_EQ(u.host, "radio.example");
    EXPECT_EQ(u.port, 8000);
    EXPECT_EQ(u.path, "/live/stream?x=1");
    EXPECT_EQ(u.userinfo, "user:pw");
    EXPECT_EQ(u.resolve("other.mp3"), "http://user:pw@radio.example:8000/live/other.mp3");
    EXPECT_EQ(u.resolve("/root"), "http://user:pw@radio.example:8000/root");
    EXPECT_EQ(u.resolve("https://x/y"), "https://x/y");

    ASSERT_TRUE(HttpUrl::parse("http://[::1]:81", u));
    EXPECT_EQ(u.host, "::1");
    EXPECT_EQ(u.host_header(), "[::1]:81");
    EXPECT_EQ(u.path, "/");
    EXPECT_FALSE(HttpUrl::parse("http://host:99999/", u));
    EXPECT_FALSE(HttpUrl::parse("no-scheme", u));
}

// Answers one request on 127.0.0.1 with `reply`, then ends the connection when told to, the way
// a server's source dies: an orderly close, a reset, or nothing at all until it is destroyed.
class OneShotServer {
  public:
    enum class End { Close, Reset, Hold };

    explicit OneShotServer(std::string reply) : reply_(std::move(reply)) {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listen_fd_, 1);
        socklen_t len = sizeof addr;
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~OneShotServer() {
        end(End::Close);
        thread_.join();
        ::close(listen_fd_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/live"; }
    void end(End how) { end_.store(static_cast<int>(how)); }

  private:
    void serve() {
        const int fd = ::accept(listen_fd_, nullptr, nullptr);
        if (fd < 0)
            return;
        std::string request;
        char c = 0;
        while (request.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1)
            request += c;
        for (size_t sent = 0; sent < reply_.size();) {
            const ssize_t n = ::send(fd, reply_.data() + sent, reply_.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
        while (end_.load() < 0 || end_.load() == static_cast<int>(End::Hold))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (end_.load() == static_cast<int>(End::Reset)) {
            linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        ::close(fd);
    }

    std::string reply_;
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> end_{-1};
    std::thread thread_;
};

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(i * 7 % 251);
    return s;
}

std::unique_ptr<HttpConnection> connect_to(const OneShotServer& server, Interrupt& intr) {
    intr.set_deadline_in(std::chrono::seconds(5)); // a fault here fails the test instead of hanging it
    HttpOpenResult r = HttpConnection::open(server.url(), "test", intr);
    return std::move(r.connection);
}

LinkState pump_until(HttpConnection& conn, const std::function<bool(const LinkState&)>& done,
                     std::chrono::milliseconds read_timeout = std::chrono::milliseconds(0)) {
    LinkState s = conn.pump(read_timeout);
    for (int i = 0; i < 500 && !done(s); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        s = conn.pump(read_timeout);
    }
    return s;
}

// Reads until the body ends (or fails), pumping between small reads as the decoder thread does.
std::string read_body_pumping(HttpConnection& conn, Interrupt& intr, int& last) {
    std::string body;
    uint8_t buf[700];
    for (int round = 0;; ++round) {
        if (round % 10 == 0)
            conn.pump(std::chrono::milliseconds(0));
        last = conn.read(buf, sizeof buf, intr);
        if (last <= 0)
            return body;
        body.append(reinterpret_cast<char*>(buf), static_cast<size_t>(last));
    }
}

TEST(HttpPump, ChunkedBodyTakenAheadReadsAsSentAndTheCloseCountsAfterIt) {
    const std::string body = pattern(300 * 1000);
    std::string reply = "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (size_t at = 0; at < body.size(); at += 1000) {
        char size_line[16];
        std::snprintf(size_line, sizeof size_line, "%zx\r\n", std::min<size_t>(1000, body.size() - at));
        reply += size_line + body.substr(at, 1000) + "\r\n";
    }
    reply += "0\r\n\r\n";
    OneShotServer server(reply);
    server.end(OneShotServer::End::Close);
    Interrupt intr;
    auto conn = connect_to(server, intr);
    ASSERT_TRUE(conn);
    const LinkState s = pump_until(*conn, [](const LinkState& l) { return l.closed; });
    EXPECT_TRUE(s.pumped);
    EXPECT_TRUE(s.closed) << "the close is seen before any of the body has been read";
    EXPECT_FALSE(s.silent);
    int last = 0;
    EXPECT_EQ(read_body_pumping(*conn, intr, last), body) << "every byte, in order, across the chunks";
    EXPECT_EQ(last, 0) << "then the end of the body";
}

TEST(HttpPump, BytesTakenBeforeAResetAreReadThenTheErrorComes) {
    const std::string body = pattern(5000);
    OneShotServer server("ICY 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + body);
    Interrupt intr;
    auto conn = connect_to(server, intr);
    ASSERT_TRUE(conn);
    pump_until(*conn, [&](const LinkState&) { return conn->bytes_received() >= body.size(); });
    ASSERT_EQ(conn->bytes_received(), body.size());
    EXPECT_FALSE(conn->link().down());
    server.end(OneShotServer::End::Reset);
    EXPECT_TRUE(pump_until(*conn, [](const LinkState& l) { return l.closed; }).closed);
    int last = 0;
    EXPECT_EQ(read_body_pumping(*conn, intr, last), body);
    EXPECT_EQ(last, AVERROR(EIO));
}

TEST(HttpPump, SilenceEndsTheLinkAfterTheReadTimeOutButBeingHeldBackIsNoSilence) {
    // More than the pump keeps unread: the server waits for us, and that is not its silence.
    const std::string body = pattern(5 * 1024 * 1024);
    OneShotServer server("ICY 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + body);
    server.end(OneShotServer::End::Hold);
    Interrupt intr;
    auto conn = connect_to(server, intr);
    ASSERT_TRUE(conn);
    const auto timeout = std::chrono::milliseconds(200);
    pump_until(
        *conn, [&](const LinkState&) { return conn->bytes_received() >= 4 * 1024 * 1024; }, timeout);
    const uint64_t at_cap = conn->bytes_received();
    EXPECT_LT(at_cap, body.size()) << "the pump stops at its cap";
    std::this_thread::sleep_for(timeout * 2);
    EXPECT_FALSE(conn->pump(timeout).silent);
    EXPECT_EQ(conn->bytes_received(), at_cap);

    std::string got;
    uint8_t buf[64 * 1024];
    while (got.size() < body.size()) {
        conn->pump(timeout);
        const int n = conn->read(buf, sizeof buf, intr);
        ASSERT_GT(n, 0);
        got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
    }
    EXPECT_EQ(got, body);
    EXPECT_FALSE(conn->pump(timeout).silent) << "bytes just came";
    std::this_thread::sleep_for(timeout * 2);
    const LinkState s = conn->pump(timeout);
    EXPECT_TRUE(s.silent);
    EXPECT_FALSE(s.closed);
    EXPECT_EQ(conn->read(buf, sizeof buf, intr), AVERROR(ETIMEDOUT)) << "a read does not wait any longer";
}

TEST(ErrorMapping, OpenFailuresGetTheirCodes) {
    EXPECT_EQ(error_from_open_failure({AVERROR(ENOENT), false, false}), BASS_ERROR_FILEOPEN);
    EXPECT_EQ(error_from_open_failure({AVERROR_INVALIDDATA, false, false}), BASS_ERROR_FILEFORM);
    EXPECT_EQ(error_from_open_failure({AVERROR(ECONNREFUSED), false, true}), BASS_ERROR_NONET);
    EXPECT_EQ(error_from_open_failure({AVERROR_HTTP_NOT_FOUND, false, true}), BASS_ERROR_FILEOPEN);
    EXPECT_EQ(error_from_open_failure({AVERROR_HTTP_FORBIDDEN, false, true}), BASS_ERROR_WMA_DENIED);
    EXPECT_EQ(error_from_open_failure({AVERROR_EXIT, true, true}), BASS_ERROR_TIMEOUT);
    EXPECT_EQ(error_from_open_failure({AVERROR_DECODER_NOT_FOUND, false, false}), BASS_ERROR_CODEC);
    EXPECT_EQ(error_from_open_failure({AVERROR_STREAM_NOT_FOUND, false, false}), BASS_ERROR_NOTAUDIO);
}

TEST(Spectrum, SineOnABinReadsHalfItsAmplitude) {
    Spectrum spectrum;
    float in[512], out[256];
    for (int i = 0; i < 512; ++i)
        in[i] = static_cast<float>(std::sin(2 * M_PI * 430.0 * i / 44100.0));
    ASSERT_TRUE(spectrum.compute(in, out));
    EXPECT_EQ(std::max_element(out, out + 256) - out, 5) << "430 Hz lies on bin 5 (86.13 Hz per bin)";
    for (int i = 0; i < 512; ++i)
        in[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * 32 * i / 512.0));
    spectrum.compute(in, out);
    EXPECT_NEAR(out[32], 0.25, 0.005);
    EXPECT_LT(out[40], 0.001);
}

TEST(WavWriter, HeaderFollowsTheDataAndSamplesAreClipped) {
    miravox::test::TempDir dir("wavwriter");
    const std::string path = dir.file("out.wav");
    {
        WavWriter w;
        ASSERT_TRUE(w.create(path));
        std::vector<float> frames(1000 * 2, 0.25f);
        frames[0] = 3.0f;
        frames[1] = -3.0f;
        w.write(frames.data(), 1000);
        w.sync();
        const std::string bytes = miravox::test::read_file(path);
        ASSERT_EQ(bytes.size(), 44u + 4000u);
        const auto u32 = [&](size_t at) {
            return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
                   uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
        };
        EXPECT_EQ(u32(4), 36u + 4000u);
        EXPECT_EQ(u32(40), 4000u);
    }
    miravox::test::Wav wav;
    ASSERT_TRUE(miravox::test::read_wav(path, wav));
    EXPECT_EQ(wav.rate, 44100);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_NEAR(wav.samples[0], 1.0f, 1e-3);
    EXPECT_NEAR(wav.samples[1], -1.0f, 1e-3);
    EXPECT_NEAR(wav.samples[2], 0.25f, 1e-3);
}

TEST(TextEncoding, Utf16PathsBecomeUtf8) {
    const char16_t accented[] = u"C:\\ÁUDIO\\Vinheta 𝄞.mp3";
    EXPECT_EQ(utf16_to_utf8(accented), "C:\\ÁUDIO\\Vinheta 𝄞.mp3");
    EXPECT_EQ(text_argument(accented, BASS_UNICODE), "C:\\ÁUDIO\\Vinheta 𝄞.mp3");
    EXPECT_EQ(text_argument("plain", 0), "plain");
    const char16_t lone[] = {0xD800, u'a', 0};
    EXPECT_EQ(utf16_to_utf8(lone), "\xEF\xBF\xBD"
                                   "a");
}

namespace {

// Bytes that come only when let through: a disk that has spun down, a share that hesitates.
class HeldBackSource final : public ByteSource {
  public:
    HeldBackSource(std::string bytes, std::atomic<bool>& held) : bytes_(std::move(bytes)), held_(held) {
        inner_ = memory_source(bytes_.data(), bytes_.size());
    }
    int read(uint8_t* buf, int size) override {
        while (held_.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return inner_->read(buf, size);
    }
    int64_t seek(int64_t offset, int whence) override { return inner_->seek(offset, whence); }
    bool seekable() const override { return true; }
    int64_t size() const override { return inner_->size(); }
    std::unique_ptr<ByteSource> clone() const override { return nullptr; }

  private:
    std::string bytes_;
    std::atomic<bool>& held_;
    std::unique_ptr<ByteSource> inner_;
};

// What a stream's state reads once its output has taken everything its decoder delivered, while
// the decoder waits for bytes. Then the bytes come, and the whole of the audio plays.
DWORD state_while_decoder_waits(bool network) {
    const std::string path = ::testing::TempDir() + "/held_back.wav";
    const uint64_t frames = 44100 * 10; // far more than what opening the file reads
    std::vector<float> tone(frames * 2);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = float(0.3 * std::sin(double(i / 2) * 0.06));
    EXPECT_TRUE(miravox::test::write_wav(path, tone, 2, 44100));
    std::atomic<bool> held{false};
    DecoderSpec spec;
    spec.bytes = std::make_unique<HeldBackSource>(miravox::test::read_file(path), held);
    spec.name_hint = path;
    auto intr = std::make_unique<Interrupt>();
    int error = 0;
    std::string reason;
    auto decoder = Decoder::open(std::move(spec), *intr, error, reason);
    EXPECT_TRUE(decoder) << reason;
    if (!decoder)
        return BASS_ACTIVE_STOPPED;
    held = true; // from its first read on its own thread
    StreamSetup setup;
    setup.network = network;
    setup.buffer_ms = 1000;
    Stream stream(std::move(intr), std::move(decoder), setup);
    stream.start_decoding();
    stream.play(false);
    std::vector<float> out(2 * 4410);
    // Until the output has played what it will of what the decoder delivered before its first read.
    uint64_t position = 0;
    for (int quiet = 0, i = 0; quiet < 50 && i < 5000; ++i) {
        stream.mix_into(out.data(), 4410);
        const uint64_t now = stream.position_frames();
        quiet = now == position ? quiet + 1 : 0;
        position = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const DWORD waiting = stream.active();
    EXPECT_LT(position, frames / 5) << "the decoder was not held back";
    held = false;
    for (int i = 0; i < 2000 && stream.active() != BASS_ACTIVE_STOPPED; ++i) {
        stream.mix_into(out.data(), 4410);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(stream.position_frames(), frames) << "the audio did not play to its end";
    return waiting;
}

} // namespace

TEST(StreamOutput, AFileWhoseDecoderWaitsForItsBytesIsPlayingAndANetworkStreamIsStalled) {
    EXPECT_EQ(state_while_decoder_waits(false), BASS_ACTIVE_PLAYING);
    EXPECT_EQ(state_while_decoder_waits(true), BASS_ACTIVE_STALLED);
}

// The clock lock against a simulated relay: the buffered level moves by the server's offset plus
// the correction, and is seen with the saw of a decoder's rests and a server's chunks. Three
// program hours in 46 ms blocks, each start and offset: the level never nears empty, ends at the
// target, and the correction found is the offset the other way round, told only when well off.
TEST(ClockLock, HoldsTheLevelAgainstEachServerOffsetAndStartWithoutWindingUp) {
    struct Case {
        double server_ppm, start_s;
        double dip_s; // below the target (or the start) at most: at the limit, the first dip stays
    };
    const Case cases[] = {
        {-1000, 2.0, 0.35}, {0, 2.0, 0.1}, {1000, 2.0, 0.1}, // a burst of the target
        {-600, 0.5, 0.1},                                    // no burst, a slow server
        {0, 4.5, 0.15},                                      // a long burst: drained, not a clock
        {0, 9.0, 0.15},                                      // longer than the 5 s buffer holds
        {250, 2.0, 0.1},                                     // a card within its tolerance
    };
    const double dt = 2048.0 / 44100;
    const double mean_saw = 0.075;
    const double capacity = 5.0;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.server_ppm << " ppm from " << c.start_s << " s");
        ClockLock lock(ClockLock::kTargetS, capacity - 0.25);
        double level = c.start_s, lowest = level; // what is buffered, in the ring and beyond it
        for (double t = 0; t < 3 * 3600; t += dt) {
            const double saw = 2 * mean_saw * std::fmod(t, 0.7) / 0.7;
            const double seen = std::min(level + saw, capacity);
            level += (c.server_ppm + lock.update(seen, dt)) * 1e-6 * dt;
            lowest = std::min(lowest, level);
            ASSERT_LE(std::fabs(lock.correction()), ClockLock::kMaxPpm);
        }
        EXPECT_GT(lowest + mean_saw, std::min(c.start_s, ClockLock::kTargetS) - c.dip_s);
        EXPECT_NEAR(level + mean_saw, ClockLock::kTargetS, std::fabs(c.server_ppm) == 1000 ? 0.35 : 0.05);
        EXPECT_NEAR(lock.correction(), -c.server_ppm, 30);
        if (std::fabs(c.server_ppm) >= ClockLock::kNoticePpm)
            EXPECT_NEAR(lock.notice(), -c.server_ppm, 60);
        else
            EXPECT_EQ(lock.notice(), 0.0);
    }
}

// A live stream's format from its first bytes: MP3 and ADTS cut at any byte are found at their
// next frame after a few frames, an ID3 tag is skipped, Ogg is certain from its first page, and
// noise is left to FFmpeg once enough of it was seen.
TEST(LiveFormat, FindsFramesFromAnyByteAndLeavesNoiseToFfmpeg) {
    using V = LiveFormat::Verdict;
    miravox::test::TempDir dir("live-format");
    ASSERT_TRUE(miravox::test::make_stream_mp3(dir.file("a.mp3"), 440, 1.0));
    ASSERT_TRUE(miravox::test::make_sine(dir.file("a.aac"), 440, 1.0, {"-c:a", "aac", "-f", "adts"}));
    ASSERT_TRUE(miravox::test::make_sine(dir.file("a.ogg"), 440, 1.0, {"-c:a", "libvorbis", "-f", "ogg"}));
    const auto look = [](const std::string& bytes, size_t from, size_t n) {
        const std::string part = bytes.substr(from, n);
        return detect_live_format(reinterpret_cast<const uint8_t*>(part.data()), part.size(), false);
    };
    const std::string mp3 = miravox::test::read_file(dir.file("a.mp3"));
    const LiveFormat cut = look(mp3, 1000, 4096);
    ASSERT_EQ(cut.verdict, V::Found);
    EXPECT_EQ(cut.demuxer, "mp3");
    EXPECT_EQ(uint8_t(mp3[1000 + cut.start]), 0xFF) << "starts on a frame";
    EXPECT_LT(cut.start, 418u);
    EXPECT_EQ(look(mp3, 1000, 300).verdict, V::NeedMore) << "less than a frame tells nothing";
    const std::string id3("ID3\x04\0\0\0\0\0\x05xxxxx", 15); // a tag of 5 bytes
    EXPECT_EQ(look(id3 + mp3, 0, 2048).start, 15u);

    const LiveFormat aac = look(miravox::test::read_file(dir.file("a.aac")), 777, 8192);
    EXPECT_EQ(aac.verdict, V::Found);
    EXPECT_EQ(aac.demuxer, "aac");
    const LiveFormat ogg = look(miravox::test::read_file(dir.file("a.ogg")), 0, 200);
    EXPECT_EQ(ogg.verdict, V::Found);
    EXPECT_EQ(ogg.demuxer, "ogg");

    std::string noise(70 * 1024, '\0');
    std::mt19937 rng(15);
    for (char& c : noise)
        c = static_cast<char>(rng());
    EXPECT_EQ(look(noise, 0, noise.size()).verdict, V::Unknown);
    EXPECT_EQ(look(noise, 0, 1000).verdict, V::NeedMore);
}
