#pragma once

// Synthetic skinned characters for the animation tests and benchmarks: a bone
// tree with bind transforms and their inverses, vertices with unit normals,
// weights per bone, and a looping clip that animates every bone.

#include <cstdint>

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
// each at keySpacing apart, with random turns and shifts; binds the animator.
void addClip(Model& model, std::size_t keyCount, float keySpacing, std::uint32_t seed);

// Sets every bone's rotation and translation to a random local pose.
void randomPose(Model& model, std::uint32_t seed);

}  // namespace fyrel::test
