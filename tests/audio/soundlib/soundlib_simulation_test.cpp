// Virtual devices for simulated runs and fault tests: devices that play many times as fast as
// real time (MIRAVOX_CLOCK_RATE) without losing a sample, and sound cards that fail at their
// bring-up ("broken:") or after some ("flaky:").

#include "engine_test_support.h"
#include "output_device.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace miravox::test;
using miravox::soundlib::DeviceDescription;
using miravox::soundlib::parse_virtual_devices;
using miravox::soundlib::playback_rate;

namespace {

constexpr double kRate = 20;
constexpr int kCapture = 1, kBroken = 2, kFlaky = 3;

// Set before the first engine call: the engine reads both once.
struct Environment {
    Environment() : dir("soundlib-simulation") {
        capture = dir.file("air.wav");
        ::setenv("MIRAVOX_CLOCK_RATE", "20", 1);
        ::setenv("MIRAVOX_AUDIO_DEVICES", ("capture:AIR:" + capture + ";broken:DEAD;flaky:SHAKY:2").c_str(),
                 1);
    }
    TempDir dir;
    std::string capture;
};
const Environment env;

} // namespace

TEST(FastDevices, PlayAFileAtTheClockRateWithoutLosingASample) {
    ASSERT_EQ(playback_rate(), kRate);
    const std::string tone = env.dir.file("tone.wav");
    ASSERT_TRUE(write_wav_mono(tone, 2 * 44100, sine(440, 0.5)));
    ASSERT_TRUE(BASS_Init(kCapture, 44100, 0, nullptr, nullptr));
    const HSTREAM s = BASS_StreamCreateFile(FALSE, tone.c_str(), 0, 0, 0);
    ASSERT_NE(s, 0u);
    const QWORD length = BASS_ChannelGetLength(s, BASS_POS_BYTE);
    const size_t before = captured_frames(env.capture);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(BASS_ChannelPlay(s, FALSE));
    // Two seconds of audio: a real-time device would need all of them.
    ASSERT_TRUE(
        wait_until([&] { return BASS_ChannelIsActive(s) == BASS_ACTIVE_STOPPED; }, std::chrono::seconds(10)));
    const double real_ms = elapsed_ms(start);
    EXPECT_EQ(BASS_ChannelGetPosition(s, BASS_POS_BYTE), length);
    BASS_StreamFree(s);
    EXPECT_LT(real_ms, 2000.0 * 3 / 4) << "the device did not play faster than real time";

    // On the air: the whole tone, without a gap where the decoder could not keep up.
    // Six seconds from the call: a file starts to sound once its decoder is well ahead, which
    // at this rate may take a good part of a second of audio on a busy machine.
    const std::vector<float> air = capture_left(env.capture, before, size_t(6 * 44100));
    size_t first = air.size(), last = 0, longest_silence = 0, silence = 0;
    for (size_t i = 0; i < air.size(); ++i)
        if (std::fabs(air[i]) > 0.05) {
            first = std::min(first, i);
            last = i;
        }
    ASSERT_LT(first, last);
    for (size_t i = first; i <= last; ++i) {
        silence = std::fabs(air[i]) < 1e-4 ? silence + 1 : 0;
        longest_silence = std::max(longest_silence, silence);
    }
    EXPECT_NEAR(double(last - first), 2.0 * 44100, 44100 * 0.01);
    EXPECT_LT(longest_silence, 5u);
    BASS_Free();
}

TEST(FailingDevices, BrokenNeverComesUpFlakyComesUpItsCountThenNever) {
    BASS_DEVICEINFO info{};
    ASSERT_TRUE(BASS_GetDeviceInfo(kBroken, &info));
    EXPECT_STREQ(info.name, "DEAD");
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(BASS_Init(kBroken, 44100, 0, nullptr, nullptr));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
    }
    ASSERT_TRUE(BASS_GetDeviceInfo(kFlaky, &info));
    EXPECT_STREQ(info.name, "SHAKY");
    for (int attempt = 0; attempt < 2; ++attempt) {
        ASSERT_TRUE(BASS_Init(kFlaky, 44100, 0, nullptr, nullptr)) << attempt;
        ASSERT_TRUE(BASS_Free());
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(BASS_Init(kFlaky, 44100, 0, nullptr, nullptr));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
    }
}

TEST(FailingDevices, EntriesWithoutANameOrACountAreSkipped) {
    const std::vector<DeviceDescription> list =
        parse_virtual_devices("broken:;flaky:A;flaky:B:x;flaky::3;flaky:C:-1;broken:OK;flaky:F:0;flaky:G:12");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "OK");
    EXPECT_EQ(list[0].kind, DeviceDescription::Kind::Failing);
    EXPECT_EQ(list[0].inits_left, 0);
    EXPECT_EQ(list[1].name, "F");
    EXPECT_EQ(list[1].inits_left, 0);
    EXPECT_EQ(list[2].name, "G");
    EXPECT_EQ(list[2].inits_left, 12);
}
