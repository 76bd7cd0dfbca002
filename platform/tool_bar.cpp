#include "platform/tool_bar.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMainWindow>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <cmath>

#include "platform/qt_access.h"
#include "platform/window.h"
#include "platform/window_registry.h"

namespace fyrel {

namespace {

QString controlName(int id)
{
    return QStringLiteral("tool%1").arg(id);
}

void send(WindowHandle window, int id, int value)
{
    platform_detail::deliverCommand(window, Command{id, value});
}

QWidget* makeControl(const ToolControl& c, WindowHandle window, QWidget* parent)
{
    const QString text = QString::fromStdString(c.text);
    QWidget* widget = nullptr;
    switch (c.kind) {
    case ToolControlKind::Button: {
        auto* button = new QToolButton(parent);
        button->setText(text);
        QObject::connect(button, &QToolButton::clicked, button, [window, id = c.id] { send(window, id, 0); });
        widget = button;
        break;
    }
    case ToolControlKind::Chooser: {
        auto* chooser = new QComboBox(parent);
        chooser->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        QObject::connect(chooser, &QComboBox::activated, chooser,
                         [window, id = c.id](int index) { send(window, id, index); });
        widget = chooser;
        break;
    }
    case ToolControlKind::Slider: {
        auto* slider = new QSlider(Qt::Horizontal, parent);
        slider->setRange(c.minimum, c.maximum);
        slider->setValue(c.value);
        QObject::connect(slider, &QSlider::valueChanged, slider,
                         [window, id = c.id](int value) { send(window, id, value); });
        widget = slider;
        break;
    }
    case ToolControlKind::Number: {
        auto* number = new QDoubleSpinBox(parent);
        number->setDecimals(2);
        number->setRange(c.minimum / 100.0, c.maximum / 100.0);
        number->setSingleStep(0.1);
        number->setValue(c.value / 100.0);
        number->setSuffix(text);
        QObject::connect(number, &QDoubleSpinBox::valueChanged, number, [window, id = c.id](double value) {
            send(window, id, static_cast<int>(std::lround(value * 100.0)));
        });
        widget = number;
        break;
    }
    case ToolControlKind::Label:
        widget = new QLabel(text, parent);
        break;
    case ToolControlKind::Separator:
        return nullptr;
    }
    widget->setObjectName(controlName(c.id));
    widget->setToolTip(QString::fromStdString(c.tip));
    // Keys stay with the views and the main window; only a number takes
    // them, once clicked, so that a speed can be typed.
    widget->setFocusPolicy(c.kind == ToolControlKind::Number ? Qt::ClickFocus : Qt::NoFocus);
    if (c.width > 0) {
        widget->setMinimumWidth(c.width);
    }
    return widget;
}

QWidget* findControl(WindowHandle window, int id)
{
    QWidget* frame = windowWidget(window);
    return frame ? frame->findChild<QWidget*>(controlName(id)) : nullptr;
}

}  // namespace

void createToolBar(WindowHandle window, const std::vector<ToolControl>& controls)
{
    auto* frame = qobject_cast<QMainWindow*>(windowWidget(window));
    if (!frame) {
        return;
    }
    QToolBar* bar = frame->addToolBar(QStringLiteral("Transport"));
    bar->setObjectName(QStringLiteral("toolBar"));
    bar->setMovable(false);
    for (const ToolControl& c : controls) {
        if (QWidget* widget = makeControl(c, window, bar)) {
            bar->addWidget(widget);
        } else {
            bar->addSeparator();
        }
    }
    auto* status = new QLabel(frame);
    status->setObjectName(QStringLiteral("statusText"));
    frame->statusBar()->addWidget(status, 1);
}

void setToolValue(WindowHandle window, int id, int value)
{
    QWidget* widget = findControl(window, id);
    const QSignalBlocker quiet(widget);
    if (auto* slider = qobject_cast<QSlider*>(widget)) {
        if (!slider->isSliderDown()) {  // the user's drag wins over the shown value
            slider->setValue(value);
        }
    } else if (auto* number = qobject_cast<QDoubleSpinBox*>(widget)) {
        number->setValue(value / 100.0);
    } else if (auto* chooser = qobject_cast<QComboBox*>(widget)) {
        chooser->setCurrentIndex(value);
    }
}

void setToolItems(WindowHandle window, int id, const std::vector<std::string>& items, int selected)
{
    auto* chooser = qobject_cast<QComboBox*>(findControl(window, id));
    if (!chooser) {
        return;
    }
    const QSignalBlocker quiet(chooser);
    chooser->clear();
    for (const std::string& item : items) {
        chooser->addItem(QString::fromLocal8Bit(item.data(), static_cast<qsizetype>(item.size())));
    }
    chooser->setCurrentIndex(selected);
}

void setToolText(WindowHandle window, int id, const std::string& text)
{
    QWidget* widget = findControl(window, id);
    const QString qtext = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(qtext);
    } else if (auto* button = qobject_cast<QToolButton*>(widget)) {
        button->setText(qtext);
    }
}

void setToolEnabled(WindowHandle window, int id, bool enabled)
{
    if (QWidget* widget = findControl(window, id)) {
        widget->setEnabled(enabled);
    }
}

void setStatusText(WindowHandle window, const std::string& text)
{
    QWidget* frame = windowWidget(window);
    if (auto* status = frame ? frame->findChild<QLabel*>(QStringLiteral("statusText")) : nullptr) {
        status->setText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
    }
}

}  // namespace fyrel
