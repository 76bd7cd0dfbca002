#include "platform/modeless_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <algorithm>

#include "platform/cascade.h"
#include "platform/tree_control.h"
#include "platform/window.h"
#include "platform/window_registry.h"

namespace fyrel {

using platform_detail::WindowObject;

namespace {

QString localText(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

bool hasFocusWithin(const QWidget* widget)
{
    const QWidget* focus = QApplication::focusWidget();
    return focus && (focus == widget || widget->isAncestorOf(focus));
}

void sendCommand(WindowHandle dialog, int id)
{
    platform_detail::deliverCommand(dialog, Command{id, 0});
}

// The client of a dialog: its controls sit on it, and the keys that no
// control takes end here instead of travelling on to the main window.
class DialogClient : public QWidget {
public:
    explicit DialogClient(WindowHandle dialog) : dialog_(dialog) {}

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        event->accept();
        if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return;
        }
        if (event->key() == Qt::Key_Escape) {
            sendCommand(dialog_, kIdCancel);
        } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            pressFocusedOrDefaultButton();
        }
    }

private:
    void pressFocusedOrDefaultButton()
    {
        if (auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget()); focused && isAncestorOf(focused)) {
            focused->click();
            return;
        }
        for (QPushButton* button : findChildren<QPushButton*>()) {
            if (button->isDefault()) {
                button->click();
                return;
            }
        }
    }

    WindowHandle dialog_;
};

// A button whose mnemonic answers only while its dialog has the keyboard, as
// in a dialog of its own: Alt with a letter in a view or another dialog is
// not this button's business.
class DialogButton : public QPushButton {
public:
    DialogButton(const QString& text, QWidget* client) : QPushButton(text, client), client_(client) {}

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::Shortcut && !hasFocusWithin(client_)) {
            return true;
        }
        return QPushButton::event(event);
    }

private:
    QWidget* client_;
};

// The caption and frame. The close box asks the handler, as Cancel would.
class DialogFrame : public QMdiSubWindow {
public:
    // Closed by the program (destroyWindow), never deleted by Qt on close.
    explicit DialogFrame(WindowHandle dialog) : dialog_(dialog) { setAttribute(Qt::WA_DeleteOnClose, false); }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        event->ignore();
        sendCommand(dialog_, kIdCancel);
    }

    // Hidden for good, its window destroyed: the frame leaves the client area
    // now rather than when it is deleted later, so the area hands the
    // keyboard on at once and whoever closed the dialog can then decide
    // where it goes. The area raises the window it activates next, often a
    // view: the dialogs still open are raised over it again, so none is left
    // buried with only a stray button showing.
    void hideEvent(QHideEvent* event) override
    {
        QMdiSubWindow::hideEvent(event);
        if (isHidden() && !platform_detail::findWindow(dialog_)) {
            if (QMdiArea* area = mdiArea()) {
                area->removeSubWindow(this);
                raiseDialogs(*area);
            }
        }
    }

private:
    static void raiseDialogs(QMdiArea& area)
    {
        for (QMdiSubWindow* window : area.subWindowList(QMdiArea::StackingOrder)) {
            if (dynamic_cast<DialogFrame*>(window) && window->isVisible()) {
                window->raise();
            }
        }
    }

    WindowHandle dialog_;
};

QWidget* addControl(QWidget& client, WindowHandle dialog, const ModelessControl& control, int unitX, int unitY)
{
    const QRect rect(control.x * unitX / 4, control.y * unitY / 8, control.width * unitX / 4,
                     control.height * unitY / 8);
    QWidget* widget = nullptr;
    switch (control.kind) {
    case ModelessControlKind::Text: {
        auto* label = new QLabel(localText(control.text), &client);
        // The layout's font is narrower than most: a text keeps its whole width.
        label->setGeometry(rect.adjusted(0, 0, std::max(0, label->sizeHint().width() - rect.width()), 0));
        widget = label;
        break;
    }
    case ModelessControlKind::PushButton:
    case ModelessControlKind::DefaultPushButton: {
        auto* button = new DialogButton(localText(control.text), &client);
        button->setGeometry(rect.adjusted(0, 0, 0, std::max(0, button->sizeHint().height() - rect.height())));
        button->setDefault(control.kind == ModelessControlKind::DefaultPushButton);
        const int id = control.id;
        QObject::connect(button, &QPushButton::clicked, button, [dialog, id] { sendCommand(dialog, id); });
        widget = button;
        break;
    }
    case ModelessControlKind::TreeView: {
        auto* tree = new platform_detail::TreeControl(&client);
        tree->setGeometry(rect);
        widget = tree;
        break;
    }
    }
    widget->setProperty(platform_detail::kControlIdProperty, control.id);
    return widget;
}

}  // namespace

WindowHandle createModelessDialog(WindowHandle parent, const ModelessDialogTemplate& t, WindowHandler* handler)
{
    QMdiArea* area = nullptr;
    const WindowHandle handle = platform_detail::addSubWindow(handler, parent, area);
    if (handle == kNoWindow) {
        return kNoWindow;
    }
    auto* frame = new DialogFrame(handle);
    auto* client = new DialogClient(handle);
    const QFontMetrics metrics(client->font());
    const int unitX = std::max(1, metrics.averageCharWidth());
    const int unitY = std::max(1, metrics.height());
    client->setFixedSize(t.width * unitX / 4, t.height * unitY / 8);
    QWidget* firstFocusable = nullptr;
    for (const ModelessControl& control : t.controls) {
        QWidget* widget = addControl(*client, handle, control, unitX, unitY);
        if (!firstFocusable && widget->focusPolicy() != Qt::NoFocus) {
            firstFocusable = widget;
        }
    }
    frame->setWidget(client);
    frame->setWindowTitle(localText(t.caption));
    area->addSubWindow(frame, Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                  Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    platform_detail::findWindow(handle)->widget = frame;

    frame->show();
    frame->adjustSize();
    frame->move(platform_detail::cascadePosition(*area, *frame));
    if (firstFocusable) {
        firstFocusable->setFocus(Qt::OtherFocusReason);
    }
    return handle;
}

}  // namespace fyrel
