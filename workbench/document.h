#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ik/ik_controller.h"
#include "math/vector.h"
#include "paths/path.h"
#include "paths/path_binding.h"
#include "scene/model.h"
#include "scene/scene_list.h"
#include "workbench/history.h"

namespace fyrel {

// A view's kind, camera and place, as the program last saw them: what a
// scene file keeps of the views (in opening order).
struct ViewRecord {
    enum class Kind { Perspective, Path };
    Kind kind = Kind::Perspective;
    Vector3 position;
    Vector3 angles;               // perspective: pitch (x) and yaw (z)
    float fov = 1.0471976f;       // perspective, radians
    Vector3 extents{10.0f, 10.0f, 10000.0f};  // path: the world's width and height shown
    // The window's frame in the main window's client area, logical pixels;
    // width 0: not known (the window stays where it opens).
    int x = 0, y = 0, width = 0, height = 0;
};

// What the user builds, and its history. Owns the models (with the file each
// came from), their placement and playback (in each Model), the paths, the
// bindings, the IK controllers (with their chains and targets), the clips
// generated here (in their models), the views' cameras and layout and the
// transport's speed. No Qt, no GL: the program shows it; changes made through
// the edits of workbench/edits.h are undone and redone by the history.
//
// The lists never move their elements (scene/scene_list.h): bindings and
// controllers keep plain pointers into models, paths and controllers.
// Removing a model releases its GPU buffers (render's DerivedState): whoever
// edits, undoes or clears makes its GL context current first.
struct Document {
    SceneList<Model> models;
    std::vector<ModelSource> sources;  // one per model
    SceneList<Path> paths;
    SceneList<PathBinding> bindings;
    SceneList<IkController> ikControllers;
    std::vector<ViewRecord> views;  // filled by the program before a save, used after an open
    float transportSpeed = 1.0f;
    std::string file;  // the scene file it was opened from or saved to; empty: untitled

    History history;
    std::uint64_t savedSerial = 0;  // the history's serial when last saved or opened
    std::uint64_t nextModelId = 1;

    // True when the document differs from its file (or, untitled, from empty).
    bool modified() const { return history.serial() != savedSerial; }
    void markSaved() { savedSerial = history.serial(); }

    // The name the title shows: the scene file's name, or "Untitled".
    std::string displayName() const;

    // Forgets everything, history included (models' buffers go: GL current).
    void clear();
};

// Gives every model a source: a model put into the list directly (by a tool
// or a test, not by an edit) gets one without a file.
void syncSources(Document& document);

// The index of the model in the document's list, or models.size().
std::size_t indexOfModel(const Document& document, const Model* model);

}  // namespace fyrel
