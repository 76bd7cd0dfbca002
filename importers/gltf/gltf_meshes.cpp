#include "importers/gltf/gltf_meshes.h"

#include <cstring>
#include <limits>

#include "importers/gltf/gltf_accessors.h"
#include "importers/gltf/gltf_mesh_kernels.h"
#include "importers/gltf/gltf_nodes.h"
#include "importers/gltf/gltf_skeleton.h"

namespace fyrel {
namespace {

// A drawn primitive's attributes and indices, checked against each other.
struct PrimitiveInput {
    int mode = TINYGLTF_MODE_TRIANGLES;
    GltfFloatView positions;
    GltfFloatView normals;    // first is null when the primitive has none
    GltfFloatView texCoords;  // the set its material's texture reads; first null for none
    GltfIndexView indices;
    std::size_t count = 0;      // vertices
    std::size_t triangles = 0;  // that its corners make
    bool hasMaterial = false;
    std::uint32_t material = UINT32_MAX;
    const tinygltf::Skin* skin = nullptr;
    GltfInfluences influences;
    std::vector<Matrix4> bindOffsets;  // per joint: rest world · inverse bind matrix
};

template <typename T>
std::uint32_t indexAt(const GltfIndexView& indices, std::size_t i)
{
    T v;
    std::memcpy(&v, indices.first + i * indices.stride, sizeof v);
    return v;
}

std::uint32_t firstIndexBeyond(const GltfIndexView& indices, std::size_t count)
{
    for (std::size_t i = 0; i < indices.count; ++i) {
        const std::uint32_t v = indices.size == 1   ? indexAt<std::uint8_t>(indices, i)
                                : indices.size == 2 ? indexAt<std::uint16_t>(indices, i)
                                                    : indexAt<std::uint32_t>(indices, i);
        if (v >= count) {
            return v;
        }
    }
    return 0;
}

std::size_t triangleCount(int mode, std::size_t corners)
{
    return mode == TINYGLTF_MODE_TRIANGLES ? corners / 3 : (corners >= 3 ? corners - 2 : 0);
}

// The triangles of a primitive's corners, every index below count (the
// answer is false when one is not). An index is read where it lies, as
// T, and checked without a branch.
template <typename T>
bool addTriangles(const GltfIndexView& indices, int mode, std::size_t first, std::size_t count,
                  std::uint32_t material, Triangle* out)
{
    const auto index = [&](std::size_t i) { return indexAt<T>(indices, i); };
    std::uint32_t beyond = 0;
    const auto corner = [&](std::size_t i) {
        const std::uint32_t v = index(i);
        beyond |= static_cast<std::uint32_t>(v >= count);
        return static_cast<std::uint32_t>(first + v);
    };
    const std::size_t corners = indices.count;
    const std::size_t triangles = triangleCount(mode, corners);
    std::size_t t = 0;
    if (mode == TINYGLTF_MODE_TRIANGLES) {
        beyond |= listGltfTriangleFours<T>(indices, first, count, material, out, triangles, t);
    }
    for (; t < triangles; ++t) {
        Triangle& tri = out[t];
        tri.material = material;
        if (mode == TINYGLTF_MODE_TRIANGLES) {
            tri.indices[0] = corner(3 * t), tri.indices[1] = corner(3 * t + 1), tri.indices[2] = corner(3 * t + 2);
        } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
            // Every other triangle of a strip is turned so that all keep one winding.
            tri.indices[0] = corner(t);
            tri.indices[1] = corner(t + 1 + t % 2);
            tri.indices[2] = corner(t + 2 - t % 2);
        } else {
            tri.indices[0] = corner(t + 1), tri.indices[1] = corner(t + 2), tri.indices[2] = corner(0);
        }
    }
    // Corners no triangle takes (a list not a multiple of three, a strip or
    // fan of fewer than three) are checked too.
    for (std::size_t i = mode == TINYGLTF_MODE_TRIANGLES ? 3 * triangles : (triangles > 0 ? corners : 0);
         i < corners; ++i) {
        beyond |= static_cast<std::uint32_t>(index(i) >= count);
    }
    return beyond == 0;
}

// Grown by half again when full, so that many primitives in turn do not
// each copy all before them; the new elements are written by index.
// Answers where the new elements begin.
template <typename T>
T* growTo(std::vector<T>& array, std::size_t size)
{
    const std::size_t old = array.size();
    if (array.capacity() < size) {
        array.reserve(std::max(size, array.capacity() + array.capacity() / 2));
    }
    array.resize(size);
    return array.data() + old;
}

// What turns normals as the placement turns points: the inverse's
// transpose, up to a positive factor (normals are made unit afterwards).
// That is the cofactor matrix, whose columns are the cross products of
// the placement's columns, turned round when the placement mirrors. A
// placement that flattens space leaves normals as they are.
inline Matrix4 normalMatrix(const Matrix4& placement)
{
    const Vector3 c0{placement(0, 0), placement(1, 0), placement(2, 0)};
    const Vector3 c1{placement(0, 1), placement(1, 1), placement(2, 1)};
    const Vector3 c2{placement(0, 2), placement(1, 2), placement(2, 2)};
    Vector3 columns[3];
    cross(c1, c2, columns[0]);
    cross(c2, c0, columns[1]);
    cross(c0, c1, columns[2]);
    const float det = c0.x * columns[0].x + c0.y * columns[0].y + c0.z * columns[0].z;
    Matrix4 out;
    if (det == 0.0f || !std::isfinite(det)) {
        return out;
    }
    const float sign = det > 0.0f ? 1.0f : -1.0f;
    for (int c = 0; c < 3; ++c) {
        out(0, c) = sign * columns[c].x;
        out(1, c) = sign * columns[c].y;
        out(2, c) = sign * columns[c].z;
    }
    return out;
}

// 1 for infinities and NaNs, 0 for finite numbers.
inline std::uint32_t exponentAllOnes(float v)
{
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return static_cast<std::uint32_t>((bits & 0x7f800000u) == 0x7f800000u);
}

// A given normal turned by the normal matrix and made unit; one that
// ends up zero or not a number counts as not given.
inline void turnNormal(const Matrix4& normals, const Vector3& given, Vector3& out, std::uint8_t& ok)
{
    const Vector3 n = gltfPlace(normals, given, 0.0f);
    const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    ok = length > 0.0f && length <= std::numeric_limits<float>::max();
    const float scale = ok ? 1.0f / length : 0.0f;
    out = {n.x * scale, n.y * scale, n.z * scale};
}

inline Matrix4 blend(const std::vector<Matrix4>& offsets, const GltfInfluences& in, std::size_t vertex)
{
    Matrix4 sum;
    std::fill(sum.m, sum.m + 16, 0.0f);
    float total = 0;
    for (std::size_t k = 0; k < in.perVertex; ++k) {
        const float w = in.weights[vertex * in.perVertex + k];
        if (w > 0) {
            const Matrix4& m = offsets[in.joints[vertex * in.perVertex + k]];
            for (int e = 0; e < 16; ++e) {
                sum.m[e] += w * m.m[e];
            }
            total += w;
        }
    }
    return total > 0 ? sum : Matrix4{};
}

// The primitive's corners: its index accessor, or 0 … count − 1.
GltfIndexView readIndices(const GltfConversion& c, const tinygltf::Primitive& primitive, const std::string& what,
                          std::size_t count)
{
    if (primitive.indices >= 0) {
        return viewGltfIndices(c.doc, primitive.indices, {"indices", 1, true, &what}, c.fileName);
    }
    GltfIndexView indices;
    indices.owned.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        indices.owned[i] = static_cast<std::uint32_t>(i);
    }
    indices.first = reinterpret_cast<const std::uint8_t*>(indices.owned.data());
    indices.stride = sizeof(std::uint32_t);
    indices.count = count;
    return indices;
}

