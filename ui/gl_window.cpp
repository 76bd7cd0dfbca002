#include "ui/gl_window.h"

#include "platform/window.h"
#include "ui/resources.h"
#include "ui/view_host.h"

namespace fyrel {

namespace {

constexpr float kTurnPerPixel = 0.005f;
constexpr float kStep = 0.5f;
constexpr float kFovStep = 0.01f;

void moveLastTarget(ViewHost& host, float dx, float dy)
{
    SceneList<IkController>& controllers = host.sceneIkControllers();
    if (controllers.empty()) {
        return;
    }
    Vector3& target = controllers.back().target;
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
    case kVkLeft: moveLastTarget(*w.host, -kStep, 0.0f); break;
    case kVkUp: moveLastTarget(*w.host, 0.0f, kStep); break;
    case kVkRight: moveLastTarget(*w.host, kStep, 0.0f); break;
    case kVkDown: moveLastTarget(*w.host, 0.0f, -kStep); break;
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

GlWindow::GlWindow(ViewHost& viewHost) : SceneViewWindow(viewHost, kStringGlWindowClass)
{
    camera = EulerCameraFov(1.3333334f, 1.0471976f, 1.0f, 1000.0f);
    camera.position = Vector3{0.0f, -10.0f, 0.0f};
    camera.updateView();
}

void GlWindow::fitCamera(int clientWidth, int clientHeight)
{
    camera.aspect = static_cast<float>(clientWidth) / static_cast<float>(clientHeight);
    camera.updateProjection();
}

bool GlWindow::handleViewMessage(unsigned message, WParam wParam, LParam lParam)
{
    switch (message) {
    case kWmKeyDown:
        handleKey(*this, static_cast<int>(wParam));
        return true;
    case kWmMouseMove:
        if (wParam == kMkLButton) {
            turn(*this, static_cast<float>(pointX(lParam)), static_cast<float>(pointY(lParam)));
        }
        return true;
    case kWmLButtonDown:
        lastMouseX = static_cast<float>(pointX(lParam));
        lastMouseY = static_cast<float>(pointY(lParam));
        return true;
    default:
        return false;
    }
}

}  // namespace fyrel
