#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "importers/x/x_importer.h"
#include "x_test_files.h"

// The .X files of Debian's assimp-testmodels: written by exporters we did not
// write, in all three encodings. Their declared meshes are counted here
// independently of the importer, straight from the file's text or tokens.

using namespace fyrel;
using namespace fyrel::test;

namespace {

struct DeclaredSkin {
    std::string bone;
    std::vector<std::uint32_t> vertices;
    float firstWeight = 0;
};

struct DeclaredMesh {
    std::uint64_t vertices = 0;
    std::uint64_t triangles = 0;  // faces of n corners count n - 2
    std::vector<DeclaredSkin> skins;
};

struct Declared {
    std::vector<DeclaredMesh> meshes;  // in file order
    std::set<std::string> frames;
};

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool isWordChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Finds "Keyword [name] {" as a whole word from pos; returns the position after
// the brace, or npos. name receives the object's name.
std::size_t findObject(const std::string& s, const std::string& keyword, std::size_t pos, std::string& name)
{
    while ((pos = s.find(keyword, pos)) != std::string::npos) {
        std::size_t end = pos + keyword.size();
        bool whole = (pos == 0 || !isWordChar(s[pos - 1])) && end < s.size() && !isWordChar(s[end]);
        std::size_t before = s.find_last_not_of(" \t\r\n", pos == 0 ? 0 : pos - 1);
        bool declaration = pos > 0 && before != std::string::npos && before >= 7 &&
                           s.compare(before - 7, 8, "template") == 0;
        whole = whole && !declaration;
        std::size_t brace = s.find_first_of("{;}", end);
        if (whole && brace != std::string::npos && s[brace] == '{') {
            std::string between = s.substr(end, brace - end);
            std::size_t a = between.find_first_not_of(" \t\r\n");
            std::size_t b = between.find_last_not_of(" \t\r\n");
            name = a == std::string::npos ? "" : between.substr(a, b - a + 1);
            return brace + 1;
        }
        pos = end;
    }
    return std::string::npos;
}

double nextNumber(const std::string& s, std::size_t& pos)
{
    while (pos < s.size() && (std::isspace(static_cast<unsigned char>(s[pos])) || s[pos] == ';' || s[pos] == ',')) {
        ++pos;
    }
    const char* start = s.c_str() + pos;
    char* end = nullptr;
    double v = std::strtod(start, &end);
    pos += static_cast<std::size_t>(end - start);
    return v;
}

Declared declaredInText(const std::string& s)
{
    Declared d;
    std::string name;
    for (std::size_t pos = 0; (pos = findObject(s, "Frame", pos, name)) != std::string::npos;) {
        d.frames.insert(name);
    }
    std::vector<std::size_t> meshStarts;
    for (std::size_t pos = 0; (pos = findObject(s, "Mesh", pos, name)) != std::string::npos;) {
        meshStarts.push_back(pos);
        DeclaredMesh m;
        m.vertices = static_cast<std::uint64_t>(nextNumber(s, pos));
        for (std::uint64_t i = 0; i < 3 * m.vertices; ++i) nextNumber(s, pos);
        auto faces = static_cast<std::uint64_t>(nextNumber(s, pos));
        for (std::uint64_t f = 0; f < faces; ++f) {
            auto corners = static_cast<std::uint64_t>(nextNumber(s, pos));
            for (std::uint64_t k = 0; k < corners; ++k) nextNumber(s, pos);
            m.triangles += corners >= 3 ? corners - 2 : 0;
        }
        d.meshes.push_back(m);
    }
    for (std::size_t pos = 0; (pos = findObject(s, "SkinWeights", pos, name)) != std::string::npos;) {
        std::size_t q1 = s.find('"', pos);
        std::size_t q2 = s.find('"', q1 + 1);
        DeclaredSkin skin;
        skin.bone = s.substr(q1 + 1, q2 - q1 - 1);
        pos = q2 + 1;
        auto count = static_cast<std::uint32_t>(nextNumber(s, pos));
        for (std::uint32_t i = 0; i < count; ++i) skin.vertices.push_back(static_cast<std::uint32_t>(nextNumber(s, pos)));
        skin.firstWeight = count > 0 ? static_cast<float>(nextNumber(s, pos)) : 0.0f;
        // The mesh it belongs to: the last one that starts before it.
        std::size_t owner = 0;
        while (owner + 1 < meshStarts.size() && meshStarts[owner + 1] < pos) ++owner;
        d.meshes.at(owner).skins.push_back(skin);
    }
    return d;
}

// The binary token stream flattened: names, and numbers from integer and
// float lists, in order.
Declared declaredInBinary(const std::string& s)
{
    struct Item {
        bool isName;
        std::string name;
        double number;
    };
    std::vector<Item> items;
    auto u16 = [&](std::size_t p) { return static_cast<unsigned>(static_cast<unsigned char>(s[p]) | (static_cast<unsigned char>(s[p + 1]) << 8)); };
    auto u32 = [&](std::size_t p) {
        std::uint32_t v;
        std::memcpy(&v, s.data() + p, 4);
        return v;
    };
    std::size_t floatBytes = s.compare(12, 4, "0064") == 0 ? 8 : 4;
    for (std::size_t p = 16; p + 2 <= s.size();) {
        unsigned t = u16(p);
        p += 2;
        if (t == 1 || t == 2) {
            std::uint32_t n = u32(p);
            if (t == 1) items.push_back({true, s.substr(p + 4, n), 0});
            p += 4 + n + (t == 2 ? 2 : 0);
        } else if (t == 3) {
            items.push_back({false, "", static_cast<double>(u32(p))});
            p += 4;
        } else if (t == 5) {
            p += 16;
        } else if (t == 6 || t == 7) {
            std::uint32_t n = u32(p);
            p += 4;
            for (std::uint32_t i = 0; i < n; ++i) {
                double v;
                if (t == 6) {
                    v = u32(p);
                    p += 4;
                } else if (floatBytes == 4) {
                    float f;
                    std::memcpy(&f, s.data() + p, 4);
                    v = f;
                    p += 4;
                } else {
                    std::memcpy(&v, s.data() + p, 8);
                    p += 8;
                }
                items.push_back({false, "", v});
            }
        }
    }
    Declared d;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!items[i].isName || (items[i].name != "Mesh" && items[i].name != "Frame")) continue;
        std::size_t j = i + 1;
        if (items[i].name == "Frame") {
            if (j < items.size() && items[j].isName) d.frames.insert(items[j].name);
            continue;
        }
        while (j < items.size() && items[j].isName) ++j;  // the mesh's name
        DeclaredMesh m;
        m.vertices = static_cast<std::uint64_t>(items[j++].number);
        j += 3 * m.vertices;
        auto faces = static_cast<std::uint64_t>(items[j++].number);
        for (std::uint64_t f = 0; f < faces; ++f) {
            auto corners = static_cast<std::uint64_t>(items[j++].number);
            j += corners;
            m.triangles += corners >= 3 ? corners - 2 : 0;
        }
        d.meshes.push_back(m);
    }
    return d;
}

