#include "status_server.h"

#include "status_render.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace miravox {

namespace {

// How long the main tick may go without publishing before the station reads as stuck.
constexpr std::int64_t kStaleMs = 5000;
// The server's threads yield to the program's (nice value).
constexpr int kNiceness = 10;

// The address to bind, or false when `text` is none.
bool socket_address(const QString& text, int port, sockaddr_storage* out, bool* ipv6) {
    std::memset(out, 0, sizeof(*out));
    QByteArray bytes = text.trimmed().toLatin1();
    if (bytes.compare("localhost", Qt::CaseInsensitive) == 0)
        bytes = "127.0.0.1";
    auto* v4 = reinterpret_cast<sockaddr_in*>(out);
    if (inet_pton(AF_INET, bytes.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(std::uint16_t(port));
        *ipv6 = false;
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
    if (inet_pton(AF_INET6, bytes.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(std::uint16_t(port));
        *ipv6 = true;
        return true;
    }
    return false;
}

std::string client_address(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return "?";
    char text[INET6_ADDRSTRLEN] = "?";
    const sockaddr* a = info->client_addr;
    if (a->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    else if (a->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text, sizeof text);
    return text;
}

// Once per thread of the library: below the program's threads, so that a busy server takes
// time from no one who plays.
void lower_this_threads_priority() {
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), kNiceness);
}

MHD_Result queue(MHD_Connection* connection, unsigned status, const QByteArray& body, const char* type,
                 const std::vector<std::pair<const char*, QByteArray>>& headers = {}) {
    MHD_Response* response =
        MHD_create_response_from_buffer(std::size_t(body.size()), const_cast<char*>(body.constData()),
                                        MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    for (const auto& [name, value] : headers)
        MHD_add_response_header(response, name, value.constData());
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

constexpr const char* kText = "text/plain; charset=utf-8";

} // namespace

QString status_server_refusal(const StatusServerSettings& settings) {
    sockaddr_storage address{};
    bool ipv6 = false;
    if (!socket_address(settings.address, 0, &address, &ipv6))
        return "endereço inválido: " + settings.address;
    if (settings.port < 0 || settings.port > 65535)
        return "porta inválida: " + QString::number(settings.port);
    if (settings.password.isEmpty() && !is_loopback_address(settings.address))
        return "o endereço " + settings.address + " é acessível fora desta máquina e exige PAINEL_SENHA";
    return {};
}

struct StatusServerCallbacks {
    static MHD_Result on_request(void* self, MHD_Connection* connection, const char* url, const char* method,
                                 const char*, const char*, std::size_t* upload_size, void** request) {
        auto* server = static_cast<StatusServer*>(self);
        lower_this_threads_priority();
        if (*request == nullptr) {
            // The headers are in; a body, if any, comes in the calls that follow.
            *request = server;
            const bool readable = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                                  std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
            if (!readable)
                return queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Somente GET\n", kText,
                             {{MHD_HTTP_HEADER_ALLOW, "GET, HEAD"}});
            return MHD_YES;
        }
        if (*upload_size != 0) {
            *upload_size = 0;
            return queue(connection, MHD_HTTP_CONTENT_TOO_LARGE, "Pedido com corpo\n", kText);
        }
        return server->answer(connection, QString::fromUtf8(url)) ? MHD_YES : MHD_NO;
    }

    static void on_connection(void* self, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode what) {
        auto* server = static_cast<StatusServer*>(self);
        lower_this_threads_priority();
        std::lock_guard lock(server->mutex_);
        if (what == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            server->open_[connection] = {info ? int(info->connect_fd) : -1, server->steady_ms(), false};
        } else {
            // Before the library closes the socket: the watcher never touches a number reused.
            server->open_.erase(connection);
        }
    }

    static void on_completed(void* self, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
        auto* server = static_cast<StatusServer*>(self);
        std::lock_guard lock(server->mutex_);
        // A kept-alive connection's next request has its own time.
        if (const auto it = server->open_.find(connection); it != server->open_.end())
            it->second.since_ms = server->steady_ms();
    }
};

StatusServer::StatusServer(const StationState& state, StatusServerSettings settings, Log log)
    : state_(state), settings_(std::move(settings)), log_(std::move(log)) {}

StatusServer::~StatusServer() { stop(); }

std::int64_t StatusServer::steady_ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool StatusServer::start(QString* error) {
    if (const QString refusal = status_server_refusal(settings_); !refusal.isEmpty()) {
        if (error)
            *error = refusal;
        return false;
    }
    sockaddr_storage address{};
    bool ipv6 = false;
    socket_address(settings_.address, settings_.port, &address, &ipv6);
    {
        std::lock_guard lock(mutex_);
        generation_ = state_.generation();
        generation_changed_ms_ = steady_ms();
        stopping_ = false;
    }
    const unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | (ipv6 ? MHD_USE_IPv6 : 0);
    daemon_ = MHD_start_daemon(
        flags, std::uint16_t(settings_.port), nullptr, nullptr, &StatusServerCallbacks::on_request, this,
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr*>(&address), MHD_OPTION_CONNECTION_LIMIT,
        settings_.max_connections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, settings_.max_connections_per_address,
        MHD_OPTION_CONNECTION_TIMEOUT, unsigned(settings_.request_seconds), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kRequestBytes, MHD_OPTION_LISTEN_BACKLOG_SIZE, 64u, MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
        MHD_OPTION_NOTIFY_CONNECTION, &StatusServerCallbacks::on_connection, this, MHD_OPTION_NOTIFY_COMPLETED,
        &StatusServerCallbacks::on_completed, this, MHD_OPTION_END);
    if (!daemon_) {
        if (error)
            *error = QString("não foi possível abrir %1 porta %2 (%3)")
                         .arg(settings_.address)
                         .arg(settings_.port)
                         .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : std::uint16_t(settings_.port);
    watcher_ = std::thread([this] { watch(); });
    return true;
}

void StatusServer::stop() {
    if (watcher_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        watcher_.join();
    }
    if (daemon_) {
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }
}

std::uint64_t StatusServer::answered(const QString& path) const {
    std::lock_guard lock(mutex_);
    const auto it = answered_.find(path);
    return it == answered_.end() ? 0 : it->second;
}

// Cuts every request that has run longer than it may, and notes when the main tick last
// published.
void StatusServer::watch() {
    lower_this_threads_priority();
    const std::int64_t limit_ms = std::int64_t(settings_.request_seconds) * 1000;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, std::chrono::milliseconds(250));
        const std::int64_t now = steady_ms();
        for (auto& [connection, open] : open_)
            if (!open.cut && open.fd >= 0 && now - open.since_ms > limit_ms) {
                // The library sees the end of the connection and closes it on its own thread.
                ::shutdown(open.fd, SHUT_RDWR);
                open.cut = true;
            }
        const std::uint64_t generation = state_.generation();
        if (generation != generation_) {
            generation_ = generation;
            generation_changed_ms_ = now;
        }
    }
}

bool StatusServer::authorised(MHD_Connection* connection, int* status, std::int64_t* retry_ms) {
    if (settings_.password.isEmpty())
        return true;
    const std::string address = client_address(connection);
    if (const std::int64_t wait = throttle_.locked_for(address, steady_ms()); wait > 0) {
        *status = MHD_HTTP_TOO_MANY_REQUESTS;
        *retry_ms = wait;
        return false;
    }
    *status = MHD_HTTP_UNAUTHORIZED;
    const char* header = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    if (!header)
        return false; // a browser's first request: it asks the person and sends the password
    const auto presented = presented_password(header);
    if (presented && same_secret(*presented, settings_.password.toStdString())) {
        throttle_.succeeded(address);
        return true;
    }
    int failures = 0;
    const std::int64_t lock_ms = throttle_.failed(address, steady_ms(), &failures);
    if (lock_ms > 0 && log_)
        log_(QString("PAINEL: senha errada de %1 (%2 vezes) - bloqueado por %3 s")
                 .arg(QString::fromStdString(address))
                 .arg(failures)
                 .arg((lock_ms + 999) / 1000));
    return false;
}

int StatusServer::answer(MHD_Connection* connection, const QString& path) {
    int status = 0;
    std::int64_t retry_ms = 0;
    if (!authorised(connection, &status, &retry_ms)) {
        ++refused_;
        if (status == MHD_HTTP_TOO_MANY_REQUESTS)
            return queue(connection, MHD_HTTP_TOO_MANY_REQUESTS, "Muitas senhas erradas: aguarde\n", kText,
                         {{MHD_HTTP_HEADER_RETRY_AFTER, QByteArray::number((retry_ms + 999) / 1000)}});
        return queue(connection, MHD_HTTP_UNAUTHORIZED, "Senha exigida\n", kText,
                     {{MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Basic realm=\"Miravox\", charset=\"UTF-8\""}});
    }
    ServerView view;
    {
        std::lock_guard lock(mutex_);
        view.state_age_s = (steady_ms() - generation_changed_ms_) / 1000.0;
        view.fresh = generation_ > 0 && steady_ms() - generation_changed_ms_ < kStaleMs;
    }
    QByteArray body;
    const char* type = nullptr;
    std::vector<std::pair<const char*, QByteArray>> headers;
    if (path == "/metrics") {
        body = metrics_text(state_.snapshot(), view);
        type = "text/plain; version=0.0.4; charset=utf-8";
    } else if (path == "/status.json") {
        body = status_json(state_.snapshot(), view);
        type = "application/json";
    } else if (path == "/" || path == "/index.html") {
        body = status_page(state_.snapshot(), view);
        type = "text/html; charset=utf-8";
        headers = {{"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; "
                                               "script-src 'unsafe-inline'; connect-src 'self'; img-src data:"},
                   {"X-Frame-Options", "DENY"}};
    } else {
        return queue(connection, MHD_HTTP_NOT_FOUND, "Não encontrado: /, /status.json, /metrics\n", kText);
    }
    {
        std::lock_guard lock(mutex_);
        ++answered_[path];
    }
    return queue(connection, MHD_HTTP_OK, body, type, headers);
}

} // namespace miravox
