#include "ui/path_window.h"

#include <algorithm>

#include "platform/window.h"
#include "ui/view_host.h"
#include "workbench/edits.h"

namespace fyrel {

namespace {

constexpr float kPanStep = 0.5f;  // world units, whatever the extents

void pan(PathWindow& w, float dx, float dy)
{
    const Vector3 p = w.camera.position;
    w.camera.setPosition({p.x + dx, p.y + dy, p.z});
}

void handleKey(PathWindow& w, Key key)
{
    switch (key) {
    case Key::Left:
    case Key::A: pan(w, -kPanStep, 0.0f); break;
    case Key::Right:
    case Key::D: pan(w, kPanStep, 0.0f); break;
    case Key::Up:
    case Key::W: pan(w, 0.0f, kPanStep); break;
    case Key::Down:
    case Key::S: pan(w, 0.0f, -kPanStep); break;
    default: break;
    }
}

// The last controller's target goes to the point under the cursor; a scene
// without controllers ignores the click.
void placeTarget(PathWindow& w, int x, int y)
{
    const ClientSize size = clientSize(w.windowHandle);
    Vector3 point;
    if (w.worldPointAt(x, y, size.width, size.height, point)) {
        placeLastTarget(w.host->sceneDocument(), point.x, point.y);
    }
}

}  // namespace

PathWindow::PathWindow(ViewHost& viewHost) : SceneViewWindow(viewHost)
{
    camera = OrthoCamera(Vector3{10.0f, 10.0f, 10000.0f});
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
    addPathPoint(host->sceneDocument(), point, startNewPath);
}

void PathWindow::frameBox(const Vector3& low, const Vector3& high, Framing)
{
    constexpr float kMargin = 1.25f;
    const float side = std::max({high.x - low.x, high.y - low.y, 1e-3f}) * kMargin;
    camera.extents = Vector3{side, side, camera.extents.z};
    camera.updateProjection();
    camera.setPosition({(low.x + high.x) * 0.5f, (low.y + high.y) * 0.5f, camera.position.z});
}

void PathWindow::onKey(const KeyPress& press)
{
    if (!press.modifiers.alt) {
        handleKey(*this, press.key);
    }
}

void PathWindow::onMouse(const MouseEvent& event)
{
    if (event.kind != MouseEvent::Kind::Press || event.button == MouseButton::Middle) {
        return;
    }
    if (event.button == MouseButton::Left && event.modifiers.control) {
        placeTarget(*this, event.x, event.y);
    } else {
        // The right button starts a new path at the point.
        addPoint(event.x, event.y, event.button == MouseButton::Right);
    }
}

}  // namespace fyrel
