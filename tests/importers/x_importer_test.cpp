#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "importers/import_error.h"
#include "importers/x/x_importer.h"
#include "importers/x/x_mesh_hierarchy.h"
#include "importers/x/x_reader.h"
#include "x_test_files.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

using namespace fyrel;
using namespace fyrel::test;

namespace {

enum class Encoding { Text, Binary, Binary64, Compressed, CompressedBinary };

std::string encode(const std::string& body, Encoding e)
{
    switch (e) {
    case Encoding::Text: return xText(body);
    case Encoding::Binary: return xBinary(body);
    case Encoding::Binary64: return xBinary(body, 64, true);
    case Encoding::Compressed: return xCompressed(xText(body));
    case Encoding::CompressedBinary: return xCompressed(xBinary(body), 4096);
    }
    return {};
}

std::string frame(const std::string& name, const std::string& inner)
{
    return "Frame " + name + " {\n" + inner + "}\n";
}

// Root with child A (4 vertices, 2 faces) and A's sibling B (3 vertices, 1 face).
std::string twoMeshBody()
{
    return frame("Root", frame("A", xMesh("MA", {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, {{0, 1, 2}, {0, 2, 3}})) +
                             frame("B", xMesh("MB", {5, 0, 0, 6, 0, 0, 5, 1, 0}, {{0, 1, 2}})));
}

void expectMatrixNear(const Matrix4& a, const Matrix4& b, float tolerance = 1e-5f)
{
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(a.m[i], b.m[i], tolerance) << "element " << i;
    }
}

void expectSameBones(const Bone& a, const Bone& b)
{
    EXPECT_EQ(a.name, b.name);
    expectMatrixNear(a.localMatrix, b.localMatrix);
    expectMatrixNear(a.inverseLocalMatrix, b.inverseLocalMatrix);
    ASSERT_EQ(a.weights.size(), b.weights.size()) << a.name;
    for (std::size_t i = 0; i < a.weights.size(); ++i) {
        EXPECT_EQ(a.weights[i].vertex, b.weights[i].vertex);
        EXPECT_FLOAT_EQ(a.weights[i].weight, b.weights[i].weight);
    }
    ASSERT_EQ(a.children.size(), b.children.size()) << a.name;
    for (std::size_t i = 0; i < a.children.size(); ++i) {
        expectSameBones(a.children[i], b.children[i]);
    }
}

void expectSameModel(const Model& a, const Model& b)
{
    ASSERT_EQ(a.vertices.size(), b.vertices.size());
    for (std::size_t i = 0; i < a.vertices.size(); ++i) {
        EXPECT_FLOAT_EQ(a.vertices[i].position.x, b.vertices[i].position.x);
        EXPECT_FLOAT_EQ(a.vertices[i].position.y, b.vertices[i].position.y);
        EXPECT_FLOAT_EQ(a.vertices[i].position.z, b.vertices[i].position.z);
    }
    ASSERT_EQ(a.triangles.size(), b.triangles.size());
    for (std::size_t i = 0; i < a.triangles.size(); ++i) {
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(a.triangles[i].indices[k], b.triangles[i].indices[k]);
        }
    }
    expectSameBones(a.rootBone, b.rootBone);
}

std::vector<std::uint32_t> indicesOf(const Model& m, std::size_t triangle)
{
    const auto& t = m.triangles.at(triangle).indices;
    return {t[0], t[1], t[2]};
}

// A skinned character: a skeleton frame tree, and a body whose mesh is
// weighted to two of its bones, each with its own offset.
std::string skinnedBody()
{
    std::string skin = xSkinWeights("Hip", {0, 1}, {1.0f, 0.5f}, -1, -2, -3) +
                       xSkinWeights("Knee", {1, 2}, {0.5f, 1.0f}, 0, 0, -4);
    return frame("Skeleton", xTranslation(0, 0, 0) +
                                 frame("Hip", xTranslation(1, 2, 3) + frame("Knee", xTranslation(0, 0, 1)))) +
           frame("Body", xLineMesh("BodyMesh", 3, {{0, 1, 2}},
                                   "XSkinMeshHeader { 2; 2; 2; }\n" + skin));
}

class XEncodingTest : public ::testing::TestWithParam<Encoding> {};

}  // namespace

