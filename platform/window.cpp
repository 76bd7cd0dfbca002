#include "platform/window.h"

#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>
#include <map>
#include <memory>
#include <unordered_map>

#include "platform/child_view.h"
#include "platform/qt_access.h"
#include "platform/window_registry.h"

namespace fyrel {

using platform_detail::ViewWidget;
using platform_detail::WindowKind;
using platform_detail::WindowObject;

namespace platform_detail {

namespace {

struct Registry {
    std::unordered_map<std::uint32_t, std::unique_ptr<WindowObject>> windows;
    std::map<std::string, WindowClass> classes;
    std::vector<Accelerator> accelerators;
    std::uint32_t lastHandle = 0;
};

Registry& registry()
{
    static Registry r;
    return r;
}

}  // namespace

WindowObject& addWindow(WindowKind kind, WindowProc procedure, WindowHandle parent)
{
    Registry& r = registry();
    auto object = std::make_unique<WindowObject>();
    object->handle = WindowHandle{++r.lastHandle};
    object->kind = kind;
    object->procedure = procedure;
    object->parent = parent;
    WindowObject& result = *object;
    r.windows.emplace(static_cast<std::uint32_t>(result.handle), std::move(object));
    if (WindowObject* p = findWindow(parent)) {
        p->children.push_back(result.handle);
    }
    return result;
}

WindowObject* findWindow(WindowHandle window)
{
    auto& windows = registry().windows;
    auto it = windows.find(static_cast<std::uint32_t>(window));
    return it == windows.end() ? nullptr : it->second.get();
}

const WindowClass* findWindowClass(const std::string& name)
{
    auto& classes = registry().classes;
    auto it = classes.find(name);
    return it == classes.end() ? nullptr : &it->second;
}

int virtualKeyFromQt(int key, bool keypad)
{
    if (keypad) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9) {
            return kVkNumpad0 + (key - Qt::Key_0);
        }
        switch (key) {
        case Qt::Key_Plus: return kVkAdd;
        case Qt::Key_Minus: return kVkSubtract;
        case Qt::Key_Asterisk: return kVkMultiply;
        case Qt::Key_Slash: return kVkDivide;
        case Qt::Key_Period:
        case Qt::Key_Comma: return kVkDecimal;
        default: break;  // keypad arrows, Enter and the like map as below
        }
    }
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
        return key;  // the same ASCII codes
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return kVkF1 + (key - Qt::Key_F1);
    }
    switch (key) {
    case Qt::Key_Backspace: return kVkBack;
    case Qt::Key_Tab: return kVkTab;
    case Qt::Key_Return:
    case Qt::Key_Enter: return kVkReturn;
    case Qt::Key_Shift: return kVkShift;
    case Qt::Key_Control: return kVkControl;
    case Qt::Key_Alt: return kVkMenu;
    case Qt::Key_Escape: return kVkEscape;
    case Qt::Key_Space: return kVkSpace;
    case Qt::Key_PageUp: return kVkPrior;
    case Qt::Key_PageDown: return kVkNext;
    case Qt::Key_End: return kVkEnd;
    case Qt::Key_Home: return kVkHome;
    case Qt::Key_Left: return kVkLeft;
    case Qt::Key_Up: return kVkUp;
    case Qt::Key_Right: return kVkRight;
    case Qt::Key_Down: return kVkDown;
    case Qt::Key_Insert: return kVkInsert;
    case Qt::Key_Delete: return kVkDelete;
    default: return 0;
    }
}

void deliverKeyPress(WindowHandle window, const QKeyEvent& event)
{
    const bool alt = event.modifiers().testFlag(Qt::AltModifier);
    if (alt) {
        for (const Accelerator& a : registry().accelerators) {
            if (event.key() == static_cast<unsigned char>(a.key)) {
                sendMessage(window, kWmCommand, static_cast<WParam>(a.command), 0);
                return;
            }
        }
    }
    const int vk = virtualKeyFromQt(event.key(), event.modifiers().testFlag(Qt::KeypadModifier));
    if (vk == 0) {
        return;
    }
    // Repeat count 1 in the low word; bit 30 tells a held key's repeats.
    const LParam lParam = 1 | (event.isAutoRepeat() ? (LParam{1} << 30) : 0);
    sendMessage(window, alt ? kWmSysKeyDown : kWmKeyDown, static_cast<WParam>(vk), lParam);
}

WParam mouseState(const QMouseEvent& event)
{
    WParam state = 0;
    const Qt::MouseButtons buttons = event.buttons();
    if (buttons.testFlag(Qt::LeftButton)) state |= kMkLButton;
    if (buttons.testFlag(Qt::RightButton)) state |= kMkRButton;
    if (buttons.testFlag(Qt::MiddleButton)) state |= kMkMButton;
    if (event.modifiers().testFlag(Qt::ShiftModifier)) state |= kMkShift;
    if (event.modifiers().testFlag(Qt::ControlModifier)) state |= kMkControl;
    return state;
}

LParam mousePoint(const QMouseEvent& event)
{
    const QPoint p = event.position().toPoint();
    return makePointParam(p.x(), p.y());
}

}  // namespace platform_detail

using platform_detail::findWindow;
using platform_detail::registry;

bool registerWindowClass(const WindowClass& windowClass)
{
    return registry().classes.emplace(windowClass.name, windowClass).second;
}

void setAccelerators(const std::vector<Accelerator>& table)
{
    registry().accelerators = table;
}

bool isWindow(WindowHandle window)
{
    return findWindow(window) != nullptr;
}

void setWindowUserData(WindowHandle window, void* data)
{
    if (WindowObject* w = findWindow(window)) {
        w->userData = data;
    }
}

void* windowUserData(WindowHandle window)
{
    WindowObject* w = findWindow(window);
    return w ? w->userData : nullptr;
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
    sendMessage(window, kWmDestroy, 0, 0);
    // The procedure may have destroyed children meanwhile: re-read the list.
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
    const WindowKind kind = w->kind;
    registry().windows.erase(static_cast<std::uint32_t>(window));
    if (!widget) {
        return;
    }
    if (kind == WindowKind::Dialog) {
        // The dialog's event loop belongs to dialogBox, which frees it.
        static_cast<QDialog*>(widget.data())->done(kIdCancel);
        return;
    }
    widget->hide();
    widget->deleteLater();
}

LResult sendMessage(WindowHandle window, unsigned message, WParam wParam, LParam lParam)
{
    WindowObject* w = findWindow(window);
    if (!w || !w->procedure) {
        return 0;
    }
    return w->procedure(window, message, wParam, lParam);
}

LResult defaultWindowProc(WindowHandle window, unsigned message, WParam, LParam)
{
    // Closing a window by its system menu or close box destroys it.
    if (message == kWmClose) {
        destroyWindow(window);
    }
    return 0;
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
