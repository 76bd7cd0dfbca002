#include "ui/child_window.h"

#include <algorithm>

#include <cmath>
#include <stdexcept>

#include "platform/icons.h"
#include "platform/window.h"
#include "render/scene_render.h"
#include "ui/about_box.h"
#include "ui/camera.h"
#include "ui/resources.h"
#include "ui/view_host.h"

namespace fyrel {

void registerProgramWindowClass(const std::string& className, WindowProc procedure)
{
    WindowClass windowClass;
    windowClass.name = className;
    windowClass.procedure = procedure;
    windowClass.largeIcon = kLargeIcon;
    windowClass.smallIcon = kSmallIcon;
    registerWindowClass(windowClass);
}

ChildWindow::~ChildWindow()
{
    if (windowUserData(windowHandle) == this) {
        setWindowUserData(windowHandle, nullptr);
    }
}

void ChildWindow::frameBox(const Vector3&, const Vector3&, Framing) {}

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

SceneViewWindow::SceneViewWindow(ViewHost& viewHost, int classString) : host(&viewHost)
{
    title = loadString(kStringChildTitle);
    windowClassName = loadString(classString);
    registerProgramWindowClass(windowClassName, sceneViewProc);
    windowHandle = createChildWindow(windowClassName, title, host->hostWindow(), 640, 480);
    if (windowHandle == kNoWindow) {
        throw std::runtime_error(kWindowFailure);
    }
    setWindowUserData(windowHandle, this);
}

bool SceneViewWindow::frame(float)
{
    return render() && swapBuffers(windowHandle);
}

void SceneViewWindow::fitCamera(int, int) {}

bool SceneViewWindow::render()
{
    if (!makeCurrent(windowHandle)) {
        return false;
    }
    const ClientSize size = clientSize(windowHandle);
    fitCamera(size.width, size.height);
    const double ratio = devicePixelRatio(windowHandle);
    host->renderScene(static_cast<int>(std::lround(size.width * ratio)),
                      static_cast<int>(std::lround(size.height * ratio)), viewCamera(), &backdrop_);
    return true;
}

bool SceneViewWindow::WindowBackdrop::restore()
{
    return restoreBackdrop(view_.windowHandle);
}

bool SceneViewWindow::WindowBackdrop::keep()
{
    return keepBackdrop(view_.windowHandle);
}

LResult sceneViewProc(WindowHandle window, unsigned message, WParam wParam, LParam lParam)
{
    auto* self = static_cast<SceneViewWindow*>(windowUserData(window));
    if (!self) {
        return defaultWindowProc(window, message, wParam, lParam);
    }
    // Destruction deletes self: nothing of it may be touched after that.
    LResult result = 0;
    if (handleCommonViewMessage(self->host->views(), *self, window, message, wParam, result)) {
        return result;
    }
    if (self->handleViewMessage(message, wParam, lParam)) {
        return 0;
    }
    return defaultWindowProc(window, message, wParam, lParam);
}

}  // namespace fyrel
