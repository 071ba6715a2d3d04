#include "threaded_timer.h"

#include "clock.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

using miravox::detail::TimerShared;

namespace {

constexpr double kPollMs = 20;
constexpr double kLongestSleepMs = 1000;
constexpr double kFastestPollUs = 50;

// `program_ms` of program time in real microseconds.
unsigned long real_us(double program_ms) {
    return static_cast<unsigned long>(std::max(kFastestPollUs, program_ms * 1000 / miravox::clock().rate()));
}

unsigned long poll_us() {
    return real_us(kPollMs);
}

// Sleeps while `word` holds `value`: until woken, `word` changes, or `us` microseconds (0: no
// limit). A plain futex: neither side ever waits for a lock held by the other.
void sleep_on(std::atomic<std::int32_t>& word, std::int32_t value, unsigned long us) {
    static_assert(sizeof(std::atomic<std::int32_t>) == sizeof(std::int32_t));
    timespec limit{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    syscall(SYS_futex, reinterpret_cast<std::int32_t*>(&word), FUTEX_WAIT_PRIVATE, value, us ? &limit : nullptr,
            nullptr, 0);
}

void wake(std::atomic<std::int32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<std::int32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

} // namespace

void miravox::detail::TimerShared::set_gate(std::int32_t v) {
    gate.store(v);
    wake(gate);
}

void miravox::detail::TimerShared::set_interval(std::int32_t ms) {
    if (interval.exchange(ms) == ms)
        return;
    // Only a running worker is woken: a disabled one restarts its interval when enabled.
    std::int32_t running = kRunning;
    if (gate.compare_exchange_strong(running, kRetuned))
        wake(gate);
}

void miravox::detail::TimerShared::firing_done() {
    if (outstanding.exchange(kNone) == kAwaited)
        wake(outstanding);
}

TTimerThread::TTimerThread(std::shared_ptr<TimerShared> shared, QObject* invoker)
    : FShared(std::move(shared)), FInvoker(invoker),
      // Looked up once: by name at every firing, the lookup is most of the worker's own work.
      FFire(invoker->metaObject()->method(invoker->metaObject()->indexOfMethod("fire()"))) {}

void TTimerThread::run() {
    unsigned long next_us = poll_us();
    while (!FShared->terminate.load()) {
        if (FShared->gate.load() == TimerShared::kIdle) {
            // Disabled: nothing to measure until it is enabled again (enabling restarts the
            // interval, so no check is missed by sleeping here).
            sleep_on(FShared->gate, TimerShared::kIdle, 0);
            next_us = poll_us();
            continue;
        }
        sleep_on(FShared->gate, TimerShared::kRunning, next_us);
        if (FShared->terminate.load())
            break;
        // Woken by a new interval: measure against it from now on (the main thread may have
        // disabled the timer meanwhile, which this leaves alone).
        std::int32_t retuned = TimerShared::kRetuned;
        FShared->gate.compare_exchange_strong(retuned, TimerShared::kRunning);
        next_us = check();
    }
}

// Sleeps until the main thread has run the firing handed to it last (or the timer ends).
void TTimerThread::wait_for_outstanding_firing() {
    std::int32_t state = FShared->outstanding.load();
    while (state != TimerShared::kNone && !FShared->terminate.load()) {
        if (state == TimerShared::kAwaited ||
            FShared->outstanding.compare_exchange_weak(state, TimerShared::kAwaited))
            sleep_on(FShared->outstanding, TimerShared::kAwaited, 0);
        state = FShared->outstanding.load();
    }
}

// Returns how long to sleep before the next check.
unsigned long TTimerThread::check() {
    if (FShared->outstanding.load() != TimerShared::kNone) {
        // The main thread has not run the last firing yet (a long handler, a blocking call):
        // like a worker that waited for it, check again a poll step after it has run.
        wait_for_outstanding_firing();
        return poll_us();
    }
    if (!FShared->enabled.load())
        return poll_us();
    const qint64 now = miravox::clock().now_ms();
    const qint64 elapsed = std::llabs(now - FShared->interval_check_ms.load());
    if (elapsed <= qint64(FShared->interval.load()))
        return sleep_before_next_check(now);
    FShared->interval_check_ms.store(now);
    FShared->outstanding.store(TimerShared::kPosted);
    FFire.invoke(FInvoker, Qt::QueuedConnection);
    return sleep_before_next_check(now);
}

unsigned long TTimerThread::sleep_before_next_check(qint64 now) const {
    if (!miravox::clock().free_running())
        return poll_us();
    const qint64 since = now - FShared->interval_check_ms.load();
    const qint64 left = qint64(FShared->interval.load()) - since; // it fires once this is below 0
    if (since < 0 || left < qint64(kPollMs))
        return poll_us();
    return real_us(std::min(double(left + 1), kLongestSleepMs));
}

TThreadedTimer::TThreadedTimer(QObject* AOwner)
    : QObject(AOwner), FShared(std::make_shared<TimerShared>()),
      FInvoker(new miravox::detail::TimerInvoker([this] { Fire(); })) {
    // The program clock is made on first use. Make it here, on the main thread, which also
    // destroys it at exit, rather than in the worker: a worker that ended before its timer was
    // destroyed is joined through Qt's own lock, which ThreadSanitizer cannot see.
    miravox::clock();
    FThread = new TTimerThread(FShared, FInvoker);
    FThread->start(QThread::NormalPriority);
    ++wct_timers;
}

TThreadedTimer::~TThreadedTimer() {
    FShared->terminate.store(true);
    FShared->set_gate(TimerShared::kEnding);
    FShared->firing_done(); // a worker waiting for a firing that will now never run
    OnTimer = nullptr;
    FThread->wait();
    delete FThread;
    if (FShared->firing.load())
        FInvoker->deleteLater(); // destroyed from inside its own handler, which runs in it
    else
        delete FInvoker;         // with a firing still posted to it, which is thereby discarded
    --wct_timers;
}

void TThreadedTimer::setEnabled(bool v) {
    if (v == FShared->enabled.load())
        return;
    if (v) {
        FShared->interval_check_ms.store(miravox::clock().now_ms());
        ++wct_timers_ativos;
    } else {
        --wct_timers_ativos;
    }
    FShared->enabled.store(v);
    FShared->set_gate(v ? TimerShared::kRunning : TimerShared::kIdle);
}

void TThreadedTimer::setThreadPriority(TThreadPriority p) {
    static constexpr QThread::Priority map[] = {QThread::IdlePriority,    QThread::LowestPriority,
                                                QThread::LowPriority,     QThread::NormalPriority,
                                                QThread::HighPriority,    QThread::HighestPriority,
                                                QThread::TimeCriticalPriority};
    FPriority = p;
    FThread->setPriority(map[p]);
}

void TThreadedTimer::Fire() {
    if (FShared->terminate.load())
        return;
    auto shared = FShared; // keeps the flag alive if the handler destroys this timer
    shared->firing.store(true);
    if (OnTimer)
        OnTimer(this);
    shared->firing.store(false);
    shared->firing_done();
}
