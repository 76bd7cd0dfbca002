// Files made to eat the machine: counts that announce billions of records,
// nesting thousands deep, compressed data that inflates to gigabytes,
// references that name themselves or repeat a mesh without end. Each must be
// refused with a message, and refusing it must cost little: at most 100
// times the file's size in heap (plus 1 MiB for tables that do not grow with
// the file), and, for a small file that merely announces a lot, nothing
// sized by what it announces. The heap is counted by heap_meter, whatever
// allocates it (lib3ds and zlib included).

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "heap_meter.h"
#include "importers/import_error.h"
#include "importers/ms3d_importer.h"
#include "importers/three_ds_importer.h"
#include "importers/x/x_importer.h"
#include "importers/x/x_mesh_hierarchy.h"
#include "importers/x/x_reader.h"
#include "x_test_files.h"
#include "support/source_tree.h"


using namespace fyrel;
using namespace fyrel::test;

namespace {

using Bytes = std::string;

constexpr std::size_t kFixedAllowance = std::size_t{1} << 20;

// What refusing a file may cost: 100 times its size and the fixed allowance.
std::size_t allowedCost(std::size_t fileBytes)
{
    return 100 * fileBytes + kFixedAllowance;
}

// A small file that only announces a lot must not allocate for what it
// announces: this is far below any of the announced sizes below.
constexpr std::size_t kSmallRefusal = 64 * 1024;

struct Refusal {
    bool refused = false;
    std::string message;  // the ImportError's text
    std::string debug;    // what went to the debug output meanwhile
    std::size_t peak = 0;  // heap bytes above the start
};

Refusal measure(const std::string& what, std::size_t fileBytes, const std::function<void()>& import)
{
    Refusal r;
    DebugCapture debug;
    {
        HeapMeasure heap;
        try {
            import();
        } catch (const ImportError& e) {
            r.refused = true;
            r.message = e.what();
        }
        r.peak = heap.peakAbove();
    }
    r.debug = debug.text();
    std::printf("[ cost     ] %s: %zu bytes of heap to %s %zu bytes (%.1f times)\n", what.c_str(), r.peak,
                r.refused ? "refuse" : "load", fileBytes, fileBytes ? double(r.peak) / double(fileBytes) : 0.0);
    return r;
}

const std::uint8_t* dataOf(const Bytes& b)
{
    return reinterpret_cast<const std::uint8_t*>(b.data());
}

Refusal refuseMs3d(const std::string& what, const Bytes& file)
{
    return measure(what, file.size(), [&] { importMs3dFromMemory(dataOf(file), file.size(), "hostile.ms3d"); });
}

Refusal refuse3ds(const std::string& what, const Bytes& file)
{
    return measure(what, file.size(), [&] { import3dsFromMemory(dataOf(file), file.size()); });
}

Refusal refuseX(const std::string& what, const Bytes& file, const std::string& fileName = "hostile.x")
{
    return measure(what, file.size(), [&] {
        XImporter importer;
        importer.loadFromMemory(dataOf(file), file.size(), fileName);
    });
}

// The standard templates are parsed once per process, on first use: that
// table is not part of any one file's cost.
void warmUpX()
{
    static const bool warm = [] {
        DebugCapture quiet;
        importXBytes(xText("Frame F { }"));
        return true;
    }();
    (void)warm;
}

void putU16(Bytes& b, std::uint32_t v)
{
    b += static_cast<char>(v & 0xff);
    b += static_cast<char>((v >> 8) & 0xff);
}

void putU32(Bytes& b, std::uint32_t v)
{
    putU16(b, v & 0xffff);
    putU16(b, v >> 16);
}

// A comment of pseudo-random letters: bytes that do not compress, so that a
// compressed file has a size of its own besides what it inflates to.
std::string noiseComment(std::size_t n)
{
    std::string s = "#";
    std::uint32_t x = 12345;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        s += static_cast<char>('a' + (x >> 24) % 26);
    }
    return s + "\n";
}

