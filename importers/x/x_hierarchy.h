#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "math/vector.h"
#include "importers/x/x_reader.h"

// The frames of an .X file and the meshes they hold, as the conversion needs
// them: one flat list of frames, each naming its parent by its place in the
// list, and the meshes each frame uses. Matrices are kept as the file writes
// them (16 floats for row vectors, translation in the fourth row); the
// conversion transposes them.

namespace fyrel {

// A matrix as the file writes it: element (r, c) is m[4r + c], acting on
// row vectors.
struct XMatrix {
    float m[16] = {1, 0, 0, 0,
                   0, 1, 0, 0,
                   0, 0, 1, 0,
                   0, 0, 0, 1};
};

// A triangle's material index when its face names none the list has.
inline constexpr std::uint32_t kXNoMaterial = 0xFFFFFFFFu;

// A mesh as loaded: positions in the mesh's own coordinates and three
// indices per triangle. Faces of more than three corners are split into a
// fan from their first corner; faces of fewer than three corners give no
// triangle. Every index is below the vertex count. Normals of the file are
// not kept: the model computes its own.
struct XMesh {
    std::vector<Vector3> positions;
    std::vector<std::uint32_t> indices;
    std::vector<float> texCoords;                 // u, v per vertex, or none
    std::vector<std::uint32_t> triangleMaterials;  // per triangle, or none; kXNoMaterial for none

    std::uint32_t vertexCount() const { return static_cast<std::uint32_t>(positions.size()); }
    std::uint32_t triangleCount() const { return static_cast<std::uint32_t>(indices.size() / 3); }
};

// The skin of a mesh: one bone per SkinWeights object, in file order.
// Every vertex index is below the mesh's vertex count; weights and offset
// matrices are finite.
struct XSkinBone {
    std::string name;
    std::vector<std::uint32_t> vertices;
    std::vector<float> weights;
    XMatrix offset;
};

struct XSkinInfo {
    std::vector<XSkinBone> bones;
};

// A texture a material names: the name as the file stores it, and the file
// found for it beside the model (empty when none is). Whether it is an image
// is found out where it is drawn: a texture that is not one costs its looks,
// not the model.
struct XTexture {
    std::string name;
    std::string path;
};

struct XColor {
    float r = 0, g = 0, b = 0, a = 0;
};

// A Material object: its colours, its name (empty when it has none) and the
// texture of its first TextureFilename (null when it names none).
struct XMaterial {
    XColor diffuse;
    XColor specular;
    XColor emissive;
    float power = 0;
    std::string name;
    std::shared_ptr<const XTexture> texture;
};

// One use of a mesh by a frame. A mesh that several frames name by reference
// is read once: its uses share the mesh and its skin, and each carries its
// own copy of the materials.
struct XMeshUse {
    std::string name;  // the Mesh object's, empty when it has none
    std::shared_ptr<const XMesh> mesh;
    std::vector<XMaterial> materials;
    std::shared_ptr<const XSkinInfo> skin;  // null without skin information
};

// A frame: its name (empty for an unnamed one), its FrameTransformMatrix
// relative to its parent, its parent's index in XFrames::frames (kXTopFrame
// for a top-level frame) and the indices of the meshes it uses, in
// XFrames::meshes.
inline constexpr std::int32_t kXTopFrame = -1;

struct XFrame {
    std::string name;
    XMatrix transform;
    std::int32_t parent = kXTopFrame;
    std::vector<std::uint32_t> meshes;
};

// Frames in depth-first order: each frame before its children, children in
// file order, top-level frames in file order; so every parent index is below
// its child's own. At least one frame.
struct XFrames {
    std::vector<XFrame> frames;
    std::vector<XMeshUse> meshes;
};

// Lists the frames of a file's data objects and the meshes they use.
//
//   - Every Frame becomes a frame; its FrameTransformMatrix (the last one, if
//     several) its transform; each of its meshes, written in it or named by a
//     reference, one use of that mesh, in order.
//   - A Mesh outside any frame is a use of an unnamed top-level frame of its
//     own, unless a frame names it by a reference (then it lives there).
//   - A mesh's materials are the Material objects of its MeshMaterialList
//     (written there or named by reference), each with its first
//     TextureFilename looked up beside the model (findTextureFile, with
//     textureFolder; each name once per file). It has skin information when
//     it holds an XSkinMeshHeader or a SkinWeights object.
//
// Rejected with XReadError: a file without any frame or mesh; a face or skin
// vertex index at or beyond its mesh's vertex count; a non-finite position,
// matrix element or weight; a reference in a frame or material list that
// names no earlier object, or names one of the wrong kind (a frame cannot be
// included by reference); mesh uses that add up to more vertices and
// triangles than the file has bytes (references can repeat a mesh without
// limit otherwise); frames, meshes and mesh uses that would take more than
// what reading left of the file's memory budget (x_budget.h).
XFrames readXFrames(const XFileData& file, const std::string& textureFolder);

}  // namespace fyrel
