#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>


#include "animation/pose.h"
#include "animation/sampling.h"
#include "importers/gltf/gltf_document.h"
#include "importers/gltf/gltf_importer.h"
#include "importers/model_formats.h"
#include "support/import_check.h"
#include "support/source_tree.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string base64(const Bytes& bytes)
{
    static const char* const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::uint32_t n = (bytes[i] << 16) | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0) |
                                (i + 2 < bytes.size() ? bytes[i + 2] : 0);
        out += digits[(n >> 18) & 63];
        out += digits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[n & 63] : '=';
    }
    return out;
}

// The buffer every document below shares, tests/data/gltf/buffers/square.bin,
// holds at 0 the four corners of a unit square in z = 0 going round (floats);
// at 48 the indices 0 1 2 0 2 3 (unsigned shorts); at 60 three floats (0, 0, 9)
// for sparse values and at 72 one unsigned short 2 for their index; at 76 the
// corners in strip order (zigzag) as normalized unsigned bytes, 8 bytes apart;
// from 108, for clips: key times 0 and 1, translations (0, 0, 0) and (2, 0, 0),
// scales 1 and 3, rotations none and a quarter turn about z, and a cubic
// spline of scales 1 and 3 with flat tangents.
// A document over that buffer: views 0 positions, 1 indices, 2 sparse
// values, 3 sparse index, 4 byte corners (stride 8), 5 key times, 6
// translations, 7 scales, 8 rotations, 9 a cubic spline; the caller supplies
// accessors, meshes, nodes and animations, and may replace the buffer's URI.
std::string document(const std::string& accessors, const std::string& meshes, const std::string& nodes,
                     const std::string& uri = "", const std::string& animations = "")
{
    const std::string file = fileBytes(sourcePath("tests/data/gltf/buffers/square.bin"));
    const Bytes b(file.begin(), file.end());
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],)"
           R"("buffers":[{"byteLength":)" +
           std::to_string(b.size()) + R"(,"uri":")" +
           (uri.empty() ? "data:application/octet-stream;base64," + base64(b) : uri) +
           R"("}],"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":48},)"
           R"({"buffer":0,"byteOffset":48,"byteLength":12},{"buffer":0,"byteOffset":60,"byteLength":12},)"
           R"({"buffer":0,"byteOffset":72,"byteLength":2},{"buffer":0,"byteOffset":76,"byteLength":32,"byteStride":8},)"
           R"({"buffer":0,"byteOffset":108,"byteLength":8},{"buffer":0,"byteOffset":116,"byteLength":24},)"
           R"({"buffer":0,"byteOffset":140,"byteLength":24},{"buffer":0,"byteOffset":164,"byteLength":32},)"
           R"({"buffer":0,"byteOffset":196,"byteLength":72}],)"
           R"("accessors":[)" +
           accessors + R"(],"meshes":[)" + meshes + R"(],"nodes":[)" + nodes + "]" +
           (animations.empty() ? "" : R"(,"animations":[)" + animations + "]") + "}";
}

const std::string kPositions = R"({"bufferView":0,"componentType":5126,"count":4,"type":"VEC3"})";
const std::string kIndices = R"({"bufferView":1,"componentType":5123,"count":6,"type":"SCALAR"})";
const std::string kQuad = R"({"primitives":[{"attributes":{"POSITION":0},"indices":1}]})";

Model load(const std::string& json)
{
    return importGltfFromMemory(reinterpret_cast<const std::uint8_t*>(json.data()), json.size(), "test.gltf");
}

// A vertex as the file placed it (before the base transform).
Vector3 at(const Model& m, std::size_t i)
{
    return m.vertices.at(i).position;
}

