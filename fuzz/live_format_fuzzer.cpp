// The first bytes of a live stream, as the engine looks at them to tell the stream's format:
// a download that arrives in pieces of any size, may begin with ID3 tags of any announced
// length, and may go on far longer than the input (the input is repeated, so a few kilobytes
// can stand for megabytes of a stream and reach the caps).
//
// Input: byte 0 how long the stream is (0: the rest once; else 16 KiB times it, the rest
// repeated, about 4 MiB at most), bytes 1 and 2 seed the sizes of the pieces the download arrives in; the rest is the stream.
// Properties: the look-ahead never holds more than its cap; the verdict is Found or Unknown and
// a Found start lies within what is held; what the demuxer is then served is exactly the stream
// from the verdict's start on (nothing lost, nothing served twice, the tags passed over).

#include "byte_source.h"
#include "fuzz_check.h"
#include "live_format.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" {
#include <libavutil/error.h>
}

using miravox::fuzz::check;
using namespace miravox::soundlib;

namespace {

constexpr size_t kMaxStream = 4u << 20;

// A download of `stream` in pieces whose sizes follow a small generator.
class PiecewiseSource final : public LiveByteSource {
  public:
    PiecewiseSource(const std::string& stream, uint32_t seed) : stream_(stream), state_(seed | 1) {}
    int read(uint8_t* buf, int size) override {
        if (at_ >= stream_.size())
            return AVERROR_EOF;
        state_ = state_ * 1103515245u + 12345u;
        const size_t piece = 1 + (state_ >> 8) % 20000;
        const size_t n = std::min({piece, static_cast<size_t>(size), stream_.size() - at_});
        std::memcpy(buf, stream_.data() + at_, n);
        at_ += n;
        return static_cast<int>(n);
    }

  private:
    const std::string& stream_;
    size_t at_ = 0;
    uint32_t state_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    const std::string unit(reinterpret_cast<const char*>(data + 3), size - 3);
    const size_t length = data[0] == 0 ? unit.size() : std::min(kMaxStream, size_t(data[0]) * 16 * 1024);
    std::string stream;
    stream.reserve(length);
    while (stream.size() < length)
        stream.append(unit, 0, std::min(unit.size(), length - stream.size()));

    LookAheadSource ahead(std::make_unique<PiecewiseSource>(stream, uint32_t(data[1]) << 8 | data[2]));
    const LiveFormat format = find_live_format(ahead);
    check(ahead.head().size() <= LookAheadSource::kCap, "the look-ahead holds no more than its cap");
    check(format.verdict == LiveFormat::Verdict::Found || format.verdict == LiveFormat::Verdict::Unknown,
          "the look-ahead ends with a verdict");
    check(ahead.skipped() <= stream.size(), "no more passed over than came");
    if (format.verdict == LiveFormat::Verdict::Found) {
        check(!format.demuxer.empty(), "a found format names its demuxer");
        check(format.start <= ahead.head().size(), "a found start lies within what was looked at");
        ahead.drop_head(format.start);
    }
    const size_t from = static_cast<size_t>(ahead.skipped()) +
                        (format.verdict == LiveFormat::Verdict::Found ? format.start : 0);
    size_t at = from;
    uint8_t buf[32 * 1024];
    for (int n; (n = ahead.read(buf, sizeof buf)) > 0; at += static_cast<size_t>(n))
        check(at + static_cast<size_t>(n) <= stream.size() && std::memcmp(buf, stream.data() + at, n) == 0,
              "the demuxer is served the stream itself from the verdict's start");
    check(at == stream.size(), "the demuxer is served the stream to its end");
    return 0;
}
