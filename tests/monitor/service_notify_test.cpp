// The service manager's side of the notify protocol: a datagram socket the test binds and
// names in NOTIFY_SOCKET, read as systemd would read it.

#include "service_notify.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Datagram {
    Clock::time_point when;
    QString text;
};

class NotifySocket {
  public:
    explicit NotifySocket(const QString& path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = path.toLocal8Bit();
        std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~NotifySocket() { ::close(fd_); }

    // The next datagram, or nothing within `limit`.
    std::optional<Datagram> receive(std::chrono::milliseconds limit) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(limit.count())) <= 0)
            return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0)
            return std::nullopt;
        return Datagram{Clock::now(), QString::fromUtf8(buffer, int(n))};
    }
    std::vector<Datagram> drain() {
        std::vector<Datagram> all;
        while (auto d = receive(0ms))
            all.push_back(*d);
        return all;
    }

  private:
    int fd_ = -1;
};

QStringList lines_with(const std::vector<Datagram>& datagrams, const QString& prefix) {
    QStringList out;
    for (const Datagram& d : datagrams)
        for (const QString& line : d.text.split('\n', Qt::SkipEmptyParts))
            if (line.startsWith(prefix))
                out << line;
    return out;
}

class ServiceNotifyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        qputenv("MIRAVOX_HOME", dir.path().toLocal8Bit());
        socket_path = dir.filePath("notify");
        socket = std::make_unique<NotifySocket>(socket_path);
        qputenv("NOTIFY_SOCKET", socket_path.toLocal8Bit());
        qunsetenv("WATCHDOG_PID");
    }
    void TearDown() override {
        for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "MIRAVOX_HOME"})
            qunsetenv(name);
    }
    // The main tick every 50 ms for `length`; what the socket got meanwhile.
    std::vector<Datagram> tick_for(miravox::ServiceNotifier& notifier, std::chrono::milliseconds length) {
        std::vector<Datagram> got;
        const auto end = Clock::now() + length;
        while (Clock::now() < end) {
            notifier.tick(state, log);
            const auto next = Clock::now() + 50ms;
            while (Clock::now() < next)
                if (auto d = socket->receive(std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now())))
                    got.push_back(*d);
        }
        auto rest = socket->drain();
        got.insert(got.end(), rest.begin(), rest.end());
        return got;
    }

    QTemporaryDir dir;
    QString socket_path;
    std::unique_ptr<NotifySocket> socket;
    miravox::StationState state;
    QStringList logged;
    miravox::ServiceNotifier::Log log = [this](const QString& line) { logged << line; };
};

miravox::StationSnapshot on_the_air(miravox::OnAir source, const QString& status_line) {
    miravox::StationSnapshot s;
    s.on_air = source;
    s.status_line = status_line;
    s.window_active = true;
    s.window_start = "19:00";
    s.window_end = "20:00";
    s.stream_name = "Radio Alfa";
    return s;
}

// READY and the status first, pings at the rate WATCHDOG_USEC asks, a status only when its
// text changes; then a held main thread: no ping at all, and none from the late tick after it.
TEST_F(ServiceNotifyTest, ReadyStatusAndPingsOnlyWhileTheTickKeepsItsPace) {
    qputenv("WATCHDOG_USEC", "400000");
    state.publish(on_the_air(miravox::OnAir::stream, "Conectado"));
    miravox::ServiceNotifier notifier;
    ASSERT_TRUE(notifier.active());
    EXPECT_EQ(notifier.watchdog_interval(), 400ms);

    auto got = tick_for(notifier, 1500ms);
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(got.front().text.startsWith("READY=1\n")) << got.front().text.toStdString();
    EXPECT_EQ(lines_with(got, "READY="), QStringList{"READY=1"});
    EXPECT_EQ(lines_with(got, "STATUS="),
              QStringList{"STATUS=No ar: streaming Radio Alfa (19:00-20:00) - Conectado"});
    std::vector<Clock::time_point> pings;
    for (const Datagram& d : got)
        if (d.text.contains("WATCHDOG=1"))
            pings.push_back(d.when);
    ASSERT_GE(pings.size(), 5u);
    for (size_t i = 1; i < pings.size(); ++i)
        EXPECT_LT(pings[i] - pings[i - 1], 400ms) << "gap before ping " << i;

    // A new snapshot with other words: one new status.
    state.publish(on_the_air(miravox::OnAir::music, "Músicas locais"));
    got = tick_for(notifier, 300ms);
    EXPECT_EQ(lines_with(got, "STATUS="), QStringList{"STATUS=No ar: música local - Músicas locais"});

    // The main thread held for twice the watchdog interval: nothing reaches the socket.
    const auto sent = notifier.sent();
    std::this_thread::sleep_for(800ms);
    EXPECT_TRUE(socket->drain().empty());
    EXPECT_EQ(notifier.sent(), sent);
    // The late tick that follows does not ping; the next one on time does.
    notifier.tick(state, log);
    EXPECT_FALSE(socket->receive(100ms).has_value());
    notifier.tick(state, log);
    const auto ping = socket->receive(1000ms);
    ASSERT_TRUE(ping.has_value());
    EXPECT_EQ(ping->text, "WATCHDOG=1\n");
}

