#pragma once

#include "platform/messages.h"
#include "ui/camera.h"
#include "ui/child_window.h"

namespace fyrel {

class ViewHost;

// A perspective view of the scene that the user flies with mouse and keys:
// dragging with the left button turns the camera, W/A/S/D move it in the
// horizontal plane, Space and C raise and lower it, keypad + and − change
// the field of view, and the arrow keys move the target of the last IK
// controller.
class GlWindow : public SceneViewWindow {
public:
    float lastMouseX = 0.0f;  // the last cursor position used for turning
    float lastMouseY = 0.0f;
    EulerCameraFov camera;

    // Creates and shows the window (as SceneViewWindow does) and sets the
    // camera 10 units in front of the origin. The caller appends the object
    // to host's views.
    explicit GlWindow(ViewHost& viewHost);

protected:
    Camera& viewCamera() override { return camera; }
    // The camera's aspect follows the window's shape.
    void fitCamera(int clientWidth, int clientHeight) override;
    bool handleViewMessage(unsigned message, WParam wParam, LParam lParam) override;
};

}  // namespace fyrel