std::string repeated(const std::string& piece, std::size_t times)
{
    std::string s;
    s.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        s += piece;
    }
    return s;
}

// ---- MS3D ----------------------------------------------------------------------------

Bytes ms3dHeader()
{
    Bytes b = "MS3D000000";
    putU32(b, 4);
    return b;
}

// Header, empty sections up to the one announced, then the count alone.
Bytes ms3dAnnouncing(int section, std::uint16_t count)
{
    Bytes b = ms3dHeader();
    for (int s = 0; s < section; ++s) {
        putU16(b, 0);  // vertices, triangles, groups, materials
    }
    if (section == 4) {
        b += std::string(12, '\0');  // the animation block before the joints
    }
    putU16(b, count);
    return b;
}

}  // namespace

TEST(Ms3dHostileInput, LargestCountsInATinyFileCostNothing)
{
    struct Case {
        int section;
        const char* message;
    };
    const Case cases[] = {
        {0, "ends inside the vertex list (vertex 1 of 65535)"},
        {1, "ends inside the triangle list (triangle 1 of 65535)"},
        {2, "ends inside the group list (group 1 of 65535)"},
        {3, "ends inside the material list (material 1 of 65535)"},
        {4, "ends inside the joint list (joint 1 of 65535)"},
    };
    for (const Case& c : cases) {
        const Bytes file = ms3dAnnouncing(c.section, 65535);
        const Refusal r = refuseMs3d(c.message, file);
        ASSERT_TRUE(r.refused) << c.message;
        EXPECT_NE(r.message.find(c.message), std::string::npos) << r.message;
        EXPECT_LT(r.peak, kSmallRefusal) << c.message;
    }

    // A group that lists 65535 triangles, and a joint with 65535 keys of each kind.
    Bytes group = ms3dAnnouncing(2, 1) + std::string(33, 'g');
    putU16(group, 65535);
    Refusal r = refuseMs3d("group of 65535 triangles", group);
    EXPECT_NE(r.message.find("(group 1 of 1, which lists 65535 triangles)"), std::string::npos) << r.message;
    EXPECT_LT(r.peak, kSmallRefusal);

    Bytes joint = ms3dAnnouncing(4, 1) + '\0' + std::string(32, 'a') + std::string(32, '\0') + std::string(24, '\0');
    putU16(joint, 65535);
    putU16(joint, 65535);
    r = refuseMs3d("joint of 131070 keys", joint);
    EXPECT_NE(r.message.find("in its rotation key 1 of 65535"), std::string::npos) << r.message;
    EXPECT_LT(r.peak, kSmallRefusal);
}

// ---- 3DS -------------------------------------------------------------------------------

namespace {

Bytes chunk(std::uint16_t id, const Bytes& payload)
{
    Bytes b;
    putU16(b, id);
    putU32(b, static_cast<std::uint32_t>(6 + payload.size()));
    return b + payload;
}

Bytes countOf(std::uint16_t n)
{
    Bytes b;
    putU16(b, n);
    return b;
}

Bytes triangleMesh(const Bytes& parts)
{
    return chunk(0x3D3D, chunk(0x4000, Bytes("m") + '\0' + chunk(0x4100, parts)));
}

Bytes scene3ds(const Bytes& sceneData)
{
    return chunk(0x4D4D, sceneData);
}

const Bytes kOnePoint = chunk(0x4110, countOf(1) + std::string(12, '\0'));

}  // namespace

