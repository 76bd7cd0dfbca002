#pragma once

#include <memory>
#include <string>
#include <vector>

#include "math/vector.h"
#include "platform/messages.h"
#include "render/scene_render.h"

namespace fyrel {

class Camera;
class ViewHost;

// The text of the error that a view or the main window raises when its
// window cannot be made.
inline constexpr const char* kWindowFailure = "Failed to initialize Window... Sorry :'(";

// Registers a window class of the program (its icons, the procedure); a
// repeated registration is ignored.
void registerProgramWindowClass(const std::string& className, WindowProc procedure);

// A view of the scene inside the main window's client area. The Application
// owns its child windows; a child window leaves that list (and is deleted)
// when its window is destroyed.
class ChildWindow {
public:
    WindowHandle windowHandle = kNoWindow;

    ChildWindow() = default;
    ChildWindow(const ChildWindow&) = delete;
    ChildWindow& operator=(const ChildWindow&) = delete;

    // Unlinks the window from the object: messages that the window still
    // gets after the object is gone reach the default procedure only.
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
    std::string windowClassName;

    // render(), then present what it drew.
    bool frame(float dt) override;

    // Clears and draws the scene with viewCamera(), after fitCamera. Does
    // nothing, and returns false, while the window has no surface.
    virtual bool render();

protected:
    // Registers the class named by string classString (with sceneViewProc),
    // creates and shows the
    // window (640 x 480 client area, cascaded in the host
    // window's client area) titled by kStringChildTitle and attaches this
    // object to it. Throws std::runtime_error with kWindowFailure when the
    // window cannot be made. The caller appends the object to host's views.
    SceneViewWindow(ViewHost& viewHost, int classString);

    virtual Camera& viewCamera() = 0;
    // Fits the camera to the client area before a render; clientWidth and
    // clientHeight in logical pixels.
    virtual void fitCamera(int clientWidth, int clientHeight);

    // The view's own messages (keys, mouse), after the common ones; true
    // when the message was handled (its result is 0).
    virtual bool handleViewMessage(unsigned message, WParam wParam, LParam lParam) = 0;

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

    friend LResult sceneViewProc(WindowHandle window, unsigned message, WParam wParam, LParam lParam);
};

// The procedure of every scene view: handleCommonViewMessage, then the
// view's handleViewMessage, then the default procedure.
LResult sceneViewProc(WindowHandle window, unsigned message, WParam wParam, LParam lParam);

using ChildWindowList = std::vector<std::unique_ptr<ChildWindow>>;

// Erases the first entry that is window, which deletes it. False when the
// list does not hold it (nothing is deleted then).
bool eraseChildWindow(ChildWindowList& list, const ChildWindow* window);

// The messages every view answers alike. WM_DESTROY erases view from list
// (deleting it: the caller may not touch it afterwards), WM_MOUSEACTIVATE
// gives the view the keyboard focus, and the About and Exit commands show
// the About box and close the view. Returns true with the message's result
// when the message was one of these; any other command, like any other
// message, is left to the caller.
bool handleCommonViewMessage(ChildWindowList& list, ChildWindow& view, WindowHandle window, unsigned message,
                             WParam wParam, LResult& result);

}  // namespace fyrel
