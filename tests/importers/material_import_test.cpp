// Each importer given a small file of two materials, one of them textured
// (tests/data/materials/README): the materials, which triangles use them,
// texture coordinates (in the scene's convention: t down from the image's
// top) and the texture found.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "images/texture_image.h"
#include "importers/model_formats.h"
#include "support/import_check.h"
#include "support/source_tree.h"

namespace fyrel {
namespace {

namespace fs = std::filesystem;

TEST(MaterialImport, EveryImporterKeepsMaterialsTextureCoordinatesAndFindsTheTexture)
{
    const fs::path folder = sourcePath("tests/data/materials");
    test::DebugCapture quiet;

    struct Case {
        const char* file;
        float redShininess;  // what each format makes of its own figure
    } cases[] = {{"quad.ms3d", 0.0f}, {"quad.3ds", 64.0f}, {"quad.gltf", 1.0f}, {"quad.x", 0.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Model model = importModelFile((folder / c.file).string());
        ASSERT_EQ(model.materials.size(), 2u);
        const Material& red = model.materials[0];
        const Material& skin = model.materials[1];
        EXPECT_EQ(red.name, "red");
        EXPECT_FLOAT_EQ(red.diffuse[0], 1.0f);
        EXPECT_FLOAT_EQ(red.diffuse[1], 0.0f);
        EXPECT_FALSE(red.transparent());
        EXPECT_FLOAT_EQ(red.shininess, c.redShininess);
        EXPECT_EQ(skin.name, "skin");
        EXPECT_FLOAT_EQ(skin.diffuse[3], 0.5f);
        EXPECT_TRUE(skin.transparent());
        EXPECT_FLOAT_EQ(skin.diffuse[0], c.file == std::string("quad.3ds") ? 0.8f : 1.0f);  // NaN colour ignored
        EXPECT_EQ(fs::path(skin.texturePath), folder / "skin.tga");
        ASSERT_EQ(model.triangles.size(), 2u);
        EXPECT_EQ(model.triangles[0].material, 0u);
        EXPECT_EQ(model.triangles[1].material, 1u);
        ASSERT_EQ(model.texCoords.size(), model.vertices.size());
        const std::uint32_t corner = model.triangles[1].indices[1];
        EXPECT_FLOAT_EQ(model.texCoords[corner].s, 1.0f);
        EXPECT_FLOAT_EQ(model.texCoords[corner].t, 0.25f);
        Image image;
        std::string reason;
        EXPECT_TRUE(decodeImageFile(skin.texturePath, image, reason)) << reason;
    }
    // Milkshape's corners: the second triangle sees point 2 with other
    // coordinates than the first, which makes a fifth vertex at its place.
    const Model ms3d = importModelFile((folder / "quad.ms3d").string());
    ASSERT_EQ(ms3d.vertices.size(), 5u);
    EXPECT_EQ(ms3d.triangles[0].indices[2], 2u);
    EXPECT_FLOAT_EQ(ms3d.texCoords[2].s, 0.5f);
    EXPECT_EQ(ms3d.triangles[1].indices[1], 4u);
    EXPECT_FLOAT_EQ(ms3d.vertices[4].position.y, ms3d.vertices[2].position.y);
}

}  // namespace
}  // namespace fyrel
