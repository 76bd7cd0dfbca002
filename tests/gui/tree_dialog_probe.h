#pragma once

// Reading and clicking the tree dialogs as a user sees them.

#include <QPushButton>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "app/application.h"
#include "platform/messages.h"

namespace fyrel::test {

// The open windows in the main window's client area with this caption,
// oldest first.
std::vector<WindowHandle> windowsCaptioned(const Application& app, const std::string& caption);

QTreeWidget* treeOf(WindowHandle dialog);
QPushButton* buttonOf(WindowHandle dialog, const std::string& text);

// The tree as text: items separated by ",", an item's children in braces
// after it: "Models{Model 0{Animations,Bones{root}}},Paths".
std::string outline(const QTreeWidget* tree);

// The first item with this text, searched in pre-order; null when none.
QTreeWidgetItem* findItem(QTreeWidget* tree, const std::string& text);

// Mouse clicks, as the user makes them.
void clickItem(QTreeWidget* tree, QTreeWidgetItem* item);
void clickButton(WindowHandle dialog, const std::string& text);
// The caption's close box.
void closeByCaption(WindowHandle dialog);

}  // namespace fyrel::test
