// What the engine mixes, read back from a capture device: levels, volume changes, sums,
// pause, loops, the spectrum.

#include "engine_test_support.h"

#include <gtest/gtest.h>

using namespace miravox::test;

namespace {

const VirtualDevices devices; // before the first engine call

class MixTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(BASS_Init(kCaptureDevice, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    }
    static void TearDownTestSuite() { BASS_Free(); }

    void SetUp() override {
        ASSERT_TRUE(BASS_SetDevice(kCaptureDevice));
        mark_ = capture_mark(devices.capture_path());
    }

    std::string wav(const std::string& name, size_t frames, const std::function<float(size_t)>& f) {
        const std::string path = devices.dir().file(name);
        EXPECT_TRUE(write_wav_mono(path, frames, f));
        return path;
    }

    HSTREAM open(const std::string& path, DWORD flags = 0) {
        const HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, flags);
        EXPECT_NE(h, 0u) << BASS_ErrorGetCode();
        return h;
    }

    // Left channel recorded since SetUp.
    std::vector<float> recorded(size_t frames) { return capture_left(devices.capture_path(), mark_, frames); }

    size_t mark_ = 0;
};

TEST_F(MixTest, VolumeHalfPlaysAtHalfAmplitude) {
    StreamHandle h(open(wav("a440.wav", 44100, sine(440, 0.8))));
    ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.5f));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    const auto x = recorded(44100 / 2);
    const size_t onset = first_above(x, 0.01f);
    ASSERT_LT(onset + 8820, x.size()) << "the tone was not recorded";
    EXPECT_NEAR(peak(x, onset + 441, onset + 8820), 0.4f, 0.005f);
}

TEST_F(MixTest, VolumeChangeIsHeardWithin50ms) {
    StreamHandle h(open(wav("long440.wav", 44100 * 2, sine(440, 0.8))));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    sleep_ms(250);
    const QWORD at = BASS_ChannelGetPosition(h, BASS_POS_BYTE) / 8; // frames played so far
    ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.25f));
    const auto x = recorded(44100);
    const size_t onset = first_above(x, 0.01f);
    ASSERT_LT(onset + at + 2205 + 4410, x.size());
    EXPECT_NEAR(peak(x, onset + 441, onset + at), 0.8f, 0.01f) << "full level before the change";
    // 50 ms of mixed audio after the position at which the change was made, the level is down.
    EXPECT_NEAR(peak(x, onset + at + 2205, onset + at + 2205 + 4410), 0.2f, 0.005f);
}

TEST_F(MixTest, TwoStreamsSum) {
    StreamHandle a(open(wav("dc020.wav", 44100, [](size_t) { return 0.2f; })));
    StreamHandle b(open(wav("dc030.wav", 44100, [](size_t) { return 0.3f; })));
    ASSERT_TRUE(BASS_ChannelPlay(a, FALSE));
    ASSERT_TRUE(BASS_ChannelPlay(b, FALSE));
    const auto x = recorded(44100 / 2);
    const size_t onset = first_above(x, 0.01f);
    ASSERT_LT(onset + 8820, x.size());
    // Both started within a block of each other; after that the output is their sum.
    for (size_t i = onset + 2048; i < onset + 8820; ++i)
        ASSERT_NEAR(x[i], 0.5f, 0.002f) << "frame " << i - onset;
}

TEST_F(MixTest, PauseLeavesSilenceAndPlayContinues) {
    StreamHandle h(open(wav("dc025.wav", 44100 * 3, [](size_t) { return 0.25f; })));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    sleep_ms(200);
    ASSERT_TRUE(BASS_ChannelPause(h));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PAUSED);
    const QWORD paused_at = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    sleep_ms(300);
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), paused_at) << "a paused stream does not advance";
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    sleep_ms(200);
    ASSERT_TRUE(BASS_ChannelStop(h));
    const QWORD played = BASS_ChannelGetPosition(h, BASS_POS_BYTE) / 8;

    const auto x = recorded(44100);
    const size_t onset = first_above(x, 0.01f);
    const size_t pause_at = onset + paused_at / 8;
    ASSERT_LT(pause_at + 44100 * 3 / 10, x.size());
    EXPECT_NEAR(x[pause_at - 1], 0.25f, 0.002f);
    // The pause: silence for about 300 ms, then the same level again.
    const size_t resumed = first_above(x, 0.01f, pause_at);
    EXPECT_EQ(peak(x, pause_at, resumed), 0.0f);
    EXPECT_GT(resumed - pause_at, 44100u / 5);
    EXPECT_NEAR(x[resumed + 100], 0.25f, 0.002f);
    // Everything recorded at level is exactly what the stream says it played.
    size_t loud = 0;
    for (float v : x)
        loud += std::fabs(v - 0.25f) < 0.002f;
    EXPECT_NEAR(static_cast<double>(loud), static_cast<double>(played), 2.0);
}

