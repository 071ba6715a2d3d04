// A program clock that runs faster than real time, for simulated runs: its rate, where it comes
// from, and the program-time sleep that follows it.

#include "clock.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

using namespace miravox;

namespace {

double rate_for(const char* value) {
    if (value)
        qputenv("MIRAVOX_CLOCK_RATE", value);
    else
        qunsetenv("MIRAVOX_CLOCK_RATE");
    const double rate = clock_rate_from_environment();
    qunsetenv("MIRAVOX_CLOCK_RATE");
    return rate;
}

} // namespace

TEST(ClockRate, ComesFromTheEnvironmentOnlyWhenItIsAUsableNumber) {
    EXPECT_EQ(rate_for(nullptr), 1.0);
    EXPECT_EQ(rate_for("240"), 240.0);
    EXPECT_EQ(rate_for(" 2.5 "), 2.5);
    EXPECT_EQ(rate_for("10000"), 10000.0);
    for (const char* bad : {"", "0", "-3", "abc", "12x", "1e9", "nan", "inf"})
        EXPECT_EQ(rate_for(bad), 1.0) << bad;
}

TEST(ClockRate, AFastClockStartsWhereAskedAndRunsThatManyTimesAsFast) {
    const QDateTime start(QDate(2026, 12, 6), QTime(23, 50, 0));
    auto fast = SystemClock::starting_at(start, 50);
    QElapsedTimer real;
    real.start();
    const qint64 lag = start.msecsTo(fast->now());
    EXPECT_GE(lag, 0);
    EXPECT_LT(lag, 1000);
    EXPECT_EQ(fast->rate(), 50.0);
    QThread::msleep(200);
    const double program_ms = double(start.msecsTo(fast->now()));
    const double real_ms = double(real.elapsed());
    EXPECT_GT(program_ms, 50 * 200 * 0.95);
    EXPECT_LT(program_ms, 50 * (real_ms + 20));
    EXPECT_EQ(SystemClock().rate(), 1.0);
}

TEST(ClockRate, ProgramTimeSleepsAreShorterUnderAFasterClock) {
    QElapsedTimer real;
    {
        ScopedClock scope(std::make_shared<SystemClock>(0, 100));
        real.start();
        sleep_program_ms(2000); // 20 ms of real time
    }
    EXPECT_GE(real.elapsed(), 15);
    EXPECT_LT(real.elapsed(), 1000);
    real.restart();
    sleep_program_ms(60); // the real clock: real time
    EXPECT_GE(real.elapsed(), 55);
}
