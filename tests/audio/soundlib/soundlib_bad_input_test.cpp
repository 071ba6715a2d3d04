// Files whose bytes once made the engine misbehave (found by the fuzzers in fuzz/): each must be
// refused with the code its fault calls for, or play, and never cost more than a file should.

#include "engine_test_support.h"

#include <gtest/gtest.h>

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

} // namespace
