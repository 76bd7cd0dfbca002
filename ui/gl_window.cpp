#include "ui/gl_window.h"

#include <algorithm>
#include <cmath>

#include "platform/window.h"
#include "ui/view_host.h"
#include "workbench/edits.h"

namespace fyrel {

namespace {

constexpr float kTurnPerPixel = 0.005f;
constexpr float kStep = 0.5f;  // the IK target's, and the camera's until a first framing
// The camera's step is a quarter of the framed box's diagonal: half a metre
// for a walker of 1.9 m, as it always was, and in proportion for a toy or a
// building.
constexpr float kStepPerDiagonal = 0.25f;
constexpr float kFovStep = 0.01f;

// A run of nudges undoes as one step.
void moveLastTarget(ViewHost& host, float dx, float dy, float dz = 0.0f)
{
    fyrel::moveLastTarget(host.sceneDocument(), Vector3{dx, dy, dz});
}

void handleKey(GlWindow& w, Key key)
{
    EulerCameraFov& camera = w.camera;
    const Vector3 p = camera.position;
    switch (key) {
    case Key::A: camera.move(-w.step, 0.0f, 0.0f); break;
    case Key::D: camera.move(w.step, 0.0f, 0.0f); break;
    case Key::W: camera.move(0.0f, w.step, 0.0f); break;
    case Key::S: camera.move(0.0f, -w.step, 0.0f); break;
    case Key::Space: camera.setPosition({p.x, p.y, p.z + w.step}); break;
    case Key::C: camera.setPosition({p.x, p.y, p.z - w.step}); break;
    case Key::KeypadPlus:
        camera.fov = camera.fov + kFovStep;
        camera.updateProjection();
        break;
    case Key::KeypadMinus:
        camera.fov = camera.fov - kFovStep;
        camera.updateProjection();
        break;
    case Key::Left: moveLastTarget(*w.host, -kStep, 0.0f); break;
    case Key::Up: moveLastTarget(*w.host, 0.0f, kStep); break;
    case Key::Right: moveLastTarget(*w.host, kStep, 0.0f); break;
    case Key::Down: moveLastTarget(*w.host, 0.0f, -kStep); break;
    case Key::PageUp: moveLastTarget(*w.host, 0.0f, 0.0f, kStep); break;
    case Key::PageDown: moveLastTarget(*w.host, 0.0f, 0.0f, -kStep); break;
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

GlWindow::GlWindow(ViewHost& viewHost) : SceneViewWindow(viewHost)
{
    camera = EulerCameraFov(1.3333334f, 1.0471976f, 1.0f, 1000.0f);
    camera.position = Vector3{0.0f, -10.0f, 0.0f};
    camera.updateView();
}

void GlWindow::frameBox(const Vector3& low, const Vector3& high, Framing framing)
{
    if (framing == Framing::FrontThreeQuarter) {
        camera.angles = Vector3{kFrontThreeQuarterPitch, 0.0f, kFrontThreeQuarterYaw};
        camera.updateView();
    }
    step = kStepPerDiagonal * 2.0f * frameBoxAlongView(camera, low, high);
}

void GlWindow::fitCamera(int clientWidth, int clientHeight)
{
    camera.aspect = static_cast<float>(clientWidth) / static_cast<float>(clientHeight);
    camera.updateProjection();
}

void GlWindow::onKey(const KeyPress& press)
{
    if (!press.modifiers.alt) {
        handleKey(*this, press.key);
    }
}

void GlWindow::onMouse(const MouseEvent& event)
{
    const float x = static_cast<float>(event.x);
    const float y = static_cast<float>(event.y);
    if (event.kind == MouseEvent::Kind::Press && event.button == MouseButton::Left) {
        lastMouseX = x;
        lastMouseY = y;
    } else if (event.kind == MouseEvent::Kind::Move && event.held.left && !event.held.right && !event.held.middle &&
               !event.modifiers.shift && !event.modifiers.control) {
        turn(*this, x, y);
    }
}

}  // namespace fyrel
