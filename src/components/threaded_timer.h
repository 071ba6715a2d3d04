#pragma once
// TThreadedTimer: the program's only timer. Each timer owns a worker thread that, while the timer
// is enabled, checks the program clock and, once more than Interval ms have passed since the last
// firing (or enabling), runs OnTimer on the main thread, waiting until it has run. Handlers
// therefore never overlap, they also run inside nested event loops (message boxes), and not at
// all while the main thread is blocked; missed periods are not made up.
//
// The worker hands a firing over without waiting for it: it goes back to sleep, and only if the
// firing has still not run when its next check is due does it wait for it, then checks 20 ms
// later. A timer therefore never has two firings outstanding, and a handler that outlasts the
// interval is followed by the next firing about 20 ms after it returns, as if the worker had
// waited all along; but a firing that runs promptly costs the worker no extra wake-up.
//
// Checks come every 20 ms of program time; while the interval is far from over the worker sleeps
// until just past its end instead, but never more than a second, so that a clock set back or
// forward is noticed within a second even by a timer with a long interval (the program's own
// timers all have intervals under a second, which they sleep through in one go). Under a clock moved by hand (tests)
// it checks every 20 ms; under a clock faster than real time every step is as much shorter, but
// at least 50 us of real time. A disabled timer's worker sleeps until it is enabled.
// A new Interval set while the timer is enabled counts at the next check: a worker asleep on
// the old one is woken to check against it.
//
// Thread rules: construct, destroy, enable and configure on the main thread only. The worker
// reads Enabled, Interval and the reference time through atomics; nothing blocks between the
// two threads except a worker waiting for a firing the main thread has not run yet.

#include <QMetaMethod>
#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// Timers constructed minus timers destroyed.
inline std::int32_t wct_timers = 0;
// Enablings minus disablings (a destroyed enabled timer is never subtracted).
inline std::int32_t wct_timers_ativos = 0;

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThreadedTimer;

namespace miravox::detail {

// State shared by a timer and its worker; outlives the timer while the worker still runs.
struct TimerShared {
    std::atomic<bool> enabled{false};
    std::atomic<std::int32_t> interval{1000};
    std::atomic<qint64> interval_check_ms{0};
    std::atomic<bool> terminate{false};
    std::atomic<bool> firing{false};
    // What the worker is to do: kIdle sleeps until woken, kRunning measures time, kEnding ends;
    // kRetuned measures time against an interval changed while it slept (it checks at once,
    // then goes back to kRunning). Its sleeps wait on this word, so enabling, disabling, a new
    // interval and destruction wake it at once.
    static constexpr std::int32_t kIdle = 0, kRunning = 1, kEnding = 2, kRetuned = 3;
    std::atomic<std::int32_t> gate{kIdle};
    // The hand-over: kNone, kPosted (a firing waits for the main thread), kAwaited (and the
    // worker sleeps on this word until it has run).
    static constexpr std::int32_t kNone = 0, kPosted = 1, kAwaited = 2;
    std::atomic<std::int32_t> outstanding{kNone};

    void set_gate(std::int32_t v);
    // Main thread: a new interval; a running worker asleep on the old one checks at once.
    void set_interval(std::int32_t ms);
    // Main thread: the posted firing has run (or was discarded); wakes a waiting worker.
    void firing_done();
};

// Lives on the main thread and runs the firings there. The worker calls fire() through Qt's
// meta-object system: that way everything that crosses between the threads is made and freed
// inside Qt, whose own locking ThreadSanitizer cannot see (a functor call would build the call
// object in our code).
class TimerInvoker final : public QObject {
    Q_OBJECT
public:
    explicit TimerInvoker(std::function<void()> fire) : fire_(std::move(fire)) {}
    Q_INVOKABLE void fire() { fire_(); }

private:
    std::function<void()> fire_;
};

} // namespace miravox::detail

class TTimerThread final : public QThread {
public:
    TTimerThread(std::shared_ptr<miravox::detail::TimerShared> shared, QObject* invoker);

protected:
    void run() override;

private:
    unsigned long check();
    void wait_for_outstanding_firing();
    unsigned long sleep_before_next_check(qint64 now) const;

    std::shared_ptr<miravox::detail::TimerShared> FShared;
    QObject* FInvoker; // a TimerInvoker: lives on the main thread; firings are delivered to it
    QMetaMethod FFire; // its fire()
};

class TThreadedTimer : public QObject {
public:
    explicit TThreadedTimer(QObject* AOwner = nullptr);
    ~TThreadedTimer() override;

    bool Enabled() const { return FShared->enabled.load(); }
    void setEnabled(bool v);

    std::int32_t Interval() const { return FShared->interval.load(); }
    void setInterval(std::int32_t ms) { FShared->set_interval(ms); }

    std::function<void(QObject* Sender)> OnTimer;

    TThreadPriority ThreadPriority() const { return FPriority; }
    void setThreadPriority(TThreadPriority p);

    // Free integer for the timer's users (counters, flags).
    int Tag = 0;

    // Wall-clock time (ms since the epoch) of the last firing or enabling.
    qint64 IntervalCheck() const { return FShared->interval_check_ms.load(); }

private:
    void Fire();

    std::shared_ptr<miravox::detail::TimerShared> FShared;
    QObject* FInvoker;
    TTimerThread* FThread;
    TThreadPriority FPriority = tpNormal;
};
