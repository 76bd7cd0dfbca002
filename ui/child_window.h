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

}  // namespace fyrel
