#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "math/quaternion.h"
#include "math/vector.h"
#include "paths/path.h"
#include "scene/animation_clip.h"
#include "scene/model.h"

namespace fyrel {

// Where a model came from, one per model of the document, in the same order.
struct ModelSource {
    std::string file;           // the model file as it was opened (absolute when known); empty: none
    std::uint64_t id = 0;       // names the model in the undo history's states
    std::size_t fileClips = 0;  // clips the file brought; later ones were generated here
    // The generated clips as the history last recorded them: states share
    // this list until a generation makes a new one.
    std::shared_ptr<const std::vector<Animation>> generated;
};

// The document as one undo step leaves it, with indices where the live
// document has pointers. Models are named by id: their meshes stay in the
// document or on the history's shelf, never in a state.
struct DocumentState {
    struct ModelState {
        std::uint64_t id = 0;
        std::shared_ptr<const std::vector<Animation>> generated;
        // The clip playing and its time: restored with the generated clips
        // (a generation selects its clip), left alone otherwise.
        std::int32_t current = 0;
        float time = 0.0f;
        // Where it stands: a binding that goes places it no more, so an undo
        // puts it back (a model that still walks is placed by its binding).
        Vector3 position;
        Quaternion orientation;
        float rate = 0.1f;
    };
    struct BindingState {
        std::size_t model = 0;
        std::size_t path = 0;
        std::ptrdiff_t controller = -1;  // none
        float parameter = 0.0f;
        float speed = 1.0f;
        std::uint32_t searchHint = 0;
        bool finished = false;
    };
    struct ControllerState {
        std::size_t model = 0;
        std::string endEffectorName;
        Vector3 target;
        bool targetPlaced = false;
        bool chained = false;  // its chain was built: restored controllers build it again
    };
    std::vector<ModelState> models;
    std::vector<Path> paths;  // deep copies: a path's table is part of how its model walks
    std::vector<BindingState> bindings;
    std::vector<ControllerState> controllers;
};

// One step the user can undo: its menu name ("Add Path Point"), the states
// before and after it, and the kind of small step that later ones of the same
// kind merge into (0: none merge).
struct HistoryStep {
    std::string name;
    int mergeKind = 0;
    std::uint64_t serial = 0;  // unique: tells a saved document from a changed one
    DocumentState before;
    DocumentState after;
};

// Undo and redo stacks, and the shelf of models that some state names but the
// document does not hold now (removed, or added by a step that was undone).
struct History {
    std::vector<HistoryStep> undoSteps;  // oldest first
    std::vector<HistoryStep> redoSteps;  // the next to redo last
    struct ShelvedModel {
        Model model;
        ModelSource source;
    };
    std::map<std::uint64_t, ShelvedModel> shelf;
    std::uint64_t nextSerial = 1;
    std::uint64_t baseSerial = 0;  // the state under the oldest step kept
    // Steps kept; older ones are forgotten (and models only they named).
    static constexpr std::size_t kMaxSteps = 200;
    // Models kept for undo beyond the document's own: older steps are
    // forgotten until the shelf holds no more (a session that opens and
    // removes many models would otherwise keep them all).
    static constexpr std::size_t kMaxShelvedModels = 64;

    // The serial of the state the document is in: that of the last step
    // done, baseSerial (0 at the start) when none is.
    std::uint64_t serial() const { return undoSteps.empty() ? baseSerial : undoSteps.back().serial; }
    bool canUndo() const { return !undoSteps.empty(); }
    bool canRedo() const { return !redoSteps.empty(); }
    // "Undo Add Path Point", or "Undo" with nothing to undo; the same for redo.
    std::string undoText() const;
    std::string redoText() const;
};

}  // namespace fyrel
