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