TEST(GltfImport, ReadsTrianglesStripsFansStridesSparseAndNodeTransforms)
{
    struct Case {
        const char* name;
        std::string json;
        std::size_t vertex;
        Vector3 expected;  // where that vertex lands
        bool flat;         // the square: both triangles must face one way along z
    };
    const std::string strip =
        R"({"primitives":[{"attributes":{"POSITION":0},"mode":5}]})";
    const std::string node = R"({"mesh":0})";
    const Case cases[] = {
        {"indexed triangle list", document(kPositions + "," + kIndices, kQuad, node), 2, {1, 1, 0}, true},
        {"strip of normalized bytes with a stride",
         document(R"({"bufferView":4,"componentType":5121,"normalized":true,"count":4,"type":"VEC3"})", strip, node),
         2, {0, 1, 0}, true},
        {"fan", document(kPositions, R"({"primitives":[{"attributes":{"POSITION":0},"mode":6}]})", node), 1,
         {1, 0, 0}, true},
        {"sparse substitution",
         document(R"({"bufferView":0,"componentType":5126,"count":4,"type":"VEC3","sparse":{"count":1,)"
                  R"("indices":{"bufferView":3,"componentType":5123},"values":{"bufferView":2}}},)" +
                      kIndices,
                  kQuad, node),
         2, {0, 0, 9}, false},
        {"translation, rotation and scale of parent and child",
         document(kPositions + "," + kIndices, kQuad,
                  R"({"children":[1],"translation":[0,0,5]},)"
                  R"({"mesh":0,"scale":[2,2,2],"rotation":[0,0,0.70710678,0.70710678]})"),
         1, {0, 2, 5}, true},
        {"column-major matrix",
         document(kPositions + "," + kIndices, kQuad, R"({"mesh":0,"matrix":[1,0,0,0, 0,1,0,0, 0,0,1,0, 3,4,5,1]})"),
         1, {4, 4, 5}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Model m = load(c.json);
        ASSERT_EQ(m.triangles.size(), 2u);
        const Vector3 p = at(m, c.vertex);
        EXPECT_NEAR(p.x, c.expected.x, 1e-5f);
        EXPECT_NEAR(p.y, c.expected.y, 1e-5f);
        EXPECT_NEAR(p.z, c.expected.z, 1e-5f);
        // Strips alternate their corners so that every triangle keeps the winding.
        if (c.flat) {
            EXPECT_NEAR(std::fabs(m.triangles[0].normal.z), 1.0f, 1e-6f);
            EXPECT_EQ(m.triangles[1].normal.z, m.triangles[0].normal.z);
        }
    }

    // The corners read as normals, under a mirror: the normals mirror too
    // (the corner at the origin is no direction, so none is given there).
    const Model mirrored = load(document(kPositions + "," + kIndices,
                                         R"({"primitives":[{"attributes":{"POSITION":0,"NORMAL":0},"indices":1}]})",
                                         R"({"mesh":0,"scale":[-1,1,1]})"));
    EXPECT_NEAR(mirrored.vertices.at(1).normal.x, -1.0f, 1e-6f);
    const float h = 1.0f / std::sqrt(2.0f);
    EXPECT_NEAR(mirrored.vertices.at(2).normal.x, -h, 1e-6f);
    EXPECT_NEAR(mirrored.vertices.at(2).normal.y, h, 1e-6f);
    // Indices must stay below the vertex count, the last vertex's index included.
    const std::string threeCorners = R"({"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"})";
    const std::string message = failureOf([&] { load(document(threeCorners + "," + kIndices, kQuad, node)); });
    EXPECT_NE(message.find("an index of mesh 0 names vertex 3 of 3"), std::string::npos) << message;
}

// A list of triangles long enough to be read four at a time, its corners
// as bytes, unsigned shorts or unsigned ints: every corner lands where it
// was, and a corner beyond the ten vertices is named wherever it lies. The
// ten packed points, read four at a time too, are the positions and (made
// unit) the normals of the vertices they belong to.
TEST(GltfImport, LongTriangleListsKeepEveryCornerAndNameTheFirstBeyond)
{
    constexpr std::uint32_t kVertices = 10;
    std::vector<std::uint32_t> corners;  // nine triangles: two fours and one more
    for (std::uint32_t t = 0; t < 9; ++t) {
        corners.insert(corners.end(), {t % kVertices, (t + 3) % kVertices, (t + 6) % kVertices});
    }
    const auto point = [](std::uint32_t v) {
        return Vector3{std::cos(float(v)), std::sin(float(v)), 0.1f * float(v * v)};
    };
    // Skinned: every vertex on one joint at rest, weight 1 (the skinned
    // vertices' own path, which makes their normals unit four at a time too).
    const auto documentWith = [&](const std::vector<std::uint32_t>& list, int bytesPerIndex, bool skinned = false) {
        Bytes b;
        for (std::uint32_t v = 0; v < kVertices; ++v) {
            const Vector3 p = point(v);
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(&p);
            b.insert(b.end(), bytes, bytes + sizeof p);
        }
        for (const std::uint32_t c : list) {
            for (int k = 0; k < bytesPerIndex; ++k) {
                b.push_back(static_cast<std::uint8_t>(c >> (8 * k)));
            }
        }
        const int type = bytesPerIndex == 1 ? 5121 : bytesPerIndex == 2 ? 5123 : 5125;
        const std::size_t indexBytes = list.size() * static_cast<std::size_t>(bytesPerIndex);
        b.resize((b.size() + 3) / 4 * 4, 0);
        const std::size_t skinAt = b.size();
        if (skinned) {
            b.resize(b.size() + 4 * kVertices, 0);  // joint 0, as bytes
            const float weights[4] = {1.0f, 0.0f, 0.0f, 0.0f};
            for (std::uint32_t v = 0; v < kVertices; ++v) {
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(weights);
                b.insert(b.end(), bytes, bytes + sizeof weights);
            }
            const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(identity);
            b.insert(b.end(), bytes, bytes + sizeof identity);
        }
        const std::string skin =
            !skinned ? std::string(R"("nodes":[{"mesh":0}],)")
                     : R"("nodes":[{"mesh":0,"skin":0},{"name":"joint"}],"skins":[{"joints":[1],"inverseBindMatrices":4}],)"
                       "";
        const std::string skinAttributes = skinned ? R"(,"JOINTS_0":2,"WEIGHTS_0":3)" : "";
        const std::string skinViews =
            !skinned ? std::string()
                     : R"(,{"buffer":0,"byteOffset":)" + std::to_string(skinAt) + R"(,"byteLength":40},)"
                       R"({"buffer":0,"byteOffset":)" + std::to_string(skinAt + 40) + R"(,"byteLength":160},)"
                       R"({"buffer":0,"byteOffset":)" + std::to_string(skinAt + 200) + R"(,"byteLength":64})";
        const std::string skinAccessors =
            !skinned ? std::string()
                     : R"(,{"bufferView":2,"componentType":5121,"count":10,"type":"VEC4"},)"
                       R"({"bufferView":3,"componentType":5126,"count":10,"type":"VEC4"},)"
                       R"({"bufferView":4,"componentType":5126,"count":1,"type":"MAT4"})";
        return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0)" + std::string(skinned ? ",1" : "") +
               R"(]}],)" + skin +
               R"("meshes":[{"primitives":[{"attributes":{"POSITION":0,"NORMAL":0)" + skinAttributes +
               R"(},"indices":1}]}],)"
               R"("buffers":[{"byteLength":)" + std::to_string(b.size()) +
               R"(,"uri":"data:application/octet-stream;base64,)" + base64(b) + R"("}],)"
               R"("bufferViews":[{"buffer":0,"byteLength":120},{"buffer":0,"byteOffset":120,"byteLength":)" +
               std::to_string(indexBytes) + "}" + skinViews + R"(],"accessors":[)"
               R"({"bufferView":0,"componentType":5126,"count":10,"type":"VEC3"},)"
               R"({"bufferView":1,"componentType":)" + std::to_string(type) +
               R"(,"count":)" + std::to_string(list.size()) + R"(,"type":"SCALAR"})" + skinAccessors + "]}";
    };
    for (const int width : {1, 2, 4, -4}) {
        SCOPED_TRACE(width);
        const Model m = load(documentWith(corners, std::abs(width), width < 0));
        ASSERT_EQ(m.triangles.size(), 9u);
        for (std::size_t t = 0; t < 9; ++t) {
            SCOPED_TRACE(t);
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(m.triangles[t].indices[k], corners[3 * t + static_cast<std::size_t>(k)]);
            }
            const Vector3& n = m.triangles[t].normal;
            EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 1.0f, 1e-5f);
        }
        ASSERT_EQ(m.vertices.size(), kVertices);
        EXPECT_TRUE(m.texCoords.empty());  // none in the file: none made up
        for (std::uint32_t v = 0; v < kVertices; ++v) {
            SCOPED_TRACE(v);
            const Vector3 p = point(v), &placed = m.vertices[v].position, &n = m.vertices[v].normal;
            EXPECT_TRUE(placed.x == p.x && placed.y == p.y && placed.z == p.z);
            const float length = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
            EXPECT_NEAR(n.x, p.x / length, 1e-6f);
            EXPECT_NEAR(n.y, p.y / length, 1e-6f);
            EXPECT_NEAR(n.z, p.z / length, 1e-6f);
        }
    }
    struct Bad {
        const char* name;
        int width;
        std::size_t corner;
        std::uint32_t index;
        const char* message;
    };
    const Bad bad[] = {
        {"short, the second four", 2, 17, kVertices, "names vertex 10 of 10"},
        {"short, the largest", 2, 2, 65535, "names vertex 65535 of 10"},
        {"int with its top bit set, the first four", 4, 4, 0x80000001u, "names vertex 2147483649 of 10"},
        {"int, the triangle after the fours", 4, 26, 11, "names vertex 11 of 10"},
        {"byte", 1, 9, 200, "names vertex 200 of 10"},
    };
    for (const Bad& c : bad) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint32_t> list = corners;
        list[c.corner] = c.index;
        const std::string message = failureOf([&] { load(documentWith(list, c.width)); });
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
}

