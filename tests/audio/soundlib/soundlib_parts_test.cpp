// The engine's building blocks on their own: ring buffers, device list parsing, address
// parsing, error mapping, the spectrum, the capture writer, text conversion.

#include "error_state.h"
#include "http_client.h"
#include "output_device.h"
#include "spectrum.h"
#include "spsc_ring.h"
#include "test_media.h"
#include "text_encoding.h"
#include "wav_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

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
