// What a stream server answers: the input is sent as the whole answer (status line, header
// lines, body) by a server on the loopback interface, and the engine's HTTP client opens it
// and reads the body, as it does for a ShoutCast/IceCast stream.
//
// Redirects stay on this server: every Location value is replaced by a path, so a redirect
// answer leads back here (up to the client's redirect limit) and never to another host.

#include "fuzz_check.h"
#include "http_client.h"
#include "interrupt.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

using miravox::fuzz::check;
using namespace miravox::soundlib;

namespace {

// Serves the current answer to every connection, one at a time, after reading the request
// (closing with an unread request would reset the connection instead of ending it).
class AnswerServer {
  public:
    AnswerServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        check(listener_ >= 0 && ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
                  ::listen(listener_, 16) == 0 &&
                  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) == 0,
              "the loopback server starts");
        port_ = ntohs(addr.sin_port);
        std::thread([this] { serve(); }).detach(); // lives as long as the fuzzing process
    }

    int port() const { return port_; }

    void set_answer(std::string answer) {
        std::lock_guard lock(mutex_);
        answer_ = std::move(answer);
    }

  private:
    void serve() {
        for (;;) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            read_request(fd);
            std::string answer;
            {
                std::lock_guard lock(mutex_);
                answer = answer_;
            }
            size_t sent = 0;
            while (sent < answer.size()) {
                const ssize_t n = ::send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += size_t(n);
            }
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
        }
    }

    static void read_request(int fd) {
        std::string request;
        char buf[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0)
                return;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            request.append(buf, size_t(n));
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::string answer_;
};

AnswerServer& server() {
    static AnswerServer* instance = new AnswerServer; // never destroyed: its thread runs to the end
    return *instance;
}

std::string lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The end of the answer's head, found as the client finds it: the first blank line, CR LF or LF.
size_t head_end(const std::string& answer) {
    const auto crlf = answer.find("\r\n\r\n");
    const auto lf = answer.find("\n\n");
    return std::min(crlf == std::string::npos ? answer.size() : crlf + 2,
                    lf == std::string::npos ? answer.size() : lf + 1);
}

// Every "Location:" header line of the answer's head points back at this server.
std::string keep_redirects_here(const std::string& answer) {
    const size_t end_of_head = head_end(answer);
    std::string out;
    size_t start = 0;
    while (start < end_of_head) {
        size_t end = answer.find('\n', start);
        end = end == std::string::npos || end >= end_of_head ? end_of_head : end + 1;
        std::string line = answer.substr(start, end - start);
        const auto colon = line.find(':');
        if (start > 0 && colon != std::string::npos &&
            lower(line.substr(0, colon)).find("location") != std::string::npos)
            line = "Location: /again" + std::string(line.back() == '\n' ? "\n" : "");
        out += line;
        start = end;
    }
    return out + answer.substr(end_of_head);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    server().set_answer(keep_redirects_here(std::string(reinterpret_cast<const char*>(data), size)));
    Interrupt intr;
    intr.set_deadline_in(std::chrono::seconds(5));
    HttpOpenResult result =
        HttpConnection::open("http://127.0.0.1:" + std::to_string(server().port()) + "/", "fuzz", intr);
    check(!intr.timed_out(), "a complete answer is read well within the time-out");
    if (!result.connection) {
        check(result.error != 0 || !result.redirect_elsewhere.empty(), "a failed open says why");
        check(!result.reason.empty() || !result.redirect_elsewhere.empty(), "a failed open has a reason");
        return 0;
    }
    HttpConnection& connection = *result.connection;
    check(!connection.header_lines().empty(), "the status line is kept");
    for (const std::string& line : connection.header_lines())
        check(line.find('\n') == std::string::npos, "a header line holds no line break");
    const std::string type = connection.header("Content-Type");
    check(type.empty() || (type.front() != ' ' && type.back() != ' '), "header values are trimmed");

    // Reads alternate with pumps, as when a playing stream takes the bytes ahead of its decoder.
    uint8_t body[4096];
    size_t total = 0;
    for (bool pump = size > 0 && (data[0] & 1);; pump = !pump) {
        if (pump)
            connection.pump(std::chrono::milliseconds(1000));
        const int n = connection.read(body, sizeof body, intr);
        if (n <= 0)
            break;
        check(size_t(n) <= sizeof body, "a read stays within the buffer");
        total += size_t(n);
        check(total <= size + 1, "the body is no longer than what was sent");
    }
    return 0;
}
