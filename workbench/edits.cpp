#include "workbench/edits.h"

#include <utility>

namespace fyrel {

Model& addModel(Document& document, Model model, const std::string& file)
{
    DocumentState before = captureState(document);
    ModelSource source;
    source.file = file;
    source.id = document.nextModelId++;
    source.fileClips = model.animator.animations.size();
    document.models.push_back(std::move(model));
    document.sources.push_back(std::move(source));
    recordStep(document, "Open Model", std::move(before));
    return document.models.back();
}

void removeAllModels(Document& document)
{
    DocumentState before = captureState(document);
    DocumentState after = before;
    after.models.clear();
    after.bindings.clear();
    after.controllers.clear();
    restoreState(document, after);
    recordStep(document, "Remove All Models", std::move(before));
}

void addPathPoint(Document& document, const Vector3& point, bool newPath)
{
    DocumentState before = captureState(document);
    if (newPath || document.paths.empty()) {
        document.paths.emplace_back();
    }
    // Appending to the list never moves the paths that bindings follow; the
    // one extended here gets its new table at once, and a binding on it reads
    // that table from its next advance.
    Path& path = document.paths.back();
    path.addControlPoint(point);
    path.buildCurve();
    path.buildArcLengthTable();
    recordStep(document, newPath ? "New Path" : "Add Path Point", std::move(before));
}

void removeAllPaths(Document& document)
{
    DocumentState before = captureState(document);
    document.bindings.clear();
    document.paths.clear();
    recordStep(document, "Remove All Paths", std::move(before));
}

bool bindLastModelToLastPath(Document& document)
{
    if (document.models.empty() || document.paths.empty()) {
        return false;
    }
    DocumentState before = captureState(document);
    PathBinding& binding = document.bindings.emplace_back();
    binding.path = &document.paths.back();
    binding.model = &document.models.back();
    recordStep(document, "Bind to Path", std::move(before));
    return true;
}

void addIkController(Document& document, const std::string& effector, const Vector3& target)
{
    if (document.models.empty()) {
        return;
    }
    DocumentState before = captureState(document);
    IkController& controller = document.ikControllers.emplace_back(effector, target, &document.models.back());
    controller.targetPlaced = false;  // a default until the user puts it somewhere
    recordStep(document, "Add IK Controller", std::move(before));
}

bool moveLastTarget(Document& document, const Vector3& delta)
{
    if (document.ikControllers.empty()) {
        return false;
    }
    DocumentState before = captureState(document);
    IkController& controller = document.ikControllers.back();
    controller.target = {controller.target.x + delta.x, controller.target.y + delta.y, controller.target.z + delta.z};
    controller.targetPlaced = true;
    recordStep(document, "Move IK Target", std::move(before), kMergeTargetMove);
    return true;
}

bool placeLastTarget(Document& document, float x, float y)
{
    if (document.ikControllers.empty()) {
        return false;
    }
    DocumentState before = captureState(document);
    IkController& controller = document.ikControllers.back();
    controller.target.x = x;
    controller.target.y = y;
    controller.targetPlaced = true;
    recordStep(document, "Move IK Target", std::move(before), kMergeTargetMove);
    return true;
}

DocumentState beginGeneration(Document& document)
{
    return captureState(document);
}

void endGeneration(Document& document, DocumentState before)
{
    recordStep(document, "Generate IK Animation", std::move(before));
}

}  // namespace fyrel
