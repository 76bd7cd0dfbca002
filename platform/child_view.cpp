#include "platform/child_view.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMouseEvent>

#include "platform/window.h"
#include "platform/window_registry.h"

namespace fyrel::platform_detail {

ViewWidget::ViewWidget(WindowHandle window, QSize clientSize) : window_(window), clientSize_(clientSize)
{
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(0, 0);
}

bool ViewWidget::makeSurfaceCurrent()
{
    if (!isValid() && isVisible()) {
        // The surface is made on the first resize or paint after showing;
        // a view that is visible but not drawn yet gets it now.
        grabFramebuffer();
    }
    if (!isValid()) {
        return false;
    }
    makeCurrent();
    return true;
}

void ViewWidget::keyPressEvent(QKeyEvent* event)
{
    // Every key is the view's own: none travels on to the main window.
    event->accept();
    deliverKeyPress(window_, *event);
}

void ViewWidget::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    sendMessage(window_, kWmMouseActivate, 0, 0);
    if (event->button() == Qt::LeftButton) {
        sendMessage(window_, kWmLButtonDown, mouseState(*event), mousePoint(*event));
    } else if (event->button() == Qt::RightButton) {
        sendMessage(window_, kWmRButtonDown, mouseState(*event), mousePoint(*event));
    }
}

void ViewWidget::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton) {
        sendMessage(window_, kWmLButtonUp, mouseState(*event), mousePoint(*event));
    } else if (event->button() == Qt::RightButton) {
        sendMessage(window_, kWmRButtonUp, mouseState(*event), mousePoint(*event));
    }
}

void ViewWidget::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    sendMessage(window_, kWmMouseMove, mouseState(*event), mousePoint(*event));
}

void ChildFrame::closeEvent(QCloseEvent* event)
{
    event->ignore();
    sendMessage(window_, kWmClose, 0, 0);
}

}  // namespace fyrel::platform_detail
