// A long relay against servers whose clock differs from the sound card's: three MP3 streams of a
// tone, paced 1000 ppm slower than the card, at its pace and 1000 ppm faster, relayed side by
// side on three capture devices at a fast clock for several program hours. Prints, for each,
// the dips in the tone on the air (0.1 s blocks under 80 % of its level), the buffered level
// over time and the correction the engine found. A plain program (not a Google Benchmark):
//
//   drift_bench [PROGRAM_HOURS=3] [CLOCK_RATE=36]
//
// The servers follow the card's clock (what its capture file holds) rather than the machine's,
// so that a fast clock that runs late on a busy machine is not taken for a drift. Each program
// hour writes 635 MB of capture per stream to the temporary folder (removed at the end).

#include "relay_air.h"
#include "test_media.h"
#include "test_stream_server.h"

#include "soundlib.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace miravox::test;

namespace {

constexpr double kBytesPerSecond = 44100 * 8; // of decoded audio
constexpr int kReportEveryMin = 15;

struct Case {
    Case(const char* n, double ppm, std::string path) : name(n), server_ppm(ppm), capture(std::move(path)) {}
    const char* name;
    double server_ppm;
    std::string capture;
    HSTREAM stream = 0;
    size_t from = 0, to = 0;
    std::vector<double> buffered; // every kReportEveryMin
    double low = 1e9, high = 0;   // buffered level after the first half hour
    int stalled_minutes = 0;
    bool ended = false;
    float correction = 0, notice = 0;
};

double card_seconds(const std::string& capture) {
    struct stat st {};
    return ::stat(capture.c_str(), &st) == 0 ? double(st.st_size) / 4 / 44100 : 0.0;
}

} // namespace

int main(int argc, char** argv) {
    const double hours = argc > 1 ? std::atof(argv[1]) : 3.0;
    const double rate = argc > 2 ? std::atof(argv[2]) : 36.0;
    if (hours <= 0 || rate <= 0 || rate > 100) {
        std::fprintf(stderr, "usage: %s [PROGRAM_HOURS] [CLOCK_RATE]\n", argv[0]);
        return 2;
    }
    TempDir dir("drift-bench");
    std::vector<Case> cases = {{"slower", -1000, dir.file("slower.wav")},
                               {"even", 0, dir.file("even.wav")},
                               {"faster", 1000, dir.file("faster.wav")}};
    std::string devices;
    for (const Case& c : cases)
        devices += std::string(devices.empty() ? "" : ";") + "capture:" + c.name + ":" + c.capture;
    ::setenv("MIRAVOX_CLOCK_RATE", std::to_string(rate).c_str(), 1);
    ::setenv("MIRAVOX_AUDIO_DEVICES", devices.c_str(), 1);

    // 23 cycles in every two frames: 1000 frames loop without a seam.
    const std::string mp3_path = dir.file("tone.mp3");
    if (!make_sine(mp3_path, 23 * 44100 / 2304.0, 30.0,
                   {"-c:a", "libmp3lame", "-b:a", "128k", "-reservoir", "0", "-write_xing", "0",
                    "-id3v2_version", "0", "-f", "mp3"})) {
        std::fprintf(stderr, "ffmpeg could not make the tone\n");
        return 1;
    }
    const std::string mp3 = mp3_loop(read_file(mp3_path), 50, 1000);
    const double pace = mp3_bytes_per_second(mp3);

    TestStreamServer server;
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
    for (size_t i = 0; i < cases.size(); ++i) {
        Case& c = cases[i];
        AudioMount m;
        m.data = mp3;
        m.bytes_per_second = pace * (1 + c.server_ppm * 1e-6);
        m.burst_bytes = size_t(pace * 2); // two seconds, as the test server's 32 KB at 128 kbps
        m.clock = [path = c.capture] { return card_seconds(path); };
        server.add_audio(std::string("/") + c.name, m);
        if (!BASS_Init(int(i) + 1, 44100, 0, nullptr, nullptr)) {
            std::fprintf(stderr, "device %zu: error %d\n", i + 1, BASS_ErrorGetCode());
            return 1;
        }
        c.from = size_t(card_seconds(c.capture) * 44100);
        c.stream =
            BASS_StreamCreateURL(server.url(std::string("/") + c.name).c_str(), 0, 0, nullptr, nullptr);
        if (!c.stream || !BASS_ChannelPlay(c.stream, FALSE)) {
            std::fprintf(stderr, "%s: error %d\n", c.name, BASS_ErrorGetCode());
            return 1;
        }
    }

    const auto start = std::chrono::steady_clock::now();
    const auto program_min = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * rate / 60;
    };
    const int minutes = int(std::lround(hours * 60));
    std::printf("%.1f program hours at %.0f times real time, about %.0f s\n", hours, rate,
                minutes * 60 / rate);
    std::printf("minute  buffered s (slower even faster)  correction ppm (slower even faster)\n");
    for (int minute = 1; minute <= minutes; ++minute) {
        while (program_min() < minute)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (Case& c : cases) {
            if (c.ended)
                continue;
            const DWORD state = BASS_ChannelIsActive(c.stream);
            c.ended = state == BASS_ACTIVE_STOPPED;
            c.stalled_minutes += state == BASS_ACTIVE_STALLED;
            const double level =
                double(BASS_StreamGetFilePosition(c.stream, BASS_FILEPOS_BUFFER)) / kBytesPerSecond;
            if (minute >= 30) {
                c.low = std::min(c.low, level);
                c.high = std::max(c.high, level);
            }
            if (minute % kReportEveryMin == 0)
                c.buffered.push_back(level);
            BASS_ChannelGetAttribute(c.stream, BASS_ATTRIB_MIRAVOX_DRIFT, &c.correction);
            BASS_ChannelGetAttribute(c.stream, BASS_ATTRIB_MIRAVOX_DRIFT_NOTICE, &c.notice);
        }
        if (minute % kReportEveryMin == 0) {
            std::printf("%6d  %5.2f %5.2f %5.2f                   %+5.0f %+5.0f %+5.0f\n", minute,
                        cases[0].buffered.back(), cases[1].buffered.back(), cases[2].buffered.back(),
                        cases[0].correction, cases[1].correction, cases[2].correction);
            std::fflush(stdout);
        }
    }
    for (Case& c : cases) {
        c.to = size_t(card_seconds(c.capture) * 44100);
        BASS_StreamFree(c.stream);
    }

    std::printf("\n| Server against the card | Dips (0.1 s under 80 %%) | First dip | Buffered after 30 min "
                "(min-max) | At the end | Correction found | Told as a clock well off |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (size_t i = 0; i < cases.size(); ++i) {
        Case& c = cases[i];
        const ToneHoles holes = tone_holes(air_levels(c.capture, c.from, c.to, 4410));
        char first[32] = "—";
        if (holes.first >= 0)
            std::snprintf(first, sizeof first, "%.1f min", double(holes.first) / 600);
        std::printf("| %s (%+.0f ppm) | %zu%s | %s | %.2f-%.2f s | %.2f s | %+.0f ppm | %s |\n", c.name,
                    c.server_ppm, holes.count, c.ended ? " (ended)" : "", first, c.low, c.high,
                    c.buffered.empty() ? 0.0 : c.buffered.back(), c.correction, c.notice != 0 ? "yes" : "no");
        BASS_SetDevice(DWORD(i) + 1);
        BASS_Free();
        std::remove(c.capture.c_str());
    }
    return 0;
}
