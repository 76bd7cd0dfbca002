#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The check that stands between a .3ds file and lib3ds 1.3.
//
// lib3ds 1.3 trusts every length and index it reads: a chunk of length zero
// makes it loop for ever, a length that wraps its 32-bit offsets sends it
// backwards through the file, a face naming a vertex beyond its mesh is read
// outside the vertex array when lib3ds computes face normals, a material group
// naming a face beyond its mesh is written outside the face array, a truncated
// file is read with the missing bytes made up and reported as a success, a
// key track's count of 2^31 keys is followed past the end of the file, and a
// reader that gives up half-way leaks what it had built. It also mirrors the
// points of a mesh whose matrix has a negative determinant, and inserts each
// mesh into a name-sorted list by walking it, which is quadratic in the number
// of meshes.
//
// So the importer never hands it the file itself. scan3dsMeshes walks the chunk
// tree and checks everything of the triangle meshes; write3dsMeshes then builds
// a new, well-formed file that holds those meshes and nothing else, and that is
// what lib3ds reads. Materials, cameras, lights, viewports, key-frame data and
// mesh matrices, which the model does not use, never reach lib3ds at all (so
// the points come out as stored). Sections beside the meshes are skipped by
// their checked lengths; what is inside them is not looked at, so damage there
// does not stop the meshes from loading.

namespace fyrel {

// The faces of a mesh drawn with one material (an MSH_MAT_GROUP chunk).
struct ThreeDsFaceGroup {
    std::string material;
    const std::uint8_t* faces = nullptr;  // count little-endian words, each a face of the mesh
    std::uint16_t count = 0;
};

// One triangle mesh (an N_TRI_OBJECT chunk) as found in the file. The pointers
// view the caller's bytes and are valid as long as those are.
struct ThreeDsMeshChunks {
    std::string name;                      // of the named object that holds the mesh
    const std::uint8_t* points = nullptr;  // pointCount records: x, y, z as little-endian floats
    std::uint16_t pointCount = 0;
    const std::uint8_t* faces = nullptr;  // faceCount records: a, b, c, flags as little-endian words
    std::uint16_t faceCount = 0;
    const std::uint8_t* texels = nullptr;  // texelCount records: u, v as little-endian floats
    std::uint16_t texelCount = 0;
    std::vector<ThreeDsFaceGroup> groups;
};

// A material definition (a MAT_ENTRY chunk of the scene): what of it the
// model uses. Colours are 0 to 1; shininess and transparency 0 to 1 as the
// percentages say.
struct ThreeDsMaterial {
    std::string name;
    float ambient[3] = {0.1f, 0.1f, 0.1f};
    float diffuse[3] = {0.8f, 0.8f, 0.8f};
    float specular[3] = {0.2f, 0.2f, 0.2f};
    float shininess = 0.0f;
    float transparency = 0.0f;
    std::string texture;  // the first texture map's file name
};

struct ThreeDsScene {
    std::vector<ThreeDsMeshChunks> meshes;
    std::vector<ThreeDsMaterial> materials;
};

// Walks data[0, size) and returns its triangle meshes in file order. Checked:
// the file holds its whole main chunk; every chunk on the way to a mesh, and
// every sibling of one, has a length of at least its header and lies inside
// its parent; a named object's name is terminated; a mesh's point, face,
// texture-coordinate and point-flag arrays fit their chunks; its matrix is 12
// floats; its material groups name faces it has; its smoothing groups cover
// its faces; every face names vertices of the mesh's final point array; every
// vertex coordinate is finite. As in lib3ds, the last point or face array of a
// mesh is the one that counts. Throws ImportError with a sentence saying what
// is wrong and where (without the "Unable to load 3ds file" lead-in, which the
// importer adds).
std::vector<ThreeDsMeshChunks> scan3dsMeshes(const std::uint8_t* data, std::size_t size);

// The same walk, also keeping the materials of the scene: a material's
// sub-chunks are read only where they hold what they should (a colour chunk
// of 3 floats or 3 bytes, a percentage, a terminated name); a damaged one
// leaves the default and does not stop the meshes from loading.
ThreeDsScene scan3dsScene(const std::uint8_t* data, std::size_t size);

// A complete .3ds file holding the given meshes and nothing else: one named
// object per mesh that has vertices. lib3ds keeps its mesh list sorted by
// name, so the objects are named by their position in the list (zero-padded,
// so that name order is list order), and written last one first, so that each
// one lib3ds inserts goes to the head of its list instead of to the end of an
// ever longer walk. Throws ImportError when the result would not fit the
// format's 32-bit chunk lengths.
std::vector<std::uint8_t> write3dsMeshes(const std::vector<ThreeDsMeshChunks>& meshes);

// "face 3 of mesh 2 ("Box01") uses vertex 40, but the mesh has 26 vertices":
// the one wording for a face that reaches outside its mesh, wherever it is
// found. faceNumber and meshNumber count from 1.
std::string threeDsFaceIndexProblem(std::size_t faceNumber, std::size_t meshNumber, const std::string& meshName,
                                    std::uint32_t vertex, std::uint32_t vertexCount);

}  // namespace fyrel
