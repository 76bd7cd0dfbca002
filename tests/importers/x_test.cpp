// The .X importer on files written here in the text syntax. Other encodings,
// damaged and hostile files are regression files (tests/data/x, read by
// hostile_test against their manifest).

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "importers/x/x_hierarchy.h"
#include "importers/x/x_importer.h"
#include "importers/x/x_mesh_hierarchy.h"
#include "importers/x/x_reader.h"
#include "importers/x/x_texture.h"
#include "support/import_check.h"
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

// A skeleton frame tree, and a body whose mesh is weighted to two of its
// bones, each with its own offset.
std::string skinnedBody()
{
    const std::string skin = xSkinWeights("Hip", {0, 1}, {1.0f, 0.5f}, -1, -2, -3) +
                             xSkinWeights("Knee", {1, 2}, {0.5f, 1.0f}, 0, 0, -4);
    return frame("Skeleton", xTranslation(0, 0, 0) +
                                 frame("Hip", xTranslation(1, 2, 3) + frame("Knee", xTranslation(0, 0, 1)))) +
           frame("Body", xLineMesh("BodyMesh", 3, {{0, 1, 2}}, "XSkinMeshHeader { 2; 2; 2; }\n" + skin));
}

// "Root(A(C) B)": names, children in parentheses.
std::string treeOf(const Bone& b)
{
    std::string s = b.name;
    for (std::size_t i = 0; i < b.children.size(); ++i) {
        s += (i ? " " : "(") + treeOf(b.children[i]) + (i + 1 == b.children.size() ? ")" : "");
    }
    return s;
}

std::string trianglesOf(const Model& m)
{
    std::ostringstream s;
    for (const Triangle& t : m.triangles) {
        s << (&t == &m.triangles[0] ? "" : ",") << t.indices[0] << " " << t.indices[1] << " " << t.indices[2];
    }
    return s.str();
}

std::string weightsOf(const Bone* b)
{
    std::ostringstream s;
    for (std::size_t i = 0; b && i < b->weights.size(); ++i) {
        s << (i ? " " : "") << b->weights[i].vertex << ":" << b->weights[i].weight;
    }
    return s.str();
}

Model load(const std::string& body)
{
    DebugCapture quiet;
    return importXBytes(xText(body));
}

}  // namespace

TEST(XImporter, FramesBecomeBonesAndTheirMeshesOneMeshInFileOrder)
{
    struct Case {
        const char* what;
        std::string body;
        const char* tree;
        std::size_t vertices;
        const char* triangles;
    };
    const std::string loose = xLineMesh("Loose", 3, {{0, 1, 2}});
    const Case cases[] = {
        {"two frames", twoMeshBody(), "Root(A B)", 7, "0 1 2,0 2 3,4 5 6"},
        {"faces of more corners become fans", frame("F", xLineMesh("M", 6, {{0, 1, 2, 3}, {5, 4, 3, 2, 1}, {0, 1}})),
         "F", 6, "0 1 2,0 2 3,5 4 3,5 3 2,5 2 1"},
        {"every mesh of a frame", frame("F", xLineMesh("One", 3, {{0, 1, 2}}) + xLineMesh("Two", 4, {{3, 2, 1}})), "F",
         7, "0 1 2,6 5 4"},
        {"a mesh outside any frame gets an unnamed one", loose, "", 3, "0 1 2"},
        {"beside a frame", loose + frame("F", ""), "( F)", 3, "0 1 2"},
        {"a mesh named by reference lives where it is named", loose + frame("F", "{ Loose }\n" + frame("G", "{Loose}\n")),
         "F(G)", 6, "0 1 2,3 4 5"},
        {"several top-level frames hang under an unnamed root", skinnedBody() + frame("Third", ""),
         "(Skeleton(Hip(Knee)) Body Third)", 3, "0 1 2"},
        {"unnamed frames", frame("", frame("", "") + loose), "()", 3, "0 1 2"},
        {"indices above the 16-bit range",
         frame("F", xLineMesh("Small", 3, {{0, 1, 2}}) +
                        frame("G", xLineMesh("Big", 70000, {{40000, 0, 1}, {69999, 65536, 65535}}))),
         "F(G)", 70003, "0 1 2,40003 3 4,70002 65539 65538"},
    };
    for (const Case& c : cases) {
        const Model m = load(c.body);
        EXPECT_EQ(treeOf(m.rootBone), c.tree) << c.what;
        EXPECT_EQ(m.vertices.size(), c.vertices) << c.what;
        EXPECT_EQ(trianglesOf(m), c.triangles) << c.what;
        EXPECT_TRUE(m.animator.animations.empty()) << c.what;
    }
    EXPECT_EQ(load(twoMeshBody()).vertices[4].position, (Vector3{5, 0, 0}));
    EXPECT_EQ(load(frame("Root", repeated("Frame{}", 60000))).rootBone.children.size(), 60000u);  // no deep recursion
}

