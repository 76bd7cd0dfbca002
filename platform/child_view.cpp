#include "platform/child_view.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QSurfaceFormat>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "platform/window.h"
#include "platform/window_registry.h"

namespace fyrel::platform_detail {

namespace {

// Every key is the view's own: none travels on to the main window.
void keyPress(WindowHandle window, QKeyEvent& event)
{
    event.accept();
    deliverKeyPress(window, event);
}

// A press of any button gives the view the keyboard first.
void mousePress(QWidget& view, WindowHandle window, QMouseEvent& event)
{
    event.accept();
    view.setFocus(Qt::MouseFocusReason);
    deliverMouse(window, event, MouseEvent::Kind::Press);
}

void mouseRelease(WindowHandle window, QMouseEvent& event)
{
    event.accept();
    deliverMouse(window, event, MouseEvent::Kind::Release);
}

void mouseMove(WindowHandle window, QMouseEvent& event)
{
    event.accept();
    deliverMouse(window, event, MouseEvent::Kind::Move);
}

void wheel(WindowHandle window, QWheelEvent& event)
{
    event.accept();
    deliverWheel(window, event);
}

}  // namespace

ViewSurface::ViewSurface(WindowHandle window, QWidget* owner) : window_(window), owner_(owner)
{
    setSurfaceType(QSurface::OpenGLSurface);
    setFormat(QSurfaceFormat::defaultFormat());
}

void ViewSurface::exposeEvent(QExposeEvent*)
{
    if (isExposed()) {
        static_cast<ViewWidget*>(owner_)->presentAgain();
    }
}

void ViewSurface::keyPressEvent(QKeyEvent* event)
{
    keyPress(window_, *event);
}

void ViewSurface::mousePressEvent(QMouseEvent* event)
{
    mousePress(*owner_, window_, *event);
}

void ViewSurface::mouseReleaseEvent(QMouseEvent* event)
{
    mouseRelease(window_, *event);
}

void ViewSurface::mouseMoveEvent(QMouseEvent* event)
{
    mouseMove(window_, *event);
}

void ViewSurface::wheelEvent(QWheelEvent* event)
{
    wheel(window_, *event);
}

ViewWidget::ViewWidget(WindowHandle window, QSize clientSize)
    : window_(window), clientSize_(clientSize), surface_(new ViewSurface(window, this))
{
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(0, 0);
    container_ = QWidget::createWindowContainer(surface_, this);
    // Input synthesised for the widget reaches the widget; the keyboard stays
    // with it.
    container_->setAttribute(Qt::WA_TransparentForMouseEvents);
    container_->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(container_);
    context_.setFormat(QSurfaceFormat::defaultFormat());
    context_.setShareContext(QOpenGLContext::globalShareContext());
}

ViewWidget::~ViewWidget()
{
    // The framebuffer objects go with their context current.
    if ((frame_ || backdrop_) && surface_->handle() && context_.makeCurrent(surface_)) {
        frame_.reset();
        backdrop_.reset();
    }
    if (QOpenGLContext::currentContext() == &context_) {
        context_.doneCurrent();
    }
}

bool ViewWidget::makeSurfaceCurrent()
{
    if (!surface_->handle() && isVisible()) {
        // The native window is made when it is first shown; a view that is
        // visible but not yet shown gets it now.
        surface_->create();
    }
    if (!surface_->handle() || (!context_.isValid() && !context_.create()) || !context_.makeCurrent(surface_)) {
        return false;
    }
    const QSize size = (QSizeF(this->size()) * devicePixelRatioF()).toSize().expandedTo(QSize(1, 1));
    if (!frame_ || frame_->size() != size) {
        frame_ = std::make_unique<QOpenGLFramebufferObject>(size, QOpenGLFramebufferObject::CombinedDepthStencil);
        drawn_ = false;
    }
    return frame_->isValid() && frame_->bind();
}

bool ViewWidget::present()
{
    if (frame_ && surface_->isExposed() && context_.makeCurrent(surface_)) {
        QOpenGLFramebufferObject::blitFramebuffer(nullptr, frame_.get(), GL_COLOR_BUFFER_BIT, GL_NEAREST);
        context_.swapBuffers(surface_);
        drawn_ = true;
        return true;
    }
    return false;
}

namespace {

constexpr GLbitfield kWholePicture = GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT;

}  // namespace

bool ViewWidget::keepBackdrop()
{
    if (!frame_ || QOpenGLContext::currentContext() != &context_) {
        return false;
    }
    if (!backdrop_ || backdrop_->size() != frame_->size()) {
        backdrop_ = std::make_unique<QOpenGLFramebufferObject>(frame_->size(),
                                                               QOpenGLFramebufferObject::CombinedDepthStencil);
    }
    if (!backdrop_->isValid()) {
        backdrop_.reset();
        return false;
    }
    QOpenGLFramebufferObject::blitFramebuffer(backdrop_.get(), frame_.get(), kWholePicture, GL_NEAREST);
    return frame_->bind();
}

bool ViewWidget::restoreBackdrop()
{
    if (!frame_ || !backdrop_ || backdrop_->size() != frame_->size() ||
        QOpenGLContext::currentContext() != &context_) {
        return false;
    }
    QOpenGLFramebufferObject::blitFramebuffer(frame_.get(), backdrop_.get(), kWholePicture, GL_NEAREST);
    return frame_->bind();
}

void ViewWidget::presentAgain()
{
    if (drawn_) {
        present();
    }
}

QImage ViewWidget::grabFramebuffer()
{
    if (!makeSurfaceCurrent()) {
        return {};
    }
    return frame_->toImage();
}

void ViewWidget::keyPressEvent(QKeyEvent* event)
{
    keyPress(window_, *event);
}

void ViewWidget::mousePressEvent(QMouseEvent* event)
{
    mousePress(*this, window_, *event);
}

void ViewWidget::mouseReleaseEvent(QMouseEvent* event)
{
    mouseRelease(window_, *event);
}

void ViewWidget::mouseMoveEvent(QMouseEvent* event)
{
    mouseMove(window_, *event);
}

void ViewWidget::wheelEvent(QWheelEvent* event)
{
    wheel(window_, *event);
}

void ViewWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (WindowHandler* handler = handlerOf(window_)) {
        handler->onResize(Resize{width(), height()});
    }
}

void ChildFrame::closeEvent(QCloseEvent* event)
{
    event->ignore();
    closeRequested(window_);
}

}  // namespace fyrel::platform_detail
