// The clock and running-time labels: drawn from cached characters, they must look like the
// plain label they replace, follow font and colour changes, and show a new text at once.

#include "time_label.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>

#include <cstdlib>

namespace {

QFont clock_font() {
    QFont f;
    f.setFamily("DejaVu Sans Mono");
    f.setPixelSize(18);
    f.setBold(true);
    return f;
}

QPalette colours(const QColor& text) {
    QPalette p;
    p.setColor(QPalette::Window, QColor(20, 24, 30));
    p.setColor(QPalette::WindowText, text);
    return p;
}

// Share of pixels that differ plainly between two pictures of the same size. Characters drawn
// one by one sit on whole pixels, where a line of text may place them between two: their
// anti-aliased edges differ slightly, and that is not counted.
double difference(const QImage& a, const QImage& b, int tolerance = 100) {
    if (a.size() != b.size())
        return 1.0;
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            differing += std::abs(p.red() - q.red()) > tolerance || std::abs(p.green() - q.green()) > tolerance ||
                         std::abs(p.blue() - q.blue()) > tolerance;
        }
    return double(differing) / (a.width() * a.height());
}

QImage picture(QWidget& w) {
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

struct Pair {
    TTimeLabel time{"00:00:00"};
    QLabel plain{"00:00:00"};
    Pair() {
        for (QWidget* w : {static_cast<QWidget*>(&time), static_cast<QWidget*>(&plain)}) {
            w->setFont(clock_font());
            w->setPalette(colours(QColor(150, 200, 255)));
        }
        plain.setAutoFillBackground(true);
        time.setFixedSize(time.sizeHint());
        plain.setFixedSize(time.size());
    }
    void show(const QString& text) {
        time.setText(text);
        plain.setText(text);
    }
};

} // namespace

TEST(TimeLabel, LooksLikeThePlainLabelItReplaces) {
    Pair pair;
    EXPECT_EQ(pair.time.sizeHint(), pair.plain.sizeHint());
    for (const QString text : {"12:34:56", "00:00:00", "23:59:59", "12:00"}) {
        pair.show(text);
        EXPECT_EQ(pair.time.text(), text);
        EXPECT_LT(difference(picture(pair.time), picture(pair.plain)), 0.05) << text.toStdString();
    }
}

TEST(TimeLabel, ANewTextColourOrFontShowsAtOnce) {
    Pair pair;
    pair.show("12:34:56");
    const QImage before = picture(pair.time);
    pair.show("12:34:57");
    EXPECT_GT(difference(picture(pair.time), before, 0), 0.0) << "the last digit changed";

    pair.show("12:34:56");
    EXPECT_EQ(difference(picture(pair.time), before, 0), 0.0) << "cached characters are reused as they were";

    pair.time.setPalette(colours(Qt::red));
    pair.plain.setPalette(colours(Qt::red));
    EXPECT_LT(difference(picture(pair.time), picture(pair.plain)), 0.05) << "new colour";

    QFont small = clock_font();
    small.setPixelSize(12);
    pair.time.setFont(small);
    pair.plain.setFont(small);
    EXPECT_LT(difference(picture(pair.time), picture(pair.plain)), 0.05) << "new font";
}

TEST(TimeLabel, ALongerTextIsCutAtTheLabelsEdge) {
    Pair pair;
    pair.show("123:45:67:89");
    const QImage cut = picture(pair.time);
    EXPECT_EQ(cut.size(), pair.time.size() * pair.time.devicePixelRatioF());
}