TEST(ThreeDsHostileInput, LargestCountsAndLengthsInATinyFileCostNothing)
{
    struct Case {
        const char* what;
        Bytes file;
        const char* message;
    };
    Bytes hugeMain;
    putU16(hugeMain, 0x4D4D);
    putU32(hugeMain, 0xFFFFFFFFu);
    hugeMain += chunk(0x3D3D, "");
    Bytes hugeChild = scene3ds(chunk(0x3D3D, ""));
    putU16(hugeChild, 0x4000);
    putU32(hugeChild, 0xFFFFFFF0u);
    Bytes mainLength;
    putU32(mainLength, static_cast<std::uint32_t>(hugeChild.size()));
    hugeChild.replace(2, 4, mainLength);  // the main chunk covers the child's header
    const Case cases[] = {
        {"main chunk of 4 GiB", hugeMain, "its main chunk claims 4294967295 bytes"},
        {"object chunk of 4 GiB", hugeChild, "claims 4294967280 bytes, but only 6 are left"},
        {"65535 points", scene3ds(triangleMesh(chunk(0x4110, countOf(65535) + std::string(12, '\0')))),
         "counts 65535 entries, but its chunk holds only 1"},
        {"65535 faces", scene3ds(triangleMesh(kOnePoint + chunk(0x4120, countOf(65535) + std::string(8, '\0')))),
         "counts 65535 entries, but its chunk holds only 1"},
        {"65535 texture coordinates",
         scene3ds(triangleMesh(kOnePoint + chunk(0x4140, countOf(65535) + std::string(8, '\0')))),
         "counts 65535 entries, but its chunk holds only 1"},
        {"face group of 65535 faces",
         scene3ds(triangleMesh(kOnePoint + chunk(0x4120, countOf(1) + std::string(8, '\0') +
                                                            chunk(0x4130, Bytes("red") + '\0' + countOf(65535))))),
         "counts 65535 entries, but its chunk holds only 0"},
    };
    for (const Case& c : cases) {
        const Refusal r = refuse3ds(c.what, c.file);
        ASSERT_TRUE(r.refused) << c.what;
        EXPECT_NE(r.message.find(c.message), std::string::npos) << c.what << ": " << r.message;
        EXPECT_LT(r.peak, kSmallRefusal) << c.what;
    }
}

TEST(ThreeDsHostileInput, ManyMeshesAndABadLastOneCostLittle)
{
    // 20000 small meshes, the last with a face beyond its points: refused by
    // the chunk check before lib3ds builds anything.
    const Bytes face = chunk(0x4120, countOf(1) + std::string("\0\0\1\0\2\0\0\0", 8));  // corners 0, 1, 2
    const Bytes threePoints = chunk(0x4110, countOf(3) + std::string(36, '\0'));
    Bytes objects = repeated(chunk(0x4000, Bytes("m") + '\0' + chunk(0x4100, threePoints + face)), 20000);
    objects += chunk(0x4000, Bytes("bad") + '\0' + chunk(0x4100, kOnePoint + face));
    const Bytes file = scene3ds(chunk(0x3D3D, objects));
    const Refusal r = refuse3ds("20001 meshes, the last broken", file);
    ASSERT_TRUE(r.refused);
    EXPECT_NE(r.message.find("face 1 of mesh 20001 (\"bad\") uses vertex 1, but the mesh has 1 vertices"),
              std::string::npos)
        << r.message;
    EXPECT_LE(r.peak, allowedCost(file.size()));
}

// ---- X: counts ---------------------------------------------------------------------------

namespace {

void expectXRefusal(const std::string& what, const Bytes& file, const std::string& reason, std::size_t bound)
{
    warmUpX();
    const Refusal r = refuseX(what, file);
    ASSERT_TRUE(r.refused) << what;
    EXPECT_EQ(r.message, kXLoadFailedMessage) << what;
    EXPECT_NE(r.debug.find(reason), std::string::npos) << what << ": " << r.debug;
    EXPECT_LE(r.peak, bound) << what;
}

// A binary file: header, then the given token stream.
Bytes xBinaryTokens(const Bytes& tokens)
{
    return "xof 0303bin 0032" + tokens;
}

Bytes token(std::uint16_t code)
{
    Bytes b;
    putU16(b, code);
    return b;
}

Bytes nameToken(const std::string& name)
{
    Bytes b = token(1);
    putU32(b, static_cast<std::uint32_t>(name.size()));
    return b + name;
}

}  // namespace