TEST(GltfImport, ClipsMoveTheirNodesWithLinearStepAndCubicKeysOfEveryKind)
{
    // Accessors 2.. of the clips: times, translations, scales, rotations,
    // cubic scales, other times.
    const std::string accessors =
        kPositions + "," + kIndices +
        R"(,{"bufferView":5,"componentType":5126,"count":2,"type":"SCALAR","min":[0],"max":[1]})"
        R"(,{"bufferView":6,"componentType":5126,"count":2,"type":"VEC3"})"
        R"(,{"bufferView":7,"componentType":5126,"count":2,"type":"VEC3"})"
        R"(,{"bufferView":8,"componentType":5126,"count":2,"type":"VEC4"})"
        R"(,{"bufferView":9,"componentType":5126,"count":6,"type":"VEC3"})"
        R"(,{"bufferView":6,"byteOffset":8,"componentType":5126,"count":2,"type":"SCALAR"})";  // times 0 and 2
    // The node rests a quarter turn about z, one up in z.
    const std::string node = R"({"mesh":0,"translation":[0,0,1],"rotation":[0,0,0.70710678,0.70710678]})";
    const auto clip = [](const char* path, int output, const char* interpolation) {
        return std::string(R"({"name":"c","samplers":[{"input":2,"output":)") + std::to_string(output) +
               R"(,"interpolation":")" + interpolation + R"("}],"channels":[{"sampler":0,"target":{"node":0,"path":")" +
               path + R"("}}]})";
    };
    struct Case {
        const char* name;
        std::string animation;
        float time;
        Vector3 expected;  // where the corner (1, 0, 0) stands
    };
    const Case cases[] = {
        {"linear translation", clip("translation", 3, "LINEAR"), 0.5f, {1, 1, 0}},
        {"linear scale", clip("scale", 4, "LINEAR"), 0.5f, {0, 2, 1}},
        {"step rotation before its second key", clip("rotation", 5, "STEP"), 0.9f, {1, 0, 1}},
        {"cubic-spline scale", clip("scale", 6, "CUBICSPLINE"), 0.25f, {0, 1.3125f, 1}},
        // Keys at 0 and 1 for the translation, at 0 and 2 for the scale:
        // the bone's keys are made at all three times.
        {"channels keyed at different times",
         R"({"name":"c","samplers":[{"input":2,"output":3},{"input":7,"output":4}],)"
         R"("channels":[{"sampler":0,"target":{"node":0,"path":"translation"}},)"
         R"({"sampler":1,"target":{"node":0,"path":"scale"}}]})",
         1.5f, {2, 2.5f, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Model m = load(document(accessors, kQuad, node, "", c.animation));
        ASSERT_EQ(m.animator.animations.size(), 1u);
        EXPECT_EQ(m.animator.animations[0].name, "c");
        updateAnimator(m, c.time);
        updatePose(m);
        const Vector3 p = m.skinnedVertices.at(1).position;
        EXPECT_NEAR(p.x, c.expected.x, 2e-3f);
        EXPECT_NEAR(p.y, c.expected.y, 2e-3f);
        EXPECT_NEAR(p.z, c.expected.z, 2e-3f);
    }
}

TEST(GltfImport, JsonNestedDeeperThanTheLimitIsRefusedBracketsInStringsDoNotCount)
{
    // Root object, "extras", then arrays nested `arrays` deep: 1 + arrays
    // levels, after a string of `pad` bytes (which moves the deep part across
    // the scan's 64-byte blocks) that may hold escaped quotes and brackets.
    const auto json = [](int arrays, std::size_t pad, bool escapes) {
        std::string padding(pad, 'x');
        if (escapes) {
            padding += R"(\"[[[\\)";
        }
        return R"({"asset":{"version":"2.0"},"pad":")" + padding + R"(","extras":)" + std::string(arrays, '[') +
               std::string(arrays, ']') + "}";
    };
    for (const std::size_t pad : {0, 7, 40, 63, 64, 100}) {
        for (const bool escapes : {false, true}) {
            for (const int arrays : {kMaxGltfJsonDepth - 1, kMaxGltfJsonDepth}) {
                SCOPED_TRACE(std::to_string(pad) + (escapes ? " escapes " : " ") + std::to_string(arrays));
                const std::string text = json(arrays, pad, escapes);
                const auto loadText = [&] {
                    loadGltfDocumentFromMemory(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), "t");
                };
                if (arrays == kMaxGltfJsonDepth) {
                    const std::string message = failureOf(loadText);
                    EXPECT_NE(message.find("nests deeper than 256 levels"), std::string::npos) << message;
                } else {
                    EXPECT_NO_THROW(loadText());
                }
            }
        }
    }
    // Three hundred opening brackets inside a string, after an escaped quote.
    const std::string quoted =
        R"({"asset":{"version":"2.0"},"extras":{"s":"\")" + std::string(300, '[') + R"("}})";
    EXPECT_NO_THROW(
        loadGltfDocumentFromMemory(reinterpret_cast<const std::uint8_t*>(quoted.data()), quoted.size(), "t"));
}

