#pragma once

// Pose evaluation and skinning of a model: the bones' world and inverse bind
// matrices from their local pose, and the skinned vertices from those. The
// per-vertex form of the weights is kept in the model's skin slot.

namespace fyrel {

struct Bone;
struct Model;

// Evaluates the bone tree and skins the vertices into skinnedVertices.
// Every vertex gets the sum of its weighted contributions in the order of
// the bone walk (bones in pre-order, each bone's weights in order),
// starting from zero; weights for vertices out of range are ignored.
// Allocates only when the vertex count or the skin changes.
void updatePose(Model& model);

// Poses the subtree of bone: world and inverse bind matrices, parents
// first. Does not skin.
void evaluateBone(const Bone* parent, Bone& bone);

// Pose evaluation keeps a per-vertex form of the bones' weights, rebuilt
// when it sees a weight list move to new storage, grow or shrink, bones
// come or go, or the vertex count change. Code that changes weights after
// the first pose without any of that (editing entries, or assigning a
// list of the same length into an existing one) calls this.
void skinChanged(Model& model);

}  // namespace fyrel
