#pragma once
// Which demuxer reads a live network source, decided from its first bytes as soon as they tell:
// a signature FFmpeg is certain of (Ogg, WAV, MP4, ...) or a short chain of MPEG audio or ADTS
// frame headers. FFmpeg's own probing asks for far more: an MP3 stream that does not begin on a
// frame boundary (an IceCast burst) is recognised only after about 128 KiB, eight seconds of a
// 128 kbps station that sends at its real pace.
// Thread rules: a plain function.

#include <cstddef>
#include <cstdint>
#include <string>

namespace miravox::soundlib {

struct LiveFormat {
    enum class Verdict {
        NeedMore, // not decided yet: read more
        Found,    // `demuxer` reads it from byte `start` on (what lies before is no audio)
        Unknown,  // nothing recognised in the bytes we look at: leave it to FFmpeg's probing
    };
    Verdict verdict = Verdict::NeedMore;
    std::string demuxer;
    size_t start = 0;
};

// Looks at the first `size` bytes of a source; `complete` when no more will follow.
LiveFormat detect_live_format(const uint8_t* data, size_t size, bool complete);

} // namespace miravox::soundlib
