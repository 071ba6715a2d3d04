// Open-to-first-sample of network streams on every kind of server, started here on 127.0.0.1:
// icecast2 fed by the ffmpeg CLI (MP3, Ogg Vorbis, Ogg Opus, AAC), a playlist and a redirect to
// it, the ffmpeg CLI's own HTTP and HTTPS servers, Liquidsoap's harbor and live HLS. For each,
// the median of five opens with the program's settings (time-out 5000 ms, network buffer 5000,
// no pre-buffer, playlists on): when BASS_StreamCreateURL returned, and when the stream's tone
// was first heard on the device (its spectrum shows the tone); beside them the ffmpeg CLI's time
// to its first decoded frame on the same address (process start included). Then all of it
// again behind a proxy that adds 150 ms of round trip.
//
// Each open comes at a random moment of the second: a source that writes to its server in
// bursts a second or so apart (the ffmpeg CLI's Ogg muxer does) makes the server admit a new
// listener only at its next write, and opens made back to back would all wait for the same phase
// of it. Where the
// audio comes over plain HTTP a relay in front of its server notes when the server sent its
// first byte of audio, so the table tells the server's own delay from ours.
//
// Run: ./stream_open_bench   (needs icecast2, liquidsoap, ffmpeg and openssl; prints a table)
//      MIRAVOX_BENCH_ONLY=Ogg ./stream_open_bench   (only the rows whose name holds "Ogg")

#include "live_servers.h"
#include "soundlib.h"
#include "tcp_proxy.h"
#include "test_media.h"
#include "test_stream_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace miravox::test;
using miravox::testing::TcpProxy;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kOpens = 5;
constexpr auto kRoundTrip = milliseconds(150);

double ms_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Open {
    double returned_ms = -1;
    double heard_ms = -1;
    double server_audio_ms = -1; // when the server's first audio byte reached us
    int error = 0;
};

// A pause of a random part of a second.
void random_phase() {
    static std::mt19937 random(12345);
    std::this_thread::sleep_for(milliseconds(std::uniform_int_distribution<int>(0, 999)(random)));
}

