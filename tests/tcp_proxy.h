#pragma once
// A TCP relay on 127.0.0.1 in front of a test server, that a test can cut (every open
// connection is closed, new ones are accepted and closed at once, as a server whose source
// died) and restore, while the address the program was given stays the same. Given a round
// trip, it delays every byte by half of it each way, and a new connection's first bytes by one
// more round trip (the handshake), as a distant server would.
// It also notes when the latest connection's server sent its first byte past an HTTP header,
// so that a benchmark can tell the server's own delay from the client's.
// Thread rules: cut(), restore() and last_body_at() from any thread; the destructor joins every
// thread.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace miravox::testing {

class TcpProxy {
public:
    explicit TcpProxy(uint16_t upstream_port, std::chrono::milliseconds round_trip = {})
        : upstream_(upstream_port), round_trip_(round_trip) {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listen_fd_, 16);
        socklen_t len = sizeof addr;
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] { accept_loop(); });
    }

    ~TcpProxy() {
        stop_ = true;
        cut();
        ::shutdown(listen_fd_, SHUT_RDWR);
        ::close(listen_fd_);
        acceptor_.join();
        for (std::thread& t : pumps_)
            t.join();
    }

    uint16_t port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    void cut() {
        cut_ = true;
        std::lock_guard lock(mutex_);
        for (int fd : open_)
            ::shutdown(fd, SHUT_RDWR);
    }
    void restore() {
        cut_ = false;
        allowance_ = -1;
    }
    // Relays the next `n` connections and closes every later one at once (a server that takes a
    // listener and then refuses the next), until restore().
    void allow_only(int n) { allowance_ = n; }
    // Holds what the server sends (connections stay open, as a server that freezes for a
    // moment), then lets the backlog through at once.
    void hold(bool on) { held_ = on; }

    // When the server of the latest connection sent the first byte after its header's blank line
    // (an epoch time point while none has yet).
    std::chrono::steady_clock::time_point last_body_at() const {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(last_body_at_.load()));
    }

private:
    void accept_loop() {
        while (!stop_) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int client = ::accept(listen_fd_, nullptr, nullptr);
            if (client < 0)
                continue;
            if (cut_ || allowance_ == 0) {
                ::close(client);
                continue;
            }
            if (allowance_ > 0)
                --allowance_;
            std::lock_guard lock(mutex_);
            pumps_.emplace_back([this, client] { relay(client); });
        }
    }

    void relay(int client) {
        using Clock = std::chrono::steady_clock;
        const auto accepted = Clock::now();
        const int upstream = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(upstream_);
        if (::connect(upstream, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(upstream);
            ::close(client);
            return;
        }
        track(client, upstream, true);
        last_body_at_ = 0;
        std::string header; // the server's bytes until its header's end is seen
        bool in_body = false;
        struct Chunk {
            Clock::time_point due;
            std::string bytes;
        };
        std::deque<Chunk> queued[2]; // [0] client to server, [1] server to client
        char buffer[16384];
        pollfd fds[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
        bool closed = false;
        while (!stop_ && !cut_ && !(closed && queued[0].empty() && queued[1].empty())) {
            auto wait = std::chrono::milliseconds(50);
            for (const auto& q : queued)
                if (!q.empty())
                    wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::max(q.front().due - Clock::now(), Clock::duration::zero())));
            if (held_)
                wait = std::chrono::milliseconds(20);
            if (closed)
                std::this_thread::sleep_for(wait);
            else if (::poll(fds, 2, int(wait.count())) > 0)
                for (int i = 0; i < 2 && !closed; ++i) {
                    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                        continue;
                    const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                    closed = n <= 0;
                    if (n > 0 && i == 1 && !in_body) {
                        header.append(buffer, size_t(n));
                        const size_t end = header.find("\r\n\r\n");
                        if ((in_body = end != std::string::npos && end + 4 < header.size()))
                            last_body_at_ = Clock::now().time_since_epoch().count();
                    }
                    const auto sent_at = i == 0 ? std::max(Clock::now(), accepted + round_trip_) : Clock::now();
                    if (n > 0)
                        queued[i].push_back({sent_at + round_trip_ / 2, std::string(buffer, size_t(n))});
                }
            for (int i = 0; i < 2; ++i)
                while (!(i == 1 && held_) && !queued[i].empty() && queued[i].front().due <= Clock::now()) {
                    const std::string& b = queued[i].front().bytes;
                    if (::send(fds[1 - i].fd, b.data(), b.size(), MSG_NOSIGNAL) != ssize_t(b.size())) {
                        closed = true; // the peer is gone: nothing more gets through
                        queued[0].clear();
                        queued[1].clear();
                        break;
                    }
                    queued[i].pop_front();
                }
        }
        track(client, upstream, false);
        ::close(client);
        ::close(upstream);
    }

    void track(int a, int b, bool add) {
        std::lock_guard lock(mutex_);
        if (add) {
            open_.insert(a);
            open_.insert(b);
        } else {
            open_.erase(a);
            open_.erase(b);
        }
    }

    uint16_t upstream_;
    std::chrono::milliseconds round_trip_;
    uint16_t port_ = 0;
    int listen_fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> cut_{false};
    std::atomic<int> allowance_{-1}; // connections still relayed; -1: every one
    std::atomic<bool> held_{false};
    std::atomic<std::chrono::steady_clock::rep> last_body_at_{0};
    std::mutex mutex_;
    std::set<int> open_;
    std::vector<std::thread> pumps_;
    std::thread acceptor_;
};

} // namespace miravox::testing
