#pragma once
// Which demuxer reads a live network source, decided from its first bytes as soon as they tell:
// a signature FFmpeg is certain of (Ogg, WAV, MP4, ...) or a short chain of MPEG audio or ADTS
// frame headers. FFmpeg's own probing asks for far more: an MP3 stream that does not begin on a
// frame boundary (an IceCast burst) is recognised only after about 128 KiB, eight seconds of a
// 128 kbps station that sends at its real pace.
// An ID3 tag in front of the audio is passed over as it streams by, never held: a tag may
// announce up to 256 MiB. The bytes held to look at are capped (kLookAheadCap).
// Thread rules: plain functions; a LookAheadSource belongs to the thread that opens.

#include <cstddef>
#include <cstdint>
#include <string>

namespace miravox::soundlib {

struct LiveFormat {
    enum class Verdict {
        NeedMore, // not decided yet: read more
        Found,    // `demuxer` reads it from byte `start` on (what lies before is no audio)
        Unknown,  // nothing recognised in the bytes we look at: leave it to FFmpeg's probing
        Skip,     // the first `start` bytes are an ID3 tag: pass over them and look again
    };
    Verdict verdict = Verdict::NeedMore;
    std::string demuxer;
    size_t start = 0;
};

// Looks at the first `size` bytes of a source; `complete` when no more will follow.
LiveFormat detect_live_format(const uint8_t* data, size_t size, bool complete);

class LookAheadSource;

// Reads the first bytes of `ahead` until they tell its format, passing over ID3 tags. Never
// Skip nor NeedMore: when the cap is reached or the source ends first, Unknown (or what the
// bytes held tell by then). Found's `start` counts from the head as it is now.
LiveFormat find_live_format(LookAheadSource& ahead);

} // namespace miravox::soundlib
