#include "byte_source.h"

#include "ffmpeg_util.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace miravox::soundlib {

namespace {

constexpr int kAvioBufferSize = 32 * 1024;

// Resolves a seek request against a window of known size; -1 when out of range.
int64_t seek_in_window(int64_t pos, int64_t size, int64_t offset, int whence) {
    int64_t target = -1;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        target = offset;
        break;
    case SEEK_CUR:
        target = pos + offset;
        break;
    case SEEK_END:
        target = size + offset;
        break;
    default:
        return -1;
    }
    return target < 0 ? -1 : target;
}

class FileSource final : public ByteSource {
  public:
    FileSource(int fd, std::string path, uint64_t start, int64_t size)
        : fd_(fd), path_(std::move(path)), start_(start), size_(size) {}
    ~FileSource() override { ::close(fd_); }

    int read(uint8_t* buf, int size) override {
        const int64_t left = size_ - pos_;
        if (left <= 0)
            return AVERROR_EOF;
        const size_t want = static_cast<size_t>(std::min<int64_t>(left, size));
        for (;;) {
            const ssize_t n = ::pread(fd_, buf, want, static_cast<off_t>(start_ + pos_));
            if (n > 0) {
                pos_ += n;
                bytes_read_.fetch_add(static_cast<uint64_t>(n));
                return static_cast<int>(n);
            }
            if (n == 0)
                return AVERROR_EOF;
            if (errno != EINTR)
                return AVERROR(errno);
        }
    }
    int64_t seek(int64_t offset, int whence) override {
        if (whence == AVSEEK_SIZE)
            return size_;
        const int64_t target = seek_in_window(pos_, size_, offset, whence);
        if (target < 0)
            return AVERROR(EINVAL);
        pos_ = target;
        return pos_;
    }
    bool seekable() const override { return true; }
    int64_t size() const override { return size_; }
    std::unique_ptr<ByteSource> clone() const override {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        return std::make_unique<FileSource>(fd, path_, start_, size_);
    }

  private:
    int fd_;
    std::string path_;
    uint64_t start_;
    int64_t size_;
    int64_t pos_ = 0;
};

class MemorySource final : public ByteSource {
  public:
    MemorySource(const uint8_t* data, int64_t size) : data_(data), size_(size) {}
    int read(uint8_t* buf, int size) override {
        const int64_t left = size_ - pos_;
        if (left <= 0)
            return AVERROR_EOF;
        const int n = static_cast<int>(std::min<int64_t>(left, size));
        std::memcpy(buf, data_ + pos_, static_cast<size_t>(n));
        pos_ += n;
        bytes_read_.fetch_add(static_cast<uint64_t>(n));
        return n;
    }
    int64_t seek(int64_t offset, int whence) override {
        if (whence == AVSEEK_SIZE)
            return size_;
        const int64_t target = seek_in_window(pos_, size_, offset, whence);
        if (target < 0)
            return AVERROR(EINVAL);
        pos_ = target;
        return pos_;
    }
    bool seekable() const override { return true; }
    int64_t size() const override { return size_; }
    std::unique_ptr<ByteSource> clone() const override {
        return std::make_unique<MemorySource>(data_, size_);
    }

  private:
    const uint8_t* data_;
    int64_t size_;
    int64_t pos_ = 0;
};

class HttpBodySource final : public LiveByteSource {
  public:
    HttpBodySource(std::unique_ptr<HttpConnection> conn, Interrupt& intr)
        : conn_(std::move(conn)), intr_(intr) {}
    int read(uint8_t* buf, int size) override {
        const int n = conn_->read(buf, size, intr_);
        if (n > 0) {
            bytes_read_.fetch_add(static_cast<uint64_t>(n));
            return n;
        }
        // The server closing the body ends the stream (for a live stream: it was dropped).
        return n == 0 ? AVERROR_EOF : n;
    }
    LinkState pump(std::chrono::milliseconds read_timeout) override { return conn_->pump(read_timeout); }
    LinkState link() const override { return conn_->link(); }

  private:
    std::unique_ptr<HttpConnection> conn_;
    Interrupt& intr_;
};

// Bytes that FFmpeg's protocols download (https): FFmpeg watches the connection itself.
class ProtocolSource final : public LiveByteSource {
  public:
    ProtocolSource(AVIOContext* ctx, Interrupt& intr) : ctx_(ctx), intr_(intr) {}
    ~ProtocolSource() override { avio_closep(&ctx_); }
    int read(uint8_t* buf, int size) override {
        const int n = avio_read_partial(ctx_, buf, size);
        if (n > 0) {
            intr_.note_data();
            bytes_read_.fetch_add(static_cast<uint64_t>(n));
            return n;
        }
        return n == 0 ? AVERROR_EOF : n;
    }

  private:
    AVIOContext* ctx_;
    Interrupt& intr_;
};

int avio_read_cb(void* opaque, uint8_t* buf, int size) {
    return static_cast<ByteSource*>(opaque)->read(buf, size);
}

int64_t avio_seek_cb(void* opaque, int64_t offset, int whence) {
    return static_cast<ByteSource*>(opaque)->seek(offset, whence);
}

} // namespace

