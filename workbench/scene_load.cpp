// A checked scene file made into a document: models through the caller's
// loader, everything that refers to a model that did not load left out.

#include <exception>
#include <new>

#include "scene/bone.h"
#include "workbench/scene_file.h"

namespace fyrel {

namespace {

// The clip fits the model when every key names one of its bones; its keys
// then get their bones' names, as keys made in the program have.
bool fitClip(Animation& clip, const std::vector<const Bone*>& bones)
{
    for (std::vector<KeyFrame>& track : clip.tracks) {
        for (KeyFrame& key : track) {
            if (key.boneIndex < 0 || static_cast<std::size_t>(key.boneIndex) >= bones.size()) {
                return false;
            }
            key.boneName = bones[static_cast<std::size_t>(key.boneIndex)]->name;
        }
    }
    return true;
}

void placeModel(const SceneModel& stored, Model& model, std::vector<std::string>& failures)
{
    std::vector<const Bone*> bones;
    listBones(model.rootBone, bones);
    for (const Animation& clip : stored.generatedClips) {
        Animation fitted = clip;
        if (fitClip(fitted, bones)) {
            model.animator.animations.push_back(std::move(fitted));
        } else {
            failures.push_back("The clip \"" + clip.name + "\" of \"" + stored.file +
                               "\" names bones the model does not have; it was left out.");
        }
    }
    model.position = stored.position;
    model.orientation = stored.orientation;
    if (static_cast<std::size_t>(stored.clip) < model.animator.animations.size()) {
        model.animator.current = stored.clip;
        model.animator.time = stored.time;
    }
    model.animator.rate = stored.rate;
    // The sampler's search continues from where the load's first advance left it.
    model.animator.sampling.reset();
}

// Rebuilt as it was drawn (see kMaxReplayedPoints).
void buildPath(const std::vector<Vector3>& points, Path& path)
{
    const bool replay = points.size() <= kMaxReplayedPoints;
    for (const Vector3& p : points) {
        path.addControlPoint(p);
        if (replay) {
            path.buildCurve();
            path.buildArcLengthTable();
        }
    }
    if (!replay) {
        path.buildCurve();
        path.buildArcLengthTable();
    }
}

}  // namespace

void buildDocument(const SceneFile& scene, const ModelLoader& load, Document& document,
                   std::vector<std::string>& failures)
{
    document.clear();
    std::vector<Model*> models;  // by the file's index; null: not loaded
    for (const SceneModel& stored : scene.models) {
        try {
            Model model = load(stored.path);
            ModelSource source;
            source.file = stored.path;
            source.id = document.nextModelId++;
            source.fileClips = model.animator.animations.size();
            placeModel(stored, model, failures);
            document.models.push_back(std::move(model));
            document.sources.push_back(std::move(source));
            models.push_back(&document.models.back());
        } catch (const std::bad_alloc&) {
            failures.push_back("There is not enough memory to load \"" + stored.path + "\".");
            models.push_back(nullptr);
        } catch (const std::exception& error) {
            failures.push_back(error.what());
            models.push_back(nullptr);
        }
    }
    for (const std::vector<Vector3>& points : scene.paths) {
        buildPath(points, document.paths.emplace_back());
    }
    std::vector<IkController*> controllers;
    for (const SceneController& stored : scene.controllers) {
        Model* model = models[stored.model];
        if (!model) {
            controllers.push_back(nullptr);
            continue;
        }
        IkController& controller = document.ikControllers.emplace_back(stored.endEffector, stored.target, model);
        controller.targetPlaced = stored.targetPlaced;
        controller.buildChain(model->rootBone);
        controllers.push_back(&controller);
    }
    for (const SceneBinding& stored : scene.bindings) {
        Model* model = models[stored.model];
        IkController* controller = stored.controller >= 0 ? controllers[static_cast<std::size_t>(stored.controller)]
                                                          : nullptr;
        if (!model || (stored.controller >= 0 && !controller)) {
            continue;
        }
        PathBinding& binding = document.bindings.emplace_back();
        binding.model = model;
        binding.path = &document.paths[stored.path];
        binding.controller = controller;
        binding.parameter = stored.parameter;
        binding.finished = stored.finished;
    }
    document.views = scene.views;
    document.transportSpeed = scene.transportSpeed;
    document.markSaved();
}

}  // namespace fyrel
