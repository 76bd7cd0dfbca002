#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <assimp/scene.h>

#include "math/matrix.h"
#include "scene/model.h"

// What the steps of an Assimp conversion share (assimp_conversion.h says
// what is kept). Run in this order by assimp_conversion.cpp:
//   listAssimpNodes, chooseAssimpBones, buildAssimpSkeleton   (assimp_conversion.cpp)
//   addAssimpMaterials, addAssimpMeshes                          (assimp_meshes.cpp)
//   addAssimpClips                                               (assimp_clips.cpp)
// A step that finds the scene wrong throws ImportError through failAssimp.

namespace fyrel {

inline constexpr std::size_t kNoNode = static_cast<std::size_t>(-1);

// One node of the scene, in pre-order.
struct AssimpNode {
    const aiNode* node = nullptr;
    std::size_t parent = kNoNode;
    Matrix4 local;   // rest transform relative to the parent node
    Matrix4 global;  // rest transform in the scene
    bool helper = false;  // an FBX pivot helper, folded into the bone below it
    bool bone = false;
    std::size_t owner = kNoNode;  // a helper's bone: the first node below it that is not a helper
    std::int32_t boneIndex = kNoBone;  // in the skeleton's pre-order
};

struct AssimpConversion {
    AssimpConversion(const aiScene& s, const std::string& name, std::vector<std::string>& out)
        : scene(s), fileName(name), notes(out)
    {
    }

    const aiScene& scene;
    const std::string& fileName;
    std::vector<std::string>& notes;
    Model model;
    std::vector<AssimpNode> nodes;
    std::unordered_map<std::string, std::size_t> nodeByName;  // the first node of each name
    std::vector<Bone*> bones;  // the skeleton in pre-order, once built
    bool skeleton = false;
};

[[noreturn]] void failAssimp(const AssimpConversion& c, const std::string& what);

// The node of that name (the first in pre-order); kNoNode for none.
std::size_t assimpNodeNamed(const AssimpConversion& c, const aiString& name);

// Assimp's matrices are stored by rows as ours are.
inline Matrix4 toMatrix(const aiMatrix4x4& a)
{
    Matrix4 m;
    const float* p = &a.a1;
    for (int i = 0; i < 16; ++i) {
        m.m[i] = p[i];
    }
    return m;
}

void addAssimpMaterials(AssimpConversion& c);
void addAssimpMeshes(AssimpConversion& c);
void addAssimpClips(AssimpConversion& c);

}  // namespace fyrel