TEST_F(MixTest, LoopIsContinuous) {
    // 441 Hz: 100 frames per period; 20000 frames hold exactly 200 periods, so a gap-free loop
    // is one unbroken sine.
    const double w = 2 * M_PI * 441 / 44100;
    StreamHandle h(open(wav("loop441.wav", 20000, sine(441, 0.5)), BASS_SAMPLE_LOOP));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    sleep_ms(1200);
    ASSERT_TRUE(BASS_ChannelStop(h));
    const auto x = recorded(44100 + 20000);
    const size_t onset = first_above(x, 0.001f);
    size_t end = x.size();
    while (end > onset && std::fabs(x[end - 1]) < 0.001f)
        --end;
    ASSERT_GT(end - onset, 2u * 20000u + 1000u) << "played through the loop point at least twice";
    // A sine satisfies x[n] = 2cos(w) x[n-1] - x[n-2]; a gap or jump breaks it.
    double worst = 0;
    for (size_t n = onset + 2; n < end - 200; ++n)
        worst = std::max(worst, std::fabs(x[n] - (2 * std::cos(w) * x[n - 1] - x[n - 2])));
    EXPECT_LT(worst, 0.002);
    EXPECT_GT(BASS_ChannelGetPosition(h, BASS_POS_BYTE), 0u);
    EXPECT_LT(BASS_ChannelGetPosition(h, BASS_POS_BYTE), 20000u * 8u) << "the position wraps with the loop";
}

TEST_F(MixTest, SpectrumOf430HzPeaksAtBin5) {
    StreamHandle h(open(wav("s430.wav", 44100, sine(430, 1.0))));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return BASS_ChannelGetPosition(h, BASS_POS_BYTE) > 8 * 2048; },
                           std::chrono::milliseconds(2000)));
    float fft[256];
    ASSERT_EQ(BASS_ChannelGetData(h, fft, BASS_DATA_FFT512), 1024u);
    EXPECT_EQ(std::max_element(fft, fft + 256) - fft, 5);
    EXPECT_NEAR(fft[5], 0.5f, 0.03f) << "full scale reads about 0.5";
    EXPECT_EQ(BASS_ChannelGetData(h, fft, 0x1234), static_cast<DWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
}

// The level is the source's own: a channel turned down to nothing still reads its peak.
TEST_F(MixTest, LevelIsThePeakOfWhatPlayedBeforeTheVolume) {
    StreamHandle h(open(wav("s430half.wav", 44100 * 2, sine(430, 0.5))));
    ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.0f));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return BASS_ChannelGetPosition(h, BASS_POS_BYTE) > 8 * 2048; },
                           std::chrono::milliseconds(2000)));
    const DWORD level = BASS_ChannelGetLevel(h);
    EXPECT_NEAR(double(level & 0xFFFF), 16384, 300);
    EXPECT_NEAR(double(level >> 16), 16384, 300);
    EXPECT_EQ(BASS_ChannelGetLevel(0x7777), static_cast<DWORD>(-1));
}

TEST_F(MixTest, StopAndStartSilenceAndResumeTheDevice) {
    StreamHandle h(open(wav("dc015.wav", 44100 * 3, [](size_t) { return 0.15f; })));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    sleep_ms(200);
    ASSERT_TRUE(BASS_Stop());
    const QWORD stopped_at = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    sleep_ms(250);
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), stopped_at) << "nothing is consumed while stopped";
    ASSERT_TRUE(BASS_Start());
    ASSERT_TRUE(wait_until([&] { return BASS_ChannelGetPosition(h, BASS_POS_BYTE) > stopped_at; },
                           std::chrono::milliseconds(1000)));
    ASSERT_TRUE(BASS_Stop());
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE)) << "playing a channel restarts a stopped output";
    ASSERT_TRUE(wait_until([&] { return BASS_ChannelGetPosition(h, BASS_POS_BYTE) > stopped_at + 8 * 4410; },
                           std::chrono::milliseconds(1000)));
    const auto x = recorded(44100);
    const size_t onset = first_above(x, 0.01f);
    const size_t silent_from = onset + stopped_at / 8;
    ASSERT_LT(silent_from + 8820, x.size());
    EXPECT_EQ(peak(x, silent_from, silent_from + 8820), 0.0f);
}

} // namespace