// The run before this one was killed by the watchdog: its verdict, left by the stop command,
// is logged and posted once; SIGTERM then says STOPPING and nothing follows it.
TEST_F(ServiceNotifyTest, RestartAfterWatchdogIsLoggedAndPostedAndSigtermStops) {
    const QString logs = dir.filePath("LOGS/");
    const std::map<QString, QString> env = {
        {"SERVICE_RESULT", "watchdog"}, {"EXIT_CODE", "killed"}, {"EXIT_STATUS", "ABRT"}};
    ASSERT_TRUE(miravox::record_service_end(logs, [&](const char* n) { return env.count(n) ? env.at(n) : QString(); }));

    auto events = state.open_queue();
    miravox::ServiceNotifier notifier;
    EXPECT_EQ(notifier.watchdog_interval(), 0us);
    notifier.tick(state, log);
    notifier.tick(state, log);
    EXPECT_EQ(logged, QStringList{"SERVIÇO: REINICIADO APÓS WATCHDOG (watchdog, killed ABRT)"});
    const auto posted = events->take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].kind, miravox::StationEventKind::started);
    EXPECT_TRUE(posted[0].detail.contains("watchdog")) << posted[0].detail.toStdString();
    EXPECT_FALSE(QFile::exists(logs + miravox::kServiceEndFileName));
    const auto first = socket->receive(1000ms);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->text, "READY=1\nSTATUS=Iniciando\n"); // no watchdog asked: no ping

    ::raise(SIGTERM);
    for (int i = 0; i < 50 && !logged.contains("SERVIÇO: PARADA PEDIDA PELO SISTEMA (SIGTERM)"); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(logged.contains("SERVIÇO: PARADA PEDIDA PELO SISTEMA (SIGTERM)"));
    const auto stop = socket->receive(1000ms);
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->text, "STOPPING=1\nSTATUS=Encerrando\n");
    notifier.tick(state, log);
    EXPECT_FALSE(socket->receive(100ms).has_value());

    // A clean stop leaves no verdict behind; nor does it log anything at the next start.
    ASSERT_TRUE(miravox::record_service_end(logs, [](const char* n) {
        return QString(n) == "SERVICE_RESULT" ? "success" : "";
    }));
    EXPECT_FALSE(miravox::take_service_end(logs).has_value());
}

// A service manager that reads nothing: the main tick never waits for it.
TEST_F(ServiceNotifyTest, TickNeverWaitsForAServiceManagerThatDoesNotRead) {
    qputenv("WATCHDOG_USEC", "2000");
    {
        miravox::ServiceNotifier notifier;
        const auto start = Clock::now();
        for (int i = 0; i < 3000; ++i) {
            state.publish(on_the_air(miravox::OnAir::stream, QString::number(i)));
            notifier.tick(state, log);
            std::this_thread::sleep_for(100us);
        }
        // The socket's queue filled long ago and the sender is stuck in its send...
        const auto stuck = notifier.sent();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(notifier.sent(), stuck);
        EXPECT_LT(stuck, 3000u);
        // ...while 3000 ticks took no longer than their own sleeps and a little more.
        EXPECT_LT(Clock::now() - start, 20s);
        socket->drain(); // let the sender go, so that it can be joined
    }
}

// Without NOTIFY_SOCKET nothing is sent, no thread runs and SIGTERM is left alone.
TEST(ServiceNotifyOff, WithoutNotifySocketNothingChanges) {
    qunsetenv("NOTIFY_SOCKET");
    miravox::ServiceNotifier notifier;
    miravox::StationState state;
    EXPECT_FALSE(notifier.active());
    notifier.tick(state, nullptr);
    notifier.stopping();
    EXPECT_EQ(notifier.sent(), 0u);
    EXPECT_EQ(miravox::service_status_text(miravox::StationSnapshot{}, false), "");
}

} // namespace
