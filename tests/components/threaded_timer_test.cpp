#include "threaded_timer.h"

#include "clock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

using namespace miravox;

namespace {

// Runs the event loop until `done` or the deadline; returns whether `done` came true.
template <class F> bool pump_until(F done, int ms = 2000) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

void pump_for(int ms) {
    pump_until([] { return false; }, ms);
}

class ThreadedTimerTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualClock> manual =
        std::make_shared<ManualClock>(QDateTime(QDate(2026, 12, 9), QTime(19, 0, 0)));
    ScopedClock scope{manual};
};

} // namespace

TEST_F(ThreadedTimerTest, FiresOnlyOnceMoreThanTheIntervalHasPassed) {
    TThreadedTimer timer;
    int fired = 0;
    timer.OnTimer = [&](QObject* sender) {
        EXPECT_EQ(sender, &timer);
        ++fired;
    };
    timer.setInterval(100);
    timer.setEnabled(true);
    manual->advance_ms(100); // exactly the interval: not yet
    pump_for(120);
    EXPECT_EQ(fired, 0);
    manual->advance_ms(1);
    ASSERT_TRUE(pump_until([&] { return fired == 1; }));
    pump_for(100); // the reference moved to the firing: nothing more without time passing
    EXPECT_EQ(fired, 1);
}

TEST_F(ThreadedTimerTest, ClockSetBackOrForwardFiresAndRestartsTheInterval) {
    TThreadedTimer timer;
    int fired = 0;
    timer.OnTimer = [&](QObject*) { ++fired; };
    timer.setInterval(60000);
    timer.setEnabled(true);
    manual->advance_ms(-3600 * 1000); // back one hour
    ASSERT_TRUE(pump_until([&] { return fired == 1; }));
    EXPECT_EQ(timer.IntervalCheck(), manual->now_ms());
    manual->advance_ms(2 * 3600 * 1000); // forward two hours
    ASSERT_TRUE(pump_until([&] { return fired == 2; }));
    pump_for(80);
    EXPECT_EQ(fired, 2);
}

TEST_F(ThreadedTimerTest, NegativeOrZeroIntervalsFireAtEveryCheckWithTimePassing) {
    TThreadedTimer timer;
    int fired = 0;
    timer.OnTimer = [&](QObject*) { ++fired; };
    timer.setInterval(-1);
    timer.setEnabled(true);
    ASSERT_TRUE(pump_until([&] { return fired >= 3; })); // no clock movement needed
    timer.setEnabled(false);
    timer.setInterval(0);
    fired = 0;
    timer.setEnabled(true);
    pump_for(80);
    EXPECT_EQ(fired, 0); // 0 needs at least 1 ms
    manual->advance_ms(1);
    EXPECT_TRUE(pump_until([&] { return fired == 1; }));
}

TEST_F(ThreadedTimerTest, EnablingCountersAndReferenceTime) {
    const int timers_before = wct_timers;
    const int active_before = wct_timers_ativos;
    {
        TThreadedTimer a, b;
        EXPECT_EQ(wct_timers, timers_before + 2);
        EXPECT_FALSE(a.Enabled());
        EXPECT_EQ(a.Interval(), 1000);
        EXPECT_EQ(a.Tag, 0);
        EXPECT_EQ(a.ThreadPriority(), tpNormal);

        a.setEnabled(true);
        const qint64 reference = a.IntervalCheck();
        manual->advance_ms(500);
        a.setEnabled(true); // no change: neither the count nor the reference moves
        EXPECT_EQ(wct_timers_ativos, active_before + 1);
        EXPECT_EQ(a.IntervalCheck(), reference);

        b.setEnabled(true);
        b.setEnabled(false);
        b.setEnabled(false);
        EXPECT_EQ(wct_timers_ativos, active_before + 1);
    }
    // `a` was destroyed while enabled: its enabling is never taken back.
    EXPECT_EQ(wct_timers, timers_before);
    EXPECT_EQ(wct_timers_ativos, active_before + 1);
    wct_timers_ativos = active_before;
}

