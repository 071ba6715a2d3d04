#pragma once
// Where a stream's encoded bytes come from: a file (or a window of it), a block of memory,
// or the body of an HTTP response. FFmpeg reads them through an AVIOContext.
// Thread rules: one reading (and pumping) thread at a time; bytes_read() and size() from any thread.

#include "http_client.h"
#include "interrupt.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace miravox::soundlib {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // > 0 bytes read, AVERROR_EOF at the end, another AVERROR on failure.
    virtual int read(uint8_t* buf, int size) = 0;
    // Like lseek; AVSEEK_SIZE asks for the size. Negative when not possible.
    virtual int64_t seek(int64_t offset, int whence) = 0;
    virtual bool seekable() const = 0;
    virtual int64_t size() const = 0; // -1 unknown
    uint64_t bytes_read() const { return bytes_read_.load(); }
    // An independent reader of the same bytes (nullptr when the bytes cannot be read twice).
    virtual std::unique_ptr<ByteSource> clone() const = 0;
    // A source that downloads takes in what has arrived, without waiting (see HttpConnection).
    // Others have no link to watch.
    virtual LinkState pump(std::chrono::milliseconds /*read_timeout*/) { return {}; }
    virtual LinkState link() const { return {}; }

  protected:
    std::atomic<uint64_t> bytes_read_{0};
};

// A source that comes once, as it arrives (a download): it cannot seek, has no known size and
// cannot be read twice.
class LiveByteSource : public ByteSource {
  public:
    int64_t seek(int64_t, int) override;
    bool seekable() const override { return false; }
    int64_t size() const override { return -1; }
    std::unique_ptr<ByteSource> clone() const override { return nullptr; }
};

// Opens `path` (UTF-8), reading from `offset` for `length` bytes (0 = to the end).
// Returns nullptr and sets `averror` when the file cannot be opened.
std::unique_ptr<ByteSource> open_file_source(const std::string& path, uint64_t offset, uint64_t length,
                                             int& averror);
std::unique_ptr<ByteSource> memory_source(const void* data, uint64_t length);
std::unique_ptr<ByteSource> http_body_source(std::unique_ptr<HttpConnection> conn, Interrupt& intr);

// The answer to an address that FFmpeg's own protocols open (https), connected and with its
// response header read within `intr`. FFmpeg follows redirects itself, to any scheme.
struct ProtocolAnswer {
    std::unique_ptr<ByteSource> body; // nullptr on failure, then `averror` says why
    int averror = 0;
    std::vector<std::string> icy_lines; // the server's "icy-" header lines
    std::string content_type;
    std::string location; // where the body came from, after redirects
};
ProtocolAnswer ffmpeg_protocol_source(const std::string& url, const std::string& agent, int timeout_ms,
                                      Interrupt& intr);

// The "icy-" response header lines that FFmpeg's http protocol kept for `pb`.
std::vector<std::string> icy_header_lines(AVIOContext* pb);

// A live source whose first bytes are read ahead, to be looked at, and then served again.
// What it holds is capped: a source that has not told its format within the cap is left to
// FFmpeg's probing, which has a cap of its own.
class LookAheadSource final : public LiveByteSource {
  public:
    static constexpr size_t kCap = 1024 * 1024;

    explicit LookAheadSource(std::unique_ptr<ByteSource> inner) : inner_(std::move(inner)) {}
    // Reads what the source has next (at least a byte). False at its end, on a failure, or when
    // the head is full.
    bool read_more();
    bool full() const { return head_.size() >= kCap; }
    const std::string& head() const { return head_; }
    // Passes over the next `n` bytes (those held first), reading and dropping the rest as they
    // arrive. False when the source ended or failed first. Only before anything was served.
    bool skip(uint64_t n);
    uint64_t skipped() const { return skipped_; }
    // The first `n` bytes of the head are not served.
    void drop_head(size_t n) { served_ = std::max(served_, std::min(n, head_.size())); }

    int read(uint8_t* buf, int size) override;
    LinkState pump(std::chrono::milliseconds read_timeout) override { return inner_->pump(read_timeout); }
    LinkState link() const override { return inner_->link(); }

  private:
    std::unique_ptr<ByteSource> inner_;
    std::string head_;
    size_t served_ = 0;
    uint64_t skipped_ = 0;
};

// An AVIOContext reading `source` (which must outlive it).
AVIOContext* make_avio(ByteSource& source);

} // namespace miravox::soundlib
