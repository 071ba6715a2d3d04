#include "clock.h"

#include <gtest/gtest.h>

using namespace miravox;

TEST(Clock, ManualClockIsTheProgramClockWhileInstalled) {
    const QDateTime start(QDate(2026, 12, 9), QTime(19, 0, 0));
    auto manual = std::make_shared<ManualClock>(start);
    {
        ScopedClock scope(manual);
        EXPECT_EQ(miravox::clock().now(), start);
        manual->advance_ms(1500);
        EXPECT_EQ(miravox::clock().now(), start.addMSecs(1500));
    }
    EXPECT_LT(std::llabs(miravox::clock().now().msecsTo(QDateTime::currentDateTime())), 1000);
}

TEST(Clock, SystemClockStartingAtAMomentRunsAtRealSpeed) {
    const QDateTime start(QDate(2025, 3, 5), QTime(18, 59, 55));
    auto c = SystemClock::starting_at(start);
    const qint64 lag = start.msecsTo(c->now());
    EXPECT_GE(lag, 0);
    EXPECT_LT(lag, 1000);
}

// The timers read milliseconds directly; they must agree with the date-time every other reader
// sees, for a shifted clock and a fast one alike.
TEST(Clock, MillisecondsAgreeWithTheDateTimeOfEveryKindOfClock) {
    const QDateTime start(QDate(2026, 3, 29), QTime(1, 59, 58)); // the night the clocks go forward
    const std::vector<std::shared_ptr<const Clock>> clocks{
        std::make_shared<SystemClock>(), SystemClock::starting_at(start), SystemClock::starting_at(start, 240),
        std::make_shared<ManualClock>(start)};
    for (const auto& c : clocks) {
        const qint64 before = c->now().toMSecsSinceEpoch();
        const qint64 ms = c->now_ms();
        const qint64 after = c->now().toMSecsSinceEpoch();
        EXPECT_LE(before, ms);
        EXPECT_LE(ms, after);
        EXPECT_LT(after - before, 5000);
    }
}
