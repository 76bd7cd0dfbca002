#include "ui/gl_window.h"

#include <cmath>
#include <stdexcept>

#include "app/application.h"
#include "platform/icons.h"
#include "platform/window.h"
#include "render/scene_render.h"
#include "resources/resources.h"

namespace fyrel {

namespace {

constexpr float kTurnPerPixel = 0.005f;
constexpr float kStep = 0.5f;
constexpr float kFovStep = 0.01f;

void moveLastTarget(Application& scene, float dx, float dy)
{
    if (scene.ikControllers.empty()) {
        return;
    }
    Vector3& target = scene.ikControllers.back().target;
    Vector3 moved;
    addAssign(target, Vector3{dx, dy, 0.0f}, moved);
}

void handleKey(GlWindow& w, int key)
{
    EulerCameraFov& camera = w.camera;
    const Vector3 p = camera.position;
    switch (key) {
    case 'A': camera.move(-kStep, 0.0f, 0.0f); break;
    case 'D': camera.move(kStep, 0.0f, 0.0f); break;
    case 'W': camera.move(0.0f, kStep, 0.0f); break;
    case 'S': camera.move(0.0f, -kStep, 0.0f); break;
    case kVkSpace: camera.setPosition({p.x, p.y, p.z + kStep}); break;
    case 'C': camera.setPosition({p.x, p.y, p.z - kStep}); break;
    case kVkAdd:
        camera.fov = camera.fov + kFovStep;
        camera.updateProjection();
        break;
    case kVkSubtract:
        camera.fov = camera.fov - kFovStep;
        camera.updateProjection();
        break;
    case kVkLeft: moveLastTarget(*w.scene, -kStep, 0.0f); break;
    case kVkUp: moveLastTarget(*w.scene, 0.0f, kStep); break;
    case kVkRight: moveLastTarget(*w.scene, kStep, 0.0f); break;
    case kVkDown: moveLastTarget(*w.scene, 0.0f, -kStep); break;
    default: break;
    }
}

void turn(GlWindow& w, float x, float y)
{
    EulerCameraFov& camera = w.camera;
    camera.angles.z = camera.angles.z - (x - w.lastMouseX) * kTurnPerPixel;
    camera.angles.x = camera.angles.x - (y - w.lastMouseY) * kTurnPerPixel;
    camera.updateView();
    w.lastMouseX = x;
    w.lastMouseY = y;
}

}  // namespace

GlWindow::GlWindow(Application* ownerApplication, Application* sceneApplication)
    : owner(ownerApplication), scene(sceneApplication)
{
    title = loadString(kStringChildTitle);
    windowClassName = loadString(kStringGlWindowClass);
    registerWindowClass();
    windowHandle = createChildWindow(windowClassName, title, owner->mainWindow, 640, 480);
    if (windowHandle == kNoWindow) {
        throw std::runtime_error("Failed to initialize Window... Sorry :'(");
    }
    setWindowUserData(windowHandle, this);
    camera = EulerCameraFov(1.3333334f, 1.0471976f, 1.0f, 1000.0f);
    camera.position = Vector3{0.0f, -10.0f, 0.0f};
    camera.updateView();
}

void GlWindow::registerWindowClass()
{
    WindowClass windowClass;
    windowClass.name = windowClassName;
    windowClass.procedure = glWindowProc;
    windowClass.largeIcon = kLargeIcon;
    windowClass.smallIcon = kSmallIcon;
    fyrel::registerWindowClass(windowClass);
}

void GlWindow::frame(float)
{
    render();
    swapBuffers(windowHandle);
}

void GlWindow::render()
{
    if (!makeCurrent(windowHandle)) {
        return;
    }
    clearView();
    const ClientSize size = clientSize(windowHandle);
    camera.aspect = static_cast<float>(size.width) / static_cast<float>(size.height);
    camera.updateProjection();
    const double ratio = devicePixelRatio(windowHandle);
    scene->renderScene(static_cast<int>(std::lround(size.width * ratio)),
                       static_cast<int>(std::lround(size.height * ratio)), camera);
}

LResult glWindowProc(WindowHandle window, unsigned message, WParam wParam, LParam lParam)
{
    auto* self = static_cast<GlWindow*>(windowUserData(window));
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
        if (wParam == kMkLButton) {
            turn(*self, static_cast<float>(pointX(lParam)), static_cast<float>(pointY(lParam)));
        }
        return 0;
    case kWmLButtonDown:
        self->lastMouseX = static_cast<float>(pointX(lParam));
        self->lastMouseY = static_cast<float>(pointY(lParam));
        return 0;
    default:
        return defaultWindowProc(window, message, wParam, lParam);
    }
}

}  // namespace fyrel
