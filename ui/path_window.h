#pragma once

#include "math/vector.h"
#include "ui/camera.h"
#include "ui/child_window.h"

namespace fyrel {

class ViewHost;

// The top-down view in which the user draws paths. It shows the scene from
// straight above through an OrthoCamera framing a 10 x 10 square of the
// ground. A left click adds a control point under the cursor to the last
// path (the first click of a scene without paths makes one); a right click
// starts a new path there. After every click the path's curve and its
// arc-length table are rebuilt, so the drawn curve and any model walking the
// path follow at once. A click with Ctrl held instead puts the last IK
// controller's target at that x and y (its height stays). The arrow keys and
// W, A, S, D pan the view by half a unit.
class PathWindow : public SceneViewWindow {
public:
    // The camera keeps its 10 x 10 box whatever the window's shape: a window
    // that is not square shows the ground stretched.
    OrthoCamera camera;

    // Creates and shows the window (as SceneViewWindow does) with the camera
    // centred on the world origin. The caller appends the object to host's
    // views.
    explicit PathWindow(ViewHost& viewHost);

    // The world point under client pixel (x, y) of a window of the given
    // client size: the left edge is position.x − extents.x/2, the top edge
    // position.y + extents.y/2, at the camera's height. False (and no point)
    // for a client area without width or height, which has no point under
    // any pixel.
    bool worldPointAt(int x, int y, int clientWidth, int clientHeight, Vector3& point) const;

    // Adds the point under client pixel (x, y) to the last path (making the
    // first path when there is none) and rebuilds that path's curve and
    // table. With startNewPath, a new path is appended first. A window whose
    // client area has no width or height adds nothing, not even the path.
    void addPoint(int x, int y, bool startNewPath);

    // Centres the view on the box's x and y and zooms to its larger side,
    // with a margin (a box without width and depth gets a millimetre).
    void frameBox(const Vector3& low, const Vector3& high, Framing framing) override;

    // Keys with Alt are the menu's and the accelerators': they pan nothing.
    void onKey(const KeyPress& press) override;
    void onMouse(const MouseEvent& event) override;

protected:
    Camera& viewCamera() override { return camera; }
};

}  // namespace fyrel
