#pragma once

#include "ik/ik_controller.h"
#include "paths/path.h"
#include "platform/input.h"
#include "scene/model.h"
#include "scene/scene_list.h"
#include "ui/child_window.h"
#include "workbench/document.h"

namespace fyrel {

class Camera;
class GroundBackdrop;
struct SceneInformationDialog;

// What the views and dialogs of ui/ use of the program: the scene they show
// and edit, and the few things they ask of the program that holds them. The
// Application implements it; ui/ knows nothing else of app/. The host
// outlives every view and dialog that keeps its address.
class ViewHost {
public:
    // What a view reads and edits of the scene. The lists never move their
    // elements (scene/scene_list.h).
    virtual SceneList<Model>& sceneModels() = 0;
    virtual SceneList<Path>& scenePaths() = 0;
    virtual SceneList<IkController>& sceneIkControllers() = 0;
    // The document those lists belong to: every change a view or dialog
    // makes goes through its edits (workbench/edits.h), so it can be undone.
    virtual Document& sceneDocument() = 0;

    // Draws the scene into the current surface with the camera; width and
    // height in device pixels. The view's backdrop keeps its ground between
    // frames (none: drawn every time).
    virtual void renderScene(int width, int height, const Camera& camera, GroundBackdrop* backdrop) = 0;

    // The main window, whose client area holds the views and dialogs.
    virtual WindowHandle hostWindow() const = 0;

    // The open views, in opening order: whoever makes a view appends it; a
    // view leaves (and is deleted) when its window is destroyed.
    virtual ChildWindowList& views() = 0;

    // The Scene Information dialog the program refers to, null when none: a
    // dialog clears it when it closes.
    virtual SceneInformationDialog*& currentSceneInformation() = 0;

protected:
    ~ViewHost() = default;
};

}  // namespace fyrel
