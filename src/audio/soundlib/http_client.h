#pragma once
// A small HTTP/1.0 client for ShoutCast/IceCast streams. We do the HTTP ourselves (instead of
// FFmpeg's http protocol) to keep the response header lines exactly as the server sent them
// (BASS_TAG_HTTP), to bound every step with our own deadline and stop flag, and to tell
// "refused", "timed out" and "HTTP status" apart. The body is handed to FFmpeg through AVIO.
// While the player rests (its decoded buffer full), pump() takes whatever the socket holds into
// a buffer of its own, so that a server that closed the connection or went silent is noticed at
// once instead of after the backlog in the socket has been decoded.
// Thread rules: open() blocks its caller; afterwards one thread at a time reads and pumps the
// body; bytes_received() and header accessors may be called from any thread.

#include "interrupt.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace miravox::soundlib {

struct HttpUrl {
    std::string scheme; // lower case
    std::string host;
    int port = 80;
    std::string path = "/"; // path and query
    std::string userinfo;

    static bool parse(const std::string& url, HttpUrl& out);
    std::string host_header() const;
    std::string to_string() const;
    // Resolves a Location value against this URL.
    std::string resolve(const std::string& location) const;
};

struct HttpOpenResult;

// Whether `host` resolves before `intr` aborts: BASS_OK, BASS_ERROR_TIMEOUT when the deadline
// passed first, BASS_ERROR_FILEOPEN when the name does not resolve (`reason` says why). The
// system's resolver has no time-out, so it runs on a thread of its own that we stop waiting for.
int check_host_resolves(const std::string& host, Interrupt& intr, std::string& reason);

// The connection under a stream, as its last pump saw it.
struct LinkState {
    bool pumped = false;         // a connection we download ourselves (false: files, FFmpeg's network)
    bool closed = false;         // the server closed or reset it
    bool silent = false;         // nothing came for the read time-out: we gave up on it
    int64_t silent_since_ns = 0; // steady time of the last byte (or of the last time we held back)
    bool down() const { return closed || silent; }
};

class HttpConnection {
  public:
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Connects, sends a GET and reads the response header, following up to 5 redirects within
    // http://. Blocks until done or `intr` aborts (deadline or stop).
    static HttpOpenResult open(const std::string& url, const std::string& agent, Interrupt& intr);

    int status() const { return status_; }
    const std::vector<std::string>& header_lines() const { return lines_; } // status line first
    std::string header(const std::string& name) const;                      // case-insensitive, trimmed
    const std::string& url() const { return url_; }

    // Body bytes: > 0 read, 0 the server ended the body, < 0 an AVERROR (AVERROR_EXIT when
    // `intr` aborted, AVERROR(EIO) when the connection broke).
    int read(uint8_t* buf, int size, Interrupt& intr);
    uint64_t bytes_received() const { return bytes_received_.load(); }

    // Takes what the socket holds, without waiting, up to a cap of unread bytes (past it the
    // server waits for us, and that wait does not count as its silence). After `read_timeout`
    // (0: none) without a byte the connection is given up: read() serves what was taken, then
    // fails with AVERROR(ETIMEDOUT).
    LinkState pump(std::chrono::milliseconds read_timeout);
    LinkState link() const;

  private:
    HttpConnection() = default;
    int raw_read(uint8_t* buf, int size, Interrupt& intr);
    void compact();
    int read_chunked(uint8_t* buf, int size, Interrupt& intr);
    bool read_chunk_size(Interrupt& intr, int& err);

    int fd_ = -1;
    int status_ = 0;
    std::string url_;
    std::vector<std::string> lines_;
    std::string pending_; // body bytes received but not read yet (with the header, or pumped)
    size_t pending_pos_ = 0;
    int64_t silent_since_ns_ = 0;
    bool peer_closed_ = false;
    bool broken_ = false;  // reset, or another socket error
    bool gave_up_ = false; // silent for the read time-out
    bool chunked_ = false;
    uint64_t chunk_left_ = 0;
    bool chunk_done_ = false;
    std::atomic<uint64_t> bytes_received_{0};

    friend struct HttpOpenResult;

// Whether `host` resolves before `intr` aborts: BASS_OK, BASS_ERROR_TIMEOUT when the deadline
// passed first, BASS_ERROR_FILEOPEN when the name does not resolve (`reason` says why). The
// system's resolver has no time-out, so it runs on a thread of its own that we stop waiting for.
int check_host_resolves(const std::string& host, Interrupt& intr, std::string& reason);
    friend class HttpOpener;
};

struct HttpOpenResult {
    std::unique_ptr<HttpConnection> connection; // set on success
    int error = 0;                              // engine error code on failure
    std::string reason;                         // for the log line
    std::string redirect_elsewhere;             // a redirect to a scheme we leave to FFmpeg (https)
};

} // namespace miravox::soundlib