TEST(GltfImport, TurnsYUpModelsUpright)
{
    // glTF's +y is up and +z the front: (x, y, z) → (−x, z, y).
    const Model m = load(document(kPositions + "," + kIndices, kQuad, R"({"mesh":0,"translation":[0,-3,0]})"));
    Vector4 p{1, 1 - 3, 0, 1}, placed;
    transform(m.baseTransform, p, placed);
    EXPECT_NEAR(placed.x, -1.0f, 1e-6f);
    EXPECT_NEAR(placed.y, 0.0f, 1e-6f);
    EXPECT_NEAR(placed.z, -2.0f, 1e-6f);
}

TEST(GltfImport, RealFilesLoadWithTheirCountsAndBrokenOnesFailWithAMessage)
{
    struct Case {
        const char* file;  // under assimp-testmodels' glTF2 folder
        std::size_t vertices, triangles;
        const char* message;  // when it must fail
    };
    const Case cases[] = {
        {"simple_skin/simple_skin.gltf", 10, 8, nullptr},
        {"BoxTextured-glTF/BoxTextured.gltf", 24, 12, nullptr},
        {"BoxTextured-glTF-Binary/BoxTextured.glb", 24, 12, nullptr},
        {"BoxTextured-glTF-Embedded/BoxTextured.gltf", 24, 12, nullptr},
        {"glTF-Asset-Generator/Mesh_PrimitiveMode/Mesh_PrimitiveMode_05.gltf", 4, 2, nullptr},
        {"glTF-Asset-Generator/Mesh_PrimitiveMode/Mesh_PrimitiveMode_06.gltf", 6, 2, nullptr},
        {"IndexOutOfRange/IndexOutOfRange.gltf", 0, 0, "an index of mesh 0 names vertex 255 of 24"},
        {"RecursiveNodes/RecursiveNodes.gltf", 0, 0, "is its own ancestor"},
        {"MissingBin/BoxTextured.gltf", 0, 0, "File not found : BoxTextured0.bin"},
        {"BoxWithInfinites-glTF-Binary/BoxWithInfinites.glb", 0, 0, "a position of mesh 0 is not a number"},
        {"TestNoRootNode/NoScene.gltf", 0, 0, "scene 0 does not exist"},
        {"draco/2CylinderEngine.gltf", 0, 0, "bufferView"},
        // glTF 1.0: not ours to read; the format table hands it to Assimp.
        {"../glTF/BoxTextured-glTF/BoxTextured.gltf", 24, 12, "it is glTF 1.0, which this reader does not read"},
        {"../glTF/TwoBoxes/TwoBoxes.gltf", 48, 24, "it is glTF 1.0, which"},
        {"../glTF/BoxTextured-glTF-Binary/BoxTextured.glb", 0, 0, "it is binary glTF 1.0, which"},
    };
    const std::string folder = "/usr/share/assimp/models/glTF2/";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (c.message) {
            const std::string m = failureOf([&] { importGltf(folder + c.file); });
            EXPECT_NE(m.find(c.message), std::string::npos) << m;
            if (std::string(c.message).find("glTF 1.0") != std::string::npos) {
#ifdef FYREL_HAS_IMPORT_WORKER
                if (c.vertices > 0) {
                    const Model older = importModelFile(folder + c.file);
                    EXPECT_EQ(older.vertices.size(), c.vertices);
                    EXPECT_EQ(older.triangles.size(), c.triangles);
                    continue;
                }
#endif
                // Neither reader: both say why.
                const std::string both = failureOf([&] { importModelFile(folder + c.file); });
                EXPECT_NE(both.find(c.message), std::string::npos) << both;
                EXPECT_NE(both.find("cannot be read"), std::string::npos) << both;
            }
            continue;
        }
        const Model m = importGltf(folder + c.file);
        EXPECT_EQ(m.vertices.size(), c.vertices);
        EXPECT_EQ(m.triangles.size(), c.triangles);
    }
}