TEST(XImporter, SkinsWeightTheBonesTheyNameCountingFromTheirOwnMesh)
{
    struct Case {
        const char* what;
        std::string body;
        const char* bone;
        const char* weights;  // vertex:weight
        const char* summary;  // the debug output
    };
    const std::string twoMeshes =
        frame("Root", frame("Bone1", "") + frame("Bone2", "") +
                          frame("M1", xLineMesh("A", 3, {{0, 1, 2}}, xSkinWeights("Bone1", {0, 2}, {1, 1}))) +
                          frame("M2", xLineMesh("B", 4, {{0, 1, 2}}, xSkinWeights("Bone2", {0, 3}, {1, 0.25f}))));
    const std::string unnamed = frame("", frame("", "") + xLineMesh("", 3, {{0, 1, 2}}, xSkinWeights("Nobody", {0}, {1})));
    const std::string plain = skinnedBody() + frame("Plain", xLineMesh("P", 3, {{0, 1, 2}})) +
                              frame("Other", xLineMesh("O", 3, {{0, 1, 2}}, "XSkinMeshHeader { 1; 1; 0; }\n"));
    const Case cases[] = {
        {"the skeleton of another top-level frame", skinnedBody(), "Hip", "0:1 1:0.5", "There are 2 bones in Body\n"},
        {"a second bone", skinnedBody(), "Knee", "1:0.5 2:1", "There are 2 bones in Body\n"},
        {"the second mesh's first vertex", twoMeshes, "Bone2", "3:1 6:0.25", "There are 1 bones in M1\nThere are 1 bones in M2\n"},
        {"no frame of that name: the mesh follows its frame", unnamed, "", "0:1 1:1 2:1", "There are 1 bones in N/A\n"},
        {"one line per skinned mesh", plain, "Hip", "0:1 1:0.5", "There are 2 bones in Body\nThere are 0 bones in Other\n"},
    };
    for (const Case& c : cases) {
        DebugCapture debug;
        const Model m = importXBytes(xText(c.body));
        EXPECT_EQ(weightsOf(m.rootBone.find(c.bone)), c.weights) << c.what;
        EXPECT_EQ(debug.text(), c.summary) << c.what;
    }
}

