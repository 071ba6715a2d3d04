#include "threaded_timer.h"

#include "clock.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <cstdlib>

using miravox::detail::TimerShared;

namespace {

// The worker looks at the clock every 20 ms of program time. A clock that runs faster (a
// simulated run) is looked at as much more often, so that every timer keeps its pace in program
// time, but never more often than every 50 us of real time.
constexpr double kPollMs = 20;
constexpr double kFastestPollUs = 50;

unsigned long poll_us() {
    return static_cast<unsigned long>(std::max(kFastestPollUs, kPollMs * 1000 / miravox::clock().rate()));
}

} // namespace

TTimerThread::TTimerThread(std::shared_ptr<TimerShared> shared, QObject* invoker)
    : FShared(std::move(shared)), FInvoker(invoker) {}

void TTimerThread::run() {
    while (!FShared->terminate.load()) {
        QThread::usleep(poll_us());
        if (FShared->terminate.load())
            break;
        check();
    }
}

void TTimerThread::check() {
    if (!FShared->enabled.load())
        return;
    const qint64 now = miravox::clock().now_ms();
    const qint64 elapsed = std::llabs(now - FShared->interval_check_ms.load());
    if (elapsed <= qint64(FShared->interval.load()))
        return;
    FShared->interval_check_ms.store(now);
    // Synchronous hand-over: returns once the main thread has run the handler, or when the
    // timer's destruction discards the pending call.
    QMetaObject::invokeMethod(FInvoker, "fire", Qt::BlockingQueuedConnection);
}

TThreadedTimer::TThreadedTimer(QObject* AOwner)
    : QObject(AOwner), FShared(std::make_shared<TimerShared>()),
      FInvoker(new miravox::detail::TimerInvoker([this] { Fire(); })) {
    FThread = new TTimerThread(FShared, FInvoker);
    FThread->start(QThread::NormalPriority);
    ++wct_timers;
}

TThreadedTimer::~TThreadedTimer() {
    FShared->terminate.store(true);
    OnTimer = nullptr;
    if (FShared->firing.load()) {
        // Destroyed from inside its own handler: the worker waits for that very handler to
        // return, so it cannot be joined here. It ends on its own once the handler returns.
        QObject::connect(FThread, &QThread::finished, FThread, &QObject::deleteLater);
        FInvoker->deleteLater();
    } else {
        // The worker may be blocked handing a firing to us: discard that call (which releases
        // it without running the handler) until it has left its loop.
        while (!FThread->wait(QDeadlineTimer(2)))
            QCoreApplication::removePostedEvents(FInvoker, QEvent::MetaCall);
        delete FThread;
        delete FInvoker;
    }
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
}
