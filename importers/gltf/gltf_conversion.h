#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <tiny_gltf.h>

#include "math/matrix.h"
#include "math/vector.h"
#include "scene/model.h"

// What the steps of a glTF conversion share: the document as tinygltf read
// it, the model being built, what is known of each node, and the memory the
// file may still claim. One record, passed by reference to free functions of
// one concern each, run by gltf_importer.cpp in this order:
//   addGltfMaterials (gltf_materials.h)        the materials, per material its texture coordinates
//   walkGltfScene, markGltfBones (gltf_nodes.h) the scene's nodes, which of them are bones
//   reserveGltfMeshes, addGltfMeshes (gltf_meshes.h) vertices, triangles, weights
//   buildGltfSkeleton (gltf_skeleton.h)          the bone tree
//   addGltfClips (gltf_clips.h)                  the animations
//   completeGltfNormals (gltf_meshes.h)          the vertex normals the file does not give
// Each header says which fields its steps read and which they write. A step
// that finds the file wrong throws ImportError through failGltf; the record
// is then thrown away with whatever it held, so nothing outside changes.

namespace fyrel {

// The coordinates a material's base colour texture reads: the TEXCOORD_n
// set, and, where KHR_texture_transform moves them, the 2×3 matrix that does
// (s', t') = m · (s, t, 1).
struct GltfTexCoords {
    int set = 0;
    float m[2][3] = {{1, 0, 0}, {0, 1, 0}};
    bool moves = false;
};

// What the conversion knows of one node of the document.
struct GltfNodeInfo {
    bool inScene = false;
    int parent = -1;
    Matrix4 local;  // rest transform relative to the parent
    Matrix4 world;  // rest transform in the scene
    bool animated = false;
    bool bone = false;
    std::vector<VertexWeight> weights;  // the vertices it moves, until its bone takes them
    std::string boneName;
};

struct GltfConversion {
    // budget: kGltfMemoryPerInputByte (gltf_importer.h) times inputBytes, the
    // bytes read (the file and its buffers), plus 1 MiB.
    GltfConversion(const tinygltf::Model& document, const std::string& name, std::string modelFolder,
                   std::size_t inputBytes);

    const tinygltf::Model& doc;
    const std::string& fileName;  // for messages
    std::string folder;           // where the model file lies, for its images; empty for a document from memory
    std::size_t budget = 0;       // bytes the model may still claim
    Model model;
    std::vector<GltfNodeInfo> nodes;         // per document node
    std::vector<int> order;                  // scene nodes, pre-order
    std::vector<std::uint8_t> normalGiven;   // per vertex: whether the file gives its normal
    std::vector<GltfTexCoords> texCoordsOf;  // per material
    std::map<std::string, std::int32_t> boneIndexByName;  // index in the skeleton in pre-order
    float modelSize = 1.0f;  // the diagonal of the vertices' box, what a clip's tolerance is measured against
    int skippedPrimitives = 0;
    bool notedMorphs = false;
};

// Throws ImportError naming the file and what is wrong with it.
[[noreturn]] void failGltf(const GltfConversion& c, const std::string& what);

// A line on the debug output about the file (what is read but not shown).
void noteGltf(const GltfConversion& c, const std::string& what);

// Takes bytes from the budget; fails when the model would take more memory
// than a file of this size may claim.
void spendGltf(GltfConversion& c, std::size_t bytes);

inline bool allFinite(const std::vector<double>& values)
{
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// M·(p, w), the sums in transform()'s order (so the same bits), written out
// so that the per-vertex loops inline it.
inline Vector3 gltfPlace(const Matrix4& m, const Vector3& p, float w)
{
    return {m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2) * p.z + m(0, 3) * w,
            m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2) * p.z + m(1, 3) * w,
            m(2, 0) * p.x + m(2, 1) * p.y + m(2, 2) * p.z + m(2, 3) * w};
}

}  // namespace fyrel
