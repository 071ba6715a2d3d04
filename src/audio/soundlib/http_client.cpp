#include "http_client.h"

#include "soundlib.h"
#include "text_encoding.h"

#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavutil/base64.h>
#include <libavutil/error.h>
}

namespace miravox::soundlib {

namespace {

constexpr int kPollSliceMs = 50;
constexpr size_t kMaxHeaderBytes = 64 * 1024;
constexpr int kMaxRedirects = 5;
// Unread body bytes a pump keeps at most: minutes of a radio stream, so a server is held back
// only when it sends far faster than we play.
constexpr size_t kPumpCap = 4 * 1024 * 1024;
constexpr size_t kPumpSlice = 64 * 1024;
// Consumed bytes at the front of the body buffer are dropped once there are this many.
constexpr size_t kCompactAt = 64 * 1024;

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Waits until `fd` is ready for `events`, in short slices so that `intr` can abort.
// Returns 1 ready, 0 aborted.
int wait_fd(int fd, short events, Interrupt& intr) {
    for (;;) {
        if (intr.should_abort())
            return 0;
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, kPollSliceMs);
        if (rc > 0)
            return 1;
        if (rc < 0 && errno != EINTR)
            return 1; // let the following call report the error
    }
}

// getaddrinfo has no time-out: a host name is resolved on a helper thread that we stop
// waiting for when `intr` aborts (it then finishes and cleans up on its own).
struct Resolution {
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    int rc = 0;
    addrinfo* result = nullptr;
    ~Resolution() {
        if (result)
            freeaddrinfo(result);
    }
};

using AddrList = std::shared_ptr<Resolution>;

AddrList resolve(const std::string& host, int port, Interrupt& intr, int& gai_error) {
    auto res = std::make_shared<Resolution>();
    const std::string service = std::to_string(port);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &res->result) == 0) {
        res->done = true;
        return res;
    }
    res->result = nullptr;
    std::thread([res, host, service] {
        addrinfo h{};
        h.ai_socktype = SOCK_STREAM;
        h.ai_flags = AI_NUMERICSERV;
        addrinfo* out = nullptr;
        const int rc = getaddrinfo(host.c_str(), service.c_str(), &h, &out);
        std::lock_guard lock(res->mutex);
        res->rc = rc;
        res->result = out;
        res->done = true;
        res->done_cv.notify_all();
    }).detach();
    std::unique_lock lock(res->mutex);
    while (!res->done) {
        if (intr.should_abort())
            return nullptr;
        res->done_cv.wait_for(lock, std::chrono::milliseconds(kPollSliceMs));
    }
    gai_error = res->rc;
    return res->rc == 0 ? res : nullptr;
}

int resolution_error(Interrupt& intr, int gai_error, std::string& reason) {
    if (intr.timed_out()) {
        reason = "host name not resolved in time";
        return BASS_ERROR_TIMEOUT;
    }
    if (gai_error == 0) {
        reason = "stopped while resolving the host name";
        return BASS_ERROR_UNKNOWN;
    }
    reason = std::string("cannot resolve host: ") + gai_strerror(gai_error);
    return BASS_ERROR_FILEOPEN;
}

int connect_one(const addrinfo* ai, Interrupt& intr, int& err) {
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0)
        return fd;
    if (errno != EINPROGRESS) {
        err = errno;
        ::close(fd);
        return -1;
    }
    if (!wait_fd(fd, POLLOUT, intr)) {
        err = ETIMEDOUT;
        ::close(fd);
        return -1;
    }
    int so_error = 0;
    socklen_t len = sizeof so_error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len);
    if (so_error != 0) {
        err = so_error;
        ::close(fd);
        return -1;
    }
    return fd;
}

bool send_all(int fd, const std::string& data, Interrupt& intr) {
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (!wait_fd(fd, POLLOUT, intr))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

std::string basic_auth(const std::string& userinfo) {
    std::string out(AV_BASE64_SIZE(userinfo.size()), '\0');
    av_base64_encode(out.data(), static_cast<int>(out.size()),
                     reinterpret_cast<const uint8_t*>(userinfo.data()), static_cast<int>(userinfo.size()));
    out.resize(std::strlen(out.c_str()));
    return out;
}

bool starts_with_status(const std::string& head) {
    const std::string u = ascii_upper(head.substr(0, 5));
    const std::string want1 = std::string("HTTP/").substr(0, u.size());
    const std::string want2 = std::string("ICY ").substr(0, std::min<size_t>(u.size(), 4));
    return u.compare(0, want1.size(), want1) == 0 || u.compare(0, want2.size(), want2) == 0;
}

} // namespace

