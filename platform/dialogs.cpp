#include "platform/dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QCoreApplication>
#include <memory>
#include <QPushButton>
#include <QStringList>
#include <utility>

#include "platform/window.h"
#include "platform/window_registry.h"

namespace fyrel {

using platform_detail::WindowObject;

namespace {

DialogResponder& responder()
{
    static DialogResponder r;
    return r;
}

QWidget* ownerWidget(WindowHandle owner)
{
    WindowObject* w = platform_detail::findWindow(owner);
    if (!w) {
        return nullptr;
    }
    // A child window's dialogs belong to the main window's frame, so they
    // centre on the program and block all of it.
    QWidget* widget = w->widget.data();
    return widget ? widget->window() : nullptr;
}

QString localText(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

// "*.*" means every file where it comes from; here a name need not hold a dot.
QString filterText(const FileFilter& filter)
{
    QString pattern = localText(filter.pattern);
    pattern.replace(QStringLiteral("*.*"), QStringLiteral("*"));
    pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
    return localText(filter.name) + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

// A dialog whose buttons, Escape key and close box ask whether they end it.
class TemplateDialog : public QDialog {
public:
    TemplateDialog(QWidget* parent, const std::function<bool(int)>& endsDialog)
        : QDialog(parent), endsDialog_(endsDialog)
    {
    }

    void press(int command)
    {
        if (endsDialog_(command)) {
            done(command);
        }
    }

    void reject() override { press(kIdCancel); }

private:
    const std::function<bool(int)>& endsDialog_;
};

void addControl(TemplateDialog& dialog, const DialogControl& control, int unitX, int unitY)
{
    const QRect rect(control.x * unitX / 4, control.y * unitY / 8, control.width * unitX / 4, control.height * unitY / 8);
    switch (control.kind) {
    case DialogControlKind::Icon: {
        auto* label = new QLabel(&dialog);
        const int side = std::max(rect.width(), rect.height());
        label->setPixmap(platform_detail::iconFor(control.id).pixmap(side, side));
        label->setGeometry(rect.x(), rect.y(), side, side);
        break;
    }
    case DialogControlKind::Text: {
        auto* label = new QLabel(localText(control.text), &dialog);
        label->setGeometry(rect);
        break;
    }
    case DialogControlKind::PushButton:
    case DialogControlKind::DefaultPushButton: {
        auto* button = new QPushButton(localText(control.text), &dialog);
        button->setGeometry(rect.adjusted(0, 0, 0, std::max(0, button->sizeHint().height() - rect.height())));
        if (control.kind == DialogControlKind::DefaultPushButton) {
            button->setDefault(true);
            button->setAutoDefault(true);
        }
        const int id = control.id;
        QObject::connect(button, &QPushButton::clicked, button, [&dialog, id] { dialog.press(id); });
        break;
    }
    }
}

}  // namespace

DialogResponder setDialogResponder(DialogResponder r)
{
    return std::exchange(responder(), std::move(r));
}

void messageBox(WindowHandle owner, const std::string& text, const std::string& caption, MessageBoxIcon icon)
{
    if (responder()) {
        DialogRequest request;
        request.kind = DialogKind::MessageBox;
        request.owner = owner;
        request.text = text;
        request.caption = caption;
        request.icon = icon;
        responder()(request);
        return;
    }
    const QMessageBox::Icon qicon = icon == MessageBoxIcon::Error     ? QMessageBox::Critical
                                    : icon == MessageBoxIcon::Warning ? QMessageBox::Warning
                                                                      : QMessageBox::Information;
    QMessageBox box(qicon, localText(caption), localText(text), QMessageBox::Ok, ownerWidget(owner));
    box.exec();
}

std::size_t askQuestion(WindowHandle owner, const std::string& text, const std::string& caption,
                        const std::vector<std::string>& buttons)
{
    const std::size_t last = buttons.empty() ? 0 : buttons.size() - 1;
    if (responder()) {
        DialogRequest request;
        request.kind = DialogKind::Question;
        request.owner = owner;
        request.text = text;
        request.caption = caption;
        request.icon = MessageBoxIcon::Warning;
        const int answer = responder()(request).command;
        return answer >= 0 && static_cast<std::size_t>(answer) < buttons.size() ? static_cast<std::size_t>(answer)
                                                                                  : last;
    }
    QMessageBox box(QMessageBox::Warning, localText(caption), localText(text), QMessageBox::NoButton,
                    ownerWidget(owner));
    std::vector<QAbstractButton*> pressed;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        pressed.push_back(box.addButton(localText(buttons[i]), i == last ? QMessageBox::RejectRole
                                                                         : QMessageBox::AcceptRole));
    }
    if (!pressed.empty()) {
        box.setDefaultButton(qobject_cast<QPushButton*>(pressed.front()));
        box.setEscapeButton(pressed.back());
    }
    box.exec();
    for (std::size_t i = 0; i < pressed.size(); ++i) {
        if (box.clickedButton() == pressed[i]) {
            return i;
        }
    }
    return last;
}

namespace {

std::unique_ptr<QProgressDialog>& progressPanel()
{
    static std::unique_ptr<QProgressDialog> panel;
    return panel;
}

}  // namespace

bool showProgress(WindowHandle owner, const std::string& text, float fraction)
{
    if (responder()) {
        DialogRequest request;
        request.kind = DialogKind::Progress;
        request.owner = owner;
        request.text = text;
        request.fraction = fraction;
        return responder()(request).command != kIdCancel;
    }
    std::unique_ptr<QProgressDialog>& panel = progressPanel();
    if (!panel) {
        panel = std::make_unique<QProgressDialog>(localText(text), QStringLiteral("Cancel"), 0, 100, ownerWidget(owner));
        panel->setWindowModality(Qt::WindowModal);
        panel->setMinimumDuration(0);
        panel->setAutoReset(false);
        panel->setAutoClose(false);
        panel->show();
    }
    panel->setLabelText(localText(text));
    if (fraction < 0) {
        panel->setRange(0, 0);
    } else {
        panel->setRange(0, 100);
        panel->setValue(static_cast<int>(fraction * 100.0f));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !panel->wasCanceled();
}

void endProgress()
{
    progressPanel().reset();
}

namespace {

// The file dialogs: the responder's answer when one is installed, else a
// QFileDialog that opens an existing file or names one to write (a name typed
// without an ending gets defaultEnding).
std::optional<std::string> fileDialog(DialogKind kind, WindowHandle owner, const std::vector<FileFilter>& filters,
                                      const std::string& directory, const std::string& defaultEnding)
{
    if (responder()) {
        DialogRequest request;
        request.kind = kind;
        request.owner = owner;
        request.filters = filters;
        request.directory = directory;
        return responder()(request).path;
    }
    const bool open = kind == DialogKind::OpenFile;
    QFileDialog dialog(ownerWidget(owner), open ? QStringLiteral("Open") : QStringLiteral("Save"));
    if (!directory.empty()) {
        dialog.setDirectory(localText(directory));
    }
    dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    if (!defaultEnding.empty()) {
        dialog.setDefaultSuffix(localText(defaultEnding).remove(0, 1));
    }
    QStringList names;
    for (const FileFilter& f : filters) {
        names << filterText(f);
    }
    dialog.setNameFilters(names);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toLocal8Bit().toStdString();
}

}  // namespace

std::optional<std::string> openFileDialog(WindowHandle owner, const std::vector<FileFilter>& filters,
                                          const std::string& directory)
{
    return fileDialog(DialogKind::OpenFile, owner, filters, directory, {});
}

std::optional<std::string> saveFileDialog(WindowHandle owner, const std::vector<FileFilter>& filters,
                                          const std::string& defaultEnding, const std::string& directory)
{
    return fileDialog(DialogKind::SaveFile, owner, filters, directory, defaultEnding);
}

int dialogBox(WindowHandle owner, const DialogTemplate& t, const std::function<bool(int command)>& endsDialog)
{
    if (responder()) {
        DialogRequest request;
        request.kind = DialogKind::DialogBox;
        request.owner = owner;
        request.caption = t.caption;
        const int command = responder()(request).command;
        return endsDialog(command) ? command : 0;
    }
    TemplateDialog dialog(ownerWidget(owner), endsDialog);
    dialog.setWindowTitle(localText(t.caption));
    const QFontMetrics metrics(dialog.font());
    const int unitX = std::max(1, metrics.averageCharWidth());
    const int unitY = std::max(1, metrics.height());
    dialog.setFixedSize(t.width * unitX / 4, t.height * unitY / 8);
    for (const DialogControl& control : t.controls) {
        addControl(dialog, control, unitX, unitY);
    }
    return dialog.exec();
}

}  // namespace fyrel
