#include "xi_track_bar.h"

#include "round_half_even.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

using miravox::round_half_even;

namespace {

struct Box {
    QColor border, face, grad;
};

// Every colour a named scheme sets.
struct Scheme {
    QColor tick, disabled_tick;
    Box slide, disabled_slide;
    Box thumb, over_thumb, down_thumb, disabled_thumb;
};

// The disabled look is the same grey in every scheme.
const QColor kDisabledTick(160, 160, 160);
const Box kDisabledSlide{{165, 165, 165}, {236, 236, 236}, {204, 204, 204}};
const Box kDisabledThumb{{150, 150, 150}, {242, 242, 242}, {196, 196, 196}};

Scheme scheme_colours(TColorScheme scheme) {
    switch (scheme) {
    case csGrass:
        return {{60, 100, 40},
                kDisabledTick,
                {{70, 120, 50}, {225, 245, 210}, {150, 205, 120}},
                kDisabledSlide,
                {{50, 100, 30}, {200, 240, 170}, {90, 170, 60}},
                {{60, 120, 35}, {220, 250, 195}, {110, 190, 75}},
                {{40, 80, 25}, {90, 160, 60}, {180, 230, 150}},
                kDisabledThumb};
    case csSilver:
        return {{90, 90, 100},
                kDisabledTick,
                {{120, 120, 130}, {245, 245, 248}, {190, 190, 198}},
                kDisabledSlide,
                {{100, 100, 110}, {250, 250, 252}, {170, 170, 180}},
                {{80, 80, 95}, {255, 255, 255}, {190, 190, 205}},
                {{70, 70, 80}, {165, 165, 175}, {225, 225, 232}},
                kDisabledThumb};
    case csSky:
        return {{50, 90, 150},
                kDisabledTick,
                {{60, 110, 170}, {220, 235, 255}, {130, 180, 235}},
                kDisabledSlide,
                {{40, 90, 160}, {200, 225, 255}, {80, 145, 225}},
                {{50, 110, 190}, {225, 240, 255}, {100, 165, 240}},
                {{30, 70, 130}, {80, 140, 215}, {180, 210, 250}},
                kDisabledThumb};
    case csRose:
        return {{140, 60, 90},
                kDisabledTick,
                {{170, 80, 110}, {255, 230, 238}, {235, 160, 185}},
                kDisabledSlide,
                {{150, 60, 95}, {255, 215, 228}, {225, 120, 160}},
                {{180, 70, 110}, {255, 235, 242}, {240, 140, 175}},
                {{120, 45, 75}, {215, 110, 150}, {250, 200, 218}},
                kDisabledThumb};
    case csSun:
        return {{170, 110, 10},
                kDisabledTick,
                {{190, 130, 20}, {255, 248, 210}, {250, 210, 90}},
                kDisabledSlide,
                {{180, 110, 0}, {255, 240, 170}, {245, 170, 30}},
                {{200, 125, 0}, {255, 248, 200}, {255, 190, 60}},
                {{150, 90, 0}, {240, 160, 20}, {255, 225, 130}},
                kDisabledThumb};
    case csDesert:
    case csCustom:
        break;
    }
    return {{120, 90, 50},
            kDisabledTick,
            {{150, 110, 60}, {250, 235, 200}, {215, 180, 120}},
            kDisabledSlide,
            {{140, 90, 40}, {255, 225, 170}, {210, 150, 80}},
            {{160, 100, 40}, {255, 240, 200}, {230, 170, 90}},
            {{110, 70, 30}, {220, 170, 100}, {250, 215, 160}},
            kDisabledThumb};
}

// Line i of n of a gradient from `from` to `to`.
QColor blend(const QColor& from, const QColor& to, int i, int n) {
    const auto channel = [&](int a, int b) {
        return round_half_even(a + (b - a) * static_cast<double>(i) / n);
    };
    return QColor(channel(from.red(), to.red()), channel(from.green(), to.green()),
                  channel(from.blue(), to.blue()));
}

} // namespace

TXiTrackBar::TXiTrackBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true); // hover states need moves without a button held
    setFocusPolicy(Qt::NoFocus);
    FBackColor = palette().color(QPalette::Button);
    resize(100, 28);
    setColorScheme(csDesert);
    update_geometry();
}

void TXiTrackBar::set_colour(QColor& field, const QColor& v) {
    field = v;
    FColorScheme = csCustom;
    look_changed();
}

void TXiTrackBar::setColorScheme(TColorScheme v) {
    FColorScheme = v;
    if (v != csCustom) {
        const Scheme s = scheme_colours(v);
        FTickColor = s.tick;
        FDisabledTickColor = s.disabled_tick;
        FSlideBorderColor = s.slide.border, FSlideFaceColor = s.slide.face, FSlideGradColor = s.slide.grad;
        FDisabledSlideBorderColor = s.disabled_slide.border, FDisabledSlideFaceColor = s.disabled_slide.face,
        FDisabledSlideGradColor = s.disabled_slide.grad;
        FThumbBorderColor = s.thumb.border, FThumbFaceColor = s.thumb.face, FThumbGradColor = s.thumb.grad;
        FOverThumbBorderColor = s.over_thumb.border, FOverThumbFaceColor = s.over_thumb.face,
        FOverThumbGradColor = s.over_thumb.grad;
        FDownThumbBorderColor = s.down_thumb.border, FDownThumbFaceColor = s.down_thumb.face,
        FDownThumbGradColor = s.down_thumb.grad;
        FDisabledThumbBorderColor = s.disabled_thumb.border, FDisabledThumbFaceColor = s.disabled_thumb.face,
        FDisabledThumbGradColor = s.disabled_thumb.grad;
    }
    layer_stale_ = true;
    update();
}