int check_host_resolves(const std::string& host, Interrupt& intr, std::string& reason) {
    int gai_error = 0;
    if (resolve(host, 80, intr, gai_error))
        return BASS_OK;
    return resolution_error(intr, gai_error, reason);
}

bool HttpUrl::parse(const std::string& url, HttpUrl& out) {
    const auto sep = url.find("://");
    if (sep == std::string::npos)
        return false;
    out.scheme = lower(url.substr(0, sep));
    std::string rest = url.substr(sep + 3);
    const auto frag = rest.find('#');
    if (frag != std::string::npos)
        rest.resize(frag);
    const auto path_at = rest.find_first_of("/?");
    std::string authority = rest.substr(0, path_at);
    out.path = path_at == std::string::npos ? "/" : rest.substr(path_at);
    if (!out.path.empty() && out.path[0] == '?')
        out.path = "/" + out.path;
    const auto at = authority.rfind('@');
    if (at != std::string::npos) {
        out.userinfo = authority.substr(0, at);
        authority = authority.substr(at + 1);
    }
    out.port = out.scheme == "https" ? 443 : 80;
    std::string port_text;
    if (!authority.empty() && authority[0] == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos)
            return false;
        out.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size() && authority[close + 1] == ':')
            port_text = authority.substr(close + 2);
    } else {
        const auto colon = authority.rfind(':');
        out.host = authority.substr(0, colon);
        if (colon != std::string::npos)
            port_text = authority.substr(colon + 1);
    }
    if (!port_text.empty()) {
        char* end = nullptr;
        const long p = std::strtol(port_text.c_str(), &end, 10);
        if (*end != '\0' || p <= 0 || p > 65535)
            return false;
        out.port = static_cast<int>(p);
    }
    return !out.host.empty();
}

std::string HttpUrl::host_header() const {
    const bool v6 = host.find(':') != std::string::npos;
    std::string h = v6 ? "[" + host + "]" : host;
    const int default_port = scheme == "https" ? 443 : 80;
    if (port != default_port)
        h += ":" + std::to_string(port);
    return h;
}

std::string HttpUrl::to_string() const {
    return scheme + "://" + (userinfo.empty() ? "" : userinfo + "@") + host_header() + path;
}

std::string HttpUrl::resolve(const std::string& location) const {
    if (location.find("://") != std::string::npos)
        return location;
    if (location.rfind("//", 0) == 0)
        return scheme + ":" + location;
    HttpUrl next = *this;
    if (!location.empty() && location[0] == '/') {
        next.path = location;
    } else {
        std::string dir = path.substr(0, path.find('?'));
        dir = dir.substr(0, dir.rfind('/') + 1);
        next.path = dir + location;
    }
    return next.to_string();
}

class HttpOpener {
  public:
    static HttpOpenResult open_once(const HttpUrl& u, const std::string& agent, Interrupt& intr);
};

