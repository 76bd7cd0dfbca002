#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "importers/import_error.h"
#include "importers/x/x_hierarchy.h"
#include "importers/x/x_importer.h"
#include "importers/x/x_mesh_hierarchy.h"
#include "x_test_files.h"
#include "support/source_tree.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

// One frame holding everything, so that no proper prefix is a whole file.
std::string smallBody()
{
    return "template Extra { <00000000-1111-2222-3333-444444444444> DWORD n; array FLOAT v[n]; STRING s; }\n"
           "Frame Root {\n" +
           xTranslation(1, 2, 3) + "Extra { 2; 1.0, 2.0; \"x\"; }\n" + "Frame Hip { }\n" +
           xLineMesh("M", 4, {{0, 1, 2, 3}},
                     "MeshMaterialList { 1; 1; 0;; Material { 1.0;1.0;1.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; "
                     "TextureFilename { \"none.png\"; } } }\n"
                     "XSkinMeshHeader { 1; 1; 1; }\n" +
                         xSkinWeights("Hip", {0, 3}, {1.0f, 0.5f})) +
           "}";
}

// Expects the import to fail with the reader's message and nothing else.
void expectRejected(const std::string& file, const std::string& what)
{
    DebugCapture debug;
    try {
        importXBytes(file);
        ADD_FAILURE() << what << " loaded";
    } catch (const ImportError& e) {
        EXPECT_STREQ(e.what(), kXLoadFailedMessage) << what;
        EXPECT_NE(debug.text().find("Failed to load \"test.x\": "), std::string::npos) << what << ": " << debug.text();
    }
}

void expectEveryPrefixRejected(const std::string& file, const char* encoding)
{
    ASSERT_EQ(importXBytes(file).vertices.size(), 4u) << encoding;
    for (std::size_t n = 0; n < file.size(); ++n) {
        expectRejected(file.substr(0, n), std::string(encoding) + " prefix of " + std::to_string(n) + " bytes");
    }
}

// Replaces the first occurrence of from with to.
std::string patched(std::string s, const std::string& from, const std::string& to)
{
    std::size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? s : s.replace(at, from.size(), to);
}

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

TEST(XMalformed, EveryTruncatedTextFileFails)
{
    expectEveryPrefixRejected(xText(smallBody()), "text");
}

TEST(XMalformed, EveryTruncatedBinaryFileFails)
{
    expectEveryPrefixRejected(xBinary(smallBody()), "binary");
    expectEveryPrefixRejected(xBinary(smallBody(), 64, true), "binary64");
}

TEST(XMalformed, EveryTruncatedCompressedFileFails)
{
    expectEveryPrefixRejected(xCompressed(xBinary(smallBody()), 200), "compressed");
}

TEST(XMalformed, CorruptedCountsAndIndicesFail)
{
    std::string text = xText(smallBody());
    expectRejected(patched(text, " 4;\n", " 4000000000;\n"), "a vertex count of 4000000000");
    expectRejected(patched(text, " 4;\n", " 3;\n"), "a vertex count one short");
    expectRejected(patched(text, " 4;\n", " 5;\n"), "a vertex count one long");
    expectRejected(patched(text, " 1;\n 4;0,1,2,3;;", " 99999999;\n 4;0,1,2,3;;"), "a face count too large");
    expectRejected(patched(text, "4;0,1,2,3;;", "4000000000;0,1,2,3;;"), "a corner count too large");
    expectRejected(patched(text, "4;0,1,2,3;;", "4;0,1,2,4;;"), "a face index past the vertices");
    expectRejected(patched(text, "\"Hip\";\n 2;", "\"Hip\";\n 2000000000;"), "a weight count too large");
    expectRejected(patched(text, "0,3;", "0,4;"), "a skin index past the vertices");
    expectRejected(patched(text, "Extra { 2;", "Extra { 2000000000;"), "a user array too large");
    expectRejected(patched(text, "0.500000", "1e39"), "a weight beyond the float range");
    expectRejected(patched(text, "xof 0303", "xof 0203"), "an unknown version");

    std::string binary = xBinary(smallBody());
    std::string countOfFour("\x06\x00\x01\x00\x00\x00\x04\x00\x00\x00", 10);  // integer list {4}
    expectRejected(patched(binary, countOfFour, std::string("\x06\x00\x01\x00\x00\x00\xff\xff\xff\x0f", 10)),
                   "a binary vertex count too large");
    expectRejected(patched(binary, countOfFour, std::string("\x06\x00\xff\xff\xff\x0f\x04\x00\x00\x00", 10)),
                   "a binary list longer than the file");

    std::string packed = xCompressed(binary, 200);
    std::string badBlock = packed;
    badBlock[30] = static_cast<char>(badBlock[30] ^ 0x55);  // inside the first block's deflate data
    expectRejected(badBlock, "a damaged compressed block");
    std::string huge = packed;
    huge[19] = 0x40;  // announces a gigabyte
    expectRejected(huge, "a compressed size of a gigabyte");
}

