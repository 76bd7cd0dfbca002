#pragma once

// The plain evaluation of sampling, pose and staging, kept apart from the
// product so the fast paths can be checked against it bit for bit: a fresh
// linear key scan per track, and skinning scattered bone by bone, weight by
// weight, into all-zero vertices.

#include <vector>

#include "scene/model.h"

namespace fyrel::test {

// updateAnimator as written out in the playback rules.
void referenceAnimatorUpdate(Model& model, float dt);

// updatePose by scatter: sizes skinnedVertices, poses the bones and
// accumulates every weight into skinnedVertices.
void referenceUpdatePose(Model& model);

// The staging copy of uploadSkinned, without the GL calls: positions and
// normals are sized to the skinned vertices, 3 floats each.
void referenceStage(const Model& model, std::vector<float>& positions, std::vector<float>& normals);

}  // namespace fyrel::test