// Positions, normals, indices, texture coordinates and skin, in the order
// their checks have always run (so a file with several faults gets the
// same message). False for a primitive without positions.
bool readPrimitive(const GltfConversion& c, const tinygltf::Primitive& primitive, int node, const std::string& what,
                   PrimitiveInput& in)
{
    const auto position = primitive.attributes.find("POSITION");
    if (position == primitive.attributes.end()) {
        return false;  // nothing to place
    }
    in.positions = viewGltfFloats(c.doc, position->second, {"POSITION", 3, false, &what}, c.fileName);
    in.count = in.positions.count;
    if (const auto normal = primitive.attributes.find("NORMAL"); normal != primitive.attributes.end()) {
        in.normals = viewGltfFloats(c.doc, normal->second, {"NORMAL", 3, false, &what}, c.fileName);
        if (in.normals.count != in.count) {
            failGltf(c, "the normals of " + what + " do not match its positions");
        }
    }
    in.indices = readIndices(c, primitive, what, in.count);
    in.hasMaterial = primitive.material >= 0 && static_cast<std::size_t>(primitive.material) < c.model.materials.size();
    in.material = in.hasMaterial ? static_cast<std::uint32_t>(primitive.material) : UINT32_MAX;
    const std::string texCoordName =
        "TEXCOORD_" + std::to_string(in.hasMaterial ? c.texCoordsOf[in.material].set : 0);
    if (const auto uv = primitive.attributes.find(texCoordName); uv != primitive.attributes.end()) {
        in.texCoords = viewGltfFloats(c.doc, uv->second, {texCoordName.c_str(), 2, false, &what}, c.fileName);
        if (in.texCoords.count != in.count) {
            failGltf(c, "the texture coordinates of " + what + " do not match its positions");
        }
    }
    in.skin = gltfSkinOf(c, node);
    if (in.skin) {
        in.influences = readGltfInfluences(c, primitive, what, in.count, in.skin->joints.size());
        in.bindOffsets = gltfJointOffsets(c, *in.skin);
    }
    in.triangles = triangleCount(in.mode, in.indices.count);
    return true;
}

