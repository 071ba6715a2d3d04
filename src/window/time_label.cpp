#include "time_label.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

#include <cmath>

TTimeLabel::TTimeLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TTimeLabel::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    update();
}

QSize TTimeLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text_), metrics.height()};
}

void TTimeLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::EnabledChange)
        glyphs_.clear();
    QWidget::changeEvent(event);
}

// One character in the label's font and colours, on its background.
const QPixmap& TTimeLabel::glyph(QChar c) {
    auto it = glyphs_.find(c);
    if (it != glyphs_.end())
        return *it;
    const QFontMetricsF metrics(font());
    const qreal ratio = devicePixelRatioF();
    QPixmap picture(QSize(int(std::ceil(metrics.horizontalAdvance(c))), height()) * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(palette().color(QPalette::Window));
    QPainter painter(&picture);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QPointF(0, std::round((height() - metrics.height()) / 2 + metrics.ascent())), QString(c));
    return *glyphs_.insert(c, picture);
}

void TTimeLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Characters advance by fractions of a pixel; each starts at the pixel nearest to where a
    // line of text would put it.
    const QFontMetricsF metrics(font());
    qreal x = 0;
    for (const QChar c : text_) {
        if (x >= width())
            break;
        painter.drawPixmap(int(std::lround(x)), 0, glyph(c));
        x += metrics.horizontalAdvance(c);
    }
    // The pictures bring their own background; only what lies beyond the text is filled.
    const int end = int(std::lround(x));
    if (end < width())
        painter.fillRect(end, 0, width() - end, height(), palette().color(QPalette::Window));
}
