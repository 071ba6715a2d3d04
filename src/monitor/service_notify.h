#pragma once
// Telling the service manager (systemd) how the station is: READY=1 once the main tick runs,
// STATUS= with what is on the air, WATCHDOG=1 while the main tick keeps its pace, STOPPING=1
// at shutdown. A main loop that hangs stops the pings, and systemd kills and restarts the
// program; the stop command the unit runs afterwards (`miravox --fim-servico`) leaves systemd's
// verdict in the station folder, and the next start logs it and posts it as a `started` event.
//
// Nothing here runs unless NOTIFY_SOCKET is set: a program started by hand behaves as always.
//
// sd_notify() is a blocking datagram send: a service manager that does not read its socket
// (hung, or the socket's queue full) would stop whoever sends. So the main tick only notes what
// is to be said, under a short lock, and one sender thread of our own calls sd_notify(). A
// watchdog ping still comes from the main tick alone: the sender thread never pings by itself,
// so when the main thread is held, the pings stop.
//
// Thread rules: tick(), stopping() and the SIGTERM handling on the main thread; the sender
// thread is private.

#include "station_state.h"

#include <QPointer>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QSocketNotifier;

namespace miravox {

// The option the unit's ExecStopPost= runs: records systemd's verdict on the run that ended.
inline const QString kServiceEndOption = QStringLiteral("--fim-servico");
// The file (in the station's LOGS/) that carries that verdict to the next start.
inline const QString kServiceEndFileName = QStringLiteral("SERVICO.FIM");

// "--version" (prints "miravox VERSION") and the service's stop command; -1 for any other
// command line (the program runs as usual). Runs before any application object exists.
int service_command(int argc, char** argv);

// Writes systemd's verdict on the run that just ended (its SERVICE_RESULT, EXIT_CODE and
// EXIT_STATUS, as given in `environment`) to `logs_folder` + kServiceEndFileName; a clean stop
// removes an old file instead. False when the file cannot be written.
bool record_service_end(const QString& logs_folder, const std::function<QString(const char*)>& environment);

// What the last run's verdict, left in `logs_folder`, tells the next start: nothing (no file,
// or a clean stop), else the operation log's line and the event's detail. The file is removed.
struct ServiceRestart {
    QString log_line;
    QString detail;
    bool watchdog = false;
};
std::optional<ServiceRestart> take_service_end(const QString& logs_folder);

// The one-line STATUS= text of a snapshot ("" before the first one).
QString service_status_text(const StationSnapshot& snapshot, bool published);

class ServiceNotifier {
  public:
    using Log = std::function<void(const QString&)>;

    // Reads NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID as the process has them now.
    ServiceNotifier();
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    // Whether a service manager listens (NOTIFY_SOCKET was set).
    bool active() const { return active_; }
    // The watchdog interval systemd asked for; zero without a watchdog.
    std::chrono::microseconds watchdog_interval() const { return watchdog_; }
    // How often the main tick pings: half the watchdog interval, as systemd recommends. A tick
    // that comes later than this after the one before it is late and does not ping.
    std::chrono::microseconds ping_interval() const { return watchdog_ / 2; }

    // Once per main tick. The first tick reads the last run's verdict (logged through `log`
    // and posted to `state` when it was not a clean stop), takes SIGTERM as a request to shut
    // down, and says READY=1. Every tick says STATUS= when the text changed and WATCHDOG=1
    // when a ping is due and the tick is on time.
    void tick(StationState& state, const Log& log);
    // STOPPING=1, once; `log`'s callback is dropped (the window that gave it is going).
    void stopping();

    // Datagrams handed to sd_notify() so far (for the tests and the diagnostics).
    std::uint64_t sent() const;

  private:
    void queue(bool ready, bool ping, bool stop, const QString* status);
    void take_sigterm_as_quit();

    bool active_ = false;
    std::chrono::microseconds watchdog_{0};
    bool first_tick_ = true;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point last_tick_{};
    std::chrono::steady_clock::time_point last_ping_{};
    std::uint64_t seen_generation_ = 0;
    QString last_status_;
    Log log_;
    QPointer<QSocketNotifier> sigterm_;

    // Shared with the sender thread, which may outlive this object: a sender stuck in a send
    // to a hung service manager is left behind at exit rather than waited for.
    struct Outbox {
        std::mutex mutex;
        std::condition_variable wake, finished;
        bool ready = false, ping = false, stop = false, quit = false, done = false;
        std::optional<QByteArray> status;
        std::uint64_t sent = 0;
    };
    static void run(std::shared_ptr<Outbox> outbox);
    std::shared_ptr<Outbox> outbox_;
    std::thread sender_;
};

// The program's notifier, made at its first use from the process's environment.
ServiceNotifier& service_notifier();

} // namespace miravox