HttpOpenResult HttpOpener::open_once(const HttpUrl& u, const std::string& agent, Interrupt& intr) {
    HttpOpenResult r;
    int gai_error = 0;
    AddrList addrs = resolve(u.host, u.port, intr, gai_error);
    if (!addrs) {
        r.error = resolution_error(intr, gai_error, r.reason);
        return r;
    }
    int fd = -1;
    int err = 0;
    for (const addrinfo* ai = addrs->result; ai && fd < 0; ai = ai->ai_next) {
        fd = connect_one(ai, intr, err);
        if (fd < 0 && intr.should_abort())
            break;
    }
    if (fd < 0) {
        r.error = (err == ETIMEDOUT || intr.timed_out()) ? BASS_ERROR_TIMEOUT : BASS_ERROR_NONET;
        r.reason = std::string("cannot connect: ") + std::strerror(err);
        return r;
    }
    auto conn = std::unique_ptr<HttpConnection>(new HttpConnection());
    conn->fd_ = fd;
    conn->url_ = u.to_string();

    std::string req = "GET " + u.path + " HTTP/1.0\r\nHost: " + u.host_header() + "\r\nUser-Agent: " + agent +
                      "\r\nAccept: */*\r\nConnection: close\r\n";
    if (!u.userinfo.empty())
        req += "Authorization: Basic " + basic_auth(u.userinfo) + "\r\n";
    req += "\r\n";
    if (!send_all(fd, req, intr)) {
        r.error = intr.timed_out() ? BASS_ERROR_TIMEOUT : BASS_ERROR_NONET;
        r.reason = "cannot send the request";
        return r;
    }

    std::string head;
    size_t header_end = std::string::npos;
    size_t sep_len = 0;
    char buf[4096];
    while (header_end == std::string::npos) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            head.append(buf, static_cast<size_t>(n));
            if (!starts_with_status(head)) {
                r.error = BASS_ERROR_FILEFORM;
                r.reason = "the answer is not HTTP";
                return r;
            }
            const auto crlf = head.find("\r\n\r\n");
            const auto lf = head.find("\n\n");
            if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) {
                header_end = crlf;
                sep_len = 4;
            } else if (lf != std::string::npos) {
                header_end = lf;
                sep_len = 2;
            } else if (head.size() > kMaxHeaderBytes) {
                r.error = BASS_ERROR_FILEOPEN;
                r.reason = "response header does not end";
                return r;
            }
        } else if (n == 0) {
            r.error = head.empty() ? BASS_ERROR_NONET : BASS_ERROR_FILEOPEN;
            r.reason = "connection closed before the response header ended";
            return r;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            if (!wait_fd(fd, POLLIN, intr)) {
                r.error = intr.timed_out() ? BASS_ERROR_TIMEOUT : BASS_ERROR_UNKNOWN;
                r.reason = "no response header in time";
                return r;
            }
        } else {
            r.error = BASS_ERROR_NONET;
            r.reason = std::string("connection failed: ") + std::strerror(errno);
            return r;
        }
    }
    conn->pending_ = head.substr(header_end + sep_len);
    conn->bytes_received_.store(conn->pending_.size());
    conn->silent_since_ns_ = steady_now_ns();
    head.resize(header_end);
    size_t start = 0;
    while (start <= head.size()) {
        auto end = head.find('\n', start);
        if (end == std::string::npos)
            end = head.size();
        std::string line = head.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        conn->lines_.push_back(line);
        start = end + 1;
    }
    const std::string& status_line = conn->lines_.front();
    const auto sp = status_line.find(' ');
    conn->status_ = sp == std::string::npos ? 0 : std::atoi(status_line.c_str() + sp + 1);
    conn->chunked_ = lower(conn->header("Transfer-Encoding")).find("chunked") != std::string::npos;
    r.connection = std::move(conn);
    return r;
}

HttpOpenResult HttpConnection::open(const std::string& url, const std::string& agent, Interrupt& intr) {
    std::string current = url;
    for (int redirects = 0;; ++redirects) {
        HttpUrl u;
        if (!HttpUrl::parse(current, u) || u.scheme != "http") {
            HttpOpenResult r;
            if (HttpUrl::parse(current, u) && redirects > 0) {
                r.redirect_elsewhere = current; // e.g. https: FFmpeg takes over
                return r;
            }
            r.error = BASS_ERROR_FILEOPEN;
            r.reason = "not an http:// address";
            return r;
        }
        HttpOpenResult r = HttpOpener::open_once(u, agent, intr);
        if (!r.connection)
            return r;
        const int status = r.connection->status();
        if (status >= 200 && status < 300)
            return r;
        if (status >= 300 && status < 400 && !r.connection->header("Location").empty()) {
            if (redirects >= kMaxRedirects) {
                HttpOpenResult fail;
                fail.error = BASS_ERROR_FILEOPEN;
                fail.reason = "too many redirects";
                return fail;
            }
            current = u.resolve(r.connection->header("Location"));
            continue;
        }
        HttpOpenResult fail;
        fail.error = (status == 401 || status == 403) ? BASS_ERROR_WMA_DENIED : BASS_ERROR_FILEOPEN;
        fail.reason = "HTTP status: " + r.connection->lines_.front();
        return fail;
    }
}

HttpConnection::~HttpConnection() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::string HttpConnection::header(const std::string& name) const {
    const std::string want = lower(name);
    for (size_t i = 1; i < lines_.size(); ++i) {
        const auto colon = lines_[i].find(':');
        if (colon != std::string::npos && lower(trim(lines_[i].substr(0, colon))) == want)
            return trim(lines_[i].substr(colon + 1));
    }
    return {};
}

