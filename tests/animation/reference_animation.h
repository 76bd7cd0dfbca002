#pragma once

// The plain evaluation of sampling, pose and staging, kept apart from the
// product so the fast paths can be checked against it bit for bit: a fresh
// linear key scan per track, and skinning scattered bone by bone, weight by
// weight, into all-zero vertices.

#include "scene/model.h"

namespace fyrel::test {

// Animator::update as written out in the playback rules.
void referenceAnimatorUpdate(Animator& animator, float dt);

// Model::updatePose by scatter: sizes skinnedVertices and the staging arrays,
// poses the bones and accumulates every weight into skinnedVertices.
void referenceUpdatePose(Model& model);

// The staging copy of uploadSkinned, without the GL calls.
void referenceStage(Model& model);

}  // namespace fyrel::test