TEST(XMalformed, BadReferencesFail)
{
    expectRejected(xText("Frame F { { F } }"), "a frame naming itself");
    expectRejected(xText("Frame F { { G } } Frame G { }"), "a reference to a later frame");
    expectRejected(xText("Frame G { } Frame F { { G } }"), "a frame included by reference");
    expectRejected(xText("Frame F { " + xLineMesh("M", 3, {{0, 1, 2}}, "MeshMaterialList { 1; 1; 0;; { M } }") + "}"),
                   "a material list naming its own mesh");
    expectRejected(xText("Frame A { } Frame F { " + xLineMesh("M", 3, {{0, 1, 2}}, "MeshMaterialList { 1; 1; 0;; { A } }") +
                         "}"),
                   "a material list naming a frame");
}

TEST(XMalformed, RepeatedReferencesCannotMultiplyAMesh)
{
    // A mesh of 2000 vertices named by 5000 references would make ten million
    // vertices out of a file of a few dozen kilobytes.
    std::string body = xLineMesh("Big", 2000, {{0, 1, 2}}) + "Frame F {";
    for (int i = 0; i < 5000; ++i) body += "{Big}";
    body += "}";
    expectRejected(xText(body), "5000 references to one mesh");
    // A few references stay within what the file holds.
    EXPECT_EQ(importXBytes(xText(xLineMesh("Big", 2000, {{0, 1, 2}}) + "Frame F {{Big}{Big}}")).vertices.size(),
              4000u);
}

TEST(XMalformed, FilesWithoutFramesOrMeshesFail)
{
    expectRejected(xText(""), "an empty body");
    expectRejected(xText("template T { DWORD a; } Material { 1.0;1.0;1.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }"),
                   "a file of a material only");
    expectRejected(xText("Frame F { Mesh { 1; 0;0;nan;; 0;; } }"), "a position that is not a number");
}

TEST(XMalformed, NothingStaysAllocatedWhenLoadingFails)
{
    // The second frame's texture is a folder: the failure comes from inside
    // CreateMeshContainer, after other records were made.
    auto folder = std::filesystem::temp_directory_path() / "fyrel_x_alloc_test.png";
    std::filesystem::create_directories(folder);
    std::string material = "MeshMaterialList { 1; 1; 0;; Material { 1.0;1.0;1.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; "
                           "TextureFilename { \"" +
                           folder.string() + "\"; } } }";
    std::string bodies[] = {
        "Frame A { " + xLineMesh("Ok", 3, {{0, 1, 2}}) + " Frame B { " + xLineMesh("Bad", 3, {{0, 1, 2}}, material) +
            " } }",
        "Frame A { " + xLineMesh("Ok", 3, {{0, 1, 2}}) + " } Frame B { " + xLineMesh("Bad", 3, {{0, 1, 5}}) + " }",
        "Frame A { } Frame B { { Nothing } }",
    };
    for (const std::string& body : bodies) {
        std::string file = xText(body);
        CountingHierarchy counting;
        try {
            XFileData data = readXFile(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
            XFrameTree tree(counting, loadMeshHierarchyFromX(data, counting));
            ADD_FAILURE() << "loaded: " << body;
        } catch (const std::exception&) {
        }
        EXPECT_EQ(counting.live, 0) << body;
    }
    std::filesystem::remove_all(folder);

    CountingHierarchy counting;
    std::string file = xText(smallBody());
    XFileData data = readXFile(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
    {
        XFrameTree tree(counting, loadMeshHierarchyFromX(data, counting));
        EXPECT_EQ(counting.live, 3);  // Root, Hip and the mesh container
    }
    EXPECT_EQ(counting.live, 0);
}

TEST(XMalformed, HostileFilesOfTheRegressionFolderAreRejected)
{
    // Files that once were, or could have been, a hang, a crash or a memory
    // hog: gigabytes announced, billions of vertices, deep nesting, objects
    // naming themselves, one mesh named thousands of times.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(sourcePath("tests/data/x"))) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        expectRejected(bytes, entry.path().filename().string());
        ++files;
    }
    EXPECT_GE(files, 6);
}
