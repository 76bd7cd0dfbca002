#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "math/vector.h"
#include "importers/x/x_reader.h"

// The frame hierarchy of an .X file, in the shape Direct3D's D3DX library
// hands it to a program: frame records with a name, a transformation matrix,
// a chain of mesh containers, a first child and a next sibling; mesh
// containers with the mesh, its materials, its adjacency and its skin
// information. The program allocates and frees every record itself through
// the four operations of an XHierarchyAllocator (CreateFrame,
// CreateMeshContainer, DestroyFrame, DestroyMeshContainer), which
// loadMeshHierarchyFromX calls while it builds the tree from a file's data
// objects and frameDestroy calls when the tree is freed.
//
// Field names follow D3DX's records, so the code that walks the tree reads as
// written for them. Matrices are kept as the file writes them: 16 floats for
// row vectors, translation in the fourth row; the conversion transposes them.

namespace fyrel {

// A matrix as the file writes it (D3DX's D3DXMATRIX): element (r, c) is
// m[4r + c], acting on row vectors.
struct XMatrix {
    float m[16] = {1, 0, 0, 0,
                   0, 1, 0, 0,
                   0, 0, 1, 0,
                   0, 0, 0, 1};
};

// A mesh as loaded: positions in the mesh's own coordinates and three
// indices per triangle. Faces of more than three corners are split into a
// fan from their first corner; faces of fewer than three corners give no
// triangle. Every index is below the vertex count. Normals and texture
// coordinates of the file are not kept: the model computes its own normals.
// A triangle's material index when its face names none the list has.
inline constexpr std::uint32_t kXNoMaterial = 0xFFFFFFFFu;

struct XMesh {
    std::vector<Vector3> positions;
    std::vector<std::uint32_t> indices;
    std::vector<float> texCoords;                 // u, v per vertex, or none
    std::vector<std::uint32_t> triangleMaterials;  // per triangle, or none; kXNoMaterial for none

    std::uint32_t GetNumVertices() const { return static_cast<std::uint32_t>(positions.size()); }
    std::uint32_t GetNumFaces() const { return static_cast<std::uint32_t>(indices.size() / 3); }
};

// The skin of a mesh: one entry per SkinWeights object, in file order.
// Every vertex index is below the mesh's vertex count; weights and offset
// matrices are finite.
struct XSkinBone {
    std::string name;
    std::vector<std::uint32_t> vertices;
    std::vector<float> weights;
    XMatrix offset;
};

class XSkinInfo {
public:
    std::vector<XSkinBone> bones;

    std::uint32_t GetNumBones() const { return static_cast<std::uint32_t>(bones.size()); }
    const char* GetBoneName(std::uint32_t bone) const { return bones[bone].name.c_str(); }
    std::uint32_t GetNumBoneInfluences(std::uint32_t bone) const
    {
        return static_cast<std::uint32_t>(bones[bone].vertices.size());
    }
    // Writes GetNumBoneInfluences(bone) entries into each array.
    void GetBoneInfluence(std::uint32_t bone, std::uint32_t* vertices, float* weights) const;
    const XMatrix& GetBoneOffsetMatrix(std::uint32_t bone) const { return bones[bone].offset; }
};

struct XColorValue {
    float r = 0, g = 0, b = 0, a = 0;
};

// D3DMATERIAL9.
struct XMaterial9 {
    XColorValue diffuse;
    XColorValue ambient;
    XColorValue specular;
    XColorValue emissive;
    float power = 0;
};

// D3DXMATERIAL: the colours and the texture file the material names (empty
// when it names none).
struct XMaterial {
    XMaterial9 MatD3D;
    std::string textureFile;
    std::string name;  // the Material object's, empty when it has none
};

struct XMeshData {
    std::shared_ptr<const XMesh> pMesh;  // shared by every container of the same mesh
};

// D3DXMESHCONTAINER. pMaterials and pEffects are never set: materials are
// copied into the program's own container type.
struct XMeshContainer {
    virtual ~XMeshContainer() = default;

