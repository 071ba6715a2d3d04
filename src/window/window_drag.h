#pragma once
// Moving a borderless window by pressing on its face. The windowing system's own move loop is
// asked first; where it has none (no window manager, some Wayland set-ups, the offscreen
// platform) the window follows the pointer by hand until the button is released.
// Thread rules: main thread only.

#include <QPointF>

class QWidget;

// Moves `window` (or the top-level window holding it) with the pointer until the mouse
// button is released. Called from a mouse-press handler.
void ARRASTA_JANELA(QWidget* window);

namespace miravox {

// As ARRASTA_JANELA, with the pointer's global position at the press. Returns true when the
// windowing system took over the move, false when the manual drag runs instead (or when
// there is no window).
bool drag_window(QWidget* window, QPointF press_global);

} // namespace miravox