Declared declared(const std::string& bytes)
{
    return bytes.compare(8, 4, "txt ") == 0 ? declaredInText(bytes) : declaredInBinary(bytes);
}

std::vector<std::filesystem::path> assimpXFiles()
{
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(kAssimpXFolder, ec)) {
        std::string ext = entry.path().extension().string();
        if (ext == ".x" || ext == ".X") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(XAssimpModels, EveryFileLoadsWithTheDeclaredCounts)
{
    std::vector<std::filesystem::path> files = assimpXFiles();
    if (files.empty()) {
        GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    std::set<std::string> encodings;
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        std::string bytes = readFile(path);
        encodings.insert(bytes.substr(8, 4));
        XImporter importer;
        Model m;
        ASSERT_NO_THROW(m = importer.load(path.string()));
        EXPECT_GT(m.vertices.size(), 0u);
        EXPECT_EQ(m.vertices.size(), importer.vertexTotal);
        EXPECT_EQ(m.triangles.size(), importer.triangleTotal);
        for (const Triangle& t : m.triangles) {
            for (std::uint32_t index : t.indices) ASSERT_LT(index, m.vertices.size());
        }
        if (bytes.compare(8, 4, "bzip") == 0) {
            continue;  // compared with its uncompressed twin below
        }
        Declared d = declared(bytes);
        std::uint64_t vertices = 0;
        std::uint64_t triangles = 0;
        for (const DeclaredMesh& mesh : d.meshes) {
            vertices += mesh.vertices;
            triangles += mesh.triangles;
        }
        EXPECT_GT(d.meshes.size(), 0u);
        EXPECT_EQ(m.vertices.size(), vertices);
        EXPECT_EQ(m.triangles.size(), triangles);
    }
    EXPECT_TRUE(encodings.count("txt ") && encodings.count("bin ") && encodings.count("bzip"));
}

TEST(XAssimpModels, CompressedCubeMatchesItsBinaryTwin)
{
    std::filesystem::path folder = kAssimpXFolder;
    if (!std::filesystem::exists(folder / "test_cube_compressed.x")) {
        GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    Model packed = importX((folder / "test_cube_compressed.x").string());
    Model plain = importX((folder / "test_cube_binary.x").string());
    Model text = importX((folder / "test_cube_text.x").string());
    ASSERT_EQ(packed.vertices.size(), 24u);
    ASSERT_EQ(packed.vertices.size(), plain.vertices.size());
    for (std::size_t i = 0; i < packed.vertices.size(); ++i) {
        EXPECT_FLOAT_EQ(packed.vertices[i].position.x, plain.vertices[i].position.x);
        EXPECT_FLOAT_EQ(packed.vertices[i].position.y, plain.vertices[i].position.y);
        EXPECT_NEAR(packed.vertices[i].position.z, text.vertices[i].position.z, 1e-5f);
    }
    ASSERT_EQ(packed.triangles.size(), 12u);
    for (std::size_t i = 0; i < packed.triangles.size(); ++i) {
        for (int k = 0; k < 3; ++k) EXPECT_EQ(packed.triangles[i].indices[k], text.triangles[i].indices[k]);
    }
    const Bone* cube = packed.rootBone.find("Cube");
    ASSERT_NE(cube, nullptr);
    EXPECT_EQ(cube->weights.size(), text.rootBone.find("Cube")->weights.size());
}

TEST(XAssimpModels, SkinnedModelsCarryTheirWeightsOnTheRightBones)
{
    int skinnedFiles = 0;
    for (const auto& path : assimpXFiles()) {
        std::string bytes = readFile(path);
        if (bytes.compare(8, 4, "txt ") != 0) continue;
        Declared d = declaredInText(bytes);
        bool skinned = false;
        for (const DeclaredMesh& mesh : d.meshes) skinned = skinned || !mesh.skins.empty();
        if (!skinned) continue;
        ++skinnedFiles;
        SCOPED_TRACE(path.string());
        Model m = importX(path.string());

        std::map<std::string, std::size_t> expectedWeights;
        std::uint64_t base = 0;
        for (const DeclaredMesh& mesh : d.meshes) {
            for (const DeclaredSkin& skin : mesh.skins) {
                if (!d.frames.count(skin.bone)) continue;
                const Bone* bone = m.rootBone.find(skin.bone);
                ASSERT_NE(bone, nullptr) << skin.bone;
                std::size_t first = expectedWeights[skin.bone];
                ASSERT_GE(bone->weights.size(), first + skin.vertices.size()) << skin.bone;
                for (std::size_t i = 0; i < skin.vertices.size(); ++i) {
                    // Each mesh's influences point into its own vertices.
                    EXPECT_EQ(static_cast<std::uint64_t>(bone->weights[first + i].vertex), base + skin.vertices[i])
                        << skin.bone;
                }
                if (!skin.vertices.empty()) {
                    EXPECT_NEAR(bone->weights[first].weight, skin.firstWeight, 1e-6f) << skin.bone;
                }
                expectedWeights[skin.bone] += skin.vertices.size();
            }
            base += mesh.vertices;
        }
        for (const auto& [bone, count] : expectedWeights) {
            EXPECT_EQ(m.rootBone.find(bone)->weights.size(), count) << bone;
        }
    }
    if (skinnedFiles == 0) {
        GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    EXPECT_GE(skinnedFiles, 4);  // anim_test, test_cube_text, BCN_Epileptic, Testwuson
}

TEST(XAssimpModels, SkinnedModelsRestOnTheirMeshWithTheirJointsInside)
{
    int skinned = 0;
    for (const auto& path : assimpXFiles()) {
        SCOPED_TRACE(path.string());
        const Model m = importX(path.string());
        if (m.hasSkin()) {
            ++skinned;
            expectRestsOnItsMesh(m);
        }
    }
    if (skinned == 0) {
        GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    EXPECT_GE(skinned, 6);  // anim_test, the three test cubes, BCN_Epileptic, Testwuson
}

TEST(XAssimpModels, SeveralTopLevelFramesKeepTheSkeletonOfTheSkin)
{
    std::filesystem::path file = std::filesystem::path(kAssimpXFolder) / "BCN_Epileptic.X";
    if (!std::filesystem::exists(file)) {
        GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    Model m = importX(file.string());
    EXPECT_EQ(m.rootBone.name, "");
    ASSERT_EQ(m.rootBone.children.size(), 4u);
    EXPECT_EQ(m.rootBone.children[0].name, "Torso");
    EXPECT_EQ(m.rootBone.children[1].name, "B_Root_Pelvis_L");
    EXPECT_EQ(m.rootBone.children[3].name, "Legs");
    EXPECT_TRUE(m.hasSkin());
}
