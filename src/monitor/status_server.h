#pragma once
// The status server: "/" (a page for people), "/status.json" and "/metrics" (Prometheus), read
// from the snapshot the main tick publishes and from nothing else.
//
// It is libmicrohttpd's (Debian's libmicrohttpd12): one thread of its own polls every
// connection, parses the requests and answers from here; a second thread of ours watches the
// clock. Nothing a client does reaches the main thread, and every resource a client can hold is
// bounded: connections in all and per address, the bytes of a request (headers beyond
// kRequestBytes are refused by the library), and the time from a connection (or its previous
// answer) to the answer of its request, after which the connection is cut, however slowly
// bytes keep coming. Its threads run at a lower priority than the program's.
//
// Thread rules: construct, start and destroy on one thread; the log callback is called from the
// server's threads.

#include "panel_auth.h"
#include "station_state.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

struct MHD_Daemon;
struct MHD_Connection;

namespace miravox {

struct StatusServerSettings {
    int port = 0;                          // 0: any free port (tests)
    QString address = QStringLiteral("127.0.0.1");
    QString password;                      // empty: no password (loopback addresses only)
    int request_seconds = 10;              // longest time to a request's answer
    unsigned max_connections = 256;
    unsigned max_connections_per_address = 16;
};

inline constexpr std::size_t kRequestBytes = 16 * 1024;

// Why the server may not run with `settings` ("" when it may): an address that is not a
// numeric loopback, IPv4 or IPv6 one, without a password; an address that is not one at all.
QString status_server_refusal(const StatusServerSettings& settings);

class StatusServer {
  public:
    using Log = std::function<void(const QString&)>;

    StatusServer(const StationState& state, StatusServerSettings settings, Log log);
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // Listens and serves; false with the reason in `error` when it cannot.
    bool start(QString* error);
    void stop();
    std::uint16_t port() const { return port_; }
    // Requests answered so far, per path ("/", "/metrics" ...), and refused for the password.
    std::uint64_t answered(const QString& path) const;
    std::uint64_t refused() const { return refused_.load(); }

  private:
    friend struct StatusServerCallbacks; // the library's callbacks
    int answer(MHD_Connection* connection, const QString& path);
    bool authorised(MHD_Connection* connection, int* status, std::int64_t* retry_ms);
    void watch();
    std::int64_t steady_ms() const;

    const StationState& state_;
    const StatusServerSettings settings_;
    const Log log_;
    MHD_Daemon* daemon_ = nullptr;
    std::uint16_t port_ = 0;
    AuthThrottle throttle_;
    std::atomic<std::uint64_t> refused_{0};

    mutable std::mutex mutex_;
    std::map<QString, std::uint64_t> answered_;
    // Open connections: their socket and since when their current request runs.
    struct Open {
        int fd = -1;
        std::int64_t since_ms = 0;
        bool cut = false;
    };
    std::map<MHD_Connection*, Open> open_;
    // Whether the main tick still publishes: the last generation seen and when it changed.
    std::uint64_t generation_ = 0;
    std::int64_t generation_changed_ms_ = 0;

    std::thread watcher_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

} // namespace miravox
