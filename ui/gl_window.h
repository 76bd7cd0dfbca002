#pragma once

#include "ui/camera.h"
#include "ui/child_window.h"

namespace fyrel {

class ViewHost;

// A perspective view of the scene that the user flies with mouse and keys:
// dragging with the left button turns the camera, W/A/S/D move it in the
// horizontal plane, Space and C raise and lower it, keypad + and − change
// the field of view, the arrow keys move the target of the last IK
// controller in x and y, Page Up and Page Down in z.
class GlWindow : public SceneViewWindow {
public:
    float lastMouseX = 0.0f;  // the last cursor position used for turning
    float lastMouseY = 0.0f;
    EulerCameraFov camera;
    float step = 0.5f;  // what W/A/S/D, Space and C move the camera; framing sets it


    // Creates and shows the window (as SceneViewWindow does) and sets the
    // camera 10 units in front of the origin. The caller appends the object
    // to host's views.
    explicit GlWindow(ViewHost& viewHost);

    // Keeps the camera's direction (FrontThreeQuarter: turns it to look at
    // the models' front from their right and above) and puts it on the line
    // through the box's centre, as far as makes the box's bounding sphere
    // fill the narrower field of view, nearer or farther than it was; the
    // near and far planes follow the distance so that a tiny model is not
    // clipped away and a huge one not cut off, and the step follows the
    // box's size.
    void frameBox(const Vector3& low, const Vector3& high, Framing framing) override;

    // Keys with Alt are the menu's and the accelerators': they move nothing.
    // Turning needs the left button alone, without Shift or Ctrl.
    void onKey(const KeyPress& press) override;
    void onMouse(const MouseEvent& event) override;

protected:
    Camera& viewCamera() override { return camera; }
    // The camera's aspect follows the window's shape.
    void fitCamera(int clientWidth, int clientHeight) override;
};

}  // namespace fyrel
