#include "ui/child_window.h"

#include <algorithm>

#include "platform/window.h"
#include "resources/resources.h"
#include "ui/about_box.h"

namespace fyrel {

ChildWindow::~ChildWindow()
{
    if (windowUserData(windowHandle) == this) {
        setWindowUserData(windowHandle, nullptr);
    }
}

bool eraseChildWindow(ChildWindowList& list, const ChildWindow* window)
{
    auto it = std::find_if(list.begin(), list.end(), [window](const auto& entry) { return entry.get() == window; });
    if (it == list.end()) {
        return false;
    }
    // Take the entry out before deleting it, so the list never holds a
    // window that is being torn down.
    std::unique_ptr<ChildWindow> doomed = std::move(*it);
    list.erase(it);
    return true;
}

bool handleCommonViewMessage(ChildWindowList& list, ChildWindow& view, WindowHandle window, unsigned message,
                             WParam wParam, LResult& result)
{
    result = 0;
    switch (message) {
    case kWmDestroy:
        eraseChildWindow(list, &view);
        return true;
    case kWmMouseActivate:
        setFocus(view.windowHandle);
        return true;
    case kWmCommand:
        if (commandId(wParam) == kCommandAbout) {
            showAboutBox(window);
            return true;
        }
        if (commandId(wParam) == kCommandExit) {
            destroyWindow(window);
            return true;
        }
        return false;
    default:
        return false;
    }
}

}  // namespace fyrel
