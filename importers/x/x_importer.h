#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "importers/x/x_hierarchy.h"
#include "scene/model.h"

// The .X importer: loads a DirectX .X file (text, binary or MSZIP-compressed;
// versions 0302 and 0303) into its list of frames (x_hierarchy.h) and
// converts that into a Model: one bone per frame of the skeleton in the shape
// of the frame tree, the meshes of all frames appended to the model's
// geometry in their rest place, the skin weights of the bones that skin
// information names, and one looping clip per AnimationSet (x_animation.h),
// named after it, in file order, with key times in seconds (rate 1; the first
// clip plays). Each mesh's materials (colours, texture file looked up beside
// the model), its faces' material indices and its texture coordinates are
// kept; the model gets the .X base transform (xBaseTransform).
//
// Failures raise ImportError whose text is two lines:
//   "Failed to load mesh from hierarchy, haha."
//   "\"FILE\" cannot be read: REASON"  REASON being the reader's, with its
//       line or byte offset; the file cannot be opened, the reader rejects it,
//       or its frame tree nests deeper than kMaxBoneDepth bones.
// A failed import returns nothing and frees everything it built.
//
// The rest pose. C(f), a frame's combined rest matrix, is the product of its
// own and its ancestors' transformation matrices, found once per frame by one
// pass down the frame list (parent's C times own); nothing multiplies a chain again
// per bone or per vertex, so deep chains of scaled frames keep their precision.
//   - An unskinned mesh's vertices are C(f)·v, f the frame that holds it.
//   - A skinned mesh's vertex is Σ wᵢ·(C(bᵢ)·Oᵢ)·v over the skin's bones bᵢ
//     that name a frame, Oᵢ the bone's matrixOffset and wᵢ its weight of the
//     vertex, as the format skins it: the frame that holds a skinned mesh does
//     not move it. C(bᵢ)·Oᵢ is formed once per skin bone. Where the weights of
//     a vertex add up to less than 1 (skins that name bones the file has no
//     frame for, or leave vertices out), the rest, 1 − Σ wᵢ, goes to the frame
//     that holds the mesh, placed by C(f), and is that bone's weight of it.
//   - Every bone's localMatrix is its frame's transformation matrix, relative
//     to its parent, and its inverseLocalMatrix the inverse of that (scale
//     included). Pose evaluation multiplies both down the tree, so a bone's
//     inverse bind matrix is C⁻¹ and at rest every skinning matrix is the
//     identity: the skinned vertices at rest are the vertices above, and each
//     joint stands where its frame's C puts it, inside the mesh it skins.
//   - In a model whose bones move (a skin weights some bone, or a clip drives
//     one), every unskinned mesh's vertices get weight 1 of the bone of the
//     frame that holds it, so that the mesh follows its frame.
//   - The normals are computed once, from the placed vertices.
//
// Which frames become bones: a frame with a mesh, a frame a skin weights a
// vertex by, and a frame an animation drives, with all their ancestors.
// Other frames (a modelling tool's cameras and lights, empty helpers) are
// left out of the skeleton: they would be drawn as bones and framed.
//
// Where the conversion goes beyond the bare frame-by-frame walk:
//   - Several top-level frames (and meshes outside any frame, each wrapped in
//     an unnamed frame) that become bones hang, in file order, under one
//     unnamed root bone. A single one is the root bone itself; without any,
//     the model has no skeleton.
//   - Frames, skins and animations name frames by name: the first frame of
//     that name in depth-first order is meant (as with Bone::find). Skin bones
//     with an empty name are skipped: an empty name names no frame.
//   - A skin's vertex indices count from the first vertex its mesh received
//     in the model, so each mesh's skin moves that mesh's own vertices.
//   - Indices are 32-bit throughout: meshes of more than 65,535 vertices keep
//     every index.
//   - Every mesh a frame uses is converted, not only the first.
//   - A clip's keys are relative to each bone's bind transform L: the file's
//     key K (the frame's whole local transform) becomes L⁻¹·K. A track has
//     a key wherever any of its frame's key lists has one, and at the
//     clip's start and end; a bone no animation of a set names keeps
//     whatever pose it has while that clip plays.
//   - The reading summary (debug output) says, per skinned mesh, how many
//     bones its skin names, and per animation set the ticks per second used.
//   - The file is read once. A second pass that enumerates the top-level
//     objects through another file interface is left out: with one reader it
//     could only repeat the same parse to the same result, and nothing of it
//     reached the model.

namespace fyrel {

struct XAnimationSet;

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

private:
    // A frame of the file, at its place in XFrames::frames: its parent's
    // place (kNoFrame at the top), its combined rest matrix (column vectors,
    // doubles), whether it becomes a bone, and then that bone.
    static constexpr std::size_t kNoFrame = static_cast<std::size_t>(-1);
    struct FrameEntry {
        const XFrame* frame = nullptr;
        std::size_t parent = kNoFrame;
        double combined[16] = {};
        bool bone = false;
        Bone* boneOf = nullptr;
    };
    // A converted mesh use, the frame that holds it and its first vertex.
    struct MeshPlace {
        const XMeshUse* use = nullptr;
        std::size_t frame = 0;
        std::uint32_t firstVertex = 0;
    };

    void listFrames(const XFrames& frames);
    void chooseBones(const XFrames& frames, const std::vector<XAnimationSet>& sets);
    void buildSkeleton(Model& model);
    void convertMeshes(const XFrames& frames, Model& model);
    void convertMesh(const XMeshUse& use, Model& model);
    void placeSkinnedMesh(const MeshPlace& place, Model& model);
    void placeUnskinnedMesh(const MeshPlace& place, Model& model, bool follow) const;
    std::size_t frameNamed(const std::string& name) const;  // kNoFrame for none
    static bool isSkinned(const XMeshUse& use);

    std::string fileName_;
    std::vector<FrameEntry> frames_;
    std::unordered_map<std::string, std::size_t> frameByName_;  // the first of each name
    std::vector<MeshPlace> meshes_;
};

}  // namespace fyrel
