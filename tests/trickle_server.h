#pragma once
// A server on 127.0.0.1 that answers every request "200 OK", "audio/mpeg", and then sends an
// HTML page one byte every 0.3 s, forever: a broken proxy, a captive portal, a link that
// degrades. Each connection is served by a thread of its own until the client goes away or the
// server is destroyed.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace miravox::test {

class TrickleServer {
  public:
    TrickleServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 16) != 0)
            return;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { accept_loop(); });
    }
    ~TrickleServer() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        if (acceptor_.joinable())
            acceptor_.join();
        std::lock_guard lock(mutex_);
        for (std::thread& t : clients_)
            t.join();
    }
    TrickleServer(const TrickleServer&) = delete;
    TrickleServer& operator=(const TrickleServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string url(const std::string& path = "/radio") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int connections() const { return connections_.load(); }

  private:
    void accept_loop() {
        while (!stop_) {
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0)
                return;
            ++connections_;
            std::lock_guard lock(mutex_);
            clients_.emplace_back([this, client] { serve(client); });
        }
    }
    void serve(int client) {
        char request[2048];
        (void)::recv(client, request, sizeof request, 0);
        const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n";
        const std::string page = "<html><head><title>Aguarde</title></head><body>" + std::string(4000, '.') +
                                 "</body></html>\n";
        bool ok = ::send(client, head.data(), head.size(), MSG_NOSIGNAL) == ssize_t(head.size());
        for (size_t i = 0; ok && !stop_; i = (i + 1) % page.size()) {
            ok = ::send(client, &page[i], 1, MSG_NOSIGNAL) == 1;
            for (int slice = 0; slice < 6 && !stop_; ++slice)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::close(client);
    }

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> clients_;
};

} // namespace miravox::test