// The primitive's triangles after the model's, every index checked.
void writeTriangles(GltfConversion& c, const PrimitiveInput& in, std::size_t first, const std::string& what)
{
    const std::size_t firstTriangle = c.model.triangles.size();
    Triangle* const out = growTo(c.model.triangles, firstTriangle + in.triangles);
    const GltfIndexView& indices = in.indices;
    const bool inside =
        indices.size == 1   ? addTriangles<std::uint8_t>(indices, in.mode, first, in.count, in.material, out)
        : indices.size == 2 ? addTriangles<std::uint16_t>(indices, in.mode, first, in.count, in.material, out)
                            : addTriangles<std::uint32_t>(indices, in.mode, first, in.count, in.material, out);
    if (!inside) {
        failGltf(c, "an index of " + what + " names vertex " + std::to_string(firstIndexBeyond(indices, in.count)) +
                        " of " + std::to_string(in.count));
    }
}

// Where a skinned vertex stands at rest: where its joints' inverse bind
// matrices and rest pose put it. False when a position is not finite.
bool placeSkinned(const PrimitiveInput& in, Vertex* vertices, std::uint8_t* normalGiven)
{
    // Neighbouring vertices mostly hang from the same joints by the same
    // weights: their placement is made once.
    bool finitePositions = true;
    Matrix4 placement, placementNormals;
    const std::size_t per = in.influences.perVertex;
    for (std::size_t i = 0; i < in.count; ++i) {
        const Vector3 p = gltfPoint(in.positions, i);
        finitePositions = finitePositions && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
        const std::uint32_t* joints = in.influences.joints.data() + i * per;
        const float* weights = in.influences.weights.data() + i * per;
        if (i == 0 || !std::equal(joints, joints + per, joints - per) ||
            std::memcmp(weights, weights - per, per * sizeof(float)) != 0) {
            placement = blend(in.bindOffsets, in.influences, i);
            placementNormals = normalMatrix(placement);
        }
        vertices[i].position = gltfPlace(placement, p, 1.0f);
        if (in.normals.first) {
            turnNormal(placementNormals, gltfPoint(in.normals, i), vertices[i].normal, normalGiven[i]);
        }
    }
    return finitePositions;
}

