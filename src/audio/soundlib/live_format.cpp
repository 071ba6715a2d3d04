#include "live_format.h"

#include "byte_source.h"

#include <optional>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace miravox::soundlib {

namespace {

// How far we look for a chain of frames before leaving the source to FFmpeg: many frames of
// any bit rate, and more than one Ogg page.
constexpr size_t kLookLimit = 64 * 1024;
// Consistent headers in a row that make a chain of frames: where the body begins, a frame and
// the header that follows it; anywhere else (a burst cut at a random byte) one more, so that a
// stray sync pattern inside another frame cannot pass.
constexpr int kChainAtStart = 2;
constexpr int kChainInside = 3;
// A signature score above what a file extension alone earns: FFmpeg is sure of the format.
constexpr int kCertainScore = AVPROBE_SCORE_EXTENSION;

struct FrameHeader {
    uint32_t key = 0; // the fields that stay the same from frame to frame of one stream
    size_t length = 0;
};

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// An MPEG-1, -2 or -2.5 audio frame header (layers I to III) with a fixed bit rate.
std::optional<FrameHeader> mpeg_audio_header(const uint8_t* p) {
    const uint32_t h = be32(p);
    if ((h & 0xFFE00000u) != 0xFFE00000u)
        return std::nullopt;
    const int version = (h >> 19) & 3; // 0: 2.5, 1: reserved, 2: 2, 3: 1
    const int layer = (h >> 17) & 3;   // 1: III, 2: II, 3: I, 0: reserved
    const int bitrate_index = (h >> 12) & 15;
    const int rate_index = (h >> 10) & 3;
    const int padding = (h >> 9) & 1;
    if (version == 1 || layer == 0 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3 ||
        (h & 3) == 2)
        return std::nullopt;
    static const int kKbps[5][14] = {
        {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG-1 layer I
        {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG-1 layer II
        {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 layer III
        {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG-2/2.5 layer I
        {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // MPEG-2/2.5 layers II, III
    };
    static const int kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int rate = kRates[rate_index] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int table = mpeg1 ? 3 - layer : layer == 3 ? 3 : 4;
    const long bps = kKbps[table][bitrate_index - 1] * 1000L;
    FrameHeader f;
    if (layer == 3)
        f.length = static_cast<size_t>((12 * bps / rate + padding) * 4);
    else if (layer == 1 && !mpeg1)
        f.length = static_cast<size_t>(72 * bps / rate + padding);
    else
        f.length = static_cast<size_t>(144 * bps / rate + padding);
    f.key = h & 0xFFFE0C00u; // sync, version, layer, sample rate
    return f;
}

// An ADTS header (AAC in frames of its own).
std::optional<FrameHeader> adts_header(const uint8_t* p) {
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) // sync, layer 0
        return std::nullopt;
    if (((p[2] >> 2) & 15) >= 13) // sampling frequency index
        return std::nullopt;
    const size_t header = (p[1] & 1) ? 7 : 9;
    const size_t length = size_t(p[3] & 3) << 11 | size_t(p[4]) << 3 | p[5] >> 5;
    if (length <= header)
        return std::nullopt;
    FrameHeader f;
    f.length = length;
    f.key = uint32_t(p[1]) << 16 | uint32_t(p[2] & 0xFD) << 8 | (p[3] & 0xC0); // all but "private"
    return f;
}

struct FrameKind {
    const char* demuxer;
    size_t header_bytes;
    std::optional<FrameHeader> (*parse)(const uint8_t*);
};

const FrameKind kFrameKinds[] = {{"mp3", 4, mpeg_audio_header}, {"aac", 7, adts_header}};

enum class Chain { Broken, Complete, Cut };

// Whether `need` consistent frame headers follow one another from `at` on; Cut when the data
// ends before the chain could be judged.
Chain chain_at(const uint8_t* data, size_t size, size_t at, const FrameKind& kind, int need) {
    uint32_t key = 0;
    for (int i = 0; i < need; ++i) {
        if (at + kind.header_bytes > size)
            return Chain::Cut;
        const auto f = kind.parse(data + at);
        if (!f || (i > 0 && f->key != key))
            return Chain::Broken;
        key = f->key;
        at += f->length;
    }
    return Chain::Complete;
}

// The whole length of an ID3v2 tag that begins at `p` (10 bytes at least): header, body and
// the footer when the flags announce one.
size_t id3_length(const uint8_t* p) {
    const size_t body = size_t(p[6] & 0x7F) << 21 | size_t(p[7] & 0x7F) << 14 | size_t(p[8] & 0x7F) << 7 |
                        (p[9] & 0x7F);
    return 10 + body + ((p[5] & 0x10) ? 10 : 0);
}

bool begins_id3(const uint8_t* data, size_t size) {
    static const char kMagic[] = "ID3";
    for (size_t i = 0; i < std::min<size_t>(size, 3); ++i)
        if (data[i] != uint8_t(kMagic[i]))
            return false;
    return true;
}

// FFmpeg's verdict when it is certain from a signature.
const AVInputFormat* certain_format(const uint8_t* data, size_t size) {
    std::vector<uint8_t> padded(size + AVPROBE_PADDING_SIZE, 0);
    std::copy(data, data + size, padded.begin());
    AVProbeData pd{};
    pd.filename = "";
    pd.buf = padded.data();
    pd.buf_size = static_cast<int>(size);
    int score = 0;
    const AVInputFormat* f = av_probe_input_format3(&pd, 1, &score);
    return score > kCertainScore ? f : nullptr;
}

} // namespace

LiveFormat detect_live_format(const uint8_t* data, size_t size, bool complete) {
    LiveFormat out;
    if (begins_id3(data, size) && (size >= 3 || !complete)) {
        if (size >= 10) {
            out.verdict = LiveFormat::Verdict::Skip;
            out.start = id3_length(data);
        } else {
            out.verdict = complete ? LiveFormat::Verdict::Unknown : LiveFormat::Verdict::NeedMore;
        }
        return out;
    }
    if (const AVInputFormat* f = certain_format(data, size)) {
        out.verdict = LiveFormat::Verdict::Found;
        out.demuxer = f->name;
        return out;
    }
    const size_t end = std::min(size, kLookLimit);
    for (size_t at = 0; at < end; ++at) {
        for (const FrameKind& kind : kFrameKinds) {
            const Chain c = chain_at(data, size, at, kind, at == 0 ? kChainAtStart : kChainInside);
            if (c == Chain::Complete) {
                out.verdict = LiveFormat::Verdict::Found;
                out.demuxer = kind.demuxer;
                out.start = at;
                return out;
            }
            if (c == Chain::Cut && !complete)
                return out; // a chain may begin here: wait for the rest of it
        }
    }
    out.verdict = complete || size >= kLookLimit ? LiveFormat::Verdict::Unknown : LiveFormat::Verdict::NeedMore;
    return out;
}

LiveFormat find_live_format(LookAheadSource& ahead) {
    bool more = true;
    for (;;) {
        const std::string& head = ahead.head();
        const LiveFormat format = detect_live_format(reinterpret_cast<const uint8_t*>(head.data()), head.size(),
                                                     !more || ahead.full());
        switch (format.verdict) {
        case LiveFormat::Verdict::Skip:
            // The tag streams past: nothing of it is kept, however long it says it is.
            if (!ahead.skip(format.start))
                more = false;
            break;
        case LiveFormat::Verdict::NeedMore:
            more = ahead.read_more();
            break;
        default:
            return format;
        }
    }
}

} // namespace miravox::soundlib
