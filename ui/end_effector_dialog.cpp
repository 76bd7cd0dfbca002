#include "ui/end_effector_dialog.h"

#include <cassert>
#include <string>

#include "platform/modeless_dialog.h"
#include "platform/tree_view.h"
#include "platform/window.h"
#include "ui/tree_dialogs.h"
#include "diagnostics/debug_output.h"
#include "ui/scene_information_dialog.h"
#include "ui/view_host.h"
#include "workbench/edits.h"

namespace fyrel {

namespace {

// The name read back is the bytes the bone item was made from, so a name
// that does not survive conversion for display still finds its bone.
void makeController(EndEffectorSelector& self)
{
    const TreeItem selected = treeSelection(self.dialogWindow, kControlTree);
    if (selected == kNoTreeItem) {
        return;  // no bone chosen: nothing to build from
    }
    const std::string name = treeItemText(self.dialogWindow, kControlTree, selected);
    debugOutput(name + "\n");
    addIkController(self.host->sceneDocument(), name, EndEffectorSelector::kInitialTarget);
}

void closeDialog(EndEffectorSelector* self)
{
    const WindowHandle window = self->dialogWindow;
    const WindowHandle mainWindow = self->host->hostWindow();
    destroyWindow(window);  // frees self
    // After the window has gone: the client area would otherwise hand the
    // keyboard on to the next child window.
    setFocus(mainWindow);
}

}  // namespace

EndEffectorSelector* EndEffectorSelector::open(ViewHost& viewHost)
{
    assert(!viewHost.sceneModels().empty());
    auto* dialog = new EndEffectorSelector;
    dialog->host = &viewHost;
    const WindowHandle window = createModelessDialog(viewHost.hostWindow(), endEffectorTemplate(), dialog);
    if (window == kNoWindow) {
        delete dialog;
        return nullptr;
    }
    dialog->dialogWindow = window;
    treeDeleteAll(window, kControlTree);
    addBoneItems(window, kControlTree, viewHost.sceneModels().back().rootBone, kTreeRoot);
    return dialog;
}

void EndEffectorSelector::onCommand(const Command& command)
{
    switch (command.id) {
    case kIdOk:
        makeController(*this);
        closeDialog(this);
        break;
    case kIdCancel:
    case kIdClose:
        closeDialog(this);
        break;
    default:
        break;
    }
}

void EndEffectorSelector::onDestroy()
{
    delete this;
}

}  // namespace fyrel