TEST(XHostileInput, CountsOfBillionsInATinyFileCostNothing)
{
    struct Case {
        const char* what;
        Bytes file;
        const char* reason;
    };
    Bytes listOf4G = nameToken("Mesh") + token(10) + token(6);
    putU32(listOf4G, 0xFFFFFFFFu);
    Bytes floatsOf4G = nameToken("Mesh") + token(10) + token(7);
    putU32(floatsOf4G, 0xFFFFFFFFu);
    Bytes nameOf4G = token(1);
    putU32(nameOf4G, 0xFFFFFFFFu);
    Bytes stringOf4G = nameToken("TextureFilename") + token(10) + token(2);
    putU32(stringOf4G, 0xFFFFFFFFu);
    Bytes packedOf4G = "xof 0303tzip0032";
    putU32(packedOf4G, 0xFFFFFFFFu);
    Bytes blockOf64K = "xof 0303tzip0032";
    putU32(blockOf64K, 16 + 65535);
    putU16(blockOf64K, 65535);
    putU16(blockOf64K, 10);
    blockOf64K += "CK" + std::string(8, '\0');
    const Case cases[] = {
        {"4 billion vertices", xText("Mesh { 4000000000; 0;0;0;; 0;; }"),
         "an array vertices of 4000000000 entries in Mesh, more than the rest of the file holds"},
        {"4 billion faces", xText("Mesh { 1; 0;0;0;; 4000000000; 3;0,0,0;; }"),
         "an array faces of 4000000000 entries in Mesh"},
        {"4 billion corners", xText("Mesh { 1; 0;0;0;; 1; 4000000000; 0,0,0;; }"),
         "an array faceVertexIndices of 4000000000 entries in Mesh"},
        {"4 billion skin weights", xText("Frame F { Mesh { 1; 0;0;0;; 0;; SkinWeights { \"F\"; 4000000000; 0; 1.0; "
                                         "1;0;0;0;0;1;0;0;0;0;1;0;0;0;0;1;; } } }"),
         "an array vertexIndices of 4000000000 entries in SkinWeights"},
        {"a declared array of 4294967295 words",
         xText("template Big { <00000000-0000-0000-0000-000000000001> array WORD w[4294967295]; } Big { 1; }"),
         "an array w of 4294967295 entries in Big"},
        {"a declared array of 2^48 entries",
         xText("template Cube { <00000000-0000-0000-0000-000000000002> array WORD w[65536][65536][65536]; } "
               "Cube { 1; }"),
         "an array w of 65536 x 65536 x 65536 entries in Cube"},
        {"a frame transform cut off", xText("Frame F { FrameTransformMatrix {"),
         "a frameMatrix of 16 values in FrameTransformMatrix, more than the rest of the file holds"},
        {"a binary list of 4 billion integers", xBinaryTokens(listOf4G),
         "a list of 4294967295 numbers longer than the rest of the file"},
        {"a binary list of 4 billion floats", xBinaryTokens(floatsOf4G),
         "a list of 4294967295 numbers longer than the rest of the file"},
        {"a binary name of 4 GiB", xBinaryTokens(nameOf4G), "a name cut off by the end of the file"},
        {"a binary string of 4 GiB", xBinaryTokens(stringOf4G), "a string cut off by the end of the file"},
        {"compressed data announcing 4 GiB", packedOf4G,
         "an uncompressed size of 4294967295 bytes, more than the"},
    };
    for (const Case& c : cases) {
        expectXRefusal(c.what, c.file, c.reason, kSmallRefusal);
    }
    // Announcing a block of 64 KiB: refused at the block, after the room for
    // the 64 KiB the file announces in all was set aside.
    expectXRefusal("a compressed block announcing 64 KiB", blockOf64K,
                   "announcing 65535 bytes (a block holds 1 to 32768)", allowedCost(blockOf64K.size()));
}

// ---- X: nesting -------------------------------------------------------------------------

