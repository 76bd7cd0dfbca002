#pragma once

// The scenes the core suites and benchmarks build: synthetic skinned
// characters, IK rigs and built paths. Random content comes from fixed seeds,
// so every run builds the same scenes.

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "paths/path.h"
#include "render/gl_functions.h"
#include "scene/model.h"

namespace fyrel::test {

struct CharacterShape {
    std::size_t vertexCount = 1000;
    std::size_t boneCount = 64;   // bones below the root bone
    int weightsPerVertex = 1;     // influences of every weighted vertex
    bool randomLayout = false;    // random tree, random vertex order and counts
    std::uint32_t seed = 1;
};

// With randomLayout clear: bones in a branching tree, vertex runs following
// the bones in order, each weighted by its bone and its ancestors with
// weights summing to 1, weight lists ascending in vertex index.
// With randomLayout set: a random tree; vertices carry 0 to weightsPerVertex
// influences (some none), listed in random order; some weights name vertices
// out of range or the same vertex twice, and some are ±0 or negative.
Model makeCharacter(const CharacterShape& shape);

// Adds a looping clip with one track per bone below the root, keyCount keys
// each at keySpacing apart, with random turns and shifts.
void addClip(Model& model, std::size_t keyCount, float keySpacing, std::uint32_t seed);

// Sets every bone's rotation, translation and scale to a random local pose.
void randomPose(Model& model, std::uint32_t seed);

// IK rigs: a chain "b0" (the root) … "b<n-1>" with random bind offsets, bind
// rotations and small animated translations. A Tree also hangs a two-bone
// side branch "s<i>" -> "s<i>x" off every chain bone but the last, added
// before the chain's own child, so the chain search must back out of it.
// Offsets are about one world unit; under the .X placement ((x, y, z) ->
// (-x, z, y) / 100) they are in file units.
enum class Shape { Line, Tree };
enum class Placement { Identity, Moved, XFile };
Model makeRig(Shape shape, int bones, Placement placement, std::mt19937& rng);

// The bone's origin in world coordinates by pose evaluation (worldMatrix under
// the placement): an independent check of the solver's own kinematics.
Vector3 evaluatedOrigin(Model& model, const std::string& boneName);

// Gives the inner chain bones ("b1" … "b<n-2>") random rotations.
void randomizeInnerBones(Model& model, int bones, std::mt19937& rng);

// Every bone of the tree in pre-order.
std::vector<Bone*> preOrder(Bone& root);

// A bone with children, nothing else set.
Bone namedBone(const std::string& name, std::initializer_list<Bone> children = {});

// A path through the points with its curve and arc-length table built; seed
// starts its split draws.
Path builtPath(std::initializer_list<Vector3> points, std::uint32_t seed = 1);

float distance(const Vector3& a, const Vector3& b);

// GL buffer entry points that accept everything and do nothing (buffers are
// named 1, 2, …), for what measures or counts the CPU side of an upload.
const GlFunctions& silentGl();

}  // namespace fyrel::test
