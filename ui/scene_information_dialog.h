#pragma once

#include "platform/input.h"
#include "platform/tree_view.h"
#include "scene/model.h"

namespace fyrel {

class ViewHost;

// The Scene Information dialog: a modeless window inside the main window's
// client area whose tree lists the scene: "Models" with one "Model N" item
// per model (its "Animations" by name in list order, its "Bones" nested as
// the skeleton, "File" and the file it came from, its "IK Controllers" by end
// effector and target), and "Paths" with one "Path N (K points)" item per
// path, the models that walk it below it. Models, bones and the two groups of each model
// stand in order of their text; "Model 10" therefore comes before "Model 2".
//
// The tree is a snapshot, filled when the dialog opens and again on
// "&Refresh" only. "&Close" and the caption's close box end the dialog.
//
// The object belongs to its window: it is freed when the window is
// destroyed, whether by closing the dialog or with the main window. Nobody
// else deletes it.
struct SceneInformationDialog final : WindowHandler {
    ViewHost* host = nullptr;  // not owned: whose models are listed; its current dialog is cleared on close
    WindowHandle dialogWindow = kNoWindow;

    // Opens and fills a new dialog; the caller keeps the pointer only while
    // the dialog lives (the host's currentSceneInformation follows that
    // rule). Null when the dialog window cannot be made.
    static SceneInformationDialog* open(ViewHost& viewHost);

    // Refills the tree from the scene as it is now.
    void refresh();

    // Close (and Cancel), Refresh; the end of the window frees the object.
    void onCommand(const Command& command) override;
    void onDestroy() override;
};

// Inserts bone under parent, in order of text among its siblings, and below
// it each child's subtree. Shared by both tree dialogs.
void addBoneItems(WindowHandle dialog, int treeId, const Bone& bone, TreeItem parent);

}  // namespace fyrel