void TXiTrackBar::setPosition(int v) {
    if (v < FMin)
        v = FMin;
    else if (v > FMax)
        v = FMax;
    FPosition = v;
    update_geometry();
    repaint();
}

void TXiTrackBar::setMin(int v) {
    FMin = v;
    if (FPosition < v)
        FPosition = v;
    look_changed();
}

void TXiTrackBar::setMax(int v) {
    FMax = v;
    if (FPosition > v)
        FPosition = v;
    look_changed();
}

void TXiTrackBar::setFrequency(int v) {
    FFrequency = v;
    look_changed();
}

void TXiTrackBar::setOrientation(TTrackBarOrientation v) {
    FOrientation = v;
    look_changed();
}

void TXiTrackBar::setTickMarks(TTickMark v) {
    FTickMarks = v;
    look_changed();
}

void TXiTrackBar::setTickStyle(TTickStyle v) {
    FTickStyle = v;
    look_changed();
}

void TXiTrackBar::setSmoothCorners(bool v) {
    FSmoothCorners = v;
    look_changed();
}

void TXiTrackBar::look_changed() {
    update_geometry();
    layer_stale_ = true;
    repaint();
}

// The value is what the owner set or the user chose, so a resize moves the thumb to the value
// rather than letting the value follow the thumb's old pixel offset.
void TXiTrackBar::update_geometry() {
    const int w = width();
    const int h = height();
    if (FOrientation == trVertical) {
        FThumbLength = w - 8;
        FThumbWidth = FThumbLength / 2;
        FAbsLength = h - FThumbWidth;
        const int inset = w / 3 + 1;
        FSlideRect = QRect(inset, 0, w - 2 * inset, h);
    } else {
        FThumbLength = h - 8;
        FThumbWidth = FThumbLength / 2;
        FAbsLength = w - FThumbWidth;
        const int inset = h / 3 + 1;
        FSlideRect = QRect(0, inset, w, h - 2 * inset);
    }
    FAbsPos = offset_of(FPosition);
    place_thumb();
}

void TXiTrackBar::place_thumb() {
    FThumbRect = FOrientation == trVertical ? QRect(4, FAbsPos, FThumbLength, FThumbWidth)
                                            : QRect(FAbsPos, 4, FThumbWidth, FThumbLength);
}

int TXiTrackBar::offset_of(int position) const {
    const int range = FMax - FMin;
    if (range == 0)
        return 0;
    return round_half_even(static_cast<double>(FAbsLength) / range * (position - FMin));
}

int TXiTrackBar::position_of(int offset) const {
    if (FAbsLength <= 0)
        return FMin;
    return FMin + round_half_even(static_cast<double>(FMax - FMin) * offset / FAbsLength);
}

// The thumb follows the pointer: 5 pixels above it on a vertical slider, centred on it on a
// horizontal one; the value follows the offset and the offset snaps back to the value.
void TXiTrackBar::follow_pointer(QPoint p) {
    const int wanted = FOrientation == trVertical ? p.y() - 5 : p.x() - FThumbWidth / 2;
    FPosition = position_of(std::clamp(wanted, 0, std::max(0, FAbsLength)));
    FAbsPos = offset_of(FPosition);
    place_thumb();
}

bool TXiTrackBar::inside_thumb(QPoint p) const {
    const QRect& t = FThumbRect;
    return p.x() > t.left() && p.x() < t.left() + t.width() && p.y() > t.top() &&
           p.y() < t.top() + t.height();
}

void TXiTrackBar::enterEvent(QEnterEvent*) {
    repaint();
}

void TXiTrackBar::leaveEvent(QEvent*) {
    if (!isEnabled())
        return;
    if (FThumbState != bsDown)
        FThumbState = bsOut;
    repaint();
}

void TXiTrackBar::mousePressEvent(QMouseEvent* event) {
    if (!isEnabled())
        return;
    if (inside_thumb(event->position().toPoint()))
        FThumbState = bsDown;
    repaint();
}

void TXiTrackBar::mouseMoveEvent(QMouseEvent* event) {
    if (!isEnabled())
        return;
    const QPoint p = event->position().toPoint();
    if (FThumbState != bsDown)
        FThumbState = inside_thumb(p) ? bsOver : bsOut;
    else
        follow_pointer(p);
    repaint();
}