TEST_P(XEncodingTest, TwoFramesConcatenateTheirMeshesInFrameOrder)
{
    Model m = importXBytes(encode(twoMeshBody(), GetParam()));
    ASSERT_EQ(m.vertices.size(), 7u);
    ASSERT_EQ(m.triangles.size(), 3u);
    EXPECT_EQ(indicesOf(m, 0), (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(indicesOf(m, 1), (std::vector<std::uint32_t>{0, 2, 3}));
    EXPECT_EQ(indicesOf(m, 2), (std::vector<std::uint32_t>{4, 5, 6}));
    EXPECT_FLOAT_EQ(m.vertices[3].position.y, 1.0f);
    EXPECT_FLOAT_EQ(m.vertices[4].position.x, 5.0f);
    EXPECT_EQ(m.rootBone.name, "Root");
    ASSERT_EQ(m.rootBone.children.size(), 2u);
    EXPECT_EQ(m.rootBone.children[0].name, "A");
    EXPECT_EQ(m.rootBone.children[1].name, "B");
    EXPECT_TRUE(m.animator.animations.empty());
    EXPECT_EQ(m.animator.model, &m);
}

TEST_P(XEncodingTest, GivesTheSameModelAsTheTextFile)
{
    std::string body = skinnedBody() + twoMeshBody();
    expectSameModel(importXBytes(encode(body, GetParam())), importXBytes(xText(body)));
}

TEST_P(XEncodingTest, SkinWeightsLandOnTheNamedBones)
{
    Model m = importXBytes(encode(skinnedBody(), GetParam()));
    const Bone* hip = m.rootBone.find("Hip");
    const Bone* knee = m.rootBone.find("Knee");
    ASSERT_TRUE(hip && knee);
    ASSERT_EQ(hip->weights.size(), 2u);
    EXPECT_EQ(hip->weights[1].vertex, 1);
    EXPECT_FLOAT_EQ(hip->weights[1].weight, 0.5f);
    ASSERT_EQ(knee->weights.size(), 2u);
    EXPECT_EQ(knee->weights[1].vertex, 2);
}

INSTANTIATE_TEST_SUITE_P(XEncodings, XEncodingTest,
                         ::testing::Values(Encoding::Text, Encoding::Binary, Encoding::Binary64, Encoding::Compressed,
                                           Encoding::CompressedBinary));

TEST(XImporter, IndicesAboveTheSixteenBitRangeAreKept)
{
    // An index of 40000 after a first mesh, and a mesh of more than 65,535
    // vertices whose faces use indices beyond it.
    std::string body = frame("F", xLineMesh("Small", 3, {{0, 1, 2}}) +
                                      frame("G", xLineMesh("Big", 70000, {{40000, 0, 1}, {69999, 65536, 65535}})));
    for (Encoding e : {Encoding::Text, Encoding::Binary}) {
        Model m = importXBytes(encode(body, e));
        ASSERT_EQ(m.vertices.size(), 70003u);
        EXPECT_EQ(indicesOf(m, 1), (std::vector<std::uint32_t>{40003, 3, 4}));
        EXPECT_EQ(indicesOf(m, 2), (std::vector<std::uint32_t>{70002, 65539, 65538}));
        EXPECT_FLOAT_EQ(m.vertices[70002].position.x, 69999.0f);
    }
}

TEST(XImporter, FacesOfMoreCornersAreSplitIntoFans)
{
    Model m = importXBytes(xText(frame("F", xLineMesh("M", 6, {{0, 1, 2, 3}, {5, 4, 3, 2, 1}, {0, 1}}))));
    ASSERT_EQ(m.triangles.size(), 5u);
    EXPECT_EQ(indicesOf(m, 0), (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(indicesOf(m, 1), (std::vector<std::uint32_t>{0, 2, 3}));
    EXPECT_EQ(indicesOf(m, 2), (std::vector<std::uint32_t>{5, 4, 3}));
    EXPECT_EQ(indicesOf(m, 4), (std::vector<std::uint32_t>{5, 2, 1}));
}

TEST(XImporter, UnnamedFramesGiveUnnamedBonesAndTheSkinLineSaysNA)
{
    DebugCapture debug;
    std::string body = frame("", frame("", "") + xLineMesh("", 3, {{0, 1, 2}}, xSkinWeights("Nobody", {0}, {1.0f})));
    Model m = importXBytes(xText(body));
    EXPECT_EQ(m.rootBone.name, "");
    ASSERT_EQ(m.rootBone.children.size(), 1u);
    EXPECT_EQ(m.rootBone.children[0].name, "");
    EXPECT_EQ(debug.text(), "There are 1 bones in N/A\n");
    // The skin names no frame (an unnamed frame cannot be named): the mesh
    // follows the frame that holds it, weight 1 a vertex.
    ASSERT_EQ(m.rootBone.weights.size(), 3u);
    for (const VertexWeight& w : m.rootBone.weights) {
        EXPECT_EQ(w.weight, 1.0f);
    }
    EXPECT_TRUE(m.rootBone.children[0].weights.empty());
}

TEST(XImporter, PrintsOneSkinLinePerSkinnedMesh)
{
    DebugCapture debug;
    importXBytes(xText(skinnedBody() + frame("Plain", xLineMesh("P", 3, {{0, 1, 2}})) +
                       frame("Other", xLineMesh("O", 3, {{0, 1, 2}}, "XSkinMeshHeader { 1; 1; 0; }\n"))));
    EXPECT_EQ(debug.text(), "There are 2 bones in Body\nThere are 0 bones in Other\n");
}

TEST(XImporter, FrameTranslationGivesLocalAndInverseColumns)
{
    Model m = importXBytes(xText(frame("T", xTranslation(1, 2, 3))));
    const Matrix4& local = m.rootBone.localMatrix;
    const Matrix4& inverse = m.rootBone.inverseLocalMatrix;
    EXPECT_FLOAT_EQ(local(0, 3), 1.0f);
    EXPECT_FLOAT_EQ(local(1, 3), 2.0f);
    EXPECT_FLOAT_EQ(local(2, 3), 3.0f);
    EXPECT_FLOAT_EQ(local(3, 0), 0.0f);
    EXPECT_FLOAT_EQ(inverse(0, 3), -1.0f);
    EXPECT_FLOAT_EQ(inverse(1, 3), -2.0f);
    EXPECT_FLOAT_EQ(inverse(2, 3), -3.0f);
}

TEST(XImporter, SkinnedBoneLocalAndInverseAreItsFrameTransformAndItsInverse)
{
    // The offset (a quarter turn and a translation) does not replace the
    // frame's own transform.
    std::string skin = R"(
SkinWeights {
 "Arm";
 1;
 0;
 1.0;
 0.0,1.0,0.0,0.0, -1.0,0.0,0.0,0.0, 0.0,0.0,1.0,0.0, 3.0,-2.0,5.0,1.0;;
}
)";
    Model m = importXBytes(xText(frame("Root", frame("Arm", xTranslation(4, 4, 4)) +
                                                   xLineMesh("M", 3, {{0, 1, 2}}, skin))));
    const Bone* arm = m.rootBone.find("Arm");
    ASSERT_NE(arm, nullptr);
    EXPECT_FLOAT_EQ(arm->localMatrix(0, 3), 4.0f);
    EXPECT_FLOAT_EQ(arm->localMatrix(1, 0), 0.0f);
    Matrix4 product;
    mul(arm->localMatrix, arm->inverseLocalMatrix, product);
    expectMatrixNear(product, Matrix4{});
    mul(arm->inverseLocalMatrix, arm->localMatrix, product);
    expectMatrixNear(product, Matrix4{});
}

TEST(XImporter, DeepScaledSkeletonRestsOnItsMesh)
{
    // Thirty nested frames, each scaling by 1.2 and moving (0, 2, 0.5) in its
    // parent's units: joints reach about 1000 units out. The mesh has one
    // vertex on every joint, weighted to that joint, whose offset matrix is
    // the inverse of its combined transform, as exporters write it.
    constexpr int kFrames = 30;
    constexpr double kScale = 1.2;
    std::vector<float> xyz;
    std::string skins;
    double scale = 1.0, y = 0.0, z = 0.0;  // the combined transform of frame k
    for (int k = 0; k < kFrames; ++k) {
        if (k > 0) {
            y += scale * 2.0;
            z += scale * 0.5;
            scale *= kScale;
        }
        xyz.insert(xyz.end(), {static_cast<float>(k % 2), static_cast<float>(y), static_cast<float>(z)});
        std::ostringstream w;
        w.precision(9);
        const double inv = 1.0 / scale;
        w << "SkinWeights {\n \"F" << k << "\";\n 1;\n " << k << ";\n 1.0;\n " << inv << ",0,0,0, 0," << inv
          << ",0,0, 0,0," << inv << ",0, 0," << -y * inv << "," << -z * inv << ",1;;\n}\n";
        skins += w.str();
    }
    std::vector<std::vector<std::uint32_t>> faces;
    for (std::uint32_t k = 0; k + 2 < kFrames; ++k) {
        faces.push_back({k, k + 1, k + 2});
    }
    std::string tree;
    for (int k = kFrames - 1; k >= 0; --k) {
        std::ostringstream t;
        t.precision(9);
        t << "FrameTransformMatrix {\n " << (k == 0 ? 1.0 : kScale) << ",0,0,0, 0," << (k == 0 ? 1.0 : kScale)
          << ",0,0, 0,0," << (k == 0 ? 1.0 : kScale) << ",0, 0," << (k == 0 ? 0 : 2) << ","
          << (k == 0 ? 0 : 0.5) << ",1;;\n}\n";
        tree = frame("F" + std::to_string(k), t.str() + tree);
    }
    const Model m =
        importXBytes(xText(frame("Body", xMesh("Skin", xyz, faces, "XSkinMeshHeader { 1; 1; 30; }\n" + skins)) +
                           tree));
    ASSERT_EQ(m.vertices.size(), 30u);
    expectRestsOnItsMesh(m);
}

TEST(XImporter, EachMeshSkinCountsFromItsOwnFirstVertex)
{
    std::string body = frame("Root", frame("Bone1", "") + frame("Bone2", "") +
                                         frame("M1", xLineMesh("A", 3, {{0, 1, 2}}, xSkinWeights("Bone1", {0, 2}, {1, 1}))) +
                                         frame("M2", xLineMesh("B", 4, {{0, 1, 2}}, xSkinWeights("Bone2", {0, 3}, {1, 1}))));
    Model m = importXBytes(xText(body));
    const Bone* b1 = m.rootBone.find("Bone1");
    const Bone* b2 = m.rootBone.find("Bone2");
    ASSERT_TRUE(b1 && b2);
    ASSERT_EQ(b1->weights.size(), 2u);
    EXPECT_EQ(b1->weights[1].vertex, 2);
    ASSERT_EQ(b2->weights.size(), 2u);
    EXPECT_EQ(b2->weights[0].vertex, 3);
    EXPECT_EQ(b2->weights[1].vertex, 6);
}

TEST(XImporter, SeveralTopLevelFramesHangUnderOneUnnamedRoot)
{
    Model m = importXBytes(xText(skinnedBody() + frame("Third", "")));
    EXPECT_EQ(m.rootBone.name, "");
    ASSERT_EQ(m.rootBone.children.size(), 3u);
    EXPECT_EQ(m.rootBone.children[0].name, "Skeleton");
    EXPECT_EQ(m.rootBone.children[1].name, "Body");
    EXPECT_EQ(m.rootBone.children[2].name, "Third");
    // The skin of the second top-level frame reaches the bones of the first.
    const Bone* hip = m.rootBone.find("Hip");
    ASSERT_NE(hip, nullptr);
    EXPECT_EQ(hip->weights.size(), 2u);
    EXPECT_EQ(m.rootBone.children[0].children[0].name, "Hip");
}

TEST(XImporter, ConvertFrameWithoutParentKeepsOnlyTheLastTopLevelFrame)
{
    // The bare conversion replaces the root bone for each top-level frame;
    // only the import hangs them under a shared root.
    std::string text = xText(twoMeshBody() + frame("Last", ""));
    XFileData file = readXFile(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    XImportAllocator hierarchy("");
    XFrameTree tree(hierarchy, loadMeshHierarchyFromX(file, hierarchy));
    XImporter importer;
    Model m;
    importer.convertFrame(tree.get(), m, nullptr);
    EXPECT_EQ(m.rootBone.name, "Last");
    EXPECT_EQ(m.vertices.size(), 7u);
    EXPECT_EQ(importer.vertexTotal, 7u);
    EXPECT_EQ(importer.triangleTotal, 3u);
}

TEST(XImporter, MeshOutsideAnyFrameIsWrappedInAnUnnamedFrame)
{
    Model alone = importXBytes(xText(xLineMesh("Loose", 3, {{0, 1, 2}})));
    EXPECT_EQ(alone.rootBone.name, "");
    EXPECT_TRUE(alone.rootBone.children.empty());
    EXPECT_EQ(alone.vertices.size(), 3u);

    Model both = importXBytes(xText(xLineMesh("Loose", 3, {{0, 1, 2}}) + frame("F", "")));
    ASSERT_EQ(both.rootBone.children.size(), 2u);
    EXPECT_EQ(both.rootBone.children[0].name, "");
    EXPECT_EQ(both.rootBone.children[1].name, "F");
}

TEST(XImporter, MeshNamedByReferenceLivesInTheFramesThatNameIt)
{
    std::string body = xLineMesh("Shared", 3, {{0, 1, 2}}) +
                       frame("F", "{ Shared }\n" + frame("G", "{Shared}\n"));
    Model m = importXBytes(xText(body));
    EXPECT_EQ(m.rootBone.name, "F");  // the referenced mesh gets no frame of its own
    ASSERT_EQ(m.vertices.size(), 6u);
    EXPECT_EQ(indicesOf(m, 1), (std::vector<std::uint32_t>{3, 4, 5}));
}

TEST(XImporter, EveryMeshOfAFrameIsConverted)
{
    Model m = importXBytes(xText(frame("F", xLineMesh("One", 3, {{0, 1, 2}}) + xLineMesh("Two", 4, {{3, 2, 1}}))));
    ASSERT_EQ(m.vertices.size(), 7u);
    EXPECT_EQ(indicesOf(m, 1), (std::vector<std::uint32_t>{6, 5, 4}));
}

TEST(XImporter, SkipsAnimationsTicksAndUnknownTemplates)
{
    std::string body = R"(
template UserThing {
 <01234567-89ab-cdef-0123-456789abcdef>
 DWORD n;
 array STRING labels[n];
 [...]
}
AnimTicksPerSecond { 24; }
UserThing { 2; "a{"; "}b"; Nested { 1; 2; { x } } }
NoTemplateAtAll name { 1; "}"; Inner { } }
)" + frame("F", xLineMesh("M", 3, {{0, 1, 2}}) + "UserThing { 0; }\n") + R"(
AnimationSet Walk {
 Animation {
  { F }
  AnimationKey { 0; 2; 0; 4; 1.0, 0.0, 0.0, 0.0;;, 10; 4; 1.0, 0.0, 0.0, 0.0;;; }
  AnimationOptions { 1; 0; }
 }
}
)";
    for (Encoding e : {Encoding::Text, Encoding::Binary, Encoding::Compressed}) {
        Model m = importXBytes(encode(body, e));
        EXPECT_EQ(m.rootBone.name, "F");
        EXPECT_EQ(m.vertices.size(), 3u);
        EXPECT_TRUE(m.animator.animations.empty());
    }
}

TEST(XImporter, GivesEveryModelTheAxisAndUnitConversion)
{
    Model m = importXBytes(xText(twoMeshBody()));
    Vector4 out;
    transform(m.baseTransform, Vector4{100, 200, 300, 1}, out);
    EXPECT_FLOAT_EQ(out.x, -1.0f);
    EXPECT_FLOAT_EQ(out.y, 3.0f);
    EXPECT_FLOAT_EQ(out.z, 2.0f);
    EXPECT_FLOAT_EQ(out.w, 1.0f);
}

TEST(XImporter, NormalsComeFromThePositions)
{
    Model m = importXBytes(xText(frame("F", xMesh("M", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {{0, 1, 2}}))));
    EXPECT_FLOAT_EQ(m.triangles[0].normal.z, -1.0f);
    EXPECT_FLOAT_EQ(m.vertices[2].normal.z, -1.0f);
}

TEST(XImporter, SkeletonsDeeperThanTheLimitAreRejected)
{
    auto nested = [](int depth) {
        std::string s;
        for (int i = 0; i < depth; ++i) s += "Frame f" + std::to_string(i) + " {\n";
        for (int i = 0; i < depth; ++i) s += "}\n";
        return s;
    };
    Model ok = importXBytes(xText(nested(kMaxBoneDepth)));
    const Bone* b = &ok.rootBone;
    int depth = 1;
    while (!b->children.empty()) {
        b = &b->children[0];
        ++depth;
    }
    EXPECT_EQ(depth, kMaxBoneDepth);

    DebugCapture debug;
    try {
        importXBytes(xText(nested(kMaxBoneDepth + 1)));
        FAIL() << "a skeleton deeper than the limit loaded";
    } catch (const ImportError& e) {
        EXPECT_STREQ(e.what(), kXLoadFailedMessage);
    }
    EXPECT_NE(debug.text().find("deeper than 1024"), std::string::npos) << debug.text();
    // Two top-level frames add the shared root: the limit counts it.
    EXPECT_THROW(importXBytes(xText(nested(kMaxBoneDepth) + frame("Other", ""))), ImportError);
}

TEST(XImporter, LongSiblingChainsNeedNoDeepRecursion)
{
    std::string body = "Frame Root {\n";
    for (int i = 0; i < 60000; ++i) body += "Frame{}";
    body += "\n}\n";
    Model m = importXBytes(xText(body));
    EXPECT_EQ(m.rootBone.children.size(), 60000u);
}

namespace {

class XTextureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = std::filesystem::temp_directory_path() /
                  ("fyrel_x_texture_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string modelWithTexture(const std::string& textureName)
    {
        std::string material = "MeshMaterialList { 1; 1; 0;;\n Material { 1.0;1.0;1.0;1.0;; 5.0; 0.0;0.0;0.0;; "
                               "0.0;0.0;0.0;;\n  TextureFilename { \"" +
                               textureName + "\"; }\n }\n}\n";
        return xText(frame("F", xLineMesh("M", 3, {{0, 1, 2}}, material)));
    }

    Model load(const std::string& file)
    {
        return importXBytes(file, (folder_ / "model.x").string());
    }

    void writeFile(const std::string& name, const std::string& bytes)
    {
        std::ofstream(folder_ / name, std::ios::binary) << bytes;
    }

    std::filesystem::path folder_;
};

}  // namespace

TEST_F(XTextureTest, MissingTextureIsSkipped)
{
    EXPECT_EQ(load(modelWithTexture("nowhere.png")).vertices.size(), 3u);
    EXPECT_EQ(load(modelWithTexture("")).vertices.size(), 3u);
}

TEST_F(XTextureTest, ExistingImageLoads)
{
    unsigned char pixels[4 * 4 * 3] = {};
    ASSERT_TRUE(stbi_write_png((folder_ / "skin.png").c_str(), 4, 4, 3, pixels, 12));
    ASSERT_TRUE(stbi_write_tga((folder_ / "sub_skin.tga").c_str(), 4, 4, 3, pixels));
    EXPECT_EQ(load(modelWithTexture("skin.png")).vertices.size(), 3u);
    // Backslashes of files written on Windows are folder separators.
    std::filesystem::create_directories(folder_ / "sub");
    std::filesystem::rename(folder_ / "sub_skin.tga", folder_ / "sub" / "skin.tga");
    EXPECT_EQ(load(modelWithTexture(".\\\\sub\\\\skin.tga")).vertices.size(), 3u);
}

TEST_F(XTextureTest, ExistingFileThatIsNotAnImageFails)
{
    writeFile("notes.png", "these are notes, not pixels");
    DebugCapture debug;
    try {
        load(modelWithTexture("notes.png"));
        FAIL() << "a text file passed as a texture";
    } catch (const ImportError& e) {
        EXPECT_STREQ(e.what(), "Failed to load texture");
    }
    EXPECT_NE(debug.text().find("notes.png"), std::string::npos);

    std::filesystem::create_directories(folder_ / "folder.png");
    EXPECT_THROW(load(modelWithTexture("folder.png")), ImportError);
}

TEST(XImporterFile, ReadsFromAPathAndRejectsWhatIsNoFile)
{
    auto path = std::filesystem::temp_directory_path() / "fyrel_x_path_test.x";
    std::ofstream(path, std::ios::binary) << xText(twoMeshBody());
    XImporter importer;
    EXPECT_EQ(importer.load(path.string()).vertices.size(), 7u);
    std::filesystem::remove(path);

    DebugCapture debug;
    try {
        importer.load(path.string());
        FAIL();
    } catch (const ImportError& e) {
        EXPECT_STREQ(e.what(), "Failed to load mesh from hierarchy, haha.");
    }
    EXPECT_NE(debug.text().find("no such file"), std::string::npos);
    EXPECT_THROW(importer.load(std::filesystem::temp_directory_path().string()), ImportError);
}
