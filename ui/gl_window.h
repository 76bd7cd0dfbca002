#pragma once

#include <string>

#include "platform/messages.h"
#include "ui/camera.h"
#include "ui/child_window.h"

namespace fyrel {

class Application;

// A perspective view of the scene that the user flies with mouse and keys:
// dragging with the left button turns the camera, W/A/S/D move it in the
// horizontal plane, Space and C raise and lower it, keypad + and − change
// the field of view, and the arrow keys move the target of the last IK
// controller.
class GlWindow : public ChildWindow {
public:
    float lastMouseX = 0.0f;  // the last cursor position used for turning
    float lastMouseY = 0.0f;
    Application* owner = nullptr;  // not owned: parent window and childWindows
    Application* scene = nullptr;  // not owned: what is drawn, whose IK targets the arrows move
    EulerCameraFov camera;
    std::string title;
    std::string windowClassName;

    // Creates and shows the window (640 x 480 client area, at the top-left
    // corner of the main window's client area) and sets the camera 10 units
    // in front of the origin. Throws std::runtime_error with the text
    // "Failed to initialize Window... Sorry :'(" when the window cannot be
    // made. The caller appends the object to owner's childWindows.
    GlWindow(Application* ownerApplication, Application* sceneApplication);

    // render(), then present.
    void frame(float dt) override;
    void registerWindowClass() override;

    // Clears and draws the scene with the camera, its aspect set to the
    // window's shape. Does nothing while the window has no surface yet.
    virtual void render();
};

LResult glWindowProc(WindowHandle window, unsigned message, WParam wParam, LParam lParam);

}  // namespace fyrel
