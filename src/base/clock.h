#pragma once
// The one source of the current date and time for the whole program.
// Every read of "now" (timers' reference times included) goes through clock().
// A clock may run faster than real time (a simulated run, MIRAVOX_CLOCK_RATE): every wait that
// stands for program time divides itself by the clock's rate(), so the program behaves as it
// would in real time, only sooner.
// Thread rules: clock(), Clock::now(), Clock::rate() and sleep_program_ms() may be called from
// any thread.

#include <QDateTime>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace miravox {

class Clock {
public:
    virtual ~Clock() = default;
    // Current local date and time, millisecond resolution.
    virtual QDateTime now() const = 0;
    // The same as milliseconds since the epoch. Cheap: the timers read it 50 times a second each,
    // and a local QDateTime costs a time-zone conversion.
    virtual qint64 now_ms() const { return now().toMSecsSinceEpoch(); }
    // How many times faster than real time this clock runs; 1 for every clock but a
    // simulated one.
    virtual double rate() const { return 1.0; }
    // Whether the clock moves by itself (at rate() times real speed). Timers may then sleep until
    // their interval is nearly over; a clock moved by hand must be looked at every time.
    virtual bool free_running() const { return true; }
};

// The real clock, optionally shifted by a fixed offset (so that a whole run can be placed at a
// chosen moment), and optionally running `rate` times as fast as real time from the moment it
// is made (a simulated run: a week of schedule in less than an hour).
class SystemClock final : public Clock {
public:
    explicit SystemClock(qint64 offset_ms = 0, double rate = 1.0);
    QDateTime now() const override;
    qint64 now_ms() const override;
    double rate() const override { return rate_; }
    // A clock that reads `start` now and runs at `rate` times real speed from here on.
    static std::unique_ptr<SystemClock> starting_at(const QDateTime& start, double rate = 1.0);

private:
    qint64 offset_ms_;
    double rate_;
    qint64 origin_ms_ = 0;       // real time when a faster clock was made
    std::int64_t origin_ns_ = 0; // steady time then: the scaled part never jumps with the wall clock
};

// A clock that only moves when told to. For tests.
class ManualClock final : public Clock {
public:
    explicit ManualClock(const QDateTime& start) : ms_(start.toMSecsSinceEpoch()) {}
    QDateTime now() const override { return QDateTime::fromMSecsSinceEpoch(ms_.load()); }
    qint64 now_ms() const override { return ms_.load(); }
    bool free_running() const override { return false; }
    void set(const QDateTime& t) { ms_ = t.toMSecsSinceEpoch(); }
    void advance_ms(qint64 ms) { ms_ += ms; }

private:
    std::atomic<qint64> ms_;
};

// The process-wide clock. Defaults to the system clock, or, when the environment
// variable MIRAVOX_CLOCK_START=YYYY-MM-DDTHH:MM:SS is set, to a clock starting there.
// MIRAVOX_CLOCK_RATE=N (a number above 0, at most kMaxClockRate) makes it run N times as fast.
const Clock& clock();

inline constexpr double kMaxClockRate = 10000;

// MIRAVOX_CLOCK_RATE as a rate: 1 when unset; 1 with a warning when it is not a number in
// (0, kMaxClockRate].
double clock_rate_from_environment();

// Sleeps for `ms` of program time: real time divided by the clock's rate.
void sleep_program_ms(int ms);

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
