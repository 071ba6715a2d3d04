// Files: every format the program plays, exact lengths, positions, seeking, the end of a file,
// and inputs that are not audio at all.

#include "engine_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

using namespace miravox::test;

namespace {

const VirtualDevices devices;

constexpr double kSeconds = 3.0;
constexpr QWORD kNominalFrames = 132300; // 3 s at 44100 Hz

struct Format {
    const char* name;
    const char* extension;
    std::vector<std::string> codec_args;
    bool length_exact_at_open; // known without decoding the whole file
};

void PrintTo(const Format& f, std::ostream* os) {
    *os << f.name;
}

const Format kFormats[] = {
    {"MP3", "mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}, true},
    {"WAV", "wav", {"-c:a", "pcm_s16le"}, true},
    {"WMA", "wma", {"-c:a", "wmav2", "-b:a", "128k"}, false},
    {"AAC", "aac", {"-c:a", "aac", "-b:a", "128k", "-f", "adts"}, false},
    {"M4A", "m4a", {"-c:a", "aac", "-b:a", "128k"}, false},
    {"Opus", "opus", {"-c:a", "libopus", "-b:a", "96k"}, false},
};

// Independent count of what FFmpeg decodes from a file, in frames at 44100 Hz.
double decoded_frames(const std::string& path) {
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return -1;
    avformat_find_stream_info(fmt, nullptr);
    const int idx = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[idx]->codecpar->codec_id);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx, fmt->streams[idx]->codecpar);
    ctx->pkt_timebase = fmt->streams[idx]->time_base;
    avcodec_open2(ctx, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int64_t samples = 0;
    int rate = 0;
    auto drain = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            samples += frame->nb_samples;
            rate = frame->sample_rate;
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == idx) {
            avcodec_send_packet(ctx, pkt);
            drain();
        }
        av_packet_unref(pkt);
    }
    avcodec_send_packet(ctx, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    avformat_close_input(&fmt);
    return rate ? static_cast<double>(samples) * 44100.0 / rate : -1;
}

class FileTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(BASS_Init(kSilentDevice, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
        BASS_SetConfig(BASS_CONFIG_BUFFER, 1000);
    }
    static void TearDownTestSuite() { BASS_Free(); }
    void SetUp() override { ASSERT_TRUE(BASS_SetDevice(kSilentDevice)); }

    static std::string path(const std::string& name) { return devices.dir().file(name); }
};

class FormatTest : public FileTest, public ::testing::WithParamInterface<Format> {
  protected:
    // 430 Hz (bin 5) for two seconds, then 861 Hz (bin 10): where a seek landed can be heard.
    std::string two_tone() {
        const Format& f = GetParam();
        const std::string p = path(std::string("two_tone.") + f.extension);
        if (read_file(p).empty()) {
            std::vector<std::string> args{
                "-f",  "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*if(lt(t\\,2)\\,430\\,861)*t):s=44100:d=3",
                "-ac", "2"};
            args.insert(args.end(), f.codec_args.begin(), f.codec_args.end());
            args.push_back(p);
            EXPECT_TRUE(run_ffmpeg(args));
        }
        return p;
    }
};

TEST_P(FormatTest, LengthIsExact) {
    StreamHandle h(BASS_StreamCreateFile(FALSE, two_tone().c_str(), 0, 0, 0));
    ASSERT_NE(h.get(), 0u) << BASS_ErrorGetCode();
    const QWORD at_open = BASS_ChannelGetLength(h, BASS_POS_BYTE);
    ASSERT_NE(at_open, static_cast<QWORD>(-1));
    EXPECT_EQ(at_open % 8, 0u) << "whole stereo float frames";
    if (GetParam().length_exact_at_open) {
        EXPECT_EQ(at_open / 8, kNominalFrames);
    }
    // Whatever the container says, the length settles on what decoding yields (a background
    // count that a loaded machine may take a while to finish).
    const double expected = decoded_frames(two_tone());
    QWORD settled = 0;
    const bool exact = wait_until(
        [&] {
            settled = BASS_ChannelGetLength(h, BASS_POS_BYTE);
            if (std::abs(static_cast<double>(settled / 8) - expected) <= 2.0)
                return BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER) > 0;
            sleep_ms(50);
            return false;
        },
        std::chrono::milliseconds(30000));
    EXPECT_TRUE(exact);
    EXPECT_NEAR(static_cast<double>(settled / 8), expected, 2.0);
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(h, settled), kSeconds, 0.05) << "codec priming is a few ms at most";

    // Played from near the end, the stream stops exactly at its length.
    const QWORD start = settled - 8 * 8820;
    ASSERT_TRUE(BASS_ChannelSetPosition(h, start, BASS_POS_BYTE));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; },
                           std::chrono::milliseconds(3000)));
    const double tolerance = GetParam().name == std::string("WAV") ? 0 : 2048;
    EXPECT_NEAR(static_cast<double>(BASS_ChannelGetPosition(h, BASS_POS_BYTE) / 8),
                static_cast<double>(BASS_ChannelGetLength(h, BASS_POS_BYTE) / 8), tolerance);
}

