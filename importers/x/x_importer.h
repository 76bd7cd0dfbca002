#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "importers/x/x_hierarchy.h"
#include "scene/model.h"

// The .X importer: loads a DirectX .X file (text, binary or MSZIP-compressed;
// versions 0302 and 0303) into its frame hierarchy through XImportAllocator and
// converts that into a Model: one bone per frame in the shape of the frame
// tree, the meshes of all frames appended to the model's geometry, the
// skin weights of the bones that skin information names, and one looping
// clip per AnimationSet (x_animation.h), named after it, in file order, with
// key times in seconds (rate 1; the first clip plays). Each mesh's materials
// (colours, texture file looked up beside the model), its faces' material
// indices and its texture coordinates are kept; the model gets the .X base
// transform (xBaseTransform).
//
// Failures raise ImportError with these texts:
//   "Failed to load mesh from hierarchy, haha."  the file cannot be read or
//       the reader rejects it (the reason, with its line or byte offset, goes
//       to the debug output first); also a frame tree nested deeper than
//       kMaxBoneDepth bones;
// A failed import returns nothing and frees everything it built.
//
// Where the conversion goes beyond the bare frame-by-frame walk:
//   - Several top-level frames (and meshes outside any frame, each wrapped in
//     an unnamed frame) all keep their bones: they hang, in file order, under
//     one unnamed root bone. A single top-level frame is the root bone itself.
//   - A skin's vertex indices count from the first vertex its mesh received
//     in the model, so each mesh's skin moves that mesh's own vertices.
//   - Indices are 32-bit throughout: meshes of more than 65,535 vertices keep
//     every index.
//   - Every mesh container of a frame is converted, not only the first.
//   - The normals are computed once, after the last mesh: the result equals
//     recomputing them after every mesh.
//   - Skin bones with an empty name are skipped: an empty name names no
//     frame (only unnamed frames, which no skin can mean).
//   - Every bone's localMatrix is its frame's transformation matrix, relative
//     to its parent, and its inverseLocalMatrix the inverse of that (scale
//     included), skinned or not. Pose evaluation multiplies both down the
//     tree, so at rest every skinning matrix is the identity and the skin
//     shows the mesh exactly as imported, with each joint where its frame
//     puts it. The skin's offset matrices are not used: giving skinned bones
//     their absolute bind transform as localMatrix would multiply it by the
//     parent's once more, and down a deep chain with scaled frames that
//     double product loses all precision and shreds the mesh.
//   - A skinned mesh's vertices whose weights (of the skin bones that name a
//     frame) add up to less than 1 give the rest to the bone of the frame
//     that holds the mesh: skins that name bones the file has no frame for,
//     or leave vertices out, would otherwise pull those vertices towards the
//     origin.
//   - A clip's keys are relative to each bone's bind transform L: the file's
//     key K (the frame's whole local transform) becomes L⁻¹·K. A track has
//     a key wherever any of its frame's key lists has one, and at the
//     clip's start and end; a bone no animation of a set names keeps
//     whatever pose it has while that clip plays.
//   - The file is read once. A second pass that enumerates the top-level
//     objects through another file interface is left out: with one reader it
//     could only repeat the same parse to the same result, and nothing of it
//     reached the model.

namespace fyrel {

inline constexpr const char* kXLoadFailedMessage = "Failed to load mesh from hierarchy, haha.";

// File point (x, y, z) to scene (x/100, z/100, y/100): y becomes up and the
// model shrinks by 100. Direct3D's frame is left-handed (x right, y up, z
// away from the viewer) and the scene's right-handed (x right, z up, y away),
// so exchanging y and z alone keeps left and right: a model seen from its
// front shows its right hand on the viewer's left, and the text in its
// textures reads the right way round. (Mirroring x as well turned every .X
// model into its mirror image.)
Matrix4 xBaseTransform();

// Imports the file at path with an importer of its own (for callers that keep
// none, such as the importer choice by file ending).
Model importX(const std::string& path);

class XImporter {
public:
    std::uint32_t vertexTotal = 0;    // vertices converted into the model being imported
    std::uint32_t triangleTotal = 0;  // triangles likewise

    // Loads the file at path (a regular file of at most kMaxXFileSize bytes).
    Model load(const std::string& path);

    // The same for a file already in memory; fileName names it in messages
    // and its folder is where relative texture names are looked up first.
    Model loadFromMemory(const std::uint8_t* data, std::size_t size, const std::string& fileName);

    // Converts the frame, its meshes, its subtree and its later siblings.
    // Without a parent each frame becomes the model's rootBone in turn (the
    // last one stays); with one, each is appended to its children and the
    // parent counts as a root bone for the depth limit. Ends with
    // computeNormals when a mesh was converted. Throws ImportError for a
    // frame tree deeper than kMaxBoneDepth bones or a model of more than
    // 2^31 − 1 vertices.
    void convertFrame(const XFrame* frame, Model& model, Bone* parent);

    // Applies the skin information of the frame's meshes, then of its later
    // siblings, then of its children (each sibling's subtree before the
    // frame's own children), to the bones of the model named like the skin's
    // bones.
    void applySkin(const XFrame* frame, Model& model);

private:
    void convertFrames(const XFrame* frame, Model& model, Bone* parent, int level, bool& meshConverted);
    void convertMesh(const XMeshContainer& container, Model& model);
    void applyContainerSkin(const XMeshContainer& container, Model& model,
                            std::unordered_map<std::string, Bone*>& bonesByName);
    void giveRemainderToFrame(const XMeshContainer& container, Model& model, std::uint32_t firstVertex,
                              const std::vector<float>& weightOf);

    std::string fileName_;
    std::unordered_map<const XMeshContainer*, std::uint32_t> firstVertex_;
    std::unordered_map<const XMeshContainer*, std::size_t> frameBone_;  // pre-order number of its frame's bone
    std::size_t nextBone_ = 0;
};

}  // namespace fyrel
