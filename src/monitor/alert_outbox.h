#pragma once
// The alerts waiting for the command, in the order they happened. The front one is tried
// until the command takes it; a failure holds the whole queue back for a pause that grows with
// each failure in a row (the internet is down: the alerts go out, in order, when it is back).
// The queue is bounded, and kept in a file beside the logs at every change, so what a crash, a
// power cut or a shutdown leaves unsent goes out at the next start.
// Thread rules: one thread at a time.

#include "alert_policy.h"

#include <QString>

#include <deque>

namespace miravox {

class AlertOutbox {
  public:
    static constexpr std::size_t kCapacity = 200;
    // The pause after the first failure in a row, doubled by each further one up to the longest.
    static constexpr qint64 kFirstPauseMs = 10'000;
    static constexpr qint64 kLongestPauseMs = 300'000;

    // `file` keeps the queue across runs; empty: memory only.
    explicit AlertOutbox(QString file) : file_(std::move(file)) {}

    // Takes in what an earlier run left, ahead of anything queued since; the file is not
    // written before. Unreadable lines are skipped; their count is returned through `skipped`.
    void load(int* skipped = nullptr);

    // Queues `alert` behind the others; when full the oldest gives way, counted in dropped().
    void push(Alert alert);
    bool empty() const { return alerts_.empty(); }
    std::size_t size() const { return alerts_.size(); }
    const Alert& front() const { return alerts_.front(); }
    const std::deque<Alert>& alerts() const { return alerts_; }
    std::uint64_t dropped() const { return dropped_; }

    // Whether the front alert may be tried at `now_ms` (program clock).
    bool ready(qint64 now_ms) const { return !alerts_.empty() && now_ms >= next_try_ms_; }
    // The command took the front alert.
    void sent();
    // The command failed on the front alert at `now_ms`; returns the pause before the next try.
    qint64 failed(qint64 now_ms);
    int failures() const { return failures_; }

    // The pause after `failures` failures in a row.
    static qint64 pause_ms(int failures);

    // One alert as a line of the file, and back.
    static QString to_line(const Alert& alert);
    static std::optional<Alert> from_line(const QString& line);

  private:
    void save();

    QString file_;
    bool loaded_ = false;
    std::deque<Alert> alerts_;
    std::uint64_t dropped_ = 0;
    int failures_ = 0;
    qint64 next_try_ms_ = 0;
};

} // namespace miravox
