#pragma once
// Helpers for the offscreen widget tests: render a widget into an image, read pixels, and
// deliver synthetic mouse events.

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

namespace miravox::testing {

// The widget as it paints itself, into a fresh image (magenta where nothing was painted).
inline QImage render(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    widget.render(&image);
    return image;
}

inline QColor pixel(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

inline void send_mouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButton button,
                       Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(pos), target->mapToGlobal(QPointF(pos)), button, buttons, modifiers);
    QApplication::sendEvent(target, &event);
}

inline void press(QWidget* target, QPoint pos, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    send_mouse(target, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton, modifiers);
}

inline void drag_to(QWidget* target, QPoint pos) {
    send_mouse(target, QEvent::MouseMove, pos, Qt::NoButton, Qt::LeftButton);
}

inline void hover(QWidget* target, QPoint pos) {
    send_mouse(target, QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton);
}

inline void release(QWidget* target, QPoint pos) {
    send_mouse(target, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

inline void click(QWidget* target, QPoint pos) {
    press(target, pos);
    release(target, pos);
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// Shows a widget and lets its first paints happen, so later paints can be counted.
inline void show_settled(QWidget& widget) {
    widget.show();
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

} // namespace miravox::testing
