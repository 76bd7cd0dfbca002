#pragma once

// Inside the platform layer only: the record behind every window handle and
// the Qt widgets that stand for it.

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "platform/messages.h"
#include "platform/window.h"

class QMdiArea;
class QKeyEvent;
class QMouseEvent;

namespace fyrel::platform_detail {

enum class WindowKind { Main, Child, Dialog };

class ViewWidget;

struct WindowObject {
    WindowHandle handle = kNoWindow;
    WindowKind kind = WindowKind::Main;
    WindowProc procedure = nullptr;
    void* userData = nullptr;
    WindowHandle parent = kNoWindow;
    std::vector<WindowHandle> children;
    QPointer<QWidget> widget;         // QMainWindow, QMdiSubWindow or QDialog
    QPointer<ViewWidget> view;        // the OpenGL surface of a child window
    QPointer<QMdiArea> clientArea;    // the client area of a main window
    std::vector<std::string> droppedFiles;  // of a main window, until taken
    bool destroying = false;
    bool dialogEnded = false;
    int dialogResult = 0;
};

// A new record with a fresh handle, owned by the registry.
WindowObject& addWindow(WindowKind kind, WindowProc procedure, WindowHandle parent);
WindowObject* findWindow(WindowHandle window);
const WindowClass* findWindowClass(const std::string& name);

// Turns a key press of a window into the accelerator's command, a key-down
// message or nothing, and sends it to the window.
void deliverKeyPress(WindowHandle window, const QKeyEvent& event);
WParam mouseState(const QMouseEvent& event);
LParam mousePoint(const QMouseEvent& event);

// The virtual-key code for a Qt key with its keypad flag; 0 when none fits.
int virtualKeyFromQt(int qtKey, bool keypad);

QIcon iconFor(int iconNumber);

}  // namespace fyrel::platform_detail
