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

// Pose evaluation keeps a per-vertex form of the bones' weights and a
// flattened copy of the skeleton with its inverse bind matrices, rebuilt
// when it sees a weight or child list move to new storage, grow or shrink,
// bones come or go, or the vertex count change. Code that changes weights
// or bind transforms (localMatrix, inverseLocalMatrix) after the first pose
// without any of that (editing entries, or assigning a list of the same
// length into an existing one) calls this.
void skinChanged(Model& model);

// How updatePose evaluates the skeleton: over the flattened skeleton (the
// default; a skeleton whose bind transforms are not all affine is walked
// anyway), or bone by bone down the tree with whole matrices. The flat
// evaluation uses the active vector backend (math/cpu_features.h): the
// portable one, SSE2 and NEON give the same bits, equal to the walk's as numbers
// (a zero may differ in sign); with AVX2 it forms the local transforms eight bones at
// a time and its sums with fused multiply-adds, within a few units in the
// last place of the walk's, more with the depth of the skeleton. Where the
// walk's result is not finite the flat one is not either. Tests and
// benchmarks choose one to compare them.
enum class PoseEvaluation { Flat, Walk };
void usePoseEvaluation(PoseEvaluation evaluation);

}  // namespace fyrel
