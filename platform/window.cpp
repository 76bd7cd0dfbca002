#include "platform/window.h"

#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/child_view.h"
#include "platform/qt_access.h"
#include "platform/window_registry.h"

namespace fyrel {

using platform_detail::ViewWidget;
using platform_detail::WindowObject;

namespace platform_detail {

namespace {

struct Registry {
    std::unordered_map<std::uint32_t, std::unique_ptr<WindowObject>> windows;
    std::vector<Accelerator> accelerators;
    std::uint32_t lastHandle = 0;
};

Registry& registry()
{
    static Registry r;
    return r;
}

}  // namespace

WindowObject& addWindow(WindowHandler* handler, WindowHandle parent)
{
    Registry& r = registry();
    auto object = std::make_unique<WindowObject>();
    object->handle = WindowHandle{++r.lastHandle};
    object->handler = handler;
    object->parent = parent;
    WindowObject& result = *object;
    r.windows.emplace(static_cast<std::uint32_t>(result.handle), std::move(object));
    if (WindowObject* p = findWindow(parent)) {
        p->children.push_back(result.handle);
    }
    return result;
}

WindowHandle addSubWindow(WindowHandler* handler, WindowHandle parent, QMdiArea*& area)
{
    WindowObject* parentObject = findWindow(parent);
    if (!parentObject || !parentObject->clientArea) {
        return kNoWindow;
    }
    area = parentObject->clientArea;
    return addWindow(handler, parent).handle;
}

WindowObject* findWindow(WindowHandle window)
{
    auto& windows = registry().windows;
    auto it = windows.find(static_cast<std::uint32_t>(window));
    return it == windows.end() ? nullptr : it->second.get();
}

WindowHandler* handlerOf(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    return w ? w->handler : nullptr;
}

namespace {

std::optional<Key> keyFromQt(int key, bool keypad)
{
    const auto offset = [](Key first, int by) { return static_cast<Key>(static_cast<int>(first) + by); };
    if (keypad) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9) {
            return offset(Key::Keypad0, key - Qt::Key_0);
        }
        switch (key) {
        case Qt::Key_Plus: return Key::KeypadPlus;
        case Qt::Key_Minus: return Key::KeypadMinus;
        case Qt::Key_Asterisk: return Key::KeypadMultiply;
        case Qt::Key_Slash: return Key::KeypadDivide;
        case Qt::Key_Period:
        case Qt::Key_Comma: return Key::KeypadDecimal;
        default: break;  // keypad arrows, Enter and the like are the main keys'
        }
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return offset(Key::A, key - Qt::Key_A);
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return offset(Key::Digit0, key - Qt::Key_0);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
        return offset(Key::F1, key - Qt::Key_F1);
    }
    switch (key) {
    case Qt::Key_Backspace: return Key::Backspace;
    case Qt::Key_Tab: return Key::Tab;
    case Qt::Key_Return:
    case Qt::Key_Enter: return Key::Return;
    case Qt::Key_Shift: return Key::Shift;
    case Qt::Key_Control: return Key::Control;
    case Qt::Key_Alt: return Key::Alt;
    case Qt::Key_Escape: return Key::Escape;
    case Qt::Key_Space: return Key::Space;
    case Qt::Key_PageUp: return Key::PageUp;
    case Qt::Key_PageDown: return Key::PageDown;
    case Qt::Key_End: return Key::End;
    case Qt::Key_Home: return Key::Home;
    case Qt::Key_Left: return Key::Left;
    case Qt::Key_Up: return Key::Up;
    case Qt::Key_Right: return Key::Right;
    case Qt::Key_Down: return Key::Down;
    case Qt::Key_Insert: return Key::Insert;
    case Qt::Key_Delete: return Key::Delete;
    default: return std::nullopt;
    }
}

Modifiers modifiersFromQt(Qt::KeyboardModifiers modifiers)
{
    return {modifiers.testFlag(Qt::ShiftModifier), modifiers.testFlag(Qt::ControlModifier),
            modifiers.testFlag(Qt::AltModifier)};
}

}  // namespace

void deliverKeyPress(WindowHandle window, const QKeyEvent& event)
{
    if (event.modifiers().testFlag(Qt::AltModifier)) {
        for (const Accelerator& a : registry().accelerators) {
            if (event.key() == static_cast<unsigned char>(a.key)) {
                deliverCommand(window, Command{a.command, 0});
                return;
            }
        }
    }
    const std::optional<Key> key = keyFromQt(event.key(), event.modifiers().testFlag(Qt::KeypadModifier));
    if (WindowHandler* handler = handlerOf(window); handler && key) {
        handler->onKey(KeyPress{*key, modifiersFromQt(event.modifiers())});
    }
}

