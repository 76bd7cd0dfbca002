#include "tree_dialog_probe.h"

#include <QTest>

#include "gui_test_support.h"
#include "platform/qt_access.h"
#include "platform/window.h"

namespace fyrel::test {

namespace {

std::string outlineOf(const QTreeWidgetItem* item)
{
    std::string text = item->text(0).toStdString();
    if (item->childCount() > 0) {
        text += "{";
        for (int i = 0; i < item->childCount(); ++i) {
            text += (i ? "," : "") + outlineOf(item->child(i));
        }
        text += "}";
    }
    return text;
}

}  // namespace

std::vector<WindowHandle> windowsCaptioned(const Application& app, const std::string& caption)
{
    std::vector<WindowHandle> found;
    for (WindowHandle w : childWindowsOf(app.mainWindow)) {
        if (windowText(w) == caption) {
            found.push_back(w);
        }
    }
    return found;
}

QTreeWidget* treeOf(WindowHandle dialog)
{
    QWidget* widget = windowWidget(dialog);
    return widget ? widget->findChild<QTreeWidget*>() : nullptr;
}

QPushButton* buttonOf(WindowHandle dialog, const std::string& text)
{
    QWidget* widget = windowWidget(dialog);
    if (!widget) {
        return nullptr;
    }
    for (QPushButton* button : widget->findChildren<QPushButton*>()) {
        if (button->text().toStdString() == text) {
            return button;
        }
    }
    return nullptr;
}

std::string outline(const QTreeWidget* tree)
{
    std::string text;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        text += (i ? "," : "") + outlineOf(tree->topLevelItem(i));
    }
    return text;
}

QTreeWidgetItem* findItem(QTreeWidget* tree, const std::string& text)
{
    const QList<QTreeWidgetItem*> items =
        tree->findItems(QString::fromStdString(text), Qt::MatchExactly | Qt::MatchRecursive);
    return items.isEmpty() ? nullptr : items.front();
}

void clickItem(QTreeWidget* tree, QTreeWidgetItem* item)
{
    tree->scrollToItem(item);
    drain();
    const QRect rect = tree->visualItemRect(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    drain();
}

void clickButton(WindowHandle dialog, const std::string& text)
{
    QPushButton* button = buttonOf(dialog, text);
    ASSERT_NE(button, nullptr) << "no button " << text;
    QTest::mouseClick(button, Qt::LeftButton);
    drain();
}

void closeByCaption(WindowHandle dialog)
{
    QWidget* frame = windowWidget(dialog);
    ASSERT_NE(frame, nullptr);
    frame->close();
    drain();
}

}  // namespace fyrel::test