TEST(XImporter, BonesRestWhereTheirFramesPutThemAndTheModelStandsUp)
{
    // The skin's offset (a quarter turn and a translation) does not replace
    // the frame's own transform.
    const std::string skin = "SkinWeights { \"Arm\"; 1; 0; 1.0; 0.0,1.0,0.0,0.0, -1.0,0.0,0.0,0.0, 0.0,0.0,1.0,0.0, "
                             "3.0,-2.0,5.0,1.0;; }\n";
    const Model m = load(frame("Root", frame("Arm", xTranslation(4, 5, 6)) + xLineMesh("M", 3, {{0, 1, 2}}, skin)));
    const Bone* arm = m.rootBone.find("Arm");
    ASSERT_NE(arm, nullptr);
    Matrix4 expected, forth, back;
    translationMatrix(Vector3{4, 5, 6}, expected);
    mul(arm->localMatrix, arm->inverseLocalMatrix, forth);
    mul(arm->inverseLocalMatrix, arm->localMatrix, back);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(arm->localMatrix.m[i], expected.m[i], 1e-5f) << i;
        EXPECT_NEAR(forth.m[i], Matrix4{}.m[i], 1e-5f) << i;
        EXPECT_NEAR(back.m[i], Matrix4{}.m[i], 1e-5f) << i;
    }
    // Z is up, one unit is a hundred of the file's: (x, y, z) -> (-x, z, y) / 100.
    Vector4 out;
    transform(m.baseTransform, Vector4{100, 200, 300, 1}, out);
    EXPECT_NEAR(out.x, -1.0f, 1e-6f);
    EXPECT_NEAR(out.y, 3.0f, 1e-6f);
    EXPECT_NEAR(out.z, 2.0f, 1e-6f);
    // Normals come from the positions, not the file.
    const Model flat = load(frame("F", xMesh("M", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {{0, 1, 2}})));
    EXPECT_EQ(flat.triangles[0].normal, (Vector3{0, 0, -1}));
    EXPECT_EQ(flat.vertices[2].normal, (Vector3{0, 0, -1}));

    // Thirty nested frames, each scaling by 1.2 and moving (0, 2, 0.5) in its
    // parent's units. One vertex on every joint, weighted to it, whose offset
    // is the inverse of the joint's combined transform, as exporters write it.
    std::vector<float> xyz;
    std::vector<std::vector<std::uint32_t>> faces;
    std::string skins, tree;
    double scale = 1.0, y = 0.0, z = 0.0;
    for (int k = 0; k < 30; ++k) {
        if (k > 0) {
            y += scale * 2.0;
            z += scale * 0.5;
            scale *= 1.2;
        }
        xyz.insert(xyz.end(), {static_cast<float>(k % 2), static_cast<float>(y), static_cast<float>(z)});
        if (k + 2 < 30) {
            faces.push_back({static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k + 1),
                             static_cast<std::uint32_t>(k + 2)});
        }
        std::ostringstream w;
        w.precision(9);
        w << "SkinWeights { \"F" << k << "\"; 1; " << k << "; 1.0; " << 1 / scale << ",0,0,0, 0," << 1 / scale
          << ",0,0, 0,0," << 1 / scale << ",0, 0," << -y / scale << "," << -z / scale << ",1;; }\n";
        skins += w.str();
    }
    for (int k = 29; k >= 0; --k) {
        const char* s = k == 0 ? "1" : "1.2";
        tree = frame("F" + std::to_string(k), std::string("FrameTransformMatrix { ") + s + ",0,0,0, 0," + s +
                                                  ",0,0, 0,0," + s + ",0, 0," + (k ? "2,0.5" : "0,0") + ",1;; }\n" +
                                                  tree);
    }
    expectRestsOnItsMesh(load(frame("Body", xMesh("Skin", xyz, faces, "XSkinMeshHeader { 1; 1; 30; }\n" + skins)) + tree));
}

TEST(XImporter, ReferencesThatNameNothingOrTheObjectItselfArePassedOver)
{
    // Inside a material or a mesh, a reference to the object itself names nothing.
    EXPECT_EQ(load("Frame F { Mesh M { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; { M } MeshMaterialList { 1; 1; 0;; "
                   "Material Q { 1;1;1;1;; 1; 0;0;0;; 0;0;0;; { Q } } } } }")
                  .vertices.size(),
              3u);
    // A few references to a mesh stay within what the file holds.
    EXPECT_EQ(load(xLineMesh("Big", 2000, {{0, 1, 2}}) + "Frame F {{Big}{Big}}").vertices.size(), 4000u);
    const std::string materials = "Material Q { 1;1;1;1;; 1; 0;0;0;; 0;0;0;; }";
    EXPECT_EQ(load(materials + "Mesh M { 0;; 0;; MeshMaterialList { 200; 0;; " + repeated("{Q}", 200) +
                   " } } Frame F {{M}{M}{M}}")
                  .vertices.size(),
              0u);
}