// Where any other vertex stands: where its node's rest world transform
// puts it, four at a time and the rest one by one. False when a position
// is not finite.
bool placeRigid(const Matrix4& world, const PrimitiveInput& in, Vertex* vertices, std::uint8_t* normalGiven)
{
    const std::size_t count = in.count;
    const Matrix4 nodeNormals = normalMatrix(world);
    std::size_t i = 0;
    bool finitePositions = placeGltfFours(world, in.positions, count, vertices, i);
    if (in.normals.first) {
        std::size_t n = 0;
        turnGltfFours(nodeNormals, in.normals, count, vertices, normalGiven, n);
        for (; n < count; ++n) {
            turnNormal(nodeNormals, gltfPoint(in.normals, n), vertices[n].normal, normalGiven[n]);
        }
    }
    std::uint32_t infinite = 0;
    for (; i < count; ++i) {
        const Vector3 p = gltfPoint(in.positions, i);
        infinite |= exponentAllOnes(p.x) | exponentAllOnes(p.y) | exponentAllOnes(p.z);
        vertices[i].position = gltfPlace(world, p, 1.0f);
    }
    return finitePositions && infinite == 0;
}

// The texture coordinates, moved by the material's texture transform;
// those that are not numbers become 0.
void writeTexCoords(GltfConversion& c, const PrimitiveInput& in, std::size_t first)
{
    const GltfFloatView& texCoords = in.texCoords;
    const GltfTexCoords* const moved =
        in.hasMaterial && c.texCoordsOf[in.material].moves ? &c.texCoordsOf[in.material] : nullptr;
    for (std::size_t i = 0; i < in.count && texCoords.first; ++i) {
        float s = texCoords(i, 0), t = texCoords(i, 1);
        if (moved) {
            const float (&m)[2][3] = moved->m;
            const float u = s;
            s = m[0][0] * u + m[0][1] * t + m[0][2];
            t = m[1][0] * u + m[1][1] * t + m[1][2];
        }
        c.model.texCoords[first + i] = TexCoord{std::isfinite(s) ? s : 0.0f, std::isfinite(t) ? t : 0.0f};
    }
}

void addPrimitive(GltfConversion& c, const tinygltf::Primitive& primitive, int node, const std::string& what)
{
    PrimitiveInput in;
    in.mode = primitive.mode < 0 ? TINYGLTF_MODE_TRIANGLES : primitive.mode;
    if (in.mode != TINYGLTF_MODE_TRIANGLES && in.mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
        in.mode != TINYGLTF_MODE_TRIANGLE_FAN) {
        ++c.skippedPrimitives;
        return;
    }
    if (!readPrimitive(c, primitive, node, what, in)) {
        return;
    }
    spendGltf(c, in.count * (sizeof(Vertex) + sizeof(TexCoord) + 1 + in.influences.perVertex * sizeof(VertexWeight)) +
                     in.triangles * sizeof(Triangle));
    const std::size_t first = c.model.vertices.size();
    if (first + in.count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        failGltf(c, "the model has more vertices than the program holds");
    }
    const std::size_t firstTriangle = c.model.triangles.size();
    writeTriangles(c, in, first, what);
    Vertex* const vertices = growTo(c.model.vertices, first + in.count);
    if (in.texCoords.first || !c.model.texCoords.empty()) {
        growTo(c.model.texCoords, first + in.count);
    }
    std::uint8_t* const normalGiven = growTo(c.normalGiven, first + in.count);
    const bool finitePositions = in.skin && in.influences.perVertex > 0
                                     ? placeSkinned(in, vertices, normalGiven)
                                     : placeRigid(c.nodes[static_cast<std::size_t>(node)].world, in, vertices, normalGiven);
    if (!finitePositions) {
        failGltf(c, "a position of " + what + " is not a number");
    }
    c.model.computeFaceNormals(firstTriangle, firstTriangle + in.triangles);  // while they are in the cache
    writeTexCoords(c, in, first);
    addGltfWeights(c, node, in.skin, in.influences, first, in.count);
}

