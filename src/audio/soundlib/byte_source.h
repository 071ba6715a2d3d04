#pragma once
// Where a stream's encoded bytes come from: a file (or a window of it), a block of memory,
// or the body of an HTTP response. FFmpeg reads them through an AVIOContext.
// Thread rules: one reading (and pumping) thread at a time; bytes_read() and size() from any thread.

#include "http_client.h"
#include "interrupt.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

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

// Opens `path` (UTF-8), reading from `offset` for `length` bytes (0 = to the end).
// Returns nullptr and sets `averror` when the file cannot be opened.
std::unique_ptr<ByteSource> open_file_source(const std::string& path, uint64_t offset, uint64_t length,
                                             int& averror);
std::unique_ptr<ByteSource> memory_source(const void* data, uint64_t length);
std::unique_ptr<ByteSource> http_body_source(std::unique_ptr<HttpConnection> conn, Interrupt& intr);

// An AVIOContext reading `source` (which must outlive it).
AVIOContext* make_avio(ByteSource& source);

} // namespace miravox::soundlib