// One open through the engine, as the program makes it, until the tone is heard; `relay` (if
// any) is the one in front of the server of the audio, adding `one_way` to each byte.
Open open_once(const std::string& url, bool hls, const TcpProxy* relay, milliseconds one_way) {
    Open o;
    const auto t0 = Clock::now();
    const HSTREAM h = hls ? BASS_HLS_StreamCreateURL(url.c_str(), 0, nullptr, nullptr)
                          : BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
    o.returned_ms = ms_since(t0);
    o.error = BASS_ErrorGetCode();
    if (!h)
        return o;
    BASS_ChannelPlay(h, FALSE);
    while (ms_since(t0) < 10000) {
        float fft[256] = {};
        if (BASS_ChannelGetData(h, fft, BASS_DATA_FFT512) != static_cast<DWORD>(-1) &&
            *std::max_element(fft + 1, fft + 256) > 0.01f) {
            o.heard_ms = ms_since(t0);
            break;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    BASS_StreamFree(h);
    if (relay && relay->last_body_at() > t0)
        o.server_audio_ms =
            std::chrono::duration<double, std::milli>(relay->last_body_at() + one_way - t0).count();
    return o;
}

// The ffmpeg CLI until it has decoded its first audio frame (and exited).
double ffmpeg_first_frame_ms(const std::string& url) {
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("ffmpeg", "ffmpeg", "-nostdin", "-loglevel", "quiet", "-i", url.c_str(), "-frames:a", "1", "-f",
               "null", "-", nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms_since(t0) : -1;
}

struct Row {
    std::string name;
    std::function<std::string(bool slow)> url;
    bool hls = false;
    std::function<void()> before_each; // e.g. restart a one-listener server
    // The relays in front of the server of the audio, on loopback and behind the delay (none
    // where the audio is encrypted or comes in segments).
    const TcpProxy* near = nullptr;
    const TcpProxy* far = nullptr;
};

struct Figures {
    double returned, heard, ffmpeg, server_audio, ours;
    int failures;
};

Figures measure(const Row& row, bool slow) {
    std::vector<double> returned, heard, ffmpeg, server_audio, ours;
    int failures = 0;
    for (int i = 0; i < kOpens; ++i) {
        if (row.before_each)
            row.before_each();
        random_phase();
        const Open o = open_once(row.url(slow), row.hls, slow ? row.far : row.near,
                                 slow ? kRoundTrip / 2 : milliseconds(0));
        if (o.heard_ms < 0) {
            ++failures;
            std::fprintf(stderr, "%s%s: error %d after %.0f ms\n", row.name.c_str(), slow ? " (slow)" : "", o.error,
                         o.returned_ms);
        } else {
            returned.push_back(o.returned_ms);
            heard.push_back(o.heard_ms);
            if (o.server_audio_ms >= 0) {
                server_audio.push_back(o.server_audio_ms);
                ours.push_back(o.heard_ms - o.server_audio_ms);
            }
        }
        random_phase();
        if (row.before_each)
            row.before_each();
        ffmpeg.push_back(ffmpeg_first_frame_ms(row.url(slow)));
    }
    return {median(returned), median(heard), median(ffmpeg), median(server_audio), median(ours), failures};
}

std::string cell(double ms, const char* none = "fails") {
    if (ms < 0)
        return none;
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", ms);
    return text;
}

bool check(bool ok, const std::string& why) {
    if (!ok)
        std::fprintf(stderr, "stream_open_bench: %s\n", why.c_str());
    return ok;
}

} // namespace

int main() {
    setenv("MIRAVOX_AUDIO_DEVICES", "silent:BENCH", 1);
    if (!check(BASS_Init(1, 44100, 0, nullptr, nullptr), "no device"))
        return 1;
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfigPtr(BASS_CONFIG_NET_AGENT, "Miravox");

    TempDir dir("stream-open-bench");
    std::string why;
    Icecast icecast(dir.path());
    if (!check(icecast.start(why), why) || !check(icecast.add_source("/radio.mp3", 440, LiveCodec::Mp3, why), why) ||
        !check(icecast.add_source("/radio.ogg", 550, LiveCodec::Vorbis, why), why) ||
        !check(icecast.add_source("/radio.opus", 660, LiveCodec::Opus, why), why) ||
        !check(icecast.add_source("/radio.aac", 770, LiveCodec::Aac, why), why))
        return 1;
    LiquidsoapHarbor harbor(dir.path());
    if (!check(harbor.start("/radio.mp3", 440, why), why))
        return 1;
    std::string cert, key;
    if (!check(make_self_signed_cert(dir.path(), cert, key), "no certificate"))
        return 1;
    FfmpegListener http(440), https(440, cert, key);

    // Live HLS written by ffmpeg, served by the test server.
    const std::string ts_dir = dir.file("ts"), mp4_dir = dir.file("fmp4");
    std::vector<ChildProcess> hls_writers;
    for (const std::string& d : {ts_dir, mp4_dir}) {
        ::mkdir(d.c_str(), 0755);
        std::vector<std::string> args = live_tone_input(440);
        args.insert(args.end(), {"-c:a", "aac", "-b:a", "96k", "-f", "hls", "-hls_time", "1", "-hls_list_size", "6",
                                 "-hls_flags", "delete_segments"});
        if (d == mp4_dir)
            args.insert(args.end(), {"-hls_segment_type", "fmp4"});
        args.push_back(d + "/live.m3u8");
        hls_writers.emplace_back(args);
    }
    TestStreamServer server;
    server.add_directory("/ts", ts_dir);
    server.add_directory("/fmp4", mp4_dir);

    // The servers of plain-HTTP audio behind relays that add nothing, and all of them behind 150 ms
    // of round trip.
    const auto port_of = [](const std::string& url) {
        const size_t colon = url.find(':', 8);
        return uint16_t(std::stoi(url.substr(colon + 1, url.find('/', colon) - colon - 1)));
    };
    TcpProxy near_icecast(icecast.port()), near_harbor(port_of(harbor.url())), near_http(port_of(http.url()));
    TcpProxy slow_icecast(icecast.port(), kRoundTrip);
    TcpProxy slow_server(server.port(), kRoundTrip);
    TcpProxy slow_harbor(port_of(harbor.url()), kRoundTrip);
    TcpProxy slow_http(port_of(http.url()), kRoundTrip), slow_https(port_of(https.url()), kRoundTrip);
    const auto via = [](const std::string& url, const TcpProxy& proxy) {
        const size_t colon = url.find(':', 8);
        return url.substr(0, colon + 1) + std::to_string(proxy.port()) + url.substr(url.find('/', colon));
    };
    const auto ice = [&](const std::string& mount, bool slow) {
        return via(icecast.url(mount), slow ? slow_icecast : near_icecast);
    };
    for (bool slow : {false, true}) {
        const std::string tag = slow ? "-slow" : "";
        server.add_file("/radio" + tag + ".pls", "[playlist]\nFile1=" + ice("/radio.mp3", slow) + "\nLength1=-1\n",
                        "audio/x-scpls");
        server.add_file("/radio" + tag + ".m3u", "#EXTM3U\n" + ice("/radio.aac", slow) + "\n", "audio/x-mpegurl");
        server.add_redirect("/moved" + tag, ice("/radio.ogg", slow));
    }
    const auto served = [&](const std::string& path, bool slow) {
        return slow ? via(server.url(path), slow_server) : server.url(path);
    };
    const auto restart = [](FfmpegListener& l) {
        return [&l] {
            std::string w;
            check(l.start(w), w);
        };
    };

    const TcpProxy* ni = &near_icecast;
    const TcpProxy* si = &slow_icecast;
    const std::vector<Row> rows = {
        {"icecast2, MP3 128 kbps", [&](bool s) { return ice("/radio.mp3", s); }, false, nullptr, ni, si},
        {"the same through a .pls playlist", [&](bool s) { return served(s ? "/radio-slow.pls" : "/radio.pls", s); },
         false, nullptr, ni, si},
        {"ffmpeg's own HTTP server (-listen 1), MP3",
         [&](bool s) { return via(http.url(), s ? slow_http : near_http); }, false, restart(http), &near_http,
         &slow_http},
        {"the same over HTTPS, self-signed", [&](bool s) { return s ? via(https.url(), slow_https) : https.url(); },
         false, restart(https)},
        {"Liquidsoap's harbor (no burst), MP3",
         [&](bool s) { return via(harbor.url(), s ? slow_harbor : near_harbor); }, false, nullptr, &near_harbor,
         &slow_harbor},
        {"icecast2, Ogg Vorbis", [&](bool s) { return ice("/radio.ogg", s); }, false, nullptr, ni, si},
        {"icecast2, Ogg Opus", [&](bool s) { return ice("/radio.opus", s); }, false, nullptr, ni, si},
        {"icecast2, AAC (ADTS)", [&](bool s) { return ice("/radio.aac", s); }, false, nullptr, ni, si},
        {"an .m3u to the AAC mount", [&](bool s) { return served(s ? "/radio-slow.m3u" : "/radio.m3u", s); }, false,
         nullptr, ni, si},
        {"a 302 redirect to the Vorbis mount", [&](bool s) { return served(s ? "/moved-slow" : "/moved", s); }, false,
         nullptr, ni, si},
        {"live HLS, MPEG-TS segments", [&](bool s) { return served("/ts/live.m3u8", s); }, true, nullptr},
        {"live HLS, fMP4 segments", [&](bool s) { return served("/fmp4/live.m3u8", s); }, true, nullptr},
    };
    std::this_thread::sleep_for(std::chrono::seconds(4)); // a few HLS segments published

    // What starting the ffmpeg CLI alone costs: its first frame from a local file.
    const std::string local = dir.file("local.mp3");
    make_stream_mp3(local, 440, 2.0);
    std::vector<double> local_ms;
    for (int i = 0; i < kOpens; ++i)
        local_ms.push_back(ffmpeg_first_frame_ms(local));

    std::printf("\nMedian of %d opens, milliseconds from the call (\"fails\": no median; failures counted)\n\n", kOpens);
    std::printf("(\"server's audio\": when the server's first byte of audio reached us; \"ours\": from then until "
                "heard)\n\n");
    std::printf("| Source | returned | heard | server's audio | ours | ffmpeg CLI first frame | returned, 150 ms RTT "
                "| heard, 150 ms RTT | server's audio, 150 ms RTT | ours, 150 ms RTT | ffmpeg CLI, 150 ms RTT "
                "|\n|---|---|---|---|---|---|---|---|---|---|---|\n");
    const char* only = std::getenv("MIRAVOX_BENCH_ONLY"); // e.g. "Ogg": the rows whose name holds it
    for (const Row& row : rows) {
        if (only && row.name.find(only) == std::string::npos)
            continue;
        const Figures fast = measure(row, false);
        const Figures slow = measure(row, true);
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |%s\n", row.name.c_str(),
                    cell(fast.returned).c_str(), cell(fast.heard).c_str(), cell(fast.server_audio, "-").c_str(),
                    cell(fast.ours, "-").c_str(), cell(fast.ffmpeg).c_str(), cell(slow.returned).c_str(),
                    cell(slow.heard).c_str(), cell(slow.server_audio, "-").c_str(), cell(slow.ours, "-").c_str(),
                    cell(slow.ffmpeg).c_str(),
                    fast.failures + slow.failures ? (" " + std::to_string(fast.failures + slow.failures) +
                                                     " failed opens")
                                                        .c_str()
                                                  : "");
        std::fflush(stdout);
    }
    std::printf("\nThe ffmpeg CLI's first frame from a local MP3 file (its start-up alone): %.0f ms\n",
                median(local_ms));
    BASS_Free();
    return 0;
}
