#include "ui/end_effector_dialog.h"

#include <cassert>
#include <string>

#include "app/application.h"
#include "platform/modeless_dialog.h"
#include "platform/tree_view.h"
#include "platform/window.h"
#include "resources/tree_dialogs.h"
#include "scene/debug_output.h"
#include "ui/scene_information_dialog.h"

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
    Application& scene = *self.scene;
    if (scene.models.empty()) {
        return;
    }
    scene.ikControllers.emplace_back(name, EndEffectorSelector::kInitialTarget, &scene.models.back());
}

void closeDialog(EndEffectorSelector* self)
{
    const WindowHandle window = self->dialogWindow;
    const WindowHandle mainWindow = self->owner->mainWindow;
    destroyWindow(window);  // frees self
    // After the window has gone: the client area would otherwise hand the
    // keyboard on to the next child window.
    setFocus(mainWindow);
}

}  // namespace

EndEffectorSelector* EndEffectorSelector::open(Application* sceneApplication, Application* ownerApplication)
{
    assert(!sceneApplication->models.empty());
    const WindowHandle window =
        createModelessDialog(ownerApplication->mainWindow, endEffectorTemplate(), endEffectorProc);
    if (window == kNoWindow) {
        return nullptr;
    }
    auto* dialog = new EndEffectorSelector;
    dialog->scene = sceneApplication;
    dialog->owner = ownerApplication;
    dialog->dialogWindow = window;
    setWindowUserData(window, dialog);
    treeDeleteAll(window, kControlTree);
    addBoneItems(window, kControlTree, sceneApplication->models.back().rootBone, kTreeRoot);
    return dialog;
}

LResult endEffectorProc(WindowHandle dialog, unsigned message, WParam wParam, LParam)
{
    // WM_INITDIALOG comes before the object is attached.
    if (message == kWmInitDialog) {
        return 1;
    }
    auto* self = static_cast<EndEffectorSelector*>(windowUserData(dialog));
    if (!self) {
        return 0;
    }
    switch (message) {
    case kWmCommand:
        switch (commandId(wParam)) {
        case kIdOk:
            makeController(*self);
            closeDialog(self);
            return 1;
        case kIdCancel:
        case kIdClose:
            closeDialog(self);
            return 1;
        default:
            return 0;
        }
    case kWmDestroy:
        setWindowUserData(dialog, nullptr);
        delete self;
        return 0;
    default:
        return 0;
    }
}

}  // namespace fyrel
