#include "ui/scene_information_dialog.h"

#include <string>

#include "app/application.h"
#include "platform/modeless_dialog.h"
#include "platform/window.h"
#include "resources/tree_dialogs.h"

namespace fyrel {

namespace {

void addModelItems(WindowHandle dialog, const Model& model, TreeItem modelItem)
{
    const TreeItem bones = treeInsertItem(dialog, kControlTree, modelItem, "Bones", TreeInsert::Sort);
    addBoneItems(dialog, kControlTree, model.rootBone, bones);
    const TreeItem animations = treeInsertItem(dialog, kControlTree, modelItem, "Animations", TreeInsert::Sort);
    for (const Animation& animation : model.animator.animations) {
        treeInsertItem(dialog, kControlTree, animations, animation.name, TreeInsert::Last);
    }
}

// "&Close" and the close box: the keyboard goes back to the main window, the
// Application forgets its dialog (even when that is a later one), and the
// window goes, taking the object with it.
void closeDialog(SceneInformationDialog* self)
{
    Application* owner = self->owner;
    const WindowHandle window = self->dialogWindow;
    owner->sceneInfoDialog = nullptr;
    destroyWindow(window);  // frees self
    setFocus(owner->mainWindow);
}

}  // namespace

SceneInformationDialog* SceneInformationDialog::open(Application* sceneApplication, Application* ownerApplication)
{
    const WindowHandle window =
        createModelessDialog(ownerApplication->mainWindow, sceneInformationTemplate(), sceneInformationProc);
    if (window == kNoWindow) {
        return nullptr;
    }
    auto* dialog = new SceneInformationDialog;
    dialog->scene = sceneApplication;
    dialog->owner = ownerApplication;
    dialog->dialogWindow = window;
    setWindowUserData(window, dialog);
    dialog->refresh();
    return dialog;
}

void SceneInformationDialog::refresh()
{
    treeDeleteAll(dialogWindow, kControlTree);
    const TreeItem models = treeInsertItem(dialogWindow, kControlTree, kTreeRoot, "Models", TreeInsert::Sort);
    for (std::size_t i = 0; i < scene->models.size(); ++i) {
        const TreeItem modelItem =
            treeInsertItem(dialogWindow, kControlTree, models, "Model " + std::to_string(i), TreeInsert::Sort);
        addModelItems(dialogWindow, scene->models[i], modelItem);
    }
    treeInsertItem(dialogWindow, kControlTree, kTreeRoot, "Paths", TreeInsert::Sort);
}

void addBoneItems(WindowHandle dialog, int treeId, const Bone& bone, TreeItem parent)
{
    const TreeItem item = treeInsertItem(dialog, treeId, parent, bone.name, TreeInsert::Sort);
    for (const Bone& child : bone.children) {
        addBoneItems(dialog, treeId, child, item);
    }
}

LResult sceneInformationProc(WindowHandle dialog, unsigned message, WParam wParam, LParam)
{
    // WM_INITDIALOG comes before the object is attached.
    if (message == kWmInitDialog) {
        return 1;
    }
    auto* self = static_cast<SceneInformationDialog*>(windowUserData(dialog));
    if (!self) {
        return 0;
    }
    switch (message) {
    case kWmCommand:
        if (commandId(wParam) == kIdClose || commandId(wParam) == kIdCancel) {
            closeDialog(self);
            return 1;
        }
        if (commandId(wParam) == kControlRefresh) {
            self->refresh();
        }
        return 0;
    case kWmDestroy:
        setWindowUserData(dialog, nullptr);
        if (self->owner->sceneInfoDialog == self) {
            self->owner->sceneInfoDialog = nullptr;
        }
        delete self;
        return 0;
    default:
        return 0;
    }
}

}  // namespace fyrel