TEST_F(ThreadedTimerTest, TimerWithoutHandlerStillMovesItsReference) {
    TThreadedTimer timer;
    timer.setInterval(10);
    timer.setEnabled(true);
    const qint64 enabled_at = timer.IntervalCheck();
    manual->advance_ms(50);
    EXPECT_TRUE(pump_until([&] { return timer.IntervalCheck() == enabled_at + 50; }));
}

TEST(ThreadedTimer, FiresInsideAModalMessageBox) {
    TThreadedTimer timer;
    int fired = 0;
    QMessageBox box(QMessageBox::Information, "t", "modal");
    timer.OnTimer = [&](QObject*) {
        if (++fired == 3)
            box.done(QMessageBox::Ok);
    };
    timer.setInterval(20);
    timer.setEnabled(true);
    QTimer::singleShot(5000, &box, [&] { box.done(QMessageBox::Cancel); }); // bound
    EXPECT_EQ(box.exec(), QMessageBox::Ok);
    EXPECT_EQ(fired, 3);
}

TEST(ThreadedTimer, HandlersNeverOverlapAndLongHandlersAreNotMadeUp) {
    TThreadedTimer timer;
    int fired = 0;
    bool inside = false;
    timer.OnTimer = [&](QObject*) {
        EXPECT_FALSE(inside);
        inside = true;
        ++fired;
        QThread::msleep(150); // three intervals
        inside = false;
    };
    timer.setInterval(50);
    timer.setEnabled(true);
    pump_for(700);
    timer.setEnabled(false);
    EXPECT_GE(fired, 2);
    EXPECT_LE(fired, 5); // ~700 / (150 + 50..70), never the 14 a catch-up would give
}

// The worker does not wait for a firing to run before it sleeps again; it must still never hand
// over a second one while the first waits for a busy main thread.
TEST(ThreadedTimer, ABusyMainThreadFindsOneFiringWaitingNotACatchUp) {
    TThreadedTimer timer;
    int fired = 0;
    timer.OnTimer = [&](QObject*) { ++fired; };
    timer.setInterval(10);
    timer.setEnabled(true);
    QThread::msleep(300); // thirty intervals without servicing the queue
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(fired, 1);
    // And the worker, released by that firing, goes on firing as usual.
    ASSERT_TRUE(pump_until([&] { return fired >= 3; }, 2000));
}

TEST(ThreadedTimer, DestroyingWhileTheWorkerWaitsForTheMainThreadDoesNotDeadlockOrFire) {
    int fired = 0;
    auto* timer = new TThreadedTimer;
    timer->OnTimer = [&](QObject*) { ++fired; };
    timer->setInterval(0);
    timer->setEnabled(true);
    QThread::msleep(100); // the main thread is busy: the worker is now blocked handing over
    delete timer;         // must return, and must not run the pending handler
    pump_for(50);
    EXPECT_EQ(fired, 0);
}

TEST(ThreadedTimer, CanBeDestroyedFromItsOwnHandler) {
    int fired = 0;
    auto* timer = new TThreadedTimer;
    timer->OnTimer = [&](QObject* sender) {
        ++fired;
        delete static_cast<TThreadedTimer*>(sender);
    };
    timer->setInterval(0);
    timer->setEnabled(true);
    ASSERT_TRUE(pump_until([&] { return fired == 1; }));
    pump_for(100);
    EXPECT_EQ(fired, 1);
}

TEST(ThreadedTimer, ThreadPriorityReadsBack) {
    TThreadedTimer timer;
    timer.setThreadPriority(tpHigher);
    EXPECT_EQ(timer.ThreadPriority(), tpHigher);
}

namespace {

// Voluntary context switches of every thread of this process: each wake-up of a sleeping
// worker counts one.
long voluntary_switches() {
    long total = 0;
    QDir tasks("/proc/self/task");
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(tid) + "/status");
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                total += line.mid(24).trimmed().toLong();
    }
    return total;
}

} // namespace

