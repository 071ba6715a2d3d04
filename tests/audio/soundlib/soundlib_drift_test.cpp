// A long relay held to the sound card's clock: three servers, 1000 ppm slower than the card, at
// its pace and 1000 ppm faster, relayed side by side for a program hour on a fast clock, the air
// of each captured whole. Without the hold the slower one runs dry in holes after half an hour
// and the faster one's delay grows past its buffer.

#include "engine_test_support.h"
#include "relay_air.h"
#include "test_stream_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

using namespace miravox::test;

namespace {

constexpr double kClockRate = 36;
constexpr double kProgramS = 3600;
constexpr double kTargetS = 2.0; // what the engine holds buffered
constexpr double kBytesPerSecond = 44100 * 8;

struct Case {
    const char* name;
    double server_ppm; // against the card
    std::string capture;
};

// Set before the first engine call: the engine reads both once.
struct Environment {
    Environment() : dir("soundlib-drift") {
        cases = {{"slower", -1000, dir.file("slower.wav")},
                 {"even", 0, dir.file("even.wav")},
                 {"faster", 1000, dir.file("faster.wav")}};
        std::string devices;
        for (const Case& c : cases)
            devices += std::string(devices.empty() ? "" : ";") + "capture:" + c.name + ":" + c.capture;
        ::setenv("MIRAVOX_CLOCK_RATE", "36", 1);
        ::setenv("MIRAVOX_AUDIO_DEVICES", devices.c_str(), 1);
    }
    TempDir dir;
    std::vector<Case> cases;
};
Environment env;

double buffered_s(HSTREAM h) {
    return double(BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER)) / kBytesPerSecond;
}

// The card's clock: what its capture file holds. A fast clock on a busy machine may run late or
// skip ahead; the server follows the card wherever it is.
double card_seconds(const std::string& capture) {
    struct stat st {};
    return ::stat(capture.c_str(), &st) == 0 ? double(st.st_size) / 4 / 44100 : 0.0;
}

float attribute(HSTREAM h, DWORD attrib) {
    float v = 0;
    BASS_ChannelGetAttribute(h, attrib, &v);
    return v;
}

} // namespace

// Wall time: about 110 s (a program hour at 36 times real time), a little under one core.
TEST(DriftLock, ServersSlowerEvenAndFasterThanTheCardRelayAnHourWithoutAHole) {
    // 23 cycles in every two frames of 1152 samples: 1000 frames (26 s) loop without a seam.
    const std::string mp3_path = env.dir.file("tone.mp3");
    ASSERT_TRUE(make_sine(mp3_path, 23 * 44100 / 2304.0, 30.0,
                          {"-c:a", "libmp3lame", "-b:a", "128k", "-reservoir", "0", "-write_xing", "0",
                           "-id3v2_version", "0", "-f", "mp3"}));
    const std::string mp3 = mp3_loop(read_file(mp3_path), 50, 1000);
    const double pace = mp3_bytes_per_second(mp3);
    ASSERT_NEAR(pace, 16000, 10);

    TestStreamServer server;
    std::vector<HSTREAM> streams;
    std::vector<size_t> from;
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
    for (size_t i = 0; i < env.cases.size(); ++i) {
        const Case& c = env.cases[i];
        AudioMount m;
        m.data = mp3;
        m.bytes_per_second = pace * (1 + c.server_ppm * 1e-6);
        m.clock = [path = c.capture] { return card_seconds(path); };
        m.burst_bytes = size_t(pace * kTargetS); // the stream starts with its target in hand
        server.add_audio(std::string("/") + c.name, m);
        const int device = int(i) + 1;
        ASSERT_TRUE(BASS_Init(device, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
        from.push_back(captured_frames(c.capture));
        const HSTREAM h = BASS_StreamCreateURL(server.url(std::string("/") + c.name).c_str(), 0, 0, nullptr, nullptr);
        ASSERT_NE(h, 0u) << c.name << ": error " << BASS_ErrorGetCode();
        ASSERT_TRUE(BASS_ChannelPlay(h, FALSE)); // at once: what comes before it plays is delay
        streams.push_back(h);
    }

    // Once a program minute: the buffered level and the correction, and whether each stream
    // still plays.
    const auto start = std::chrono::steady_clock::now();
    const auto program_s = [&] { return elapsed_ms(start) / 1000 * kClockRate; };
    std::vector<int> stalls(streams.size(), 0);
    for (int minute = 1; minute <= int(kProgramS / 60); ++minute) {
        while (program_s() < minute * 60.0)
            sleep_ms(20);
        for (size_t i = 0; i < streams.size(); ++i) {
            const DWORD state = BASS_ChannelIsActive(streams[i]);
            ASSERT_NE(state, DWORD(BASS_ACTIVE_STOPPED)) << env.cases[i].name << " ended at minute " << minute;
            stalls[i] += state == BASS_ACTIVE_STALLED;
        }
        if (minute % 5 == 0)
            for (size_t i = 0; i < streams.size(); ++i)
                std::printf("minute %2d %-6s buffered %.2f s, correction %+5.0f ppm\n", minute,
                            env.cases[i].name, buffered_s(streams[i]),
                            attribute(streams[i], BASS_ATTRIB_MIRAVOX_DRIFT));
    }

    std::vector<size_t> to;
    for (const Case& c : env.cases)
        to.push_back(captured_frames(c.capture));
    for (size_t i = 0; i < streams.size(); ++i) {
        const Case& c = env.cases[i];
        SCOPED_TRACE(c.name);
        const double level = buffered_s(streams[i]);
        const float correction = attribute(streams[i], BASS_ATTRIB_MIRAVOX_DRIFT);
        EXPECT_NEAR(level, kTargetS, 0.5) << "the buffered level at the end";
        // The correction found is the clocks' difference, the other way round.
        EXPECT_NEAR(correction, -c.server_ppm, 200);
        const float notice = attribute(streams[i], BASS_ATTRIB_MIRAVOX_DRIFT_NOTICE);
        if (c.server_ppm == 0)
            EXPECT_EQ(notice, 0.0f) << "no clock to tell about";
        else
            EXPECT_NEAR(notice, -c.server_ppm, 200) << "a clock that is well off, told once it held";
        EXPECT_EQ(stalls[i], 0) << "minutes at which the stream had run dry";
        BASS_StreamFree(streams[i]);

        const ToneHoles holes = tone_holes(air_levels(c.capture, from[i], to[i], 4410));
        EXPECT_GT(holes.level, 0.2) << "the tone was on the air";
        EXPECT_EQ(holes.count, 0u) << "0.1 s blocks under 80 % of the tone, the first at "
                                   << holes.first / 600.0 << " min";
    }
    for (size_t i = 0; i < env.cases.size(); ++i) {
        BASS_SetDevice(DWORD(i) + 1);
        BASS_Free();
        std::remove(env.cases[i].capture.c_str()); // a program hour is 635 MB
    }
}