TEST(XHostileInput, DeepNestingIsRefusedAtItsLimit)
{
    const std::size_t depth = 100000;
    Bytes frames = xText(repeated("Frame{", depth));
    expectXRefusal("100000 nested frames", frames, "data objects nested deeper than 1040 levels",
                   allowedCost(frames.size()));
    // Objects of unknown types are skipped by counting braces: no stack at all.
    Bytes unknown = xText(repeated("Unknown{", depth));
    expectXRefusal("100000 nested unknown objects", unknown, "the file ends inside \"Unknown\"", kSmallRefusal);
    // Nested values: a template may not contain itself, so declarations cannot recurse.
    Bytes templates = xText(repeated("template T { <00000000-0000-0000-0000-000000000003> T t; }", 1000) + "T { }");
    expectXRefusal("templates naming themselves", templates, "the file holds no frame and no mesh",
                   allowedCost(templates.size()));
}

TEST(XHostileInput, FramesTooDeepForTheSkeletonAreRefusedBeforeTheConversion)
{
    // Within the reader's nesting limit, but deeper than a skeleton may be
    // (a second top-level frame puts both under an extra root).
    for (std::size_t depth : {std::size_t{1025}, std::size_t{1024}}) {
        const bool second = depth == 1024;
        Bytes file = xText(std::string(second ? "Frame{}" : "") + repeated("Frame{", depth) + repeated("}", depth));
        expectXRefusal(std::to_string(depth) + " frames deep", file, "its frames nest deeper than 1024 levels",
                       allowedCost(file.size()));
    }
    // One level less loads.
    DebugCapture quiet;
    Model m = importXBytes(xText(repeated("Frame{", 1024) + repeated("}", 1024)));
    int levels = 0;
    for (const Bone* b = &m.rootBone; b; b = b->children.empty() ? nullptr : &b->children.front()) {
        ++levels;
    }
    EXPECT_EQ(levels, 1024);
}

// ---- X: compressed data --------------------------------------------------------------------

namespace {

// MSZIP blocks of 32 KiB of spaces each, every one after the first with the
// one before as its dictionary: one deflated block serves for all of them,
// so a file that really inflates to a gigabyte is made in no time.
Bytes spacesInflatingTo(std::uint64_t blocks, std::uint32_t announcedTotal)
{
    const std::string spaces(32768, ' ');
    auto deflated = [&](bool withHistory) {
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        if (withHistory) {
            deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(spaces.data()), 32768);
        }
        std::vector<unsigned char> out(65536);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(spaces.data()));
        z.avail_in = 32768;
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, Z_FINISH);
        Bytes block;
        putU16(block, 32768);
        putU16(block, static_cast<std::uint32_t>(out.size() - z.avail_out + 2));
        block += "CK";
        block.append(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out);
        deflateEnd(&z);
        return block;
    };
    Bytes file = "xof 0303tzip0032";
    putU32(file, announcedTotal);
    file += deflated(false);
    const Bytes next = deflated(true);
    file.reserve(file.size() + next.size() * blocks);
    for (std::uint64_t b = 1; b < blocks; ++b) {
        file += next;
    }
    return file;
}

// A compressed text file whose noise keeps it from shrinking to nothing,
// with a payload that fills nearly all it may inflate to.
Bytes compressedBomb(const std::string& noise, const std::function<std::string(std::size_t)>& payload)
{
    Bytes file = xCompressed(xText(noise + payload(1000)));
    for (int round = 0; round < 3; ++round) {
        const std::size_t room = (kMaxXInflateRatio * file.size() + kXMemoryAllowance) * 9 / 10 - noise.size();
        file = xCompressed(xText(noise + payload(room)));
    }
    return file;
}

}  // namespace

TEST(XHostileInput, DataInflatingToGigabytesIsRefusedBeforeItIsInflated)
{
    // 32768 blocks: 1 GiB of spaces, honestly announced, from a file of about 1 MB.
    const Bytes gigabyte = spacesInflatingTo(32768, 16 + (1u << 30));
    ASSERT_LT(gigabyte.size(), std::size_t{4} << 20);
    expectXRefusal("1 GiB of spaces", gigabyte, "an uncompressed size of 1073741840 bytes, more than the",
                   kSmallRefusal);

    // Announcing what the file may inflate to, then inflating on past it.
    const Bytes lying = spacesInflatingTo(1000, 16 + 65536 + 100);
    expectXRefusal("blocks past the announced size", lying, "inflating past the announced size of 65652 bytes",
                   allowedCost(lying.size()));
}

