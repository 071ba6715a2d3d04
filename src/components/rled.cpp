#include "rled.h"

#include "round_half_even.h"

#include <QPainter>

#include <algorithm>

using miravox::round_half_even;

namespace {

// An unlit LED: each colour byte halved.
QColor dimmed(const QColor& c) {
    return QColor(c.red() >> 1, c.green() >> 1, c.blue() >> 1);
}

} // namespace

TRLed::TRLed(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(25, 152);
}

void TRLed::setColorLow(const QColor& v) {
    if (v == FColorLow)
        return;
    FColorLow = v;
    look_changed();
}

void TRLed::setColorHi(const QColor& v) {
    if (v != FColorHi) {
        FColorHi = v;
        layers_stale_ = true;
    }
    redraw();
}

void TRLed::setBackColor(const QColor& v) {
    if (v != FBackColor) {
        FBackColor = v;
        layers_stale_ = true;
    }
    redraw();
}

void TRLed::setOrientation(TTrackBarOrientation v) {
    if (v == FOrientation)
        return;
    FOrientation = v;
    resize(height(), width());
    look_changed();
}

void TRLed::setMaxValue(int v) {
    if (v == FMaxValue)
        return;
    FMaxValue = v;
    redraw();
}

void TRLed::setPosition(int v) {
    if (v > FMaxValue)
        return;
    // The metering timer sets the position ten times a second, mostly to a level that lights
    // the same bars: only a change of the picture is worth a repaint.
    const int lit_before = lit_bars();
    FPosition = v;
    if (lit_bars() != lit_before || layers_stale_)
        redraw();
}

void TRLed::setBarSize(int v) {
    if (v <= 0 || v > 0xFFFF) // a zero bar would divide the meter by zero
        return;
    const bool accepted =
        FOrientation == trVertical ? (v != FBarSize && v < height() - 4) : (v < width() - 4);
    if (!accepted)
        return;
    FBarSize = static_cast<quint16>(v);
    look_changed();
}

void TRLed::setBreakPos(int v) {
    if (v < 0 || v > 154)
        return;
    FBreakPos = static_cast<quint8>(v);
    look_changed();
}

int TRLed::BarCount() const {
    const int length = FOrientation == trVertical ? height() : width();
    return std::max(0, (length - 2) / FBarSize);
}

bool TRLed::InPos(int k) const {
    return k > BarCount() - lit_bars();
}

// The percentage is kept in a byte, so it wraps modulo 256 (a negative position lights all).
int TRLed::lit_bars() const {
    if (FMaxValue == 0)
        return 0;
    const int percent = round_half_even(static_cast<double>(FPosition) / FMaxValue * 100) & 0xFF;
    return round_half_even(BarCount() / 100.0 * percent);
}

int TRLed::high_bars() const {
    return round_half_even(BarCount() / 100.0 * FBreakPos);
}

// The two orientations differ by one bar: a vertical meter has one high bar fewer.
bool TRLed::is_high(int k) const {
    return FOrientation == trVertical ? k < high_bars() : k <= high_bars();
}

// Bar k in widget coordinates; a horizontal meter's bar k is the (BarCount - k + 1)-th from the left.
QRect TRLed::bar_rect(int k) const {
    const int along = FBarSize - 1;
    if (FOrientation == trVertical)
        return QRect(2, (k - 1) * FBarSize + 1, width() - 4, along);
    const int j = BarCount() - k + 1;
    return QRect((j - 1) * FBarSize + 1, 2, along, height() - 4);
}

void TRLed::render_layer(QPixmap& layer, bool lit) const {
    layer = QPixmap(size());
    QPainter painter(&layer);
    painter.fillRect(rect(), FBackColor);
    const int bars = BarCount();
    for (int k = 1; k <= bars; ++k) {
        const QColor& colour = is_high(k) ? FColorHi : FColorLow;
        painter.fillRect(bar_rect(k), lit ? colour : dimmed(colour));
    }
}

void TRLed::rebuild_layers() {
    render_layer(lit_layer_, true);
    render_layer(dim_layer_, false);
    layers_stale_ = false;
}

// The lit bars form one block at the base of the scale: copy that block from the lit layer
// and everything else from the dim one. (A zero extent would mean "the whole pixmap" to
// drawPixmap, hence the guards.)
void TRLed::paintEvent(QPaintEvent*) {
    if (layers_stale_ || lit_layer_.size() != size())
        rebuild_layers();
    const int lit = std::clamp(lit_bars(), 0, BarCount());
    const int w = width();
    const int h = height();
    QPainter painter(this);
    if (FOrientation == trVertical) {
        const int split = std::clamp((BarCount() - lit) * FBarSize, 0, h);
        if (split > 0)
            painter.drawPixmap(0, 0, dim_layer_, 0, 0, w, split);
        if (split < h)
            painter.drawPixmap(0, split, lit_layer_, 0, split, w, h - split);
    } else {
        const int split = std::clamp(lit * FBarSize, 0, w);
        if (split > 0)
            painter.drawPixmap(0, 0, lit_layer_, 0, 0, split, h);
        if (split < w)
            painter.drawPixmap(split, 0, dim_layer_, split, 0, w - split, h);
    }
}

void TRLed::resizeEvent(QResizeEvent*) {
    layers_stale_ = true;
}

void TRLed::look_changed() {
    layers_stale_ = true;
    redraw();
}

// Property changes show at once, not at the next paint cycle.
void TRLed::redraw() {
    repaint();
}