TEST_P(FormatTest, SeekLandsWhereAsked) {
    StreamHandle h(BASS_StreamCreateFile(FALSE, two_tone().c_str(), 0, 0, 0));
    ASSERT_NE(h.get(), 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return position_s(h) > 0.15; }, std::chrono::milliseconds(2000)));
    EXPECT_EQ(peak_bin(h), 5);

    const QWORD target = BASS_ChannelSeconds2Bytes(h, 2.2);
    ASSERT_TRUE(BASS_ChannelSetPosition(h, target, BASS_POS_BYTE));
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), target) << "reads back at once";
    ASSERT_TRUE(wait_until([&] { return position_s(h) > 2.35; }, std::chrono::milliseconds(2000)));
    EXPECT_LT(position_s(h), 2.8);
    EXPECT_EQ(peak_bin(h), 10) << "the second tone: the seek went past 2 s";

    ASSERT_TRUE(BASS_ChannelSetPosition(h, BASS_ChannelSeconds2Bytes(h, 0.5), BASS_POS_BYTE));
    ASSERT_TRUE(wait_until([&] { return position_s(h) > 0.65; }, std::chrono::milliseconds(2000)));
    EXPECT_EQ(peak_bin(h), 5) << "and back before it";
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatTest, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileTest, PositionsAreBytesOfStereoFloatAt44100) {
    const std::string p = path("one_second.wav");
    ASSERT_TRUE(write_wav_mono(p, 44100, sine(440, 0.5)));
    StreamHandle h(BASS_StreamCreateFile(FALSE, p.c_str(), 0, 0, BASS_SAMPLE_FLOAT));
    ASSERT_NE(h.get(), 0u);
    EXPECT_EQ(BASS_ChannelGetLength(h, BASS_POS_BYTE), 44100u * 8u);
    EXPECT_DOUBLE_EQ(BASS_ChannelBytes2Seconds(h, 352800), 1.0);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(h, 0.5), 176400u);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(h, 1.0 / 44100 * 2.5), 16u) << "whole frames, rounded down";
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), 0u);
    EXPECT_FALSE(BASS_ChannelSetPosition(h, 44101u * 8u, BASS_POS_BYTE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
    EXPECT_EQ(BASS_ChannelGetPosition(h, 7), static_cast<QWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), read_file(p).size());
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_CONNECTED), static_cast<QWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
    EXPECT_EQ(BASS_ChannelGetTags(h, BASS_TAG_HTTP), nullptr);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
}

// Whether the engine freed `handle` by itself within 2 s.
bool freed_within_2s(HSTREAM handle) {
    return wait_until(
        [&] {
            BASS_ChannelIsActive(handle);
            return BASS_ErrorGetCode() == BASS_ERROR_HANDLE;
        },
        std::chrono::milliseconds(2000));
}

