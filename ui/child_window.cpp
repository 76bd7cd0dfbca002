#include "ui/child_window.h"

#include <algorithm>

#include <cmath>
#include <stdexcept>

#include "platform/window.h"
#include "render/scene_render.h"
#include "ui/about_box.h"
#include "ui/camera.h"
#include "ui/resources.h"
#include "ui/view_host.h"

namespace fyrel {

ChildWindow::~ChildWindow()
{
    setWindowHandler(windowHandle, nullptr);
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

void SceneViewWindow::onDestroy()
{
    // The Studio look's picture, in the view's own context while it lasts.
    RenderTarget& target = backdrop_.studioTarget;
    if (target.functions && makeCurrent(windowHandle)) {
        releaseRenderTarget(*target.functions, target);
    }
    eraseChildWindow(host->views(), this);
}

void SceneViewWindow::onCommand(const Command& command)
{
    if (command.id == kCommandAbout) {
        showAboutBox(windowHandle);
    } else if (command.id == kCommandExit) {
        destroyWindow(windowHandle);
    }
}

SceneViewWindow::SceneViewWindow(ViewHost& viewHost) : host(&viewHost)
{
    title = loadString(kStringChildTitle);
    windowHandle = createChildWindow(title, host->hostWindow(), 640, 480, this);
    if (windowHandle == kNoWindow) {
        throw std::runtime_error(kWindowFailure);
    }
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

}  // namespace fyrel
