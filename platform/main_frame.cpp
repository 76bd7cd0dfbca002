// The main frame window and the creation of child windows inside it.

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

#include <algorithm>
#include <utility>

#include "platform/cascade.h"
#include "platform/icons.h"
#include "platform/child_view.h"
#include "platform/qt_access.h"
#include "platform/window.h"
#include "platform/window_registry.h"

namespace fyrel {

using platform_detail::ChildFrame;
using platform_detail::ViewWidget;
using platform_detail::WindowObject;

namespace {

// Key presses that no child window takes end up here and become the main
// window's.
class FrameWindow : public QMainWindow {
public:
    explicit FrameWindow(WindowHandle window) : window_(window)
    {
        setFocusPolicy(Qt::StrongFocus);
        setAcceptDrops(true);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (!localFiles(*event->mimeData()).empty()) {
            event->acceptProposedAction();
        }
    }

    void dropEvent(QDropEvent* event) override
    {
        std::vector<std::string> files = localFiles(*event->mimeData());
        if (files.empty()) {
            return;
        }
        event->acceptProposedAction();
        if (WindowHandler* handler = platform_detail::handlerOf(window_)) {
            handler->onDrop(files);
        }
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        event->accept();
        platform_detail::deliverKeyPress(window_, *event);
    }

    void closeEvent(QCloseEvent* event) override
    {
        event->ignore();
        platform_detail::closeRequested(window_);
    }

private:
    static std::vector<std::string> localFiles(const QMimeData& data)
    {
        std::vector<std::string> files;
        for (const QUrl& url : data.urls()) {
            if (url.isLocalFile()) {
                files.push_back(url.toLocalFile().toLocal8Bit().toStdString());
            }
        }
        return files;
    }

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

void addMenuItems(QMenu& qmenu, WindowHandle window, const std::vector<MenuItem>& items)
{
    for (const MenuItem& item : items) {
        if (item.text == "-") {
            qmenu.addSeparator();
            continue;
        }
        if (item.submenu) {
            QMenu* sub = qmenu.addMenu(localText(item.text));
            sub->menuAction()->setData(item.command);
            sub->setEnabled(false);  // until it has items
            continue;
        }
        QAction* action = qmenu.addAction(localText(item.text));
        action->setMenuRole(QAction::NoRole);
        action->setEnabled(item.enabled);
        action->setData(item.command);
        action->setCheckable(item.checkable);
        if (!item.shortcut.empty()) {
            action->setShortcut(QKeySequence(QString::fromStdString(item.shortcut)));
        }
        const int command = item.command;
        QObject::connect(action, &QAction::triggered, action,
                         [window, command] { platform_detail::deliverCommand(window, Command{command, 0}); });
    }
}

void createMenu(QMainWindow& frame, WindowHandle window, const std::vector<MenuPopup>& menu)
{
    for (const MenuPopup& popup : menu) {
        addMenuItems(*frame.menuBar()->addMenu(localText(popup.text)), window, popup.items);
    }
}

// The menu action of a command anywhere in the main window's menu bar.
QAction* findMenuAction(WindowHandle window, int command)
{
    auto* frame = qobject_cast<QMainWindow*>(windowWidget(window));
    if (!frame) {
        return nullptr;
    }
    for (QAction* action : frame->menuBar()->findChildren<QAction*>()) {
        if (action->data().isValid() && action->data().toInt() == command) {
            return action;
        }
    }
    return nullptr;
}

QMdiArea* clientAreaOf(WindowHandle window)
{
    WindowObject* object = platform_detail::findWindow(window);
    return object ? object->clientArea.data() : nullptr;
}

}  // namespace

QPoint platform_detail::cascadePosition(const QMdiArea& area, const QMdiSubWindow& opening)
{
    constexpr int kStep = 28;
    int count = 0;
    for (const QMdiSubWindow* other : area.subWindowList()) {
        if (other != &opening && other->isVisible()) {
            ++count;
        }
    }
    const QSize size = opening.size();
    const int room = std::min(area.viewport()->width() - size.width(), area.viewport()->height() - size.height());
    const int places = std::max(1, room / kStep + 1);
    const int offset = (count % places) * kStep;
    return QPoint(offset, offset);
}

WindowHandle createMainWindow(const std::string& title, const std::vector<MenuPopup>& menu, int width,
                              int height, WindowHandler* handler)
{
    WindowObject& object = platform_detail::addWindow(handler, kNoWindow);
    const WindowHandle handle = object.handle;

    auto* frame = new FrameWindow(handle);
    frame->setAttribute(Qt::WA_DeleteOnClose, false);
    frame->setWindowTitle(localText(title));
    frame->setWindowIcon(platform_detail::iconFor(kLargeIcon));
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

WindowHandle createChildWindow(const std::string& title, WindowHandle parent, int clientWidth, int clientHeight,
                               WindowHandler* handler)
{
    QMdiArea* area = nullptr;
    const WindowHandle handle = platform_detail::addSubWindow(handler, parent, area);
    if (handle == kNoWindow) {
        return kNoWindow;
    }
    auto* frame = new ChildFrame(handle);
    auto* view = new ViewWidget(handle, QSize(clientWidth, clientHeight));
    frame->setWidget(view);
    frame->setWindowTitle(localText(title));
    frame->setWindowIcon(platform_detail::iconFor(kSmallIcon));
    area->addSubWindow(frame);
    WindowObject& object = *platform_detail::findWindow(handle);
    object.widget = frame;
    object.view = view;

    frame->show();
    frame->resize(frame->sizeHint());
    frame->move(platform_detail::cascadePosition(*area, *frame));
    return handle;
}

void setMenuItemChecked(WindowHandle window, int command, bool checked)
{
    if (QAction* action = findMenuAction(window, command)) {
        action->setChecked(checked);
    }
}

void setMenuItemText(WindowHandle window, int command, const std::string& text, bool enabled)
{
    if (QAction* action = findMenuAction(window, command)) {
        action->setText(localText(text));
        action->setEnabled(enabled);
    }
}

void setSubmenuItems(WindowHandle window, int command, const std::vector<MenuItem>& items)
{
    QAction* holder = findMenuAction(window, command);
    QMenu* sub = holder ? holder->menu() : nullptr;
    if (!sub) {
        return;
    }
    sub->clear();
    addMenuItems(*sub, window, items);
    sub->setEnabled(!items.empty());
}

void tileChildWindows(WindowHandle window)
{
    if (QMdiArea* area = clientAreaOf(window)) {
        area->tileSubWindows();
    }
}

void cascadeChildWindows(WindowHandle window)
{
    if (QMdiArea* area = clientAreaOf(window)) {
        area->cascadeSubWindows();
    }
}

WindowHandle activeChildWindow(WindowHandle window)
{
    QMdiArea* area = clientAreaOf(window);
    QMdiSubWindow* active = area ? area->activeSubWindow() : nullptr;
    const platform_detail::WindowObject* parent = platform_detail::findWindow(window);
    if (!active || !parent) {
        return kNoWindow;
    }
    for (WindowHandle child : parent->children) {
        const platform_detail::WindowObject* object = platform_detail::findWindow(child);
        if (object && object->widget == active) {
            return child;
        }
    }
    return kNoWindow;
}

void activateNextChildWindow(WindowHandle window)
{
    if (QMdiArea* area = clientAreaOf(window)) {
        area->activateNextSubWindow();
    }
}

bool isWindowMinimized(WindowHandle window)
{
    const QWidget* widget = windowWidget(window);
    return widget && (widget->isMinimized() || !widget->isVisible());
}

WindowFrame childWindowFrame(WindowHandle window)
{
    const auto* frame = qobject_cast<const QMdiSubWindow*>(windowWidget(window));
    if (!frame) {
        return {};
    }
    const QRect r = frame->geometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

bool setChildWindowFrame(WindowHandle window, const WindowFrame& frame)
{
    auto* sub = qobject_cast<QMdiSubWindow*>(windowWidget(window));
    if (!sub || frame.width <= 0 || frame.height <= 0) {
        return false;
    }
    sub->setGeometry(frame.x, frame.y, frame.width, frame.height);
    return true;
}

std::string windowGeometry(WindowHandle window)
{
    const QWidget* widget = windowWidget(window);
    return widget ? widget->saveGeometry().toBase64().toStdString() : std::string();
}

bool restoreWindowGeometry(WindowHandle window, const std::string& geometry)
{
    QWidget* widget = windowWidget(window);
    const QByteArray bytes = QByteArray::fromBase64(QByteArray::fromStdString(geometry));
    return widget && !bytes.isEmpty() && widget->restoreGeometry(bytes);
}

}  // namespace fyrel
