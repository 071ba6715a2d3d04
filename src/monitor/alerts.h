#pragma once
// The alerts: a watcher of the station's events that tells someone, through the station's own
// command (ALERTA_COMANDO), when the air is in trouble and when it is over. Its thread takes
// the events from its own queue, runs them through the policy (delay, interval), queues the
// alerts in order and runs the command for each, retrying a failing one with a growing pause.
// The main thread only creates and destroys it: nothing here can hold a tick.
// Failures go to the day's error log and each alert sent to the operation log, both written on
// the main thread as the program writes them.
// Thread rules: create and destroy on the main thread.

#include "alert_outbox.h"
#include "alert_policy.h"
#include "station_state.h"

#include <QStringList>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace miravox {

// The file that keeps the alerts not yet sent, in the logs folder.
inline const QString kPendingAlertsFile = QStringLiteral("ALERTAS_PENDENTES.TXT");

class AlertService {
  public:
    // How long the command may run, in program time, before it is killed.
    static constexpr qint64 kCommandLimitMs = 30'000;

    // Receives a line for the operation log; called on the main thread.
    using LogLine = std::function<void(const QString&)>;

    // Starts watching `state` (events posted from now on) when `settings.command` is set;
    // nothing otherwise. Alerts an earlier run left unsent go out first.
    static std::unique_ptr<AlertService> start(StationState& state, const AlertSettings& settings,
                                               LogLine operation_log);

    AlertService(StationState& state, AlertSettings settings, LogLine operation_log);
    // Lets a running command finish for a moment, then kills it; what is unsent stays in the file.
    ~AlertService();
    AlertService(const AlertService&) = delete;
    AlertService& operator=(const AlertService&) = delete;

    // The block written to the error log for one failure of the command.
    static QStringList failure_block(const QDateTime& now, const QString& command, const Alert& alert,
                                     const QString& why, int failures, qint64 pause_ms, std::size_t queued);

  private:
    void run();
    // Events to the policy, due alerts to the outbox.
    void take_events();
    // Hands a call to the main thread.
    void on_main_thread(std::function<void()> call);

    AlertSettings settings_;
    LogLine operation_log_;
    std::shared_ptr<StationEventQueue> events_;
    AlertPolicy policy_;
    AlertOutbox outbox_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unique_ptr<QThread> thread_;
};

// Writes `block` into today's error log (main thread only, like every writer of that file).
void append_to_error_log(const QStringList& block);

} // namespace miravox
