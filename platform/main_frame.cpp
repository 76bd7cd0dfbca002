// The main frame window and the creation of child windows inside it.

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenuBar>
#include <QMouseEvent>

#include "platform/child_view.h"
#include "platform/window.h"
#include "platform/window_registry.h"

namespace fyrel {

using platform_detail::ChildFrame;
using platform_detail::ViewWidget;
using platform_detail::WindowKind;
using platform_detail::WindowObject;

namespace {

// Key presses that no child window takes end up here and become the main
// window's key messages.
class FrameWindow : public QMainWindow {
public:
    explicit FrameWindow(WindowHandle window) : window_(window) { setFocusPolicy(Qt::StrongFocus); }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        event->accept();
        platform_detail::deliverKeyPress(window_, *event);
    }

    void closeEvent(QCloseEvent* event) override
    {
        event->ignore();
        sendMessage(window_, kWmClose, 0, 0);
    }

private:
    WindowHandle window_;
};

// The client area. A click on its empty background gives the keyboard back
// to the main window, so key presses reach every child window again.
class ClientArea : public QMdiArea {
public:
    explicit ClientArea(QWidget* frame) : frame_(frame)
    {
        setFocusPolicy(Qt::NoFocus);
        setBackground(QBrush(QColor(0x50, 0x50, 0x58)));
    }

protected:
    bool viewportEvent(QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            frame_->setFocus(Qt::MouseFocusReason);
        }
        return QMdiArea::viewportEvent(event);
    }

private:
    QWidget* frame_;
};

QString localText(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

void createMenu(QMainWindow& frame, WindowHandle window, const std::vector<MenuPopup>& menu)
{
    for (const MenuPopup& popup : menu) {
        QMenu* qmenu = frame.menuBar()->addMenu(localText(popup.text));
        for (const MenuItem& item : popup.items) {
            QAction* action = qmenu->addAction(localText(item.text));
            action->setMenuRole(QAction::NoRole);
            action->setEnabled(item.enabled);
            action->setData(item.command);
            const int command = item.command;
            QObject::connect(action, &QAction::triggered, action,
                             [window, command] { sendMessage(window, kWmCommand, static_cast<WParam>(command), 0); });
        }
    }
}

}  // namespace

WindowHandle createMainWindow(const std::string& className, const std::string& title,
                              const std::vector<MenuPopup>& menu, int width, int height)
{
    const WindowClass* windowClass = platform_detail::findWindowClass(className);
    if (!windowClass) {
        return kNoWindow;
    }
    WindowObject& object = platform_detail::addWindow(WindowKind::Main, windowClass->procedure, kNoWindow);
    const WindowHandle handle = object.handle;

    auto* frame = new FrameWindow(handle);
    frame->setAttribute(Qt::WA_DeleteOnClose, false);
    frame->setWindowTitle(localText(title));
    frame->setWindowIcon(platform_detail::iconFor(windowClass->largeIcon));
    auto* area = new ClientArea(frame);
    frame->setCentralWidget(area);
    createMenu(*frame, handle, menu);
    object.widget = frame;
    object.clientArea = area;

    frame->resize(width, height);
    frame->show();
    frame->activateWindow();
    frame->setFocus(Qt::ActiveWindowFocusReason);
    return handle;
}

WindowHandle createChildWindow(const std::string& className, const std::string& title, WindowHandle parent,
                               int clientWidth, int clientHeight)
{
    const WindowClass* windowClass = platform_detail::findWindowClass(className);
    WindowObject* parentObject = platform_detail::findWindow(parent);
    if (!windowClass || !parentObject || !parentObject->clientArea) {
        return kNoWindow;
    }
    QMdiArea* area = parentObject->clientArea;
    WindowObject& object = platform_detail::addWindow(WindowKind::Child, windowClass->procedure, parent);
    const WindowHandle handle = object.handle;

    auto* frame = new ChildFrame(handle);
    frame->setAttribute(Qt::WA_DeleteOnClose, false);
    auto* view = new ViewWidget(handle, QSize(clientWidth, clientHeight));
    frame->setWidget(view);
    frame->setWindowTitle(localText(title));
    frame->setWindowIcon(platform_detail::iconFor(windowClass->smallIcon));
    area->addSubWindow(frame);
    object.widget = frame;
    object.view = view;

    frame->show();
    frame->resize(frame->sizeHint());
    frame->move(0, 0);
    return handle;
}

}  // namespace fyrel