    std::unique_ptr<char[]> Name;  // null for an unnamed mesh
    XMeshData MeshData;
    const XMaterial* pMaterials = nullptr;
    const void* pEffects = nullptr;
    std::uint32_t NumMaterials = 0;
    std::unique_ptr<std::uint32_t[]> pAdjacency;  // three entries per face
    std::shared_ptr<const XSkinInfo> pSkinInfo;   // null without skin information
    XMeshContainer* pNextMeshContainer = nullptr;
};

// D3DXFRAME.
struct XFrame {
    std::unique_ptr<char[]> Name;  // null for an unnamed frame
    XMatrix TransformationMatrix;
    XMeshContainer* pMeshContainer = nullptr;
    XFrame* pFrameSibling = nullptr;
    XFrame* pFrameFirstChild = nullptr;
};

// ID3DXAllocateHierarchy: creates and frees the records of a hierarchy.
// CreateFrame and CreateMeshContainer return new records (never null) or
// throw; what they throw reaches the caller of loadMeshHierarchyFromX
// unchanged, after everything built so far has been freed.
class XHierarchyAllocator {
public:
    virtual ~XHierarchyAllocator() = default;
    // name is null or non-empty.
    virtual XFrame* CreateFrame(const char* name) = 0;
    // adjacency holds three entries per face of the mesh; materials holds
    // numMaterials entries (null when there are none); skinInfo may be null.
    virtual XMeshContainer* CreateMeshContainer(const char* name, const XMeshData& meshData,
                                                const XMaterial* materials, std::uint32_t numMaterials,
                                                const std::uint32_t* adjacency,
                                                const std::shared_ptr<const XSkinInfo>& skinInfo) = 0;
    virtual void DestroyFrame(XFrame* frame) = 0;
    virtual void DestroyMeshContainer(XMeshContainer* container) = 0;
};

// Builds the hierarchy of a file's data objects (D3DXLoadMeshHierarchyFromX)
// and returns its first top-level frame; the others are its siblings, in file
// order.
//
//   - Every Frame becomes a frame; its FrameTransformMatrix (the last one, if
//     several) its TransformationMatrix; its child frames its children in
//     order; each of its meshes, written in it or named by a reference, one
//     mesh container of its chain, in order.
//   - A Mesh outside any frame is wrapped in an unnamed top-level frame of
//     its own, unless a frame names it by a reference (then it lives there).
//   - A mesh's containers share one XMesh. Its materials are the Material
//     objects of its MeshMaterialList (written there or named by reference),
//     each with the file name of its first TextureFilename. It has skin
//     information when it holds an XSkinMeshHeader or a SkinWeights object.
//
// Rejected with XReadError (nothing is left allocated): a file without any
// frame or mesh; a face or skin vertex index at or beyond its mesh's vertex
// count; a non-finite position, matrix element or weight; a reference in a
// frame or material list that names no earlier object, or names one of the
// wrong kind (a frame cannot be included by reference); meshes whose
// containers add up to more vertices and triangles than the file has bytes
// (references can repeat a mesh without limit otherwise); frames, meshes and
// mesh containers that would take more than what reading left of the file's
// memory budget (x_budget.h).
XFrame* loadMeshHierarchyFromX(const XFileData& file, XHierarchyAllocator& allocator);

// Frees a tree: every frame, sibling and child, and every mesh container of
// each, through the allocator (D3DXFrameDestroy). Walks with its own stack,
// so trees of any depth and width are freed. Null does nothing.
void frameDestroy(XFrame* root, XHierarchyAllocator& allocator);

// Owns a tree and frees it through its allocator when it goes out of scope.
class XFrameTree {
public:
    explicit XFrameTree(XHierarchyAllocator& allocator, XFrame* root = nullptr)
        : allocator_(allocator), root_(root) {}
    ~XFrameTree() { frameDestroy(root_, allocator_); }
    XFrameTree(const XFrameTree&) = delete;
    XFrameTree& operator=(const XFrameTree&) = delete;

    XFrame* get() const { return root_; }
    void reset(XFrame* root)
    {
        frameDestroy(root_, allocator_);
        root_ = root;
    }
    XFrame* release()
    {
        XFrame* r = root_;
        root_ = nullptr;
        return r;
    }

private:
    XHierarchyAllocator& allocator_;
    XFrame* root_;
};

}  // namespace fyrel
