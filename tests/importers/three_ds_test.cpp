#include <gtest/gtest.h>

#include <lib3ds/file.h>
#include <lib3ds/mesh.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "importers/three_ds_importer.h"
#include "support/import_check.h"
#include "support/source_tree.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

const std::string kLoadFailed = "Unable to load 3ds file";

// Files of tests/data/3ds; those here were written by lib3ds itself.
std::string dataFile(const std::string& name)
{
    return sourcePath("tests/data/3ds/" + name);
}

Model import(const std::string& bytes)
{
    return import3dsFromMemory(dataOf(bytes), bytes.size());
}

// A failure of ours (our lead-in, never anything but an ImportError), or a model.
::testing::AssertionResult failsCleanlyOrLoads(const std::string& bytes)
{
    try {
        import(bytes);
    } catch (const ImportError& e) {
        if (std::string(e.what()).rfind(kLoadFailed, 0) != 0) {
            return ::testing::AssertionFailure() << "unexpected text: " << e.what();
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(ThreeDsImport, MeshesKeepFileOrderWithLaterFacesOffsetAndComputedNormals)
{
    // "zeta" comes first in the file although lib3ds would list it last; the
    // faceless "b" adds only its vertices.
    const Model m = import3ds(dataFile("meshes_zeta_alpha_and_faceless_b.3ds"));
    ASSERT_EQ(m.vertices.size(), 11u);
    const Vector3 expected[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {5, 0, 1}, {6, 0, 1}, {5, 1, 1}, {0, 0, 0}};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(m.vertices[i].position, expected[i]) << i;
    }
    ASSERT_EQ(m.triangles.size(), 3u);
    EXPECT_EQ(m.triangles[1].indices[2], 3u);
    EXPECT_EQ(std::vector<std::uint32_t>(m.triangles[2].indices, m.triangles[2].indices + 3),
              (std::vector<std::uint32_t>{4, 5, 6}));
    // Counter-clockwise seen from +z: (p0 - p1) x (p2 - p1) points to -z.
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(m.vertices[i].normal, (Vector3{0, 0, -1}));
    }
    EXPECT_EQ(m.triangles[0].normal, (Vector3{0, 0, -1}));
    EXPECT_TRUE(m.rootBone.name.empty() && m.rootBone.children.empty() && m.animator.animations.empty());

    const Model many = import3ds(dataFile("2000_meshes_named_against_their_order.3ds"));
    ASSERT_EQ(many.vertices.size(), 2000u);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(many.vertices[i].position.x, static_cast<float>(i));
    }
    // lib3ds 1.3 mirrors, on reading and on writing, the points of a mesh
    // whose matrix has a negative determinant: this file was put together by hand.
    const Model mirrored = import3ds(dataFile("points_under_a_mirroring_matrix.3ds"));
    ASSERT_EQ(mirrored.vertices.size(), 3u);
    EXPECT_EQ(mirrored.vertices[0].position, (Vector3{1, 2, 3}));
    EXPECT_EQ(mirrored.vertices[2].position, (Vector3{7, 8, 10}));
}

TEST(ThreeDsImport, AFaceOutsideItsMeshIsRefusedAlsoAfterLib3dsReadItAndPathsAreNamed)
{
    // The conversion checks again what the chunk check refuses first.
    Lib3dsFile* file = lib3ds_file_load(dataFile("face_beyond_its_own_mesh.3ds").c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(failureOf([&] { convert3dsFile(*file); }),
              "face 1 of mesh 2 (\"b\") uses vertex 3, but the mesh has 3 vertices\n");
    lib3ds_file_free(file);

    const std::string missing = dataFile("missing.3ds");
    EXPECT_EQ(failureOf([&] { import3ds(missing); }),
              kLoadFailed + " \"" + missing + "\": the file cannot be opened\n");
    const std::string folder = std::filesystem::temp_directory_path().string();
    EXPECT_EQ(failureOf([&] { import3ds(folder); }).rfind(kLoadFailed + " \"" + folder + "\"", 0), 0u);
}

TEST(ThreeDsBadFiles, EveryTruncationAndCorruptionFailsWithOurMessageOrLoads)
{
    const std::string written = fileBytes(dataFile("meshes_zeta_alpha_and_faceless_b.3ds"));
    const std::string real = fileBytes("/usr/share/assimp/models/3DS/test1.3ds");
    ASSERT_EQ(import(real).vertices.size(), 288u) << "install assimp-testmodels (scripts/setup does)";
    for (const std::string& whole : {written, real}) {
        for (std::size_t n = 0; n < whole.size(); ++n) {
            std::string cut = whole.substr(0, n);
            ASSERT_EQ(failureOf([&] { import(cut); }).rfind(kLoadFailed, 0), 0u) << n;
            if (n < 6) {
                continue;
            }
            // The same cut with the main chunk's length made to match, so
            // that the check has to find the damage inside.
            for (int i = 0; i < 4; ++i) {
                cut[2 + i] = static_cast<char>(n >> (8 * i));
            }
            ASSERT_TRUE(failsCleanlyOrLoads(cut)) << n;
        }
    }
    for (std::size_t at = 0; at < real.size(); ++at) {
        for (char value : {'\x00', '\x01', '\xFF'}) {
            std::string bad = real;
            bad[at] = value;
            ASSERT_TRUE(failsCleanlyOrLoads(bad)) << "byte " << at << " set to " << int{value};
        }
    }
}

TEST(ThreeDsRealFiles, AssimpModelsLoadWithTheTotalsLib3dsReads)
{
    int read = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("/usr/share/assimp/models")) {
        std::string ending = entry.path().extension().string();
        std::transform(ending.begin(), ending.end(), ending.begin(), ::tolower);
        if (!entry.is_regular_file() || ending != ".3ds") {
            continue;
        }
        const std::string path = entry.path().string();
        Lib3dsFile* reference = lib3ds_file_load(path.c_str());
        if (reference == nullptr) {
            EXPECT_TRUE(failsCleanlyOrLoads(fileBytes(path))) << path;
            continue;
        }
        std::size_t vertices = 0, faces = 0;
        for (const Lib3dsMesh* mesh = reference->meshes; mesh != nullptr; mesh = mesh->next) {
            vertices += mesh->points;
            faces += mesh->faces;
        }
        lib3ds_file_free(reference);
        const Model m = import3ds(path);
        EXPECT_EQ(m.vertices.size(), vertices) << path;
        EXPECT_EQ(m.triangles.size(), faces) << path;
        ++read;
    }
    EXPECT_GE(read, 9);
}
