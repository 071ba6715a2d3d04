#include "widget_testing.h"
#include "xi_track_bar.h"

#include <gtest/gtest.h>

namespace {

using namespace miravox::testing;

// The setup dialog's level sliders: vertical, 0 to 100.
struct VerticalSlider : ::testing::Test {
    VerticalSlider() {
        s.setOrientation(trVertical);
        s.resize(30, 150); // thumb 22 x 11, travel 139 pixels
        s.setMax(100);
        s.OnChange = [this](QObject* sender) {
            EXPECT_EQ(sender, &s);
            ++changes;
        };
    }
    TXiTrackBar s;
    int changes = 0;
};

} // namespace

TEST(XiTrackBar, SettingOneColourLeavesTheNamedScheme) {
    TXiTrackBar s;
    ASSERT_EQ(s.ColorScheme(), csDesert);
    const QColor desert_face = s.ThumbFaceColor();
    s.setColorScheme(csSky);
    EXPECT_NE(s.ThumbFaceColor(), desert_face);
    s.setThumbFaceColor(QColor(1, 2, 3));
    EXPECT_EQ(s.ColorScheme(), csCustom);
}

TEST_F(VerticalSlider, ReleaseAtTheTopGivesMinAndAtTheBottomMax) {
    s.setPosition(50);
    click(&s, QPoint(15, 0));
    EXPECT_EQ(s.Position(), 0);
    click(&s, QPoint(15, 149));
    EXPECT_EQ(s.Position(), 100);
    EXPECT_EQ(changes, 2);
}

TEST_F(VerticalSlider, DraggingMovesTheThumbButReportsOnlyTheRelease) {
    press(&s, QPoint(15, 5)); // inside the thumb at offset 0
    int last = s.Position();
    for (int y = 20; y <= 120; y += 20) {
        drag_to(&s, QPoint(15, y));
        EXPECT_GT(s.Position(), last) << "at y " << y;
        last = s.Position();
    }
    EXPECT_EQ(changes, 0);
    // The thumb top follows 5 pixels above the pointer: offset 115 of 139 is 83.
    EXPECT_EQ(s.Position(), 83);
    release(&s, QPoint(15, 120));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(s.Position(), 83);
}

TEST_F(VerticalSlider, ClickOnTheTrackJumpsThereOnRelease) {
    s.setPosition(10);
    press(&s, QPoint(15, 100)); // well below the thumb
    EXPECT_EQ(s.Position(), 10);
    release(&s, QPoint(15, 100));
    EXPECT_EQ(s.Position(), 68); // offset 95 of 139
    EXPECT_EQ(changes, 1);
    const QImage image = render(s);
    EXPECT_EQ(pixel(image, 4, 96), s.ThumbBorderColor()); // outside the thumb after release
}

TEST_F(VerticalSlider, DisabledSliderIgnoresTheMouseAndLooksDisabled) {
    s.setPosition(40);
    s.setEnabled(false);
    click(&s, QPoint(15, 140));
    EXPECT_EQ(s.Position(), 40);
    EXPECT_EQ(changes, 0);
    const QImage image = render(s);
    const int top = 56; // offset of 40: 139 / 100 * 40 = 55.6
    EXPECT_EQ(pixel(image, 10, top), s.DisabledThumbBorderColor());
    EXPECT_EQ(pixel(image, 11, 2), s.DisabledSlideBorderColor());
}

TEST_F(VerticalSlider, SettingPositionClampsAndDoesNotReport) {
    s.setPosition(150);
    EXPECT_EQ(s.Position(), 100);
    s.setPosition(-5);
    EXPECT_EQ(s.Position(), 0);
    s.setPosition(70);
    s.setMax(50);
    EXPECT_EQ(s.Position(), 50);
    s.setMin(60); // not compared with Max; the position follows the minimum
    EXPECT_EQ(s.Position(), 60);
    EXPECT_EQ(changes, 0);
}

TEST_F(VerticalSlider, ResizeKeepsTheValue) {
    s.setPosition(37);
    s.resize(30, 80);
    EXPECT_EQ(s.Position(), 37);
    (void)render(s);
    s.resize(30, 400);
    (void)render(s);
    EXPECT_EQ(s.Position(), 37);
}

