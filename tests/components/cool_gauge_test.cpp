#include "cool_gauge.h"
#include "widget_testing.h"

#include <gtest/gtest.h>

namespace {

using namespace miravox::testing;

const QColor kWhite(255, 255, 255);

// A gauge where only the text differs from white: solid white fill, white back, no frame.
void make_text_only(TCoolGauge& g) {
    g.setStyle(sSolid);
    g.setForeColor1(kWhite);
    g.setBorderStyle(bsNone);
}

QRect ink_box(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (QColor(image.pixel(x, y)) != kWhite)
                box |= QRect(x, y, 1, 1);
    return box;
}

int filled_columns(const QImage& image, const QColor& back) {
    int n = 0;
    while (n < image.width() && pixel(image, n, image.height() / 2) != back)
        ++n;
    return n;
}

} // namespace

TEST(CoolGauge, ShowsTheRoundedPercentageCentred) {
    TCoolGauge g;
    make_text_only(g);
    g.setMaxValue(20);
    g.setProgress(10);
    EXPECT_EQ(g.DisplayText(), "50%");
    const QRect ink = ink_box(render(g));
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_NEAR(ink.center().x(), 50, 3);
    EXPECT_NEAR(ink.center().y(), 10, 3);

    g.setText(QStringLiteral(" ")); // a blank text: no number at all
    EXPECT_EQ(g.DisplayText(), " ");
    EXPECT_TRUE(ink_box(render(g)).isEmpty());
    g.setText(QString());
    EXPECT_TRUE(ink_box(render(g)).isEmpty());
}

TEST(CoolGauge, FormatsTheTextWithOneInteger) {
    using miravox::format_with_int;
    EXPECT_EQ(format_with_int("Atualizando Sistema %d%%", 50), "Atualizando Sistema 50%");
    EXPECT_EQ(format_with_int("Atualizando Sistema...", 50), "Atualizando Sistema...");
    EXPECT_EQ(format_with_int("[%4d]", 7), "[   7]");
    EXPECT_EQ(format_with_int("[%-4d]", 7), "[7   ]");
    EXPECT_EQ(format_with_int("%s and 100%", 1), "%s and 100%");
}

TEST(CoolGauge, FillWidthIsRoundedHalfToEven) {
    TCoolGauge g; // 100 wide, blue back is easy to tell from the white back
    g.setText(QString());
    g.setBorderStyle(bsNone);
    g.setMaxValue(8);
    g.setProgress(1); // 12.5 pixels
    EXPECT_EQ(filled_columns(render(g), kWhite), 12);
    g.setProgress(3); // 37.5 pixels
    EXPECT_EQ(filled_columns(render(g), kWhite), 38);
    g.setProgress(0);
    EXPECT_EQ(filled_columns(render(g), kWhite), 0);
    g.setProgress(8);
    EXPECT_EQ(filled_columns(render(g), kWhite), 100);
}

TEST(CoolGauge, DitheredRampStepsEachByteTowardTheEndColour) {
    TCoolGauge g;
    g.resize(256, 10); // one band per pixel column
    g.setText(QString());
    g.setBorderStyle(bsNone);
    g.setForeColor1(QColor(0, 128, 128));
    g.setForeColor2(QColor(0, 255, 0));
    g.setProgress(100);
    const QImage image = render(g);
    for (int i = 0; i < 256; ++i) {
        const QColor expected(0, std::min(128 + i + 1, 255), std::max(128 - (i + 1), 0));
        ASSERT_EQ(pixel(image, i, 5), expected) << "band " << i;
    }
    // Green reaches 255 after 127 bands, blue 0 after 128; lime from there on.
    EXPECT_EQ(pixel(image, 126, 5), QColor(0, 255, 1));
    EXPECT_EQ(pixel(image, 127, 5), QColor(0, 255, 0));
}

TEST(CoolGauge, LimitsClampProgressEvenWhenRefused) {
    TCoolGauge g;
    g.setProgress(50);
    g.setProgress(101);
    EXPECT_EQ(g.Progress(), 50);
    g.setProgress(-1);
    EXPECT_EQ(g.Progress(), 50);

    g.setMaxValue(0); // at the minimum: refused, but progress is lowered to it
    EXPECT_EQ(g.MaxValue(), 100);
    EXPECT_EQ(g.Progress(), 0);
    g.setMinValue(200); // above the maximum: refused, but progress is raised to it
    EXPECT_EQ(g.MinValue(), 0);
    EXPECT_EQ(g.Progress(), 200);

    g.setMaxValue(60);
    EXPECT_EQ(g.MaxValue(), 60);
    EXPECT_EQ(g.Progress(), 60);
    g.setMinValue(10);
    g.setProgress(5);
    EXPECT_EQ(g.Progress(), 60);
}

TEST(CoolGauge, GaugesSharingTheRampImageShowTheirOwnColours) {
    TCoolGauge a, b;
    for (TCoolGauge* g : {&a, &b}) {
        g->setText(QString());
        g->setBorderStyle(bsNone);
        g->setStyle(sSolid);
        g->setProgress(100);
    }
    b.setForeColor1(QColor(0, 200, 0));
    EXPECT_EQ(pixel(render(a), 50, 10), QColor(0, 0, 255));
    EXPECT_EQ(pixel(render(b), 50, 10), QColor(0, 200, 0));
    EXPECT_EQ(pixel(render(a), 50, 10), QColor(0, 0, 255));

    a.setStyle(sDithered); // a style change alone rebuilds the ramp
    EXPECT_NE(pixel(render(a), 99, 10), QColor(0, 0, 255));
}

TEST(CoolGauge, RedrawsWhenWidthOrTextChanges) {
    TCoolGauge g;
    g.resize(10, 20);
    g.setProgress(9); // 0.9 pixels, drawn as 1
    show_settled(g);
    PaintCounter paints(&g);
    g.setProgress(10); // 1.0 pixel: same width, but the percentage text changes
    EXPECT_EQ(paints.count, 1);
    g.setText(QString());
    EXPECT_EQ(paints.count, 2);
    g.setProgress(9);
    g.setProgress(10); // same width and no text: nothing to redraw
    EXPECT_EQ(paints.count, 3);
    g.setBackColor(QColor(255, 0, 0));
    g.setBackColor(QColor(255, 0, 0));
    EXPECT_EQ(paints.count, 4);
}
