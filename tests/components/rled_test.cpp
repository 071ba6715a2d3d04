#include "rled.h"
#include "widget_testing.h"

#include <gtest/gtest.h>

namespace {

using namespace miravox::testing;

const QColor kGreen(0, 255, 0), kRed(255, 0, 0), kDimGreen(0, 127, 0), kDimRed(127, 0, 0), kBlack(0, 0, 0);

// The general level column of the main window: 26 x 122, vertical, 10-pixel bars.
void make_vu_geral(TRLed& m) {
    m.resize(26, 122);
    m.setBarSize(10);
}

// The stream meter of the main window: 302 x 23, horizontal, 3-pixel bars.
void make_meter1(TRLed& m) {
    m.setOrientation(trHorizontal);
    m.resize(302, 23);
    m.setBarSize(3);
}

} // namespace

TEST(RLed, VuGeralHasTwelveBarsWithTheTopThreeHigh) {
    TRLed m;
    make_vu_geral(m);
    ASSERT_EQ(m.BarCount(), 12);
    m.setPosition(100);
    QImage image = render(m);
    for (int k = 1; k <= 12; ++k) {
        const int top = (k - 1) * 10 + 1;
        const QColor expected = k <= 3 ? kRed : kGreen;
        EXPECT_EQ(pixel(image, 2, top), expected) << "bar " << k;
        EXPECT_EQ(pixel(image, 23, top + 8), expected) << "bar " << k;
        EXPECT_EQ(pixel(image, 1, top), kBlack) << "left margin, bar " << k;
        EXPECT_EQ(pixel(image, 24, top), kBlack) << "right margin, bar " << k;
        EXPECT_EQ(pixel(image, 10, top + 9), kBlack) << "gap under bar " << k;
    }

    m.setPosition(50); // 6 of 12 lit, from the bottom
    image = render(m);
    for (int k = 1; k <= 12; ++k) {
        const QColor expected = k <= 3 ? kDimRed : k <= 6 ? kDimGreen : kGreen;
        EXPECT_EQ(pixel(image, 12, (k - 1) * 10 + 5), expected) << "bar " << k;
        EXPECT_EQ(m.InPos(k), k > 6) << "bar " << k;
    }
}

TEST(RLed, Meter1HasAHundredBarsWithTheRightmost35High) {
    TRLed m;
    make_meter1(m);
    ASSERT_EQ(m.BarCount(), 100);
    m.setPosition(50);
    QImage image = render(m);
    for (int j = 1; j <= 100; ++j) {
        const int left = (j - 1) * 3 + 1;
        const QColor expected = j <= 50 ? kGreen : j <= 65 ? kDimGreen : kDimRed;
        EXPECT_EQ(pixel(image, left, 2), expected) << "bar " << j << " from the left";
        EXPECT_EQ(pixel(image, left + 1, 20), expected) << "bar " << j << " from the left";
        EXPECT_EQ(pixel(image, left + 2, 10), kBlack) << "gap after bar " << j;
    }
    EXPECT_EQ(pixel(image, 10, 1), kBlack);
    EXPECT_EQ(pixel(image, 10, 21), kBlack);

    m.setPosition(100);
    image = render(m);
    EXPECT_EQ(pixel(image, 65 * 3 + 1, 10), kRed);
    EXPECT_EQ(pixel(image, 64 * 3 + 1, 10), kGreen);
}

TEST(RLed, PositionAboveTheMaximumIsIgnored) {
    TRLed m;
    m.setPosition(40);
    m.setPosition(101);
    EXPECT_EQ(m.Position(), 40);
    m.setPosition(100); // the maximum itself lights every bar
    for (int k = 1; k <= m.BarCount(); ++k)
        EXPECT_TRUE(m.InPos(k));
    m.setMaxValue(20);
    m.setPosition(0);
    m.setPosition(21);
    EXPECT_EQ(m.Position(), 0);
}

TEST(RLed, ZeroMaximumLightsNothingInsteadOfDividingByZero) {
    TRLed m;
    m.setPosition(0);
    m.setMaxValue(0);
    EXPECT_FALSE(m.InPos(m.BarCount()));
    const QImage image = render(m);
    EXPECT_EQ(pixel(image, 12, 148), kDimGreen);
}

TEST(RLed, SettersAcceptOnlyTheirRange) {
    TRLed m; // 25 x 152, vertical
    m.setBreakPos(154);
    EXPECT_EQ(m.BreakPos(), 154);
    m.setBreakPos(155);
    EXPECT_EQ(m.BreakPos(), 154);
    m.setBreakPos(-1);
    EXPECT_EQ(m.BreakPos(), 154);

    m.setBarSize(148); // must be below height - 4
    EXPECT_EQ(m.BarSize(), 5);
    m.setBarSize(147);
    EXPECT_EQ(m.BarSize(), 147);
    m.setBarSize(0);
    EXPECT_EQ(m.BarSize(), 147);
    EXPECT_EQ(m.BarCount(), 1);
}

TEST(RLed, OrientationChangeSwapsWidthAndHeight) {
    TRLed m;
    ASSERT_EQ(m.size(), QSize(25, 152));
    m.setOrientation(trHorizontal);
    EXPECT_EQ(m.size(), QSize(152, 25));
    m.setOrientation(trHorizontal);
    EXPECT_EQ(m.size(), QSize(152, 25));
    m.setOrientation(trVertical);
    EXPECT_EQ(m.size(), QSize(25, 152));
}

TEST(RLed, PropertyChangesRedrawAtOnce) {
    TRLed m;
    show_settled(m);
    PaintCounter paints(&m);
    m.setPosition(30);
    EXPECT_EQ(paints.count, 1); // no event loop turn in between
    m.setColorLow(QColor(0, 0, 255));
    EXPECT_EQ(paints.count, 2);
    m.setColorLow(QColor(0, 0, 255)); // unchanged: stored only when different
    EXPECT_EQ(paints.count, 2);
    m.setBackColor(QColor(10, 10, 10));
    EXPECT_EQ(paints.count, 3);
    m.setPosition(31); // lights the same bars: the picture does not change
    EXPECT_EQ(paints.count, 3);
    m.setPosition(60);
    EXPECT_EQ(paints.count, 4);
    m.setPosition(0);
    EXPECT_EQ(paints.count, 5);

    EXPECT_EQ(pixel(render(m), 0, 0), QColor(10, 10, 10));
    m.setPosition(30);
    EXPECT_EQ(pixel(render(m), 12, 148), QColor(0, 0, 255)); // lit bottom bar in the new low colour
}