TEST(XiTrackBar, ThumbOffsetRoundsHalvesToEven) {
    TXiTrackBar s;
    s.resize(160, 28); // thumb 10 wide, travel 150
    s.setMax(100);
    s.setSmoothCorners(false);
    const auto thumb_left = [&s] {
        const QImage image = render(s);
        for (int x = 0; x < image.width(); ++x)
            if (pixel(image, x, 4) == s.ThumbBorderColor())
                return x;
        return -1;
    };
    s.setPosition(1); // 1.5 pixels
    EXPECT_EQ(thumb_left(), 2);
    s.setPosition(3); // 4.5 pixels
    EXPECT_EQ(thumb_left(), 4);
}

TEST(XiTrackBar, PaintsGradientsOutlinesAndCorners) {
    TXiTrackBar s; // horizontal 100 x 28: track rows 10 to 17, thumb 10 x 20 at (0, 4)
    s.setSlideFaceColor(QColor(0, 0, 0));
    s.setSlideGradColor(QColor(80, 160, 240));
    s.setThumbFaceColor(QColor(200, 0, 0));
    s.setThumbGradColor(QColor(0, 0, 0));
    s.setPosition(10);
    QImage image = render(s);
    // Track: horizontal lines down the track, line i of 8 at i / 8 of the way.
    EXPECT_EQ(pixel(image, 40, 11), QColor(10, 20, 30));
    EXPECT_EQ(pixel(image, 40, 16), QColor(60, 120, 180));
    EXPECT_EQ(pixel(image, 40, 10), s.SlideBorderColor());
    EXPECT_EQ(pixel(image, 0, 10), s.BackColor()); // smoothed corner
    // Thumb (offset 90): vertical lines across it, line i of 10.
    EXPECT_EQ(pixel(image, 91, 8), QColor(180, 0, 0));
    EXPECT_EQ(pixel(image, 95, 8), QColor(100, 0, 0));
    EXPECT_EQ(pixel(image, 90, 8), s.ThumbBorderColor());
    EXPECT_EQ(pixel(image, 90, 4), s.BackColor());
    s.setSmoothCorners(false);
    image = render(s);
    EXPECT_EQ(pixel(image, 90, 4), s.ThumbBorderColor());
    EXPECT_EQ(pixel(image, 0, 10), s.SlideBorderColor());
}

TEST(XiTrackBar, ThumbColoursFollowThePointer) {
    TXiTrackBar s;
    s.setPosition(5); // thumb x 45 to 54
    const QPoint on_thumb(50, 14);
    hover(&s, on_thumb);
    EXPECT_EQ(pixel(render(s), 46, 4), s.OverThumbBorderColor());
    press(&s, on_thumb);
    EXPECT_EQ(pixel(render(s), 46, 4), s.DownThumbBorderColor());
    release(&s, QPoint(5, 14)); // released off the thumb: normal look, thumb moved to the pointer
    EXPECT_EQ(s.Position(), 0);
    EXPECT_EQ(pixel(render(s), 1, 4), s.ThumbBorderColor());
}

TEST(XiTrackBar, TicksFollowStyleFrequencyAndSides) {
    TXiTrackBar s; // 0..10 over a travel of 90: step i at 9 i + 5
    const auto ticks_at = [&s](int y) {
        const QImage image = render(s);
        QList<int> xs;
        for (int x = 0; x < image.width(); ++x)
            if (pixel(image, x, y) == s.TickColor())
                xs << x;
        return xs;
    };
    EXPECT_EQ(ticks_at(26), (QList<int>{5, 14, 23, 32, 41, 50, 59, 68, 77, 86, 95}));
    EXPECT_TRUE(ticks_at(1).isEmpty());
    s.setFrequency(4);
    EXPECT_EQ(ticks_at(27), (QList<int>{5, 41, 77, 95}));
    s.setTickStyle(tsManual);
    EXPECT_EQ(ticks_at(25), (QList<int>{5, 95}));
    s.setTickMarks(tmBoth);
    EXPECT_EQ(ticks_at(0), (QList<int>{5, 95}));
    s.setTickStyle(tsNone);
    EXPECT_TRUE(ticks_at(26).isEmpty());
}