TEST(XHostileInput, DataInflatingToAllItMayIsRefusedWithinItsCost)
{
    const std::string noise = noiseComment(20000);
    struct Case {
        const char* what;
        std::function<std::string(std::size_t)> payload;
        const char* reason;
    };
    const Case cases[] = {
        {"spaces, then nonsense", [](std::size_t room) { return std::string(room, ' ') + "!"; },
         "expected '{' after \"!\""},
        {"empty frames, the last unclosed",
         [](std::size_t room) { return repeated("Frame{}", room / 7) + "Frame{"; }, "more working memory"},
        {"matrices",
         [](std::size_t room) {
             const std::string m = "FrameTransformMatrix{0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0;;}";
             return "Frame F{" + repeated(m, room / m.size()) + "FrameTransformMatrix{";
         },
         "more working memory"},
        {"references to a mesh",
         [](std::size_t room) {
             return "Mesh M{3;0;0;0;,0;0;0;,0;0;0;;1;3;0,1,2;;}Frame F{" + repeated("{M}", room / 3) + "{Q}}";
         },
         "more working memory"},
        {"one polygon of a million corners",
         [](std::size_t room) {
             const std::size_t n = room / 2;
             return "Mesh{3;0;0;0;,0;0;0;,0;0;0;;1;" + std::to_string(n) + ";" + repeated("0,", n - 1) + "3;;}";
         },
         "more working memory"},
    };
    for (const Case& c : cases) {
        const Bytes file = compressedBomb(noise, c.payload);
        expectXRefusal(c.what, file, c.reason, allowedCost(file.size()));
    }
}

// ---- X: references ------------------------------------------------------------------------

TEST(XHostileInput, SelfReferencesNameNothing)
{
    const char* refused[][2] = {
        {"Frame F { { F } }", "Frame \"F\" refers to \"F\", which names no object before it"},
        {"Frame A { { B } } Frame B { { A } }", "Frame \"B\" includes frame \"A\" by reference"},
        {"Frame F { Mesh M { 3; 0;0;0;, 0;0;0;, 0;0;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0;; { M } } } }",
         "MeshMaterialList refers to \"M\", which names no object before it"},
    };
    for (const auto& c : refused) {
        const Bytes file = xText(c[0]);
        expectXRefusal(c[0], file, c[1], kSmallRefusal);
    }
    // Inside a material or a mesh, a reference to the object itself names
    // nothing and is passed over.
    DebugCapture quiet;
    Model m = importXBytes(xText("Frame F { Mesh M { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; { M } "
                                 "MeshMaterialList { 1; 1; 0;; "
                                 "Material Q { 1;1;1;1;; 1; 0;0;0;; 0;0;0;; { Q } } } } }"));
    EXPECT_EQ(m.vertices.size(), 3u);
}

TEST(XHostileInput, ReferencesCannotRepeatAMeshWithoutPayingForIt)
{
    // A mesh of nothing but 200 materials, named by 100000 references: each
    // reference makes a mesh container with its own copy of the materials.
    std::string materials = "Material Q { 1;1;1;1;; 1; 0;0;0;; 0;0;0;; }";
    std::string mesh = "Mesh M { 0;; 0;; MeshMaterialList { 200; 0;; " + repeated("{Q}", 200) + " } }";
    Bytes file = xText(materials + mesh + "Frame F {" + repeated("{M}", 100000) + "}");
    expectXRefusal("100000 references to a mesh of 200 materials", file, "more working memory",
                   allowedCost(file.size()));
    // A few references are fine.
    DebugCapture quiet;
    EXPECT_EQ(importXBytes(xText(materials + mesh + "Frame F {{M}{M}{M}}")).vertices.size(), 0u);
}

