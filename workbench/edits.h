#pragma once

#include <cstddef>
#include <string>

#include "math/vector.h"
#include "scene/model.h"
#include "workbench/document.h"

// Every change the user makes to the document, each one step of the undo
// history with the name the Edit menu shows. Callers make the GL context
// current first where a model may leave (its buffers are released).

namespace fyrel {

// Kinds of small steps of which a run undoes as one.
inline constexpr int kMergeTargetMove = 1;

// The states the history records; restoreState turns the document into one
// (models leave to, and come back from, the shelf).
DocumentState captureState(Document& document);
void restoreState(Document& document, const DocumentState& state);

// Records a step from before to the document as it is now, unless nothing
// changed. A step of mergeKind (non-zero) right after a step of the same kind
// extends that step instead. The redo steps are forgotten.
void recordStep(Document& document, const std::string& name, DocumentState before, int mergeKind = 0);

// Undo and redo: false when there is nothing to undo or redo.
bool undo(Document& document);
bool redo(Document& document);

// Appends the model read from file (its clips are the file's).
Model& addModel(Document& document, Model model, const std::string& file);
// Models with their bindings and controllers; paths stay.
void removeAllModels(Document& document);

// A point at the end of the last path, or of a new one (also when there is
// none); the path's curve and table are rebuilt.
void addPathPoint(Document& document, const Vector3& point, bool newPath);
// Paths with their bindings; models and controllers stay.
void removeAllPaths(Document& document);
// The last model walks the last path from its start, looping; false, changing
// nothing, without a model or a path.
bool bindLastModelToLastPath(Document& document);

// A controller of the last model for the bone named effector, its target at
// target but not yet placed.
void addIkController(Document& document, const std::string& effector, const Vector3& target);
// Moves the last controller's target by delta, or puts its x and y at point;
// both count as placing it. A run of them undoes as one. False without a
// controller.
bool moveLastTarget(Document& document, const Vector3& delta);
bool placeLastTarget(Document& document, float x, float y);

// Wraps a generation (and any walk to the target it sets up) as one step:
// call beginGeneration, change the document, then endGeneration.
DocumentState beginGeneration(Document& document);
void endGeneration(Document& document, DocumentState before);

}  // namespace fyrel