TEST_F(FileTest, EndedFileStopsAndIsFreedOnlyWithAutofree) {
    const std::string p = path("short.wav");
    ASSERT_TRUE(write_wav_mono(p, 4410, sine(440, 0.5)));
    StreamHandle kept(BASS_StreamCreateFile(FALSE, p.c_str(), 0, 0, 0));
    const HSTREAM freed = BASS_StreamCreateFile(FALSE, p.c_str(), 0, 0, BASS_STREAM_AUTOFREE);
    ASSERT_NE(kept.get(), 0u);
    ASSERT_NE(freed, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(kept, FALSE));
    ASSERT_TRUE(BASS_ChannelPlay(freed, FALSE));
    ASSERT_TRUE(wait_until([&] { return BASS_ChannelIsActive(kept) == BASS_ACTIVE_STOPPED; },
                           std::chrono::milliseconds(2000)));
    EXPECT_EQ(BASS_ChannelGetPosition(kept, BASS_POS_BYTE), 4410u * 8u);
    ASSERT_TRUE(freed_within_2s(freed)) << "the autofree stream is gone";
    EXPECT_FALSE(BASS_StreamFree(freed));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);

    // Playing an ended file starts it again from the beginning.
    ASSERT_TRUE(BASS_ChannelPlay(kept, FALSE));
    EXPECT_LT(BASS_ChannelGetPosition(kept, BASS_POS_BYTE), 4410u * 8u);
    ASSERT_TRUE(wait_until([&] { return BASS_ChannelIsActive(kept) == BASS_ACTIVE_STOPPED; },
                           std::chrono::milliseconds(2000)));
}

// Context switches of this process's threads named `name` (each wake-up of a sleeping thread
// counts one).
long switches_of(const std::string& name) {
    long total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        if (comm != name)
            continue;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::stol(line.substr(line.find(':') + 1));
    }
    return total;
}

// A station keeps files loaded for hours without playing them (the next commercial, a jingle
// that ended): their decoders and the engine's janitor must sleep until there is work, yet a
// stream made self-freeing after it ended is still freed.
TEST_F(FileTest, LoadedAndEndedStreamsLeaveTheEngineAsleep) {
    const std::string p = path("idle.wav");
    ASSERT_TRUE(write_wav_mono(p, 4410, sine(440, 0.5)));
    StreamHandle waiting(BASS_StreamCreateFile(FALSE, p.c_str(), 0, 0, 0));
    const HSTREAM ended = BASS_StreamCreateFile(FALSE, p.c_str(), 0, 0, 0);
    ASSERT_NE(waiting.get(), 0u);
    ASSERT_NE(ended, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(ended, FALSE));
    ASSERT_TRUE(wait_until([&] { return BASS_ChannelIsActive(ended) == BASS_ACTIVE_STOPPED; },
                           std::chrono::milliseconds(2000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the decoders settle

    const long decoders = switches_of("sl-decode");
    const long janitor = switches_of("sl-janitor");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    // Polling would be 20 wake-ups of the waiting decoder alone, 75 of the ended one's, and 15
    // of the janitor's.
    EXPECT_LT(switches_of("sl-decode") - decoders, 10);
    EXPECT_LT(switches_of("sl-janitor") - janitor, 5);

    BASS_ChannelFlags(ended, BASS_STREAM_AUTOFREE, BASS_STREAM_AUTOFREE);
    EXPECT_TRUE(freed_within_2s(ended)) << "an ended stream made self-freeing is freed";
    // The waiting one still plays at once.
    ASSERT_TRUE(BASS_ChannelPlay(waiting, FALSE));
    EXPECT_TRUE(wait_until([&] { return BASS_ChannelGetPosition(waiting, BASS_POS_BYTE) > 0; },
                           std::chrono::milliseconds(1000)));
}

TEST_F(FileTest, StopKeepsThePositionAndPauseNeedsAPlayingChannel) {
    const std::string p = path("two_seconds.wav");
    ASSERT_TRUE(write_wav_mono(p, 88200, sine(440, 0.5)));
    StreamHandle h(BASS_StreamCreateFile(FALSE, p.c_str(), 0, 0, 0));
    EXPECT_FALSE(BASS_ChannelPause(h));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOPLAY);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return position_s(h) > 0.1; }, std::chrono::milliseconds(2000)));
    ASSERT_TRUE(BASS_ChannelStop(h));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    const QWORD at = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    EXPECT_GT(at, 0u);
    sleep_ms(50);
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), at);
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 0, BASS_POS_BYTE));
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, TRUE));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
}