// A station has a dozen timers and most of them are off most of the time: their workers must
// sleep rather than poll, yet wake as soon as they are enabled, and still end when destroyed.
TEST(ThreadedTimer, DisabledTimersSleepUntilEnabledOrDestroyed) {
    std::vector<std::unique_ptr<TThreadedTimer>> timers;
    for (int i = 0; i < 10; ++i)
        timers.push_back(std::make_unique<TThreadedTimer>());
    QThread::msleep(50);
    const long before = voluntary_switches();
    QThread::msleep(500);
    // Polling would be ten workers waking 25 times each.
    EXPECT_LT(voluntary_switches() - before, 60);

    int fired = 0;
    timers[3]->OnTimer = [&](QObject*) { ++fired; };
    timers[3]->setInterval(30);
    timers[3]->setEnabled(true);
    ASSERT_TRUE(pump_until([&] { return fired >= 2; }));
    timers[3]->setEnabled(false);
    pump_for(100);
    const int after_disabling = fired;
    pump_for(200);
    EXPECT_EQ(fired, after_disabling);
    timers.clear(); // every worker, asleep or not, ends
}

// Under the real clock an enabled timer sleeps through most of a long interval instead of
// checking every 20 ms, yet fires just after the interval, and a sleeping worker still wakes at
// once when its timer is disabled or destroyed.
TEST(ThreadedTimer, EnabledTimersSleepThroughLongIntervalsAndStillFireOnTime) {
    TThreadedTimer timer;
    int fired = 0;
    qint64 first_at = 0;
    timer.OnTimer = [&](QObject*) {
        if (++fired == 1)
            first_at = miravox::clock().now_ms();
    };
    timer.setInterval(1000);
    const long before = voluntary_switches();
    timer.setEnabled(true);
    const qint64 enabled_at = timer.IntervalCheck();
    ASSERT_TRUE(pump_until([&] { return fired == 1; }, 3000));
    EXPECT_GT(first_at - enabled_at, 1000);
    EXPECT_LT(first_at - enabled_at, 1500);
    timer.setEnabled(false);
    // Checking every 20 ms would have woken the worker 50 times; pumping the event loop adds
    // a few switches of the main thread.
    EXPECT_LT(voluntary_switches() - before, 45);

    std::vector<std::unique_ptr<TThreadedTimer>> sleepers;
    for (int i = 0; i < 10; ++i) {
        sleepers.push_back(std::make_unique<TThreadedTimer>());
        sleepers.back()->setInterval(100000);
        sleepers.back()->setEnabled(true);
    }
    QThread::msleep(30);
    QElapsedTimer destroying;
    destroying.start();
    sleepers.clear();
    EXPECT_LT(destroying.elapsed(), 1000); // ten sleeps of up to 200 ms each were cut short
}

// A worker asleep on a long interval takes up a shortened one at once instead of sleeping out
// the old one (up to a second) first.
TEST(ThreadedTimer, AnIntervalShortenedWhileEnabledCountsAtTheNextCheck) {
    TThreadedTimer timer;
    qint64 fired_at = 0;
    timer.OnTimer = [&](QObject*) {
        if (fired_at == 0)
            fired_at = miravox::clock().now_ms();
    };
    timer.setInterval(100000);
    timer.setEnabled(true);
    const qint64 enabled_at = timer.IntervalCheck();
    pump_for(200); // the worker now sleeps for a second on the old interval
    timer.setInterval(100);
    ASSERT_TRUE(pump_until([&] { return fired_at != 0; }, 3000));
    // The old interval's sleep would end a second after enabling at the earliest.
    EXPECT_LT(fired_at - enabled_at, 900);

    // A disabled timer is left asleep, and starts its new interval when enabled.
    timer.setEnabled(false);
    timer.setInterval(50);
    int fired = 0;
    timer.OnTimer = [&](QObject*) { ++fired; };
    pump_for(150);
    EXPECT_EQ(fired, 0);
    timer.setEnabled(true);
    EXPECT_TRUE(pump_until([&] { return fired > 0; }));
}
