#pragma once
// The one source of the current date and time for the whole program.
// Every read of "now" (timers' reference times included) goes through clock().
// Thread rules: clock() and Clock::now() may be called from any thread.

#include <QDateTime>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace miravox {

class Clock {
public:
    virtual ~Clock() = default;
    // Current local date and time, millisecond resolution.
    virtual QDateTime now() const = 0;
    qint64 now_ms() const { return now().toMSecsSinceEpoch(); }
};

// The real clock, optionally shifted by a fixed offset (so that a whole run can be
// placed at a chosen moment while still running at real speed).
class SystemClock final : public Clock {
public:
    explicit SystemClock(qint64 offset_ms = 0) : offset_ms_(offset_ms) {}
    QDateTime now() const override;
    // A clock that reads `start` now and runs at real speed from here on.
    static std::unique_ptr<SystemClock> starting_at(const QDateTime& start);

private:
    qint64 offset_ms_;
};

// A clock that only moves when told to. For tests.
class ManualClock final : public Clock {
public:
    explicit ManualClock(const QDateTime& start) : ms_(start.toMSecsSinceEpoch()) {}
    QDateTime now() const override { return QDateTime::fromMSecsSinceEpoch(ms_.load()); }
    void set(const QDateTime& t) { ms_ = t.toMSecsSinceEpoch(); }
    void advance_ms(qint64 ms) { ms_ += ms; }

private:
    std::atomic<qint64> ms_;
};

// The process-wide clock. Defaults to the system clock, or, when the environment
// variable MIRAVOX_CLOCK_START=YYYY-MM-DDTHH:MM:SS is set, to a clock starting there.
const Clock& clock();

// Replaces the process-wide clock (tests, start-up). Returns the previous one.
std::shared_ptr<const Clock> set_clock(std::shared_ptr<const Clock> c);

// Installs a clock for the lifetime of this object and restores the previous one.
class ScopedClock {
public:
    explicit ScopedClock(std::shared_ptr<const Clock> c) : previous_(set_clock(std::move(c))) {}
    ~ScopedClock() { set_clock(previous_); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    std::shared_ptr<const Clock> previous_;
};

} // namespace miravox