namespace {

// Counts every create and destroy of a real XImportAllocator.
class CountingHierarchy : public XImportAllocator {
public:
    CountingHierarchy() : XImportAllocator("") {}
    XFrame* CreateFrame(const char* name) override
    {
        ++live;
        return XImportAllocator::CreateFrame(name);
    }
    XMeshContainer* CreateMeshContainer(const char* name, const XMeshData& meshData, const XMaterial* materials,
                                        std::uint32_t numMaterials, const std::uint32_t* adjacency,
                                        const std::shared_ptr<const XSkinInfo>& skinInfo) override
    {
        XMeshContainer* c =
            XImportAllocator::CreateMeshContainer(name, meshData, materials, numMaterials, adjacency, skinInfo);
        ++live;
        return c;
    }
    void DestroyFrame(XFrame* frame) override
    {
        --live;
        XImportAllocator::DestroyFrame(frame);
    }
    void DestroyMeshContainer(XMeshContainer* container) override
    {
        --live;
        XImportAllocator::DestroyMeshContainer(container);
    }
    int live = 0;
};

}  // namespace

TEST(XImporter, NothingStaysAllocatedWhenLoadingFails)
{
    // The second frame's texture is a folder: the failure comes from inside
    // CreateMeshContainer, after other records were made.
    const auto folder = std::filesystem::temp_directory_path() / ("fyrel_x_alloc_" + std::to_string(::getpid()) + ".png");
    std::filesystem::create_directories(folder);
    const std::string bodies[] = {
        "Frame A { " + xLineMesh("Ok", 3, {{0, 1, 2}}) + " Frame B { " +
            xTexturedTriangle(folder.string()).substr(17) + " } }",
        "Frame A { " + xLineMesh("Ok", 3, {{0, 1, 2}}) + " } Frame B { " + xLineMesh("Bad", 3, {{0, 1, 5}}) + " }",
        "Frame A { } Frame B { { Nothing } }",
        twoMeshBody(),
    };
    for (const std::string& body : bodies) {
        const std::string file = xText(body);
        CountingHierarchy counting;
        try {
            XFileData data = readXFile(dataOf(file), file.size());
            XFrameTree tree(counting, loadMeshHierarchyFromX(data, counting));
            EXPECT_EQ(counting.live, 5) << "Root, A, B and their meshes";
        } catch (const std::exception&) {
        }
        EXPECT_EQ(counting.live, 0) << body;
    }
    std::filesystem::remove_all(folder);
}

TEST(XImporter, ReadsFromAPathAndRefusesWhatIsNoFile)
{
    const auto path = std::filesystem::temp_directory_path() / ("fyrel_x_path_" + std::to_string(::getpid()) + ".x");
    std::ofstream(path, std::ios::binary) << xText(twoMeshBody());
    EXPECT_EQ(XImporter().load(path.string()).vertices.size(), 7u);
    std::filesystem::remove(path);
    const std::string m = failureOf([&] { XImporter().load(path.string()); });
    EXPECT_EQ(m.rfind(std::string(kXLoadFailedMessage) + "\n", 0), 0u) << m;
    EXPECT_NE(m.find("no such file"), std::string::npos) << m;
    EXPECT_NE(failureOf([] { XImporter().load(std::filesystem::temp_directory_path().string()); }), "");
}