void addMesh(GltfConversion& c, int node)
{
    const int meshIndex = c.doc.nodes[static_cast<std::size_t>(node)].mesh;
    if (static_cast<std::size_t>(meshIndex) >= c.doc.meshes.size()) {
        failGltf(c, "mesh " + std::to_string(meshIndex) + " does not exist");
    }
    const tinygltf::Mesh& mesh = c.doc.meshes[static_cast<std::size_t>(meshIndex)];
    for (const tinygltf::Primitive& primitive : mesh.primitives) {
        if (!primitive.targets.empty() && !c.notedMorphs) {
            noteGltf(c, "morph targets are not played");
            c.notedMorphs = true;
        }
        addPrimitive(c, primitive, node, "mesh " + std::to_string(meshIndex));
    }
}

}  // namespace

void reserveGltfMeshes(GltfConversion& c)
{
    const tinygltf::Model& doc = c.doc;
    std::size_t vertices = 0, triangles = 0;
    const auto count = [&](int accessor) -> std::size_t {
        return accessor >= 0 && static_cast<std::size_t>(accessor) < doc.accessors.size()
                   ? std::min(doc.accessors[static_cast<std::size_t>(accessor)].count, kMaxGltfValues)
                   : 0;
    };
    for (const int n : c.order) {
        const int mesh = doc.nodes[static_cast<std::size_t>(n)].mesh;
        if (mesh < 0 || static_cast<std::size_t>(mesh) >= doc.meshes.size()) {
            continue;
        }
        for (const tinygltf::Primitive& primitive : doc.meshes[static_cast<std::size_t>(mesh)].primitives) {
            const auto position = primitive.attributes.find("POSITION");
            if (position == primitive.attributes.end()) {
                continue;
            }
            const std::size_t points = count(position->second);
            const std::size_t corners = primitive.indices >= 0 ? count(primitive.indices) : points;
            vertices += points;
            triangles += primitive.mode == TINYGLTF_MODE_TRIANGLES || primitive.mode < 0 ? corners / 3 : corners;
        }
    }
    // 32 bytes per input byte and a third of a MiB, well below the 100 per
    // byte a refused file may cost.
    const std::size_t perVertex = sizeof(Vertex) + sizeof(TexCoord) + 1;
    const std::size_t limit = c.budget / 3;
    if (vertices <= limit / perVertex && triangles <= (limit - vertices * perVertex) / sizeof(Triangle)) {
        c.model.vertices.reserve(vertices);
        c.model.texCoords.reserve(vertices);
        c.normalGiven.reserve(vertices);
        c.model.triangles.reserve(triangles);
    }
}

void addGltfMeshes(GltfConversion& c)
{
    for (const int n : c.order) {
        if (c.doc.nodes[static_cast<std::size_t>(n)].mesh >= 0) {
            addMesh(c, n);
        }
    }
}

void completeGltfNormals(GltfConversion& c)
{
    // Face normals were made with each primitive; vertex normals the file
    // does not give are made from them, and those it gives are kept.
    if (std::memchr(c.normalGiven.data(), 0, c.normalGiven.size()) == nullptr) {
        return;
    }
    std::vector<Vector3> normals(c.model.vertices.size());
    for (std::size_t i = 0; i < normals.size(); ++i) {
        normals[i] = c.model.vertices[i].normal;
    }
    c.model.computeNormals();
    for (std::size_t i = 0; i < normals.size(); ++i) {
        if (c.normalGiven[i]) {
            c.model.vertices[i].normal = normals[i];
        }
    }
}

}  // namespace fyrel