// A release anywhere moves the thumb to the pointer, so a click on the track jumps there.
void TXiTrackBar::mouseReleaseEvent(QMouseEvent* event) {
    if (!isEnabled())
        return;
    const QPoint p = event->position().toPoint();
    FThumbState = inside_thumb(p) ? bsOver : bsOut;
    follow_pointer(p);
    repaint();
    if (OnChange)
        OnChange(this);
}

void TXiTrackBar::resizeEvent(QResizeEvent*) {
    update_geometry();
    layer_stale_ = true;
}

void TXiTrackBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        layer_stale_ = true;
        repaint();
    }
    QWidget::changeEvent(event);
}

TXiTrackBar::BoxColours TXiTrackBar::thumb_colours() const {
    if (!isEnabled())
        return {FDisabledThumbBorderColor, FDisabledThumbFaceColor, FDisabledThumbGradColor};
    switch (FThumbState) {
    case bsOver:
        return {FOverThumbBorderColor, FOverThumbFaceColor, FOverThumbGradColor};
    case bsDown:
        return {FDownThumbBorderColor, FDownThumbFaceColor, FDownThumbGradColor};
    case bsOut:
        return {FThumbBorderColor, FThumbFaceColor, FThumbGradColor};
    case bsUp:
        break;
    }
    return {Qt::black, Qt::black, Qt::black};
}

TXiTrackBar::BoxColours TXiTrackBar::slide_colours() const {
    if (!isEnabled())
        return {FDisabledSlideBorderColor, FDisabledSlideFaceColor, FDisabledSlideGradColor};
    return {FSlideBorderColor, FSlideFaceColor, FSlideGradColor};
}

// A gradient box with a one-pixel outline. `lines_across`: the gradient runs left to right in
// vertical lines; otherwise top to bottom in horizontal ones.
void TXiTrackBar::paint_box(QPainter& painter, const QRect& box, const BoxColours& colours,
                            bool lines_across) const {
    if (box.isEmpty())
        return;
    const int n = lines_across ? box.width() : box.height();
    for (int i = 0; i < n; ++i) {
        const QColor c = blend(colours.face, colours.grad, i, n);
        if (lines_across)
            painter.fillRect(box.left() + i, box.top(), 1, box.height(), c);
        else
            painter.fillRect(box.left(), box.top() + i, box.width(), 1, c);
    }
    const int l = box.left(), t = box.top(), r = box.left() + box.width() - 1,
              b = box.top() + box.height() - 1;
    painter.fillRect(l, t, box.width(), 1, colours.border);
    painter.fillRect(l, b, box.width(), 1, colours.border);
    painter.fillRect(l, t, 1, box.height(), colours.border);
    painter.fillRect(r, t, 1, box.height(), colours.border);
    if (FSmoothCorners) {
        painter.fillRect(l, t, 1, 1, FBackColor);
        painter.fillRect(r, t, 1, 1, FBackColor);
        painter.fillRect(l, b, 1, 1, FBackColor);
        painter.fillRect(r, b, 1, 1, FBackColor);
    }
}

// A tick for step i when (auto ticks, or i is the first or last step) and (i is the last step,
// or Frequency is 0, or i is a multiple of Frequency); 3 pixels long on the chosen edges.
void TXiTrackBar::paint_ticks(QPainter& painter) const {
    const int range = FMax - FMin;
    if (FTickStyle == tsNone || range <= 0)
        return;
    const QColor colour = isEnabled() ? FTickColor : FDisabledTickColor;
    const bool vertical = FOrientation == trVertical;
    const auto tick_at_offset = [&](int offset) {
        const int at = offset + FThumbWidth / 2;
        if (FTickMarks != tmBottomRight)
            vertical ? painter.fillRect(0, at, 3, 1, colour) : painter.fillRect(at, 0, 1, 3, colour);
        if (FTickMarks != tmTopLeft)
            vertical ? painter.fillRect(width() - 3, at, 3, 1, colour)
                     : painter.fillRect(at, height() - 3, 1, 3, colour);
    };
    const auto tick = [&](int i) {
        tick_at_offset(round_half_even(static_cast<double>(i) * FAbsLength / range));
    };
    if (FTickStyle == tsManual) {
        tick(0);
        tick(range);
        return;
    }
    const int step = FFrequency == 0 ? 1 : std::abs(FFrequency);
    if (range / step >= FAbsLength) {
        // Ticks closer than a pixel: every offset of the travel gets one.
        for (int offset = 0; offset <= FAbsLength; ++offset)
            tick_at_offset(offset);
        return;
    }
    for (int i = 0; i < range; i += step)
        tick(i);
    tick(range);
}

void TXiTrackBar::rebuild_layer() {
    layer_ = QPixmap(size());
    QPainter painter(&layer_);
    painter.fillRect(rect(), FBackColor);
    paint_box(painter, FSlideRect, slide_colours(), FOrientation == trVertical);
    paint_ticks(painter);
    layer_stale_ = false;
}

void TXiTrackBar::paintEvent(QPaintEvent*) {
    if (layer_stale_ || layer_.size() != size())
        rebuild_layer();
    QPainter painter(this);
    painter.drawPixmap(0, 0, layer_);
    paint_box(painter, FThumbRect, thumb_colours(), FOrientation == trHorizontal);
}