void deliverMouse(WindowHandle window, const QMouseEvent& event, MouseEvent::Kind kind)
{
    MouseEvent mouse;
    mouse.kind = kind;
    if (kind != MouseEvent::Kind::Move) {
        switch (event.button()) {
        case Qt::LeftButton: mouse.button = MouseButton::Left; break;
        case Qt::RightButton: mouse.button = MouseButton::Right; break;
        case Qt::MiddleButton: mouse.button = MouseButton::Middle; break;
        default: return;
        }
    }
    const Qt::MouseButtons held = event.buttons();
    mouse.held = {held.testFlag(Qt::LeftButton), held.testFlag(Qt::RightButton), held.testFlag(Qt::MiddleButton)};
    const QPoint p = event.position().toPoint();
    mouse.x = p.x();
    mouse.y = p.y();
    mouse.modifiers = modifiersFromQt(event.modifiers());
    if (WindowHandler* handler = handlerOf(window)) {
        handler->onMouse(mouse);
    }
}

void deliverWheel(WindowHandle window, const QWheelEvent& event)
{
    constexpr double kNotch = 120.0;  // angleDelta's eighths of a degree per notch
    const QPoint p = event.position().toPoint();
    if (WindowHandler* handler = handlerOf(window)) {
        handler->onWheel(Wheel{p.x(), p.y(), event.angleDelta().y() / kNotch, modifiersFromQt(event.modifiers())});
    }
}

void deliverCommand(WindowHandle window, const Command& command)
{
    if (WindowHandler* handler = handlerOf(window)) {
        handler->onCommand(command);
    }
}

void closeRequested(WindowHandle window)
{
    WindowHandler* handler = handlerOf(window);
    if (!handler || handler->onClose()) {
        destroyWindow(window);
    }
}

}  // namespace platform_detail

using platform_detail::findWindow;
using platform_detail::registry;

void setAccelerators(const std::vector<Accelerator>& table)
{
    registry().accelerators = table;
}

bool isWindow(WindowHandle window)
{
    return findWindow(window) != nullptr;
}

void setWindowHandler(WindowHandle window, WindowHandler* handler)
{
    if (WindowObject* w = findWindow(window)) {
        w->handler = handler;
    }
}

void setWindowText(WindowHandle window, const std::string& text)
{
    WindowObject* w = findWindow(window);
    if (w && w->widget) {
        w->widget->setWindowTitle(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
    }
}

std::string windowText(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    if (!w || !w->widget) {
        return {};
    }
    return w->widget->windowTitle().toLocal8Bit().toStdString();
}

ClientSize clientSize(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    if (!w) {
        return {};
    }
    const QWidget* client = w->view ? static_cast<QWidget*>(w->view.data())
                            : w->clientArea ? static_cast<QWidget*>(w->clientArea.data())
                                            : w->widget.data();
    if (!client) {
        return {};
    }
    return {client->width(), client->height()};
}

double devicePixelRatio(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    const QWidget* widget = w ? (w->view ? static_cast<QWidget*>(w->view.data()) : w->widget.data()) : nullptr;
    return widget ? widget->devicePixelRatioF() : 1.0;
}

void setFocus(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    if (!w) {
        return;
    }
    QWidget* target = w->view ? static_cast<QWidget*>(w->view.data()) : w->widget.data();
    if (target) {
        target->setFocus(Qt::OtherFocusReason);
    }
}

void destroyWindow(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    if (!w || w->destroying) {
        return;
    }
    w->destroying = true;
    if (WindowHandler* handler = w->handler) {
        handler->onDestroy();
    }
    // The handler may have destroyed children meanwhile: re-read the list.
    while (true) {
        w = findWindow(window);
        if (!w || w->children.empty()) {
            break;
        }
        const WindowHandle child = w->children.front();
        if (findWindow(child)) {
            destroyWindow(child);
        }
        w = findWindow(window);
        if (w && !w->children.empty() && w->children.front() == child) {
            w->children.erase(w->children.begin());
        }
    }
    w = findWindow(window);
    if (!w) {
        return;
    }
    if (WindowObject* parent = findWindow(w->parent)) {
        auto& siblings = parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
    }
    QPointer<QWidget> widget = w->widget;
    registry().windows.erase(static_cast<std::uint32_t>(window));
    if (!widget) {
        return;
    }
    widget->hide();
    widget->deleteLater();
}

bool makeCurrent(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    if (!w || !w->view) {
        return false;
    }
    return w->view->makeSurfaceCurrent();
}

bool swapBuffers(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    return w && w->view && w->view->present();
}

bool keepBackdrop(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    return w && w->view && w->view->keepBackdrop();
}

bool restoreBackdrop(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    return w && w->view && w->view->restoreBackdrop();
}

std::vector<WindowHandle> childWindowsOf(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    return w ? w->children : std::vector<WindowHandle>{};
}

QWidget* windowWidget(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    return w ? w->widget.data() : nullptr;
}

QWidget* glSurface(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    return w ? w->view.data() : nullptr;
}

QImage presentedFrame(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    return w && w->view ? w->view->grabFramebuffer() : QImage();
}

WindowHandle windowOfWidget(const QWidget* widget)
{
    for (const QWidget* p = widget; p; p = p->parentWidget()) {
        for (const auto& entry : registry().windows) {
            const WindowObject& w = *entry.second;
            if (w.widget == p || w.view == p) {
                return w.handle;
            }
        }
    }
    return kNoWindow;
}

}  // namespace fyrel
