// The volume ramps and the commercial start, driven tick by tick.

#include "main_window_fixture.h"

#include "rled.h"

#include <QFile>

using namespace miravox;
using namespace miravox::testing;

namespace {

class RampTest : public MainWindowTest {
protected:
    // Runs the general ramp-down until it stops itself; returns the ticks and the levels seen.
    std::vector<int> duck() {
        std::vector<int> levels;
        window->timer_DiminuirVolume_geral->setEnabled(true);
        while (window->timer_DiminuirVolume_geral->Enabled() && levels.size() < 200) {
            window->timer_DiminuirVolume_geralTimer(nullptr);
            levels.push_back(WVOL_GERAL);
        }
        window->timer_DiminuirVolume_geral->setEnabled(false);
        return levels;
    }
    std::vector<int> raise() {
        std::vector<int> levels;
        window->timer_aumentarvolume_geral->setEnabled(true);
        while (window->timer_aumentarvolume_geral->Enabled() && levels.size() < 200) {
            window->timer_aumentarvolume_geralTimer(nullptr);
            levels.push_back(WVOL_GERAL);
        }
        window->timer_aumentarvolume_geral->setEnabled(false);
        return levels;
    }
    void levels(int max, int min) {
        WVOL_MAX = max;
        WVOL_MIN = min;
        WVOL_GERAL = max;
    }
};

} // namespace

TEST_F(RampTest, DuckAndRestoreAtTheDefaultLevels) {
    levels(100, 30);
    const std::vector<int> down = duck();
    ASSERT_EQ(down.size(), 18u);
    EXPECT_EQ(down.front(), 96);
    EXPECT_EQ(down.back(), 28);
    const std::vector<int> up = raise();
    ASSERT_EQ(up.size(), 18u);
    EXPECT_EQ(up.front(), 32);
    EXPECT_EQ(up.back(), 100);
    EXPECT_EQ(window->VU_GERAL->Position(), 100);
}

TEST_F(RampTest, DuckAndRestoreAtEightyAndTwentyFive) {
    levels(80, 25);
    const std::vector<int> down = duck();
    ASSERT_EQ(down.size(), 19u);
    EXPECT_EQ(down.back(), 23);
    const std::vector<int> up = raise();
    ASSERT_EQ(up.size(), 19u);
    EXPECT_EQ(up.front(), 26);
    EXPECT_EQ(up.back(), 80);
}

TEST_F(RampTest, DuckToZeroSilencesBothChannelsAtThree) {
    levels(99, 0);
    const std::vector<int> down = duck();
    EXPECT_EQ(down.back(), 3);
    levels(100, 0);
    EXPECT_EQ(duck().back(), 0);
}

TEST_F(RampTest, LowLevelsStillArrive) {
    // At 21 or less a twentieth rounds to nothing; the ramps still move a point a tick.
    levels(20, 10);
    const std::vector<int> down = duck();
    EXPECT_EQ(down.back(), 10);
    EXPECT_EQ(raise().back(), 20);
    WVOL_GERAL = 15;
    WVOL_WEB = 0;
    window->timer_aumentarvolume_web->setEnabled(true);
    for (int i = 0; i < 40 && window->timer_aumentarvolume_web->Enabled(); ++i)
        window->timer_aumentarvolume_webTimer(nullptr);
    EXPECT_FALSE(window->timer_aumentarvolume_web->Enabled());
}

TEST_F(RampTest, CommercialStartsOnceTheDuckArrivesAndItsEndRaisesTheLevel) {
    const QString spot = home.path() + "/spot.wav";
    ASSERT_TRUE(make_wav(spot, 0.5, 1320));
    levels(100, 30);
    window->WPATH_AUDIODSP = spot;
    window->Timer_Play_Comercial->setEnabled(true);
    window->Timer_Play_ComercialTimer(nullptr); // not ducked yet: waits
    EXPECT_FALSE(window->Canal_Comercial->isStarted());
    duck();
    window->Timer_Play_ComercialTimer(nullptr);
    EXPECT_TRUE(window->Canal_Comercial->isStarted());
    EXPECT_FALSE(window->Timer_Play_Comercial->Enabled());
    EXPECT_EQ(window->VU_GERAL->Position(), 30);
    window->Canal_Comercial->Stop(); // as at the end of the file
    EXPECT_TRUE(window->timer_aumentarvolume_geral->Enabled());
    EXPECT_TRUE(window->WPATH_AUDIODSP.isEmpty());
}

TEST_F(RampTest, MissingCommercialIsShownInTheNoticeStripAndRetried) {
    levels(100, 30);
    WVOL_GERAL = 28;
    window->WPATH_AUDIODSP = home.path() + "/gone.mp3";
    window->Timer_Play_Comercial->setEnabled(true);
    window->Timer_Play_ComercialTimer(nullptr);
    EXPECT_TRUE(window->Panel13->Caption().endsWith(" - Comercial :" + home.path() + "/gone.mp3 Não localizado"));
    EXPECT_TRUE(window->Timer_Play_Comercial->Enabled());
    EXPECT_EQ(log_count(" - Comercial :"), 0);
}

TEST_F(RampTest, StalledDuckIsOverriddenAfterAHundredTicks) {
    const QString spot = home.path() + "/spot.wav";
    ASSERT_TRUE(make_wav(spot, 0.5, 1320));
    levels(100, 30);
    window->WPATH_AUDIODSP = spot;
    window->Timer_Play_Comercial->setEnabled(true);
    for (int i = 0; i < 100; ++i)
        window->Timer_Play_ComercialTimer(nullptr);
    EXPECT_FALSE(window->Canal_Comercial->isStarted());
    window->Timer_Play_ComercialTimer(nullptr);
    EXPECT_TRUE(window->Canal_Comercial->isStarted());
}
