#include "ui/path_window.h"

#include <cmath>
#include <stdexcept>

#include "app/application.h"
#include "platform/icons.h"
#include "platform/window.h"
#include "render/scene_render.h"
#include "resources/resources.h"

namespace fyrel {

namespace {

constexpr float kPanStep = 0.5f;  // world units, whatever the extents

void pan(PathWindow& w, float dx, float dy)
{
    const Vector3 p = w.camera.position;
    w.camera.setPosition({p.x + dx, p.y + dy, p.z});
}

void handleKey(PathWindow& w, int key)
{
    switch (key) {
    case kVkLeft:
    case 'A': pan(w, -kPanStep, 0.0f); break;
    case kVkRight:
    case 'D': pan(w, kPanStep, 0.0f); break;
    case kVkUp:
    case 'W': pan(w, 0.0f, kPanStep); break;
    case kVkDown:
    case 'S': pan(w, 0.0f, -kPanStep); break;
    default: break;
    }
}

}  // namespace

PathWindow::PathWindow(Application* ownerApplication, Application* sceneApplication)
    : owner(ownerApplication), scene(sceneApplication)
{
    title = loadString(kStringChildTitle);
    windowClassName = loadString(kStringPathWindowClass);
    registerWindowClass();
    windowHandle = createChildWindow(windowClassName, title, owner->mainWindow, 640, 480);
    if (windowHandle == kNoWindow) {
        throw std::runtime_error("Failed to initialize Window... Sorry :'(");
    }
    setWindowUserData(windowHandle, this);
    camera = OrthoCamera(Vector3{10.0f, 10.0f, 10000.0f});
}

void PathWindow::registerWindowClass()
{
    WindowClass windowClass;
    windowClass.name = windowClassName;
    windowClass.procedure = pathWindowProc;
    windowClass.largeIcon = kLargeIcon;
    windowClass.smallIcon = kSmallIcon;
    fyrel::registerWindowClass(windowClass);
}

void PathWindow::frame(float)
{
    render();
    swapBuffers(windowHandle);
}

void PathWindow::render()
{
    if (!makeCurrent(windowHandle)) {
        return;
    }
    clearView();
    const ClientSize size = clientSize(windowHandle);
    const double ratio = devicePixelRatio(windowHandle);
    scene->renderScene(static_cast<int>(std::lround(size.width * ratio)),
                       static_cast<int>(std::lround(size.height * ratio)), camera);
}

bool PathWindow::worldPointAt(int x, int y, int clientWidth, int clientHeight, Vector3& point) const
{
    if (clientWidth <= 0 || clientHeight <= 0) {
        return false;
    }
    const Vector3& e = camera.extents;
    const Vector3& p = camera.position;
    const float w = static_cast<float>(clientWidth);
    const float h = static_cast<float>(clientHeight);
    point.x = (e.x / w) * static_cast<float>(x) + p.x - e.x * 0.5f;
    point.y = (-e.y / h) * static_cast<float>(y) + p.y + e.y * 0.5f;
    point.z = p.z;
    return true;
}

void PathWindow::addPoint(int x, int y, bool startNewPath)
{
    const ClientSize size = clientSize(windowHandle);
    Vector3 point;
    if (!worldPointAt(x, y, size.width, size.height, point)) {
        return;
    }
    if (startNewPath || scene->paths.empty()) {
        scene->paths.emplace_back();
    }
    // Appending to the list never moves the paths that bindings follow; the
    // one extended here gets its new table at once, and a binding on it reads
    // that table from its next advance.
    Path& path = scene->paths.back();
    path.addControlPoint(point);
    path.buildCurve();
    path.buildArcLengthTable();
}

LResult pathWindowProc(WindowHandle window, unsigned message, WParam wParam, LParam lParam)
{
    auto* self = static_cast<PathWindow*>(windowUserData(window));
    if (!self) {
        return defaultWindowProc(window, message, wParam, lParam);
    }
    // Destruction deletes self: nothing of it may be touched after that.
    LResult result = 0;
    if (handleCommonViewMessage(self->owner->childWindows, *self, window, message, wParam, result)) {
        return result;
    }
    switch (message) {
    case kWmKeyDown:
        handleKey(*self, static_cast<int>(wParam));
        return 0;
    case kWmMouseMove:
        return 0;
    case kWmLButtonDown:
        self->addPoint(pointX(lParam), pointY(lParam), false);
        return 0;
    case kWmRButtonDown:
        self->addPoint(pointX(lParam), pointY(lParam), true);
        return 0;
    default:
        return defaultWindowProc(window, message, wParam, lParam);
    }
}

}  // namespace fyrel