namespace {

std::string le32(std::uint32_t v)
{
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

std::string dds(const char* fourCc, std::uint32_t width, std::uint32_t height, std::size_t dataBytes)
{
    std::string v = "DDS " + le32(124) + le32(0) + le32(height) + le32(width) + std::string(56, '\0') + le32(32) +
                    le32(fourCc ? 0x4 : 0x40) + (fourCc ? std::string(fourCc) : le32(0)) + le32(fourCc ? 0 : 32);
    v.resize(128 + dataBytes);
    return v;
}

// A run-length encoded 8-bit BMP, which stb_image does not read.
std::string rleBmp(std::size_t dataBytes, std::uint32_t planesAndBits = 1 | 8 << 16)
{
    std::string v = "BM" + le32(14 + 40 + 1024 + dataBytes) + le32(0) + le32(14 + 40 + 1024) + le32(40) + le32(16) +
                    le32(16) + le32(planesAndBits) + le32(1);
    v.resize(14 + 40 + 1024 + dataBytes);
    return v;
}

}  // namespace

TEST(XTextures, AreFoundBesideTheModelAndJudgedByTheirBytes)
{
    struct Case {
        std::string bytes;
        bool image;
        int width;  // 0: not compared
    };
    const Case cases[] = {
        {fileBytes("/usr/share/assimp/models/X/test.png"), true, 512},
        {fileBytes("/usr/share/assimp/models/X/test.png").substr(0, 11850), false, 0},
        {fileBytes("/usr/share/assimp/models/X/top.tga"), true, 256},
        {dds("DXT1", 8, 8, 4 * 8), true, 8},
        {dds("DXT5", 5, 5, 4 * 16), true, 0},
        {dds(nullptr, 4, 2, 4 * 2 * 4), true, 0},
        {dds("DXT1", 8, 8, 4 * 8 - 1), false, 0},  // data cut off
        {dds("DX10", 8, 8, 1000), false, 0},
        {dds("DXT1", 0, 8, 100), false, 0},
        {"DDS " + le32(100) + dds("DXT1", 4, 4, 8).substr(8), false, 0},
        {std::string("DDS \0", 5), false, 0},
        {rleBmp(16), true, 0},
        {rleBmp(0), false, 0},
        {rleBmp(16, 3 | 8 << 16), false, 0},
        {rleBmp(16, 1 | 7 << 16), false, 0},
        {"PF\n2 3\n-1.0\n" + std::string(2 * 3 * 3 * 4, '\0'), true, 0},
        {"Pf\n2 3\n1.0\n" + std::string(2 * 3 * 4, '\0'), true, 0},
        {"PF\n2 3\n-1.0\n" + std::string(2 * 3 * 3 * 4 - 1, '\0'), false, 0},
        {"PF\n2 x\n-1.0\n" + std::string(100, '\0'), false, 0},
        {"PF\n2 3\n0\n" + std::string(100, '\0'), false, 0},
        {"", false, 0},
        {std::string(100, 'B'), false, 0},
        {"xof 0303txt 0032", false, 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        TextureInfo info;
        std::string reason;
        EXPECT_EQ(checkImageData(dataOf(cases[i].bytes), cases[i].bytes.size(), info, reason), cases[i].image) << i;
        EXPECT_EQ(reason.empty(), cases[i].image) << i;
        if (cases[i].width) {
            EXPECT_EQ(info.width, cases[i].width) << i;
        }
    }

    const auto folder = std::filesystem::temp_directory_path() / ("fyrel_x_textures_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder / "sub" / "folder.png");
    const auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
    };
    unsigned char pixels[4 * 4 * 3] = {};
    ASSERT_TRUE(stbi_write_png((folder / "skin.png").c_str(), 4, 4, 3, pixels, 12));
    ASSERT_TRUE(stbi_write_tga((folder / "sub" / "skin.tga").c_str(), 4, 4, 3, pixels));
    const std::string png = fileBytes("/usr/share/assimp/models/X/test.png");  // larger than the head read first
    write("big.png", png);
    write("cut.png", png.substr(0, png.size() - 4000));
    write("notes.png", "these are notes, not pixels");
    write("whole.dds", dds("DXT1", 128, 128, 8192));
    write("short.dds", dds("DXT1", 128, 128, 8191));
    EXPECT_EQ(findTextureFile("sub\\skin.tga", folder.string()), (folder / "sub" / "skin.tga").string());
    EXPECT_EQ(findTextureFile((folder / "skin.png").string(), "/nowhere"), (folder / "skin.png").string());
    struct Load {
        const char* texture;
        const char* reason;  // empty: the model loads
    };
    for (const Load& l : {Load{"nowhere.png", ""}, Load{"", ""}, Load{"skin.png", ""}, Load{".\\\\sub\\\\skin.tga", ""},
                          Load{"big.png", ""}, Load{"whole.dds", ""}, Load{"cut.png", "does not decode"},
                          Load{"notes.png", "notes.png"}, Load{"sub/folder.png", "folder.png"},
                          Load{"short.dds", "short.dds"}}) {
        const std::string file = xTexturedTriangle(l.texture);
        const std::string model = (folder / "model.x").string();
        if (*l.reason) {
            const std::string m = failureOf([&] { importXBytes(file, model); });
            EXPECT_EQ(m.rfind(std::string(kXTextureFailedMessage) + "\n", 0), 0u) << l.texture << ": " << m;
            EXPECT_NE(m.find(l.reason), std::string::npos) << m;
        } else {
            DebugCapture quiet;
            EXPECT_EQ(importXBytes(file, model).vertices.size(), 3u) << l.texture;
        }
    }
    std::filesystem::remove_all(folder);
}

TEST(XRealFiles, AssimpModelsLoadWithTheirCountsAndRestOnTheirMesh)
{
    struct Case {
        const char* file;
        std::size_t vertices, triangles;
        bool skinned;
    };
    const Case cases[] = {
        // The counts, read independently from the files' text or tokens when first checked.
        {"BCN_Epileptic.X", 3014, 5126, true},
        {"Testwuson.X", 3205, 3732, true},
        {"anim_test.x", 1720, 840, true},
        {"fromtruespace_bin32.x", 4132, 6656, false},
        {"kwxport_test_cubewithvcolors.x", 24, 12, false},
        {"test.x", 24, 12, false},
        {"test_cube_binary.x", 24, 12, true},
        {"test_cube_compressed.x", 24, 12, true},
        {"test_cube_text.x", 24, 12, true},
    };
    for (const Case& c : cases) {
        const std::string path = std::string("/usr/share/assimp/models/X/") + c.file;
        SCOPED_TRACE(path);
        DebugCapture quiet;
        const Model m = importX(path);
        EXPECT_EQ(m.vertices.size(), c.vertices);
        EXPECT_EQ(m.triangles.size(), c.triangles);
        EXPECT_EQ(m.hasSkin(), c.skinned);
        if (c.skinned) {
            expectRestsOnItsMesh(m);
        }
    }
    // The same cube in three encodings.
    const Model text = importX("/usr/share/assimp/models/X/test_cube_text.x");
    for (const char* twin : {"test_cube_binary.x", "test_cube_compressed.x"}) {
        const Model m = importX(std::string("/usr/share/assimp/models/X/") + twin);
        ASSERT_EQ(m.vertices.size(), text.vertices.size());
        for (std::size_t i = 0; i < m.vertices.size(); ++i) {
            EXPECT_NEAR(m.vertices[i].position.z, text.vertices[i].position.z, 1e-5f);
        }
        EXPECT_EQ(trianglesOf(m), trianglesOf(text));
        EXPECT_EQ(weightsOf(m.rootBone.find("Cube")), weightsOf(text.rootBone.find("Cube")));
    }
    // Several top-level frames keep the skeleton of the skin.
    const Model bcn = importX("/usr/share/assimp/models/X/BCN_Epileptic.X");
    std::string tops;
    for (const Bone& b : bcn.rootBone.children) {
        tops += " " + b.name;
    }
    EXPECT_EQ(bcn.rootBone.name + tops, " Torso B_Root_Pelvis_L Head Legs");
}
