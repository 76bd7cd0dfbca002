#pragma once

// Inside the platform layer only: the widgets of a child window.

#include <QImage>
#include <QMdiSubWindow>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QWidget>
#include <QWindow>

#include <memory>

#include "platform/input.h"

namespace fyrel::platform_detail {

// The native window a view draws into. The window system delivers the
// view's real mouse input here; it goes to the view's handler as the
// widget's would.
class ViewSurface : public QWindow {
public:
    ViewSurface(WindowHandle window, QWidget* owner);

protected:
    void exposeEvent(QExposeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    WindowHandle window_;
    QWidget* owner_;
};

// The client area of a child window: a native OpenGL window of its own
// (ViewSurface) with a context of the program's share group. The program
// draws between frames (makeSurfaceCurrent, then GL calls) into a
// framebuffer object of the widget's size, as it drew into a QOpenGLWidget's
// (a window's own buffers are rasterised upside down, which moves the odd
// pixel of a line), and present() copies that into the window and shows it
// there: unlike a QOpenGLWidget's frame, it is not composed into the main
// window with the rest of it, a pass over the whole window that costs a
// software renderer more than drawing a view. The framebuffer object keeps
// the last frame for a window uncovered before the next. Input that reaches the widget itself
// (synthesised events, keys while it has the focus) goes to the handler as
// the surface's does.
class ViewWidget : public QWidget {
public:
    ViewWidget(WindowHandle window, QSize clientSize);
    ~ViewWidget() override;

    bool makeSurfaceCurrent();
    // Shows what was drawn since makeSurfaceCurrent; false when the window
    // is not exposed (nothing reached the screen).
    bool present();
    // Shows the last frame again (the window was uncovered).
    void presentAgain();
    // Copies the drawing (colour, depth and stencil) into the backdrop, or
    // the backdrop of the drawing's size back into the drawing.
    bool keepBackdrop();
    bool restoreBackdrop();
    // The last frame presented, in device pixels.
    QImage grabFramebuffer();
    QSize sizeHint() const override { return clientSize_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    WindowHandle window_;
    QSize clientSize_;
    ViewSurface* surface_;
    QWidget* container_;
    QOpenGLContext context_;
    std::unique_ptr<QOpenGLFramebufferObject> frame_;
    std::unique_ptr<QOpenGLFramebufferObject> backdrop_;
    bool drawn_ = false;  // a frame has been presented
};

// The frame of a child window: caption, system menu, close box. Closing it
// asks the window's handler.
class ChildFrame : public QMdiSubWindow {
public:
    // Closed by the program (destroyWindow), never deleted by Qt on close.
    explicit ChildFrame(WindowHandle window) : window_(window) { setAttribute(Qt::WA_DeleteOnClose, false); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    WindowHandle window_;
};

}  // namespace fyrel::platform_detail
