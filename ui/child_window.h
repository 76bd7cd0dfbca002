#pragma once

#include <memory>
#include <string>
#include <vector>

#include "math/vector.h"
#include "platform/input.h"
#include "render/scene_render.h"

namespace fyrel {

class Camera;
class ViewHost;

// The text of the error that a view or the main window raises when its
// window cannot be made.
inline constexpr const char* kWindowFailure = "Failed to initialize Window... Sorry :'(";

// A view of the scene inside the main window's client area, and the handler
// of its window. The Application owns its child windows; a child window
// leaves that list (and is deleted) when its window is destroyed.
class ChildWindow : public WindowHandler {
public:
    WindowHandle windowHandle = kNoWindow;

    ChildWindow() = default;
    ChildWindow(const ChildWindow&) = delete;
    ChildWindow& operator=(const ChildWindow&) = delete;

    // Unlinks the window from the object: input that the window still gets
    // after the object is gone is ignored.
    virtual ~ChildWindow();

    // Draws this window's view of the scene and presents it; false when
    // nothing reached the screen (no surface yet, hidden, minimised).
    virtual bool frame(float dt) = 0;

    // How a perspective view frames: keeping its camera's direction (Frame
    // All), or turned to the models' front three-quarter side (a model into
    // an empty scene, the command line's files, a new view).
    enum class Framing { KeepDirection, FrontThreeQuarter };

    // Brings the world box from low to high (low <= high in every axis)
    // into sight; a window without a camera leaves it to the others.
    virtual void frameBox(const Vector3& low, const Vector3& high, Framing framing);
};

// A child window that shows the host's scene through a camera of its own:
// GlWindow and PathWindow.
class SceneViewWindow : public ChildWindow {
public:
    ViewHost* host = nullptr;  // not owned: the scene drawn and edited, the parent window, the view list
    std::string title;

    // render(), then present what it drew.
    bool frame(float dt) override;

    // What every view answers alike. Its window's destruction erases the
    // view from the host's list, deleting it: nothing of it may be touched
    // afterwards. The About command shows the About box, Exit closes the
    // view; other commands are the main window's business.
    void onDestroy() override;
    void onCommand(const Command& command) override;

    // Clears and draws the scene with viewCamera(), after fitCamera. Does
    // nothing, and returns false, while the window has no surface.
    virtual bool render();

protected:
    // Creates and shows the window (640 x 480 client area, cascaded in the
    // host window's client area) titled by kStringChildTitle, with this
    // object its handler. Throws std::runtime_error with kWindowFailure when
    // the window cannot be made. The caller appends the object to host's
    // views.
    explicit SceneViewWindow(ViewHost& viewHost);

    virtual Camera& viewCamera() = 0;
    // Fits the camera to the client area before a render; clientWidth and
    // clientHeight in logical pixels.
    virtual void fitCamera(int clientWidth, int clientHeight);

private:
    // The view's ground, kept by its window between frames.
    class WindowBackdrop : public GroundBackdrop {
    public:
        explicit WindowBackdrop(const SceneViewWindow& view) : view_(view) {}
        bool restore() override;
        bool keep() override;

    private:
        const SceneViewWindow& view_;
    };
    WindowBackdrop backdrop_{*this};
};

using ChildWindowList = std::vector<std::unique_ptr<ChildWindow>>;

// Erases the first entry that is window, which deletes it. False when the
// list does not hold it (nothing is deleted then).
bool eraseChildWindow(ChildWindowList& list, const ChildWindow* window);

}  // namespace fyrel
