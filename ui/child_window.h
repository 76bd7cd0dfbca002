#pragma once

#include <memory>
#include <vector>

#include "platform/messages.h"

namespace fyrel {

// A view of the scene inside the main window's client area. The Application
// owns its child windows; a child window leaves that list (and is deleted)
// when its window is destroyed.
class ChildWindow {
public:
    WindowHandle windowHandle = kNoWindow;

    ChildWindow() = default;
    ChildWindow(const ChildWindow&) = delete;
    ChildWindow& operator=(const ChildWindow&) = delete;

    // Unlinks the window from the object: messages that the window still
    // gets after the object is gone reach the default procedure only.
    virtual ~ChildWindow();

    // Draws this window's view of the scene and presents it.
    virtual void frame(float dt) = 0;

    // Registers the window class of the kind; a repeated registration is
    // ignored.
    virtual void registerWindowClass() = 0;
};

using ChildWindowList = std::vector<std::unique_ptr<ChildWindow>>;

// Erases the first entry that is window, which deletes it. False when the
// list does not hold it (nothing is deleted then).
bool eraseChildWindow(ChildWindowList& list, const ChildWindow* window);

// The messages every view answers alike. WM_DESTROY erases view from list
// (deleting it: the caller may not touch it afterwards), WM_MOUSEACTIVATE
// gives the view the keyboard focus, and the About and Exit commands show
// the About box and close the view. Returns true with the message's result
// when the message was one of these; any other command, like any other
// message, is left to the caller.
bool handleCommonViewMessage(ChildWindowList& list, ChildWindow& view, WindowHandle window, unsigned message,
                             WParam wParam, LResult& result);

}  // namespace fyrel
