// The threaded timer under a program clock that runs faster than real time: it fires at the
// clock's pace, and does not look at the clock more often than every 50 us however fast it runs.

#include "threaded_timer.h"

#include "clock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

using namespace miravox;

namespace {

int firings_in(int real_ms, int interval_ms) {
    TThreadedTimer timer;
    int fired = 0;
    timer.OnTimer = [&](QObject*) { ++fired; };
    timer.setInterval(interval_ms);
    timer.setEnabled(true);
    QDeadlineTimer deadline(real_ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    timer.setEnabled(false);
    QCoreApplication::processEvents();
    return fired;
}

} // namespace

TEST(ThreadedTimerRate, ASecondTimerFiresEveryFiftiethOfASecondAtFiftyTimesTheSpeed) {
    ScopedClock scope(std::make_shared<SystemClock>(0, 50));
    // 600 ms of real time are 30 s of program time: about 30 firings, none at real speed.
    const int fired = firings_in(600, 1000);
    EXPECT_GE(fired, 15);
    EXPECT_LE(fired, 31);
}

TEST(ThreadedTimerRate, NoTimerLooksAtTheClockMoreOftenThanEveryFiftyMicroseconds) {
    ScopedClock scope(std::make_shared<SystemClock>(0, 10000));
    // Every look finds more than a millisecond of program time gone, so each one fires.
    const int fired = firings_in(100, 1);
    EXPECT_GE(fired, 10);
    EXPECT_LE(fired, 100 * 1000 / 50 + 1);
}
