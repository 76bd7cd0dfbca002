#include "ui/scene_information_dialog.h"

#include <string>

#include "platform/modeless_dialog.h"
#include "platform/window.h"
#include "ui/tree_dialogs.h"
#include "ui/view_host.h"
#include "workbench/document.h"

namespace fyrel {

namespace {

// The file it came from and its IK controllers, where it has them.
void addDocumentItems(WindowHandle dialog, const Document& document, std::size_t index, TreeItem modelItem)
{
    if (index < document.sources.size() && !document.sources[index].file.empty()) {
        treeInsertItem(dialog, kControlTree, modelItem, "File " + document.sources[index].file, TreeInsert::Sort);
    }
    TreeItem controllers = kNoTreeItem;
    for (const IkController& controller : document.ikControllers) {
        if (controller.model != &document.models[index]) {
            continue;
        }
        if (controllers == kNoTreeItem) {
            controllers = treeInsertItem(dialog, kControlTree, modelItem, "IK Controllers", TreeInsert::Sort);
        }
        const Vector3& t = controller.target;
        treeInsertItem(dialog, kControlTree, controllers,
                       controller.endEffectorName + (controller.targetPlaced ? " (target " + std::to_string(t.x) + " " +
                                                                                  std::to_string(t.y) + " " +
                                                                                  std::to_string(t.z) + ")"
                                                                            : " (target not placed)"),
                       TreeInsert::Last);
    }
}

// Each path with its point count, and under it the models that walk it.
void addPathItems(WindowHandle dialog, const Document& document, TreeItem pathsItem)
{
    for (std::size_t i = 0; i < document.paths.size(); ++i) {
        const TreeItem item = treeInsertItem(
            dialog, kControlTree, pathsItem,
            "Path " + std::to_string(i) + " (" + std::to_string(document.paths[i].controlPoints.size()) + " points)",
            TreeInsert::Last);
        for (const PathBinding& binding : document.bindings) {
            if (binding.path == &document.paths[i]) {
                treeInsertItem(dialog, kControlTree, item,
                               "Model " + std::to_string(indexOfModel(document, binding.model)) + " walks it",
                               TreeInsert::Last);
            }
        }
    }
}

void addModelItems(WindowHandle dialog, const Model& model, TreeItem modelItem)
{
    const TreeItem bones = treeInsertItem(dialog, kControlTree, modelItem, "Bones", TreeInsert::Sort);
    addBoneItems(dialog, kControlTree, model.rootBone, bones);
    const TreeItem animations = treeInsertItem(dialog, kControlTree, modelItem, "Animations", TreeInsert::Sort);
    for (const Animation& animation : model.animator.animations) {
        treeInsertItem(dialog, kControlTree, animations, animation.name, TreeInsert::Last);
    }
    // Only what the file brings: a model without materials draws with one
    // default material, which is not listed.
    if (!model.materials.empty()) {
        const TreeItem materials = treeInsertItem(dialog, kControlTree, modelItem, "Materials", TreeInsert::Sort);
        for (const Material& material : model.materials) {
            std::string text = material.name.empty() ? "(unnamed)" : material.name;
            if (!material.texture.empty()) {
                text += " (texture " + material.texture + (material.hasTexture() ? ")" : ", not found)");
            }
            treeInsertItem(dialog, kControlTree, materials, text, TreeInsert::Last);
        }
    }
}

// "&Close" and the close box: the keyboard goes back to the main window, the
// Application forgets its dialog (even when that is a later one), and the
// window goes, taking the object with it.
void closeDialog(SceneInformationDialog* self)
{
    ViewHost* host = self->host;
    const WindowHandle window = self->dialogWindow;
    host->currentSceneInformation() = nullptr;
    destroyWindow(window);  // frees self
    setFocus(host->hostWindow());
}

}  // namespace

SceneInformationDialog* SceneInformationDialog::open(ViewHost& viewHost)
{
    auto* dialog = new SceneInformationDialog;
    dialog->host = &viewHost;
    const WindowHandle window = createModelessDialog(viewHost.hostWindow(), sceneInformationTemplate(), dialog);
    if (window == kNoWindow) {
        delete dialog;
        return nullptr;
    }
    dialog->dialogWindow = window;
    dialog->refresh();
    return dialog;
}

void SceneInformationDialog::refresh()
{
    treeDeleteAll(dialogWindow, kControlTree);
    const TreeItem models = treeInsertItem(dialogWindow, kControlTree, kTreeRoot, "Models", TreeInsert::Sort);
    const SceneList<Model>& sceneModels = host->sceneModels();
    for (std::size_t i = 0; i < sceneModels.size(); ++i) {
        const TreeItem modelItem =
            treeInsertItem(dialogWindow, kControlTree, models, "Model " + std::to_string(i), TreeInsert::Sort);
        addModelItems(dialogWindow, sceneModels[i], modelItem);
        addDocumentItems(dialogWindow, host->sceneDocument(), i, modelItem);
    }
    const TreeItem paths = treeInsertItem(dialogWindow, kControlTree, kTreeRoot, "Paths", TreeInsert::Sort);
    addPathItems(dialogWindow, host->sceneDocument(), paths);
}

void addBoneItems(WindowHandle dialog, int treeId, const Bone& bone, TreeItem parent)
{
    const TreeItem item = treeInsertItem(dialog, treeId, parent, bone.name, TreeInsert::Sort);
    for (const Bone& child : bone.children) {
        addBoneItems(dialog, treeId, child, item);
    }
}

void SceneInformationDialog::onCommand(const Command& command)
{
    if (command.id == kIdClose || command.id == kIdCancel) {
        closeDialog(this);
    } else if (command.id == kControlRefresh) {
        refresh();
    }
}

void SceneInformationDialog::onDestroy()
{
    if (host->currentSceneInformation() == this) {
        host->currentSceneInformation() = nullptr;
    }
    delete this;
}

}  // namespace fyrel