// ---- X: textures ----------------------------------------------------------------------------

namespace {

class XTextureFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = std::filesystem::temp_directory_path() /
                  ("fyrel_hostile_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string write(const std::string& name, const std::string& bytes)
    {
        const std::string path = (folder_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static Bytes modelNaming(const std::string& texture)
    {
        return xText("Frame F { Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0;; "
                     "Material { 1;1;1;1;; 1; 0;0;0;; 0;0;0;; TextureFilename { \"" +
                     texture + "\"; } } } } }");
    }

    std::filesystem::path folder_;
};

}  // namespace

// A texture is looked up at import and read only where it is drawn: a
// huge file that is no image costs the import nothing and the model loads.
TEST_F(XTextureFiles, TexturesAreLookedUpNotReadWhenImporting)
{
    const std::string big = write("big.bin", std::string(16 << 20, 'z'));
    warmUpX();
    DebugCapture quiet;
    const test::HeapMeasure heap;
    const Model model = importXBytes(modelNaming(big));
    EXPECT_LT(heap.peakAbove(), kSmallRefusal);
    ASSERT_EQ(model.materials.size(), 1u);
    EXPECT_EQ(model.materials[0].texturePath, big);
    EXPECT_EQ(model.vertices.size(), 3u);
}

// ---- The regression folders ---------------------------------------------------------------

TEST(XHostileInput, EveryRegressionFileIsRefusedWithinItsCost)
{
    // The hostile files of all three formats (tests/data/make_bombs.py writes
    // those of x/ that once cost thousands of times their size).
    warmUpX();
    int refused = 0;
    for (const char* folder : {"tests/data/ms3d", "tests/data/3ds", "tests/data/x"}) {
        for (const auto& entry : std::filesystem::directory_iterator(sourcePath(folder))) {
            const std::string path = entry.path().string();
            const std::string ending = entry.path().extension().string();
            if (ending != ".ms3d" && ending != ".3ds" && ending != ".x") {
                continue;
            }
            std::ifstream in(path, std::ios::binary);
            const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const Refusal r = measure(path, file.size(), [&] {
                if (ending == ".ms3d") {
                    importMs3dFromMemory(dataOf(file), file.size(), path);
                } else if (ending == ".3ds") {
                    import3dsFromMemory(dataOf(file), file.size());
                } else {
                    XImporter importer;
                    importer.loadFromMemory(dataOf(file), file.size(), path);
                }
            });
            if (r.refused) {
                ++refused;
                EXPECT_LE(r.peak, allowedCost(file.size())) << path;
            }
        }
    }
    EXPECT_GE(refused, 25);
}

// ---- Paths that are not files -------------------------------------------------------------

TEST(ThreeDsHostileInput, PathsThatAreNotFilesAreNotRead)
{
    // A pipe would block the import for ever, a device could be read without
    // end: all three importers refuse both before opening them.
    const auto folder = std::filesystem::temp_directory_path() /
                        ("fyrel_hostile_paths_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(folder);
    for (const char* ending : {".3ds", ".ms3d", ".x"}) {
        const std::string pipe = (folder / (std::string("pipe") + ending)).string();
        const std::string zero = (folder / (std::string("zero") + ending)).string();
        ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
        std::filesystem::create_symlink("/dev/zero", zero);
        for (const std::string& path : {pipe, zero}) {
            SCOPED_TRACE(path);
            DebugCapture debug;
            try {
                const std::string e = ending;
                if (e == ".3ds") {
                    import3ds(path);
                } else if (e == ".ms3d") {
                    importMs3d(path);
                } else {
                    importX(path);
                }
                ADD_FAILURE() << "loaded";
            } catch (const ImportError& e) {
                EXPECT_NE((std::string(e.what()) + debug.text()).find("not a regular file"), std::string::npos)
                    << e.what() << " / " << debug.text();
            }
        }
    }
    std::filesystem::remove_all(folder);
}
