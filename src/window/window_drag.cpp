#include "window_drag.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace miravox {

namespace {

const char* const kHelperName = "miravox_manual_window_drag";

// Follows the pointer for one drag: every mouse move of the application moves the window by
// the distance from the press; the release (or a move with the button already up, when the
// release went elsewhere) ends it.
class ManualDrag final : public QObject {
  public:
    ManualDrag(QWidget* window, QPointF press_global)
        : QObject(window), window_(window), press_(press_global), start_(window->pos()) {
        setObjectName(kHelperName);
        qApp->installEventFilter(this);
    }
    ~ManualDrag() override { qApp->removeEventFilter(this); }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseMove) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (!(mouse->buttons() & Qt::LeftButton))
                finish();
            else if (window_)
                window_->move(start_ + (mouse->globalPosition() - press_).toPoint());
        } else if (event->type() == QEvent::MouseButtonRelease) {
            finish();
        }
        return false;
    }

  private:
    void finish() {
        qApp->removeEventFilter(this);
        deleteLater();
    }

    QPointer<QWidget> window_;
    QPointF press_;
    QPoint start_;
};

} // namespace

bool drag_window(QWidget* window, QPointF press_global) {
    if (!window)
        return false;
    window = window->window();
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    if (QWindow* handle = window->windowHandle(); handle && handle->startSystemMove())
        return true;
    // One drag at a time: a press that arrives while an earlier drag lingers starts afresh.
    delete window->findChild<QObject*>(kHelperName, Qt::FindDirectChildrenOnly);
    new ManualDrag(window, press_global);
    return false;
}

} // namespace miravox

void ARRASTA_JANELA(QWidget* window) {
    miravox::drag_window(window, QCursor::pos());
}