std::unique_ptr<ByteSource> open_file_source(const std::string& path, uint64_t offset, uint64_t length,
                                             int& averror) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        averror = AVERROR(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        averror = AVERROR(S_ISDIR(st.st_mode) ? EISDIR : errno);
        ::close(fd);
        return nullptr;
    }
    const uint64_t file_size = static_cast<uint64_t>(st.st_size);
    if (offset > file_size) {
        averror = AVERROR(EINVAL);
        ::close(fd);
        return nullptr;
    }
    uint64_t window = file_size - offset;
    if (length != 0)
        window = std::min(window, length);
    return std::make_unique<FileSource>(fd, path, offset, static_cast<int64_t>(window));
}

std::unique_ptr<ByteSource> memory_source(const void* data, uint64_t length) {
    return std::make_unique<MemorySource>(static_cast<const uint8_t*>(data), static_cast<int64_t>(length));
}

std::unique_ptr<ByteSource> http_body_source(std::unique_ptr<HttpConnection> conn, Interrupt& intr) {
    return std::make_unique<HttpBodySource>(std::move(conn), intr);
}

namespace {

std::string option_text(AVIOContext* ctx, const char* name) {
    uint8_t* text = nullptr;
    if (av_opt_get(ctx, name, AV_OPT_SEARCH_CHILDREN, &text) < 0 || !text)
        return {};
    std::string out(reinterpret_cast<char*>(text));
    av_free(text);
    return out;
}

} // namespace

ProtocolAnswer ffmpeg_protocol_source(const std::string& url, const std::string& agent, int timeout_ms,
                                      Interrupt& intr) {
    ProtocolAnswer a;
    AVDictionary* opts = nullptr;
    if (!agent.empty())
        av_dict_set(&opts, "user_agent", agent.c_str(), 0);
    if (timeout_ms > 0)
        av_dict_set_int(&opts, "timeout", int64_t(timeout_ms) * 1000, 0);
    AVIOContext* ctx = nullptr;
    const AVIOInterruptCB cb = intr.callback();
    a.averror = avio_open2(&ctx, url.c_str(), AVIO_FLAG_READ, &cb, &opts);
    av_dict_free(&opts);
    if (a.averror < 0)
        return a;
    a.icy_lines = icy_header_lines(ctx);
    a.content_type = option_text(ctx, "mime_type");
    a.location = option_text(ctx, "location");
    if (a.location.empty())
        a.location = url;
    a.body = std::make_unique<ProtocolSource>(ctx, intr);
    return a;
}

std::vector<std::string> icy_header_lines(AVIOContext* pb) {
    std::vector<std::string> lines;
    uint8_t* text = nullptr;
    if (!pb || av_opt_get(pb, "icy_metadata_headers", AV_OPT_SEARCH_CHILDREN, &text) < 0 || !text)
        return lines;
    const std::string all(reinterpret_cast<char*>(text));
    av_free(text);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos)
            end = all.size();
        std::string line = all.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool LookAheadSource::read_more() {
    if (full())
        return false;
    uint8_t buf[16 * 1024];
    const int n = inner_->read(buf, static_cast<int>(std::min(sizeof buf, kCap - head_.size())));
    if (n <= 0)
        return false;
    head_.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
    bytes_read_.fetch_add(static_cast<uint64_t>(n));
    return true;
}

bool LookAheadSource::skip(uint64_t n) {
    const size_t held = static_cast<size_t>(std::min<uint64_t>(n, head_.size()));
    head_.erase(0, held);
    skipped_ += held;
    n -= held;
    uint8_t buf[16 * 1024];
    while (n > 0) {
        const int got = inner_->read(buf, static_cast<int>(std::min<uint64_t>(sizeof buf, n)));
        if (got <= 0)
            return false;
        bytes_read_.fetch_add(static_cast<uint64_t>(got));
        skipped_ += static_cast<uint64_t>(got);
        n -= static_cast<uint64_t>(got);
    }
    return true;
}

int LookAheadSource::read(uint8_t* buf, int size) {
    if (served_ < head_.size()) {
        const size_t n = std::min(static_cast<size_t>(size), head_.size() - served_);
        std::memcpy(buf, head_.data() + served_, n);
        served_ += n;
        if (served_ == head_.size()) { // served whole: the memory goes
            std::string().swap(head_);
            served_ = 0;
        }
        return static_cast<int>(n);
    }
    const int n = inner_->read(buf, size);
    if (n > 0)
        bytes_read_.fetch_add(static_cast<uint64_t>(n));
    return n;
}

int64_t LiveByteSource::seek(int64_t, int) {
    return AVERROR(ESPIPE);
}

AVIOContext* make_avio(ByteSource& source) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kAvioBufferSize));
    if (!buffer)
        return nullptr;
    AVIOContext* ctx = avio_alloc_context(buffer, kAvioBufferSize, 0, &source, &avio_read_cb, nullptr,
                                          source.seekable() ? &avio_seek_cb : nullptr);
    if (!ctx) {
        av_free(buffer);
        return nullptr;
    }
    ctx->seekable = source.seekable() ? AVIO_SEEKABLE_NORMAL : 0;
    return ctx;
}

} // namespace miravox::soundlib
