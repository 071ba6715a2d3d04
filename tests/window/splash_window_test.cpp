#include "splash_window.h"

#include "clock.h"
#include "cool_gauge.h"
#include "threaded_timer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

using namespace miravox;

namespace {

// Places the program folder in a fresh temporary folder for one test.
class SplashHome : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        previous_home = qgetenv("MIRAVOX_HOME");
        qputenv("MIRAVOX_HOME", home.path().toUtf8());
    }
    void TearDown() override { qputenv("MIRAVOX_HOME", previous_home); }

    QTemporaryDir home;
    QByteArray previous_home;
};

class SplashTest : public SplashHome {
protected:
    // A clock that stands still keeps the real timer quiet while the tests drive the ticks.
    ScopedClock still{std::make_shared<ManualClock>(QDateTime(QDate(2026, 12, 9), QTime(18, 59, 0)))};
};

} // namespace

TEST_F(SplashTest, CreationMakesTheLogFolderAndShowsTheWaitingLook) {
    ASSERT_FALSE(QDir(home.path() + "/LOGS").exists());
    Tform_abertura splash;
    EXPECT_TRUE(QDir(home.path() + "/LOGS").exists());

    EXPECT_EQ(splash.size(), QSize(339, 72));
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(splash.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(splash.cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(splash.Panel18->text(), "AGUARDE...");
    EXPECT_TRUE(splash.Panel18->font().bold());
    EXPECT_EQ(splash.Panel18->font().pixelSize(), 19);
    EXPECT_EQ(splash.CoolGauge1->Text(), "Atualizando Sistema...");
    EXPECT_EQ(splash.CoolGauge1->BorderStyle(), bsNone);
    EXPECT_EQ(splash.tempo->Interval(), 100);
    EXPECT_TRUE(splash.tempo->Enabled());
}

TEST_F(SplashTest, AnExistingLogFolderIsKept) {
    ASSERT_TRUE(QDir().mkpath(home.path() + "/LOGS"));
    QFile keep(home.path() + "/LOGS/20261209.NET");
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.close();
    Tform_abertura splash;
    EXPECT_TRUE(QFile::exists(home.path() + "/LOGS/20261209.NET"));
}

TEST_F(SplashTest, GaugeCountsTicksSwitchesTextAtHalfAndClosesAtTwenty) {
    Tform_abertura splash;
    splash.show();
    ASSERT_TRUE(splash.isVisible());

    for (int tick = 1; tick <= 9; ++tick) {
        splash.tempoTimer(nullptr);
        EXPECT_EQ(splash.tempo->Tag, tick);
        EXPECT_EQ(splash.CoolGauge1->Progress(), tick);
    }
    EXPECT_EQ(splash.CoolGauge1->MaxValue(), 20);
    EXPECT_EQ(splash.CoolGauge1->Text(), "Atualizando Sistema...");

    splash.tempoTimer(nullptr); // the tenth tick changes the text, half way
    EXPECT_EQ(splash.CoolGauge1->Text(), "Atualizando Sistema %d%%");
    EXPECT_EQ(splash.CoolGauge1->DisplayText(), "Atualizando Sistema 50%");
    EXPECT_TRUE(splash.tempo->Enabled()) << "the timer runs on after the text change";

    for (int tick = 11; tick <= 19; ++tick)
        splash.tempoTimer(nullptr);
    EXPECT_TRUE(splash.isVisible()) << "still open after the nineteenth tick";
    EXPECT_EQ(splash.CoolGauge1->DisplayText(), "Atualizando Sistema 95%");

    splash.tempoTimer(nullptr);
    EXPECT_FALSE(splash.isVisible());
    EXPECT_EQ(splash.CoolGauge1->DisplayText(), "Atualizando Sistema 100%");
    EXPECT_FALSE(splash.tempo->Enabled()) << "a closed splash stops counting";
}

TEST_F(SplashTest, ShownCentredOnTheScreen) {
    Tform_abertura splash;
    splash.show();
    const QRect screen = splash.screen()->availableGeometry();
    EXPECT_LE(std::abs(splash.frameGeometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(splash.frameGeometry().center().y() - screen.center().y()), 1);
    splash.close();
}

// The real timer, at real speed: the modal run ends by itself after about two seconds.
TEST_F(SplashHome, ModalRunAtRealSpeedEndsByItself) {
    Tform_abertura splash;
    bool timed_out = false;
    QTimer::singleShot(10000, &splash, [&] {
        timed_out = true;
        splash.reject();
    });
    splash.exec();
    EXPECT_FALSE(timed_out);
    EXPECT_GE(splash.tempo->Tag, 20);
}
