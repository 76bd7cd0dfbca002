#include "platform/tree_view.h"

#include <QByteArray>
#include <QVariant>

#include "platform/qt_access.h"
#include "platform/tree_control.h"

namespace fyrel {

namespace platform_detail {

namespace {

constexpr int kHandleRole = Qt::UserRole;
constexpr int kBytesRole = Qt::UserRole + 1;

}  // namespace

TreeControl::TreeControl(QWidget* parent) : QTreeWidget(parent)
{
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
}

void TreeControl::deleteAll()
{
    items_.clear();
    clear();
}

TreeItem TreeControl::insert(TreeItem parent, const std::string& text, TreeInsert where)
{
    QTreeWidgetItem* parentItem = parent == kTreeRoot ? invisibleRootItem() : find(parent);
    if (!parentItem) {
        return kNoTreeItem;
    }
    const QString shown = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
    int index = parentItem->childCount();
    if (where == TreeInsert::Sort) {
        for (int i = 0; i < parentItem->childCount(); ++i) {
            if (QString::compare(shown, parentItem->child(i)->text(0), Qt::CaseInsensitive) < 0) {
                index = i;
                break;
            }
        }
    }
    auto* item = new QTreeWidgetItem(QStringList{shown});
    const std::uint64_t handle = ++lastHandle_;
    item->setData(0, kHandleRole, QVariant::fromValue<qulonglong>(handle));
    item->setData(0, kBytesRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    parentItem->insertChild(index, item);
    items_.emplace(handle, item);
    return TreeItem{handle};
}

TreeItem TreeControl::selection() const
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) {
        return kNoTreeItem;
    }
    return TreeItem{selected.front()->data(0, kHandleRole).value<qulonglong>()};
}

std::string TreeControl::text(TreeItem item) const
{
    const QTreeWidgetItem* found = find(item);
    return found ? found->data(0, kBytesRole).toByteArray().toStdString() : std::string();
}

QTreeWidgetItem* TreeControl::find(TreeItem item) const
{
    const auto it = items_.find(static_cast<std::uint64_t>(item));
    return it == items_.end() ? nullptr : it->second;
}

TreeControl* findTreeControl(WindowHandle dialog, int treeId)
{
    QWidget* widget = windowWidget(dialog);
    if (!widget) {
        return nullptr;
    }
    for (TreeControl* tree : widget->findChildren<TreeControl*>()) {
        if (tree->property(kControlIdProperty).toInt() == treeId) {
            return tree;
        }
    }
    return nullptr;
}

}  // namespace platform_detail

using platform_detail::findTreeControl;
using platform_detail::TreeControl;

void treeDeleteAll(WindowHandle dialog, int treeId)
{
    if (TreeControl* tree = findTreeControl(dialog, treeId)) {
        tree->deleteAll();
    }
}

TreeItem treeInsertItem(WindowHandle dialog, int treeId, TreeItem parent, const std::string& text, TreeInsert where)
{
    TreeControl* tree = findTreeControl(dialog, treeId);
    return tree ? tree->insert(parent, text, where) : kNoTreeItem;
}

TreeItem treeSelection(WindowHandle dialog, int treeId)
{
    TreeControl* tree = findTreeControl(dialog, treeId);
    return tree ? tree->selection() : kNoTreeItem;
}

std::string treeItemText(WindowHandle dialog, int treeId, TreeItem item)
{
    TreeControl* tree = findTreeControl(dialog, treeId);
    return tree ? tree->text(item) : std::string();
}

}  // namespace fyrel
