// Files and streams whose bytes once made the engine misbehave (some found by the fuzzers in
// fuzz/): each must be refused with the code its fault calls for, or play, and never cost more
// than a file or a stream should.

#include "engine_test_support.h"
#include "test_stream_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

using namespace miravox::test;

namespace {

const VirtualDevices devices;

// The sample rate a WAV header claims. A damaged header claiming hundreds of megahertz made the
// resampler allocate 1.6 GB for a 199-byte file; the real rates audio is made at still play.
struct HeaderRate {
    int rate;
    bool plays;
};

void PrintTo(const HeaderRate& r, std::ostream* os) {
    *os << r.rate << " Hz";
}

class HeaderRateTest : public ::testing::TestWithParam<HeaderRate> {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(BASS_Init(kSilentDevice, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    }
    static void TearDownTestSuite() { BASS_Free(); }
};

TEST_P(HeaderRateTest, ImpossibleRatesAreRefusedAsAFormatRealOnesPlay) {
    const HeaderRate r = GetParam();
    const std::string path = devices.dir().file("rate-" + std::to_string(r.rate) + ".wav");
    ASSERT_TRUE(write_wav(path, std::vector<float>(2 * 4096, 0.25f), 2, r.rate));
    const HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    const int error = BASS_ErrorGetCode();
    if (r.plays) {
        EXPECT_NE(h, 0u) << "error " << error;
        EXPECT_TRUE(BASS_StreamFree(h));
    } else {
        EXPECT_EQ(h, 0u);
        EXPECT_EQ(error, BASS_ERROR_FORMAT);
    }
}

INSTANTIATE_TEST_SUITE_P(Wav, HeaderRateTest,
                         ::testing::Values(HeaderRate{8000, true}, HeaderRate{384000, true},
                                           HeaderRate{768000, true}, HeaderRate{768001, false},
                                           HeaderRate{536879936, false}));

// The peak of this process's resident memory, in KiB, since the last reset_peak_memory().
long peak_memory_kib() {
    std::ifstream status("/proc/self/status");
    const std::string text((std::istreambuf_iterator<char>(status)), std::istreambuf_iterator<char>());
    std::smatch m;
    return std::regex_search(text, m, std::regex(R"(VmHWM:\s+(\d+))")) ? std::stol(m[1]) : -1;
}

bool reset_peak_memory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear.flush());
}

class LiveInputTest : public HeaderRateTest {};

// A live stream may begin with an ID3 tag that says it is up to 256 MiB long; it was held whole
// before the stream's format was looked for. Now it streams past: the audio behind a 64 MiB
// tag plays, and opening it holds less than half the tag's size (the rest of the margin is for
// the threads and buffers of the open, larger under the sanitizers).
TEST_F(LiveInputTest, AHugeId3TagAtAStreamsStartIsPassedOverNotHeld) {
    const std::string mp3_path = devices.dir().file("behind-tag.mp3");
    ASSERT_TRUE(make_stream_mp3(mp3_path, 430, 1.0));
    constexpr size_t kTagBody = 64u << 20;
    std::string data("ID3\x04\x00\x00", 6);
    for (int shift : {21, 14, 7, 0})
        data += static_cast<char>((kTagBody >> shift) & 0x7F);
    data.append(kTagBody, '\0');
    data += read_file(mp3_path);
    miravox::test::TestStreamServer server;
    miravox::test::AudioMount m;
    m.data = std::move(data);
    m.bytes_per_second = 0; // as fast as we read: a tag that size would otherwise take minutes
    m.loop = false;
    server.add_audio("/tagged", std::move(m));
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 5000);

    ASSERT_TRUE(reset_peak_memory()) << "the kernel lets a process reset its peak memory";
    const long before = peak_memory_kib();
    const std::u16string url = [&] {
        const std::string u = server.url("/tagged");
        return std::u16string(u.begin(), u.end());
    }();
    StreamHandle h(BASS_StreamCreateURL(url.c_str(), 0, BASS_UNICODE, nullptr, nullptr));
    ASSERT_NE(h.get(), 0u) << "error " << BASS_ErrorGetCode();
    const long grown_kib = peak_memory_kib() - before;
    std::printf("opening the stream behind a %zu MiB tag held %ld KiB at its peak\n", kTagBody >> 20, grown_kib);
    EXPECT_LT(grown_kib, static_cast<long>(kTagBody / 2 / 1024)) << "the open held " << grown_kib << " KiB";
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    EXPECT_TRUE(wait_until([&] { return position_s(h) > 0.2; }, std::chrono::milliseconds(3000)));
}

} // namespace
