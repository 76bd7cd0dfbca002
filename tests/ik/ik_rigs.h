#pragma once

// Skeletons for the IK tests and benchmark: chains of bones in a line, or the
// same chain with side branches that the chain search must back out of, under
// one of three model placements.

#include <random>
#include <string>
#include <vector>

#include "scene/model.h"

namespace fyrel::test {

enum class Shape { Line, Tree };
enum class Placement { Identity, Moved, XFile };

// The .X importer's axis and unit conversion: (x, y, z) -> (-x, z, y) / 100.
Matrix4 xFileBaseTransform();

// A model whose skeleton holds a chain "b0" (the root) … "b<n-1>" with random
// bind offsets, bind rotations and small animated translations. A Tree also
// hangs a two-bone side branch "s<i>" -> "s<i>x" off every chain bone but the
// last, added before the chain's own child. Offsets are about one world unit;
// under the .X placement they are in file units (×100).
Model makeRig(Shape shape, int bones, Placement placement, std::mt19937& rng);

// A random rotation, uniform enough over all angles for test poses.
Quaternion randomRotation(std::mt19937& rng);

// The bone's origin in world coordinates by pose evaluation (worldMatrix under
// the placement): an independent check of the solver's own kinematics.
Vector3 evaluatedOrigin(Model& model, const std::string& boneName);

// Gives the inner chain bones ("b1" … "b<n-2>") random rotations.
void randomizeInnerBones(Model& model, int bones, std::mt19937& rng);

// Every bone of the tree in pre-order.
std::vector<Bone*> preOrder(Bone& root);

}  // namespace fyrel::test
