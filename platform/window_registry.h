#pragma once

// Inside the platform layer only: the record behind every window handle and
// the Qt widgets that stand for it.

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "platform/input.h"
#include "platform/window.h"

class QMdiArea;
class QKeyEvent;
class QMouseEvent;
class QWheelEvent;

namespace fyrel::platform_detail {

class ViewWidget;

struct WindowObject {
    WindowHandle handle = kNoWindow;
    WindowHandler* handler = nullptr;  // not owned
    WindowHandle parent = kNoWindow;
    std::vector<WindowHandle> children;
    QPointer<QWidget> widget;         // QMainWindow or QMdiSubWindow
    QPointer<ViewWidget> view;        // the OpenGL surface of a child window
    QPointer<QMdiArea> clientArea;    // the client area of a main window
    bool destroying = false;
};

// A new record with a fresh handle, owned by the registry.
WindowObject& addWindow(WindowHandler* handler, WindowHandle parent);
WindowObject* findWindow(WindowHandle window);
// For a window inside parent's client area (a view or a modeless dialog): a
// new record under parent, and in area the area it goes into; kNoWindow,
// and no record, when parent has no client area.
WindowHandle addSubWindow(WindowHandler* handler, WindowHandle parent, QMdiArea*& area);
// The handler of a window, null for none or an invalid handle. A handler
// may destroy its window: callers read it anew for every call.
WindowHandler* handlerOf(WindowHandle window);

// The window system's input turned into the records of input.h and handed
// to the window's handler. A key press with Alt that the accelerator table
// holds becomes its command; a key the program does not know is dropped,
// and so is a mouse button other than the three.
void deliverKeyPress(WindowHandle window, const QKeyEvent& event);
void deliverMouse(WindowHandle window, const QMouseEvent& event, MouseEvent::Kind kind);
void deliverWheel(WindowHandle window, const QWheelEvent& event);
void deliverCommand(WindowHandle window, const Command& command);
// The user asked to close the window: destroyed unless its handler refuses.
void closeRequested(WindowHandle window);

QIcon iconFor(int iconNumber);

}  // namespace fyrel::platform_detail
