// The undo history: states captured with indices, restored by rebuilding
// the lists that point into each other.

#include <algorithm>
#include <set>

#include "workbench/edits.h"

namespace fyrel {

namespace {

bool sameKey(const KeyFrame& a, const KeyFrame& b)
{
    return a.time == b.time && a.boneIndex == b.boneIndex && a.rotation.x == b.rotation.x &&
           a.rotation.y == b.rotation.y && a.rotation.z == b.rotation.z && a.rotation.w == b.rotation.w &&
           a.translation.x == b.translation.x && a.translation.y == b.translation.y &&
           a.translation.z == b.translation.z && a.scale.x == b.scale.x && a.scale.y == b.scale.y &&
           a.scale.z == b.scale.z;
}

bool sameClip(const Animation& a, const Animation& b)
{
    if (a.name != b.name || a.length != b.length || a.ticksPerSecond != b.ticksPerSecond || a.loop != b.loop ||
        a.tracks.size() != b.tracks.size()) {
        return false;
    }
    for (std::size_t t = 0; t < a.tracks.size(); ++t) {
        if (!std::equal(a.tracks[t].begin(), a.tracks[t].end(), b.tracks[t].begin(), b.tracks[t].end(), sameKey)) {
            return false;
        }
    }
    return true;
}

// The model's clips after the file's, shared with earlier states while they
// have not changed (a generation may have replaced them since the last step).
const std::shared_ptr<const std::vector<Animation>>& syncGenerated(Model& model, ModelSource& source)
{
    const std::vector<Animation>& clips = model.animator.animations;
    const auto first = clips.begin() + static_cast<std::ptrdiff_t>(std::min(source.fileClips, clips.size()));
    const bool same = source.generated
                          ? std::equal(first, clips.end(), source.generated->begin(), source.generated->end(), sameClip)
                          : first == clips.end();
    if (!same || !source.generated) {
        source.generated = std::make_shared<const std::vector<Animation>>(first, clips.end());
    }
    return source.generated;
}

void setGenerated(Model& model, ModelSource& source, const DocumentState::ModelState& state)
{
    if (source.generated == state.generated || !state.generated) {
        return;
    }
    Animator& animator = model.animator;
    animator.animations.resize(std::min(source.fileClips, animator.animations.size()));
    animator.animations.insert(animator.animations.end(), state.generated->begin(), state.generated->end());
    animator.current = state.current;
    animator.time = state.time;
    if (animator.current < 0 || static_cast<std::size_t>(animator.current) >= animator.animations.size()) {
        animator.current = 0;
        animator.time = 0.0f;
    }
    source.generated = state.generated;
}

std::size_t indexOfPath(const Document& document, const Path* path)
{
    for (std::size_t i = 0; i < document.paths.size(); ++i) {
        if (&document.paths[i] == path) {
            return i;
        }
    }
    return document.paths.size();
}

std::ptrdiff_t indexOfController(const Document& document, const IkController* controller)
{
    for (std::size_t i = 0; i < document.ikControllers.size(); ++i) {
        if (&document.ikControllers[i] == controller) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

// The live models become the state's: those after the longest common start
// go to the shelf, the state's others come from it.
void restoreModels(Document& document, const DocumentState& state)
{
    std::size_t common = 0;
    while (common < document.models.size() && common < state.models.size() &&
           document.sources[common].id == state.models[common].id) {
        ++common;
    }
    while (document.models.size() > common) {
        ModelSource& source = document.sources.back();
        document.history.shelf[source.id] = {std::move(document.models.back()), std::move(source)};
        document.models.pop_back();
        document.sources.pop_back();
    }
    for (std::size_t i = common; i < state.models.size(); ++i) {
        auto it = document.history.shelf.find(state.models[i].id);
        if (it == document.history.shelf.end()) {
            continue;  // cannot happen while states name only shelved or live models
        }
        document.models.push_back(std::move(it->second.model));
        document.sources.push_back(std::move(it->second.source));
        document.history.shelf.erase(it);
    }
    for (std::size_t i = 0; i < document.models.size() && i < state.models.size(); ++i) {
        Model& model = document.models[i];
        setGenerated(model, document.sources[i], state.models[i]);
        model.position = state.models[i].position;
        model.orientation = state.models[i].orientation;
        model.animator.rate = state.models[i].rate;
    }
}

// Models on the shelf that no kept state names are gone for good.
void dropUnnamedModels(History& history)
{
    std::set<std::uint64_t> named;
    for (const auto* steps : {&history.undoSteps, &history.redoSteps}) {
        for (const HistoryStep& step : *steps) {
            for (const auto& m : step.before.models) named.insert(m.id);
            for (const auto& m : step.after.models) named.insert(m.id);
        }
    }
    std::erase_if(history.shelf, [&](const auto& entry) { return !named.contains(entry.first); });
}

bool sameState(const DocumentState& a, const DocumentState& b)
{
    auto sameModel = [](const DocumentState::ModelState& x, const DocumentState::ModelState& y) {
        return x.id == y.id && x.generated == y.generated;
    };
    auto samePath = [](const Path& x, const Path& y) {
        return x.controlPoints.size() == y.controlPoints.size() &&
               std::equal(x.controlPoints.begin(), x.controlPoints.end(), y.controlPoints.begin(),
                          [](const Vector3& p, const Vector3& q) { return p.x == q.x && p.y == q.y && p.z == q.z; });
    };
    auto sameBinding = [](const DocumentState::BindingState& x, const DocumentState::BindingState& y) {
        return x.model == y.model && x.path == y.path && x.controller == y.controller;
    };
    auto sameController = [](const DocumentState::ControllerState& x, const DocumentState::ControllerState& y) {
        return x.model == y.model && x.endEffectorName == y.endEffectorName && x.target.x == y.target.x &&
               x.target.y == y.target.y && x.target.z == y.target.z && x.targetPlaced == y.targetPlaced;
    };
    return std::equal(a.models.begin(), a.models.end(), b.models.begin(), b.models.end(), sameModel) &&
           std::equal(a.paths.begin(), a.paths.end(), b.paths.begin(), b.paths.end(), samePath) &&
           std::equal(a.bindings.begin(), a.bindings.end(), b.bindings.begin(), b.bindings.end(), sameBinding) &&
           std::equal(a.controllers.begin(), a.controllers.end(), b.controllers.begin(), b.controllers.end(),
                      sameController);
}

}  // namespace

DocumentState captureState(Document& document)
{
    syncSources(document);
    DocumentState state;
    for (std::size_t i = 0; i < document.models.size(); ++i) {
        const Model& model = document.models[i];
        state.models.push_back({document.sources[i].id, syncGenerated(document.models[i], document.sources[i]),
                                model.animator.current, model.animator.time, model.position, model.orientation,
                                model.animator.rate});
    }
    state.paths.assign(document.paths.begin(), document.paths.end());
    for (const PathBinding& binding : document.bindings) {
        const std::size_t model = indexOfModel(document, binding.model);
        const std::size_t path = indexOfPath(document, binding.path);
        if (model < document.models.size() && path < document.paths.size()) {
            state.bindings.push_back({model, path, indexOfController(document, binding.controller),
                                      binding.parameter, binding.speed, binding.searchHint, binding.finished});
        }
    }
    for (const IkController& controller : document.ikControllers) {
        const std::size_t model = indexOfModel(document, controller.model);
        state.controllers.push_back({model, controller.endEffectorName, controller.target, controller.targetPlaced,
                                     !controller.chain.empty()});
    }
    return state;
}

// Bindings go first and come back last: they point at the others. A binding
// that is still there keeps how far it has walked.
void restoreState(Document& document, const DocumentState& state)
{
    const std::vector<DocumentState::BindingState> walking = captureState(document).bindings;
    document.bindings.clear();
    document.ikControllers.clear();
    document.paths.clear();
    restoreModels(document, state);
    document.paths.assign(state.paths.begin(), state.paths.end());
    for (const DocumentState::ControllerState& c : state.controllers) {
        IkController& controller = document.ikControllers.emplace_back();
        controller.model = c.model < document.models.size() ? &document.models[c.model] : nullptr;
        controller.endEffectorName = c.endEffectorName;
        controller.target = c.target;
        controller.targetPlaced = c.targetPlaced;
        if (c.chained && controller.model) {
            controller.buildChain(controller.model->rootBone);
        }
    }
    for (const DocumentState::BindingState& b : state.bindings) {
        if (b.model >= document.models.size() || b.path >= document.paths.size()) {
            continue;
        }
        PathBinding& binding = document.bindings.emplace_back();
        binding.model = &document.models[b.model];
        binding.path = &document.paths[b.path];
        binding.controller = b.controller >= 0 && static_cast<std::size_t>(b.controller) < document.ikControllers.size()
                                 ? &document.ikControllers[static_cast<std::size_t>(b.controller)]
                                 : nullptr;
        const std::size_t i = document.bindings.size() - 1;
        const bool kept = i < walking.size() && walking[i].model == b.model && walking[i].path == b.path &&
                          walking[i].controller == b.controller;
        const DocumentState::BindingState& progress = kept ? walking[i] : b;
        binding.parameter = progress.parameter;
        binding.speed = progress.speed;
        binding.searchHint = progress.searchHint;
        binding.finished = progress.finished;
    }
}

void recordStep(Document& document, const std::string& name, DocumentState before, int mergeKind)
{
    History& history = document.history;
    DocumentState after = captureState(document);
    if (sameState(before, after)) {
        return;
    }
    const bool merge = mergeKind != 0 && history.redoSteps.empty() && !history.undoSteps.empty() &&
                       history.undoSteps.back().mergeKind == mergeKind;
    if (merge) {
        // The run keeps its first state and takes a new serial: a save in
        // between still sees the document change.
        history.undoSteps.back().after = std::move(after);
        history.undoSteps.back().serial = history.nextSerial++;
    } else {
        history.undoSteps.push_back({name, mergeKind, history.nextSerial++, std::move(before), std::move(after)});
    }
    history.redoSteps.clear();
    dropUnnamedModels(history);
    while (history.undoSteps.size() > History::kMaxSteps ||
           (history.shelf.size() > History::kMaxShelvedModels && history.undoSteps.size() > 1)) {
        history.baseSerial = history.undoSteps.front().serial;
        history.undoSteps.erase(history.undoSteps.begin());
        dropUnnamedModels(history);
    }
}

bool undo(Document& document)
{
    History& history = document.history;
    if (history.undoSteps.empty()) {
        return false;
    }
    HistoryStep step = std::move(history.undoSteps.back());
    history.undoSteps.pop_back();
    restoreState(document, step.before);
    // Redone, the step makes the document what it was after it, so it keeps
    // its serial; a later small step does not merge into it.
    step.mergeKind = 0;
    history.redoSteps.push_back(std::move(step));
    return true;
}

bool redo(Document& document)
{
    History& history = document.history;
    if (history.redoSteps.empty()) {
        return false;
    }
    HistoryStep step = std::move(history.redoSteps.back());
    history.redoSteps.pop_back();
    restoreState(document, step.after);
    history.undoSteps.push_back(std::move(step));
    return true;
}

}  // namespace fyrel
