#pragma once

// Inside the platform layer only: the widgets of a child window.

#include <QMdiSubWindow>
#include <QOpenGLWidget>

#include "platform/messages.h"

namespace fyrel::platform_detail {

// The OpenGL surface and client area of a child window. The program draws
// into it between frames (makeSurfaceCurrent, then GL calls) and presents
// with update(); the widget itself never draws, and it keeps what was drawn
// until the next frame replaces it.
class ViewWidget : public QOpenGLWidget {
public:
    ViewWidget(WindowHandle window, QSize clientSize);

    bool makeSurfaceCurrent();
    QSize sizeHint() const override { return clientSize_; }

protected:
    void paintGL() override {}
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    WindowHandle window_;
    QSize clientSize_;
};

// The frame of a child window: caption, system menu, close box. Closing it
// goes through the window's procedure as WM_CLOSE.
class ChildFrame : public QMdiSubWindow {
public:
    explicit ChildFrame(WindowHandle window) : window_(window) {}

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    WindowHandle window_;
};

}  // namespace fyrel::platform_detail
