#pragma once

// Inside the platform layer only: the widget behind a dialog's tree view.

#include <QTreeWidget>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/input.h"
#include "platform/tree_view.h"

namespace fyrel::platform_detail {

// The property that carries a dialog control's identifier.
inline constexpr char kControlIdProperty[] = "fyrelControlId";

// A tree of texts with collapsed branches and single selection. Each item
// keeps its handle and its original bytes beside the displayed text.
class TreeControl : public QTreeWidget {
public:
    explicit TreeControl(QWidget* parent);

    void deleteAll();
    TreeItem insert(TreeItem parent, const std::string& text, TreeInsert where);
    TreeItem selection() const;
    std::string text(TreeItem item) const;

private:
    QTreeWidgetItem* find(TreeItem item) const;

    std::unordered_map<std::uint64_t, QTreeWidgetItem*> items_;
    std::uint64_t lastHandle_ = 0;
};

// The tree view with this identifier in a dialog, or null.
TreeControl* findTreeControl(WindowHandle dialog, int treeId);

}  // namespace fyrel::platform_detail
