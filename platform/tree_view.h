#pragma once

#include <cstdint>
#include <string>

#include "platform/input.h"

// The tree-view control of a modeless dialog (modeless_dialog.h), named by
// the dialog's handle and the control's identifier.
//
// Item texts are 8-bit names in the local encoding. An item shows its text
// converted for display and keeps the original bytes as well, so a name that
// does not convert cleanly still reads back exactly as it was inserted.

namespace fyrel {

// An item of a tree. Handles are not reused: after treeDeleteAll an old
// handle names no item, and the functions below treat it as such.
enum class TreeItem : std::uint64_t {};
inline constexpr TreeItem kNoTreeItem{};
// The invisible root: the parent of the top-level items.
inline constexpr TreeItem kTreeRoot{~std::uint64_t{0}};

// Where a new item goes among its siblings: in order of text (compared
// without regard to case; an item whose text equals existing ones goes after
// them), or after the last.
enum class TreeInsert { Sort, Last };

// Removes every item.
void treeDeleteAll(WindowHandle dialog, int treeId);

// Inserts an item under parent (kTreeRoot for the top level). Returns
// kNoTreeItem, inserting nothing, when there is no such tree or parent.
TreeItem treeInsertItem(WindowHandle dialog, int treeId, TreeItem parent, const std::string& text,
                        TreeInsert where);

// The selected item, or kNoTreeItem when nothing is selected.
TreeItem treeSelection(WindowHandle dialog, int treeId);

// The bytes an item was inserted with; empty for an unknown item.
std::string treeItemText(WindowHandle dialog, int treeId, TreeItem item);

}  // namespace fyrel
