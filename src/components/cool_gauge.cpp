#include "cool_gauge.h"

#include "round_half_even.h"

#include <QEvent>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>

using miravox::round_half_even;

namespace {

// The one ramp image of the program and what it was built for. Gauges are rarely on screen
// together; keeping the colours and style it was built with lets a gauge notice that another
// gauge of the same size painted last, instead of showing that gauge's ramp.
struct SharedRamp {
    QImage image;
    QColor from;
    QColor to;
    tCoolGaugeStyle style = sDithered;
};

SharedRamp& shared_ramp() {
    static SharedRamp ramp;
    return ramp;
}

int step_toward(int value, int target) {
    return value < target ? value + 1 : value > target ? value - 1 : value;
}

// 256 vertical bands; before each band every colour byte moves one step toward the end colour,
// so the ramp reaches it after as many bands as the largest byte difference and stays there.
void paint_dithered(QImage& image, const QColor& from, const QColor& to) {
    QPainter painter(&image);
    const int w = image.width();
    int r = from.red(), g = from.green(), b = from.blue();
    for (int i = 0; i < 256; ++i) {
        r = step_toward(r, to.red());
        g = step_toward(g, to.green());
        b = step_toward(b, to.blue());
        const int x0 = i * w / 256;
        const int x1 = (i + 1) * w / 256;
        if (x1 > x0)
            painter.fillRect(x0, 0, x1 - x0, image.height(), QColor(r, g, b));
    }
}

void build_ramp(SharedRamp& ramp, QSize size, const QColor& from, const QColor& to, tCoolGaugeStyle style) {
    ramp.image = QImage(size, QImage::Format_RGB32);
    if (style == sDithered)
        paint_dithered(ramp.image, from, to);
    else
        ramp.image.fill(from);
    ramp.from = from;
    ramp.to = to;
    ramp.style = style;
}

} // namespace

namespace miravox {

QString format_with_int(const QString& format, int value) {
    QString out;
    const qsizetype n = format.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = format[i];
        if (c != u'%' || i + 1 >= n) {
            out += c;
            continue;
        }
        if (format[i + 1] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        const bool left = format[j] == u'-';
        if (left)
            ++j;
        int width = 0;
        while (j < n && format[j].isDigit())
            width = width * 10 + format[j++].digitValue();
        if (j < n && format[j] == u'd') {
            const QString number = QString::number(value);
            out += left ? number.leftJustified(width, u' ') : number.rightJustified(width, u' ');
            i = j;
        } else {
            out += c; // not a sequence we format: keep it as typed
        }
    }
    return out;
}

} // namespace miravox

TCoolGauge::TCoolGauge(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 20);
    // A new gauge starts the shared ramp afresh, so the first paint of any gauge rebuilds it.
    shared_ramp().image = QImage(1, 1, QImage::Format_RGB32);
    update_text(true);
}

void TCoolGauge::setMinValue(int v) {
    if (v == FMinValue)
        return;
    if (v < FMaxValue)
        FMinValue = v;
    if (FCurValue < v)
        FCurValue = v;
    update_text();
    redraw();
}

void TCoolGauge::setMaxValue(int v) {
    if (v == FMaxValue)
        return;
    if (v > FMinValue)
        FMaxValue = v;
    if (FCurValue > v)
        FCurValue = v;
    update_text();
    redraw();
}

// Skips the repaint when neither the filled width nor the shown text changes.
void TCoolGauge::setProgress(int v) {
    if (v == FCurValue)
        return;
    const double before = round_half_even(fill_width());
    const QString text_before = shown_text_;
    if (v >= FMinValue && v <= FMaxValue)
        FCurValue = v;
    update_text();
    if (before != fill_width() || shown_text_ != text_before)
        redraw();
}

void TCoolGauge::setBackColor(const QColor& v) {
    if (v == FBackColor)
        return;
    FBackColor = v;
    redraw();
}

void TCoolGauge::setBorderStyle(TBorderStyle v) {
    if (v == FBorderStyle)
        return;
    FBorderStyle = v;
    redraw();
}

void TCoolGauge::setForeColor1(const QColor& v) {
    if (v == FForeColor1)
        return;
    FForeColor1 = v;
    Updategradient = true;
    redraw();
}

void TCoolGauge::setForeColor2(const QColor& v) {
    if (v == FForeColor2)
        return;
    FForeColor2 = v;
    Updategradient = true;
    redraw();
}

void TCoolGauge::setStyle(tCoolGaugeStyle v) {
    if (v == FStyle)
        return;
    FStyle = v;
    redraw();
}

void TCoolGauge::setText(const QString& v) {
    if (v == FText)
        return;
    FText = v;
    update_text(true);
    redraw();
}

void TCoolGauge::setFontColor(const QColor& v) {
    if (v == FFontColor)
        return;
    FFontColor = v;
    text_pen_ = QPen(v);
    redraw();
}

double TCoolGauge::fill_width() const {
    return FMaxValue == 0 ? 0.0 : static_cast<double>(width()) / FMaxValue * FCurValue;
}

int TCoolGauge::percent() const {
    return FMaxValue == 0 ? 0 : round_half_even(static_cast<double>(FCurValue) / FMaxValue * 100);
}

// Formats and lays out the text only when the percentage, the text or the font changed.
void TCoolGauge::update_text(bool force) {
    const int p = percent();
    if (!force && p == shown_percent_)
        return;
    shown_percent_ = p;
    shown_text_ = FText.isEmpty() ? QString() : miravox::format_with_int(FText, p);
    text_layout_.setText(shown_text_);
    text_layout_.setTextFormat(Qt::PlainText);
    text_layout_.prepare(QTransform(), font());
    const QFontMetrics metrics(font());
    text_size_ = QSize(metrics.horizontalAdvance(shown_text_), metrics.height());
}

void TCoolGauge::paintEvent(QPaintEvent*) {
    const int w = width();
    const int h = height();
    SharedRamp& ramp = shared_ramp();
    if (ramp.image.size() != size() || Updategradient || ramp.from != FForeColor1 || ramp.to != FForeColor2 ||
        ramp.style != FStyle) {
        build_ramp(ramp, size(), FForeColor1, FForeColor2, FStyle);
        Updategradient = false;
    }

    QPainter painter(this);
    painter.fillRect(rect(), FBackColor);
    const int filled = std::clamp(round_half_even(fill_width()), 0, w);
    if (filled > 0)
        painter.drawImage(QPoint(0, 0), ramp.image, QRect(0, 0, filled, h));
    if (!shown_text_.isEmpty()) {
        painter.setPen(text_pen_);
        painter.setFont(font());
        painter.drawStaticText((w - text_size_.width()) / 2, (h - text_size_.height()) / 2, text_layout_);
    }
    if (FBorderStyle == bsSingle) {
        painter.fillRect(0, 0, w, 1, FFontColor);
        painter.fillRect(0, h - 1, w, 1, FFontColor);
        painter.fillRect(0, 0, 1, h, FFontColor);
        painter.fillRect(w - 1, 0, 1, h, FFontColor);
    }
}

void TCoolGauge::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        update_text(true);
        update();
    }
    QWidget::changeEvent(event);
}

void TCoolGauge::redraw() {
    repaint();
}
