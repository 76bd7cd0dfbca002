#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "math/matrix.h"
#include "math/quaternion.h"
#include "math/vector.h"

namespace fyrel {

// Bone trees are held by value and walked recursively (copy, find, pose
// evaluation), so importers refuse skeletons nested deeper than this: a
// crafted file must not be able to exhaust the stack.
inline constexpr int kMaxBoneDepth = 1024;

struct VertexWeight {
    std::int32_t vertex = 0;  // index into the model's vertices
    float weight = 0.0f;
};

// A joint of the skeleton. Children live inside their parent by value, so a
// Bone pointer stays valid only while no bone is added on the path from the
// root to it: what outlives a change of the skeleton or a copy of its model
// (a clip's keys) names a bone by its index in pre-order instead (the root
// 0, then each child's subtree in order), and code that keeps Bone pointers
// for speed checks them against the tree before it follows them.
struct Bone {
    std::string name;
    Quaternion rotation;        // animated rotation relative to the bind pose
    Vector3 translation;        // animated translation relative to the bind pose
    Vector3 scale{1.0f, 1.0f, 1.0f};  // animated scale along the bone's axes, after the rotation
    Matrix4 localMatrix;        // bind transform relative to the parent
    Matrix4 inverseLocalMatrix; // its inverse, set by the importer
    Matrix4 worldMatrix;        // current absolute transform (pose evaluation)
    Matrix4 inverseBindMatrix;  // absolute inverse bind transform (pose evaluation)
    std::vector<Bone> children;
    std::vector<VertexWeight> weights;

    // Depth-first, this bone first, then each child's subtree in order; the
    // first exact, case-sensitive match, or null.
    Bone* find(const std::string& boneName);
    const Bone* find(const std::string& boneName) const;

    // Appends a copy of the bone with its whole subtree.
    void addChild(const Bone& bone);
    void addWeight(std::int32_t vertex, float weight);
};

// A bone index that names no bone.
inline constexpr std::int32_t kNoBone = -1;

// Replaces out with every bone of the tree at root, in pre-order: element i
// is the bone of index i.
void listBones(Bone& root, std::vector<Bone*>& out);
void listBones(const Bone& root, std::vector<const Bone*>& out);

// Each bone name of the tree at root with the pre-order index of the first
// bone bearing it (the one find returns).
std::unordered_map<std::string, std::int32_t> boneIndexByName(const Bone& root);

}  // namespace fyrel