int HttpConnection::raw_read(uint8_t* buf, int size, Interrupt& intr) {
    if (pending_pos_ < pending_.size()) {
        const size_t n = std::min(static_cast<size_t>(size), pending_.size() - pending_pos_);
        std::memcpy(buf, pending_.data() + pending_pos_, n);
        pending_pos_ += n;
        return static_cast<int>(n);
    }
    // What a pump found out counts once the bytes taken before it have been read.
    if (peer_closed_)
        return 0;
    if (broken_)
        return AVERROR(EIO);
    if (gave_up_)
        return AVERROR(ETIMEDOUT);
    for (;;) {
        const ssize_t n = ::recv(fd_, buf, static_cast<size_t>(size), 0);
        if (n > 0) {
            bytes_received_.fetch_add(static_cast<uint64_t>(n));
            silent_since_ns_ = steady_now_ns();
            intr.note_data();
            return static_cast<int>(n);
        }
        if (n == 0) {
            peer_closed_ = true;
            return 0;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            if (!wait_fd(fd_, POLLIN, intr))
                return AVERROR_EXIT;
            continue;
        }
        broken_ = true;
        return AVERROR(EIO);
    }
}

void HttpConnection::compact() {
    if (pending_pos_ == pending_.size()) {
        pending_.clear();
        pending_pos_ = 0;
    } else if (pending_pos_ >= kCompactAt) {
        pending_.erase(0, pending_pos_);
        pending_pos_ = 0;
    }
}

LinkState HttpConnection::pump(std::chrono::milliseconds read_timeout) {
    const int64_t now = steady_now_ns();
    if (!peer_closed_ && !broken_ && !gave_up_) {
        compact();
        char buf[kPumpSlice];
        for (;;) {
            const size_t unread = pending_.size() - pending_pos_;
            if (unread >= kPumpCap) {
                silent_since_ns_ = now; // we hold the server back, not it us
                break;
            }
            const size_t want = std::min(kPumpSlice, kPumpCap - unread);
            const ssize_t n = ::recv(fd_, buf, want, MSG_DONTWAIT);
            if (n > 0) {
                pending_.append(buf, static_cast<size_t>(n));
                bytes_received_.fetch_add(static_cast<uint64_t>(n));
                silent_since_ns_ = now;
                if (static_cast<size_t>(n) < want)
                    break; // the socket is (about) empty: the next pump takes the rest
                continue;
            }
            if (n == 0)
                peer_closed_ = true;
            else if (errno == EINTR)
                continue;
            else if (errno != EAGAIN && errno != EWOULDBLOCK)
                broken_ = true;
            break;
        }
        if (read_timeout.count() > 0 && !peer_closed_ && !broken_ &&
            now - silent_since_ns_ >= std::chrono::nanoseconds(read_timeout).count())
            gave_up_ = true;
    }
    return link();
}

LinkState HttpConnection::link() const {
    LinkState s;
    s.pumped = true;
    s.closed = peer_closed_ || broken_;
    s.silent = gave_up_;
    s.silent_since_ns = silent_since_ns_;
    return s;
}

bool HttpConnection::read_chunk_size(Interrupt& intr, int& err) {
    std::string line;
    uint8_t c = 0;
    while (line.size() < 1024) {
        const int n = raw_read(&c, 1, intr);
        if (n <= 0) {
            err = n == 0 ? AVERROR(EIO) : n;
            return false;
        }
        if (c == '\n') {
            if (trim(line).empty())
                continue; // the CRLF that closes the previous chunk
            chunk_left_ = std::strtoull(line.c_str(), nullptr, 16);
            chunk_done_ = chunk_left_ == 0;
            return true;
        }
        line += static_cast<char>(c);
    }
    err = AVERROR_INVALIDDATA;
    return false;
}

int HttpConnection::read_chunked(uint8_t* buf, int size, Interrupt& intr) {
    if (chunk_done_)
        return 0;
    if (chunk_left_ == 0) {
        int err = 0;
        if (!read_chunk_size(intr, err))
            return err;
        if (chunk_done_)
            return 0;
    }
    const int want = static_cast<int>(std::min<uint64_t>(chunk_left_, static_cast<uint64_t>(size)));
    const int n = raw_read(buf, want, intr);
    if (n > 0)
        chunk_left_ -= static_cast<uint64_t>(n);
    return n == 0 ? AVERROR(EIO) : n;
}

int HttpConnection::read(uint8_t* buf, int size, Interrupt& intr) {
    return chunked_ ? read_chunked(buf, size, intr) : raw_read(buf, size, intr);
}

} // namespace miravox::soundlib
