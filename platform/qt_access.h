#pragma once

// For tests and the platform layer itself: the Qt widgets behind a handle.
// Program code never includes this header.

#include <QImage>
#include <QWidget>

#include "platform/input.h"

namespace fyrel {

// The top widget of a window: the QMainWindow of the main window, the
// QMdiSubWindow of a child window, the QDialog of a dialog. Null for an
// invalid handle.
QWidget* windowWidget(WindowHandle window);

// The OpenGL surface of a child window, which receives its input; null for
// other windows.
QWidget* glSurface(WindowHandle window);

// The last frame a child window presented, in device pixels, top row first;
// null for other windows.
QImage presentedFrame(WindowHandle window);

// The window a widget belongs to, or kNoWindow.
WindowHandle windowOfWidget(const QWidget* widget);

}  // namespace fyrel