// The KHR_texture_transform sample: every quad's texture coordinates (the
// file's corners (0, 0) … (0.5, 0.5) for the offsets, (0, 0) … (1, 1) for
// the rest) come out scaled, turned counter-clockwise with t down, then
// offset, so that the "Rotation" quad's arrow points at the sample's green
// marker and not at its red one (seen under Xvfb).
TEST(GltfImport, TextureTransformsMoveTheirMaterialsCoordinates)
{
    struct Case {
        const char* material;
        float side, offset[2], turn, scale;
    };
    const Case cases[] = {
        {"Offset U", 0.5f, {0.5f, 0}, 0, 1},    {"Offset V", 0.5f, {0, 0.5f}, 0, 1},
        {"Rotation", 1, {0, 0}, 0.3926991f, 1}, {"Scale", 1, {0, 0}, 0, 1.5f},
        {"All", 1, {-0.2f, -0.1f}, 0.3f, 1.5f}, {"Correct", 1, {0, 0}, 0, 1},
    };
    const Model m = importGltf("/usr/share/assimp/models/glTF2/textureTransform/TextureTransformTest.gltf");
    ASSERT_EQ(m.texCoords.size(), m.vertices.size());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.material);
        std::vector<TexCoord> expected;
        for (const float u : {0.0f, c.side}) {
            for (const float v : {0.0f, c.side}) {
                const float cs = std::cos(c.turn), sn = std::sin(c.turn);
                expected.push_back({c.scale * (cs * u + sn * v) + c.offset[0], c.scale * (cs * v - sn * u) + c.offset[1]});
            }
        }
        int corners = 0;
        for (const Triangle& t : m.triangles) {
            if (m.materials.at(t.material).name != c.material) {
                continue;
            }
            for (const std::uint32_t i : t.indices) {
                const TexCoord uv = m.texCoords[i];
                ++corners;
                EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [&](const TexCoord& e) {
                    return std::fabs(e.s - uv.s) < 1e-5f && std::fabs(e.t - uv.t) < 1e-5f;
                })) << "(" << uv.s << ", " << uv.t << ")";
            }
        }
        EXPECT_GT(corners, 0);
    }
    // The transformed textures clamp at their edges, as their sampler says;
    // a texture without a sampler repeats.
    for (const Material& material : m.materials) {
        const TextureWrap wrap = material.name == "Correct" ? TextureWrap::Repeat : TextureWrap::ClampToEdge;
        if (material.name == "Correct" || material.name == "Rotation") {
            EXPECT_EQ(material.wrapS, wrap) << material.name;
            EXPECT_EQ(material.wrapT, wrap) << material.name;
        }
    }
}

}  // namespace