TEST_F(FileTest, UnicodePathsAndMemoryBlocksOpen) {
    const std::string p = path("Vinheta Ação.wav");
    ASSERT_TRUE(write_wav_mono(p, 4410, sine(440, 0.5)));
    const std::u16string wide = u"/Vinheta Ação.wav";
    std::u16string full;
    for (char c : devices.dir().path())
        full += static_cast<char16_t>(static_cast<unsigned char>(c)); // the temp folder is ASCII
    full += wide;
    StreamHandle h(BASS_StreamCreateFile(FALSE, full.c_str(), 0, 0, BASS_UNICODE | BASS_SAMPLE_SOFTWARE));
    EXPECT_NE(h.get(), 0u) << BASS_ErrorGetCode();

    const std::string bytes = read_file(p);
    StreamHandle m(BASS_StreamCreateFile(TRUE, bytes.data(), 0, bytes.size(), 0));
    ASSERT_NE(m.get(), 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_ChannelGetLength(m, BASS_POS_BYTE), 4410u * 8u);
    EXPECT_EQ(BASS_StreamCreateFile(TRUE, bytes.data(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
}

TEST_F(FileTest, InputsThatAreNotAudioFailWithTheirCode) {
    std::mt19937 rng(7);
    std::string random(200000, '\0');
    for (char& c : random)
        c = static_cast<char>(rng());
    ASSERT_TRUE(write_file(path("random.mp3"), random));
    ASSERT_TRUE(write_file(path("empty.wav"), ""));
    ASSERT_TRUE(write_file(path("text.mp3"), "<html><body>not found</body></html>\n"));

    struct Case {
        std::string file;
        int error;
    } cases[] = {
        {path("random.mp3"), BASS_ERROR_FILEFORM},   {path("empty.wav"), BASS_ERROR_FILEFORM},
        {path("text.mp3"), BASS_ERROR_FILEFORM},     {path("missing.mp3"), BASS_ERROR_FILEOPEN},
        {devices.dir().path(), BASS_ERROR_FILEOPEN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BASS_StreamCreateFile(FALSE, c.file.c_str(), 0, 0, 0), 0u) << c.file;
        EXPECT_EQ(BASS_ErrorGetCode(), c.error) << c.file;
    }
    // The WMA call on a file that is not WMA says the same.
    EXPECT_EQ(BASS_WMA_StreamCreateFile(FALSE, path("random.mp3").c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
}

TEST_F(FileTest, RandomBlocksNeverCrashOrHang) {
    std::mt19937 rng(2024);
    for (int i = 0; i < 60; ++i) {
        std::string block(16 + rng() % 20000, '\0');
        for (char& c : block)
            c = static_cast<char>(rng());
        if (i % 3 == 0)
            block.replace(0, 4, "RIFF"); // some start like a real header
        if (i % 3 == 1)
            block.replace(0, 3, "ID3");
        const auto start = std::chrono::steady_clock::now();
        const HSTREAM h = BASS_StreamCreateFile(TRUE, block.data(), 0, block.size(), 0);
        EXPECT_LT(elapsed_ms(start), 10000);
        if (h) { // by chance decodable: it must play and end like any file
            BASS_ChannelPlay(h, FALSE);
            BASS_StreamFree(h);
        } else {
            EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
        }
    }
}

TEST_F(FileTest, TruncatedFilePlaysWhatItHas) {
    const std::string full = path("full.mp3");
    ASSERT_TRUE(make_sine(full, 440, 2.0, {"-c:a", "libmp3lame", "-b:a", "128k"}));
    const std::string bytes = read_file(full);
    ASSERT_TRUE(write_file(path("half.mp3"), bytes.substr(0, bytes.size() / 2)));
    StreamHandle h(BASS_StreamCreateFile(FALSE, path("half.mp3").c_str(), 0, 0, 0));
    ASSERT_NE(h.get(), 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelSetPosition(h, BASS_ChannelSeconds2Bytes(h, 0.7), BASS_POS_BYTE));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(wait_until([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; },
                           std::chrono::milliseconds(3000)));
    EXPECT_NEAR(position_s(h), 1.0, 0.1);
}

} // namespace
