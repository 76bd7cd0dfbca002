// Each importer given a small file of two materials, one of them textured:
// the materials, which triangles use them, texture coordinates (in the
// scene's convention: t down from the image's top) and the texture found.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "images/texture_image.h"
#include "importers/model_formats.h"
#include "tools/ms3d_writer.h"

namespace fyrel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void save(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// A 1×1 opaque white TGA: the smallest image stb_image reads.
Bytes tinyTga()
{
    Bytes b(18, 0);
    b[2] = 2;  // uncompressed true colour
    b[12] = 1;
    b[14] = 1;
    b[16] = 32;
    b[17] = 8;
    b.insert(b.end(), {255, 255, 255, 255});
    return b;
}

// Two triangles over four points: triangle 0 (0, 1, 2) with the first
// material, triangle 1 (0, 2, 3) with the second, textured one, which sees
// point 2 with texture coordinates (1, 0.25) as the scene counts them.
Bytes ms3dFile()
{
    Ms3dFile f;
    const float points[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    for (const auto& p : points) {
        Ms3dVertex v;
        std::copy(p, p + 3, v.position);
        f.vertices.push_back(v);
    }
    Ms3dTriangle a, b;
    a.indices[0] = 0, a.indices[1] = 1, a.indices[2] = 2;
    a.s[2] = 0.5f, a.t[2] = 0.5f;
    a.groupIndex = 0;
    b.indices[0] = 0, b.indices[1] = 2, b.indices[2] = 3;
    b.s[1] = 1.0f, b.t[1] = 0.25f;  // point 2 again, other coordinates: a second vertex
    b.groupIndex = 1;
    f.triangles = {a, b};
    f.groups = {Ms3dGroup{"plain", {0}, 0, 0}, Ms3dGroup{"skin", {1}, 1, 0}};
    Ms3dMaterial red, skin;
    red.name = "red";
    red.diffuse[0] = 1, red.diffuse[1] = 0, red.diffuse[2] = 0;
    skin.name = "skin";
    skin.diffuse[0] = 1.0f;
    skin.transparency = 0.5f;
    skin.texture = ".\\Skin.TGA";
    f.materials = {red, skin};
    return writeMs3d(f);
}

struct ChunkWriter {
    Bytes bytes;
    void u16(std::uint16_t v) { bytes.insert(bytes.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); }
    void f32(float f)
    {
        std::uint8_t b[4];
        std::memcpy(b, &f, 4);
        bytes.insert(bytes.end(), b, b + 4);
    }
    void text(const std::string& s) { bytes.insert(bytes.end(), s.c_str(), s.c_str() + s.size() + 1); }
    // A chunk whose body write() fills.
    void chunk(std::uint16_t id, const std::function<void()>& write)
    {
        u16(id);
        const std::size_t at = bytes.size();
        bytes.resize(at + 4);
        write();
        const auto length = static_cast<std::uint32_t>(bytes.size() - at + 2);
        std::memcpy(bytes.data() + at, &length, 4);
    }
};

Bytes threeDsFile()
{
    ChunkWriter w;
    w.chunk(0x4D4D, [&] {
        w.chunk(0x3D3D, [&] {
            w.chunk(0xAFFF, [&] {
                w.chunk(0xA000, [&] { w.text("red"); });
                w.chunk(0xA020, [&] { w.chunk(0x0011, [&] { w.bytes.insert(w.bytes.end(), {255, 0, 0}); }); });
                w.chunk(0xA040, [&] { w.chunk(0x0030, [&] { w.u16(50); }); });
            });
            w.chunk(0xAFFF, [&] {
                w.chunk(0xA000, [&] { w.text("skin"); });
                w.chunk(0xA050, [&] { w.chunk(0x0030, [&] { w.u16(50); }); });
                w.chunk(0xA200, [&] { w.chunk(0xA300, [&] { w.text("SKIN.TGA"); }); });
                w.chunk(0xA020, [&] { w.chunk(0x0010, [&] { w.f32(NAN), w.f32(0), w.f32(0); }); });  // ignored
            });
            w.chunk(0x4000, [&] {
                w.text("quad");
                w.chunk(0x4100, [&] {
                    w.chunk(0x4110, [&] {
                        w.u16(4);
                        for (const float p : {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}) {
                            w.f32(p);
                        }
                    });
                    w.chunk(0x4140, [&] {
                        w.u16(4);
                        for (const float uv : {0.0f, 1.0f, 0.0f, 1.0f, 1.0f, 0.75f, 0.0f, 0.0f}) {
                            w.f32(uv);  // 3ds counts v up from the bottom
                        }
                    });
                    w.chunk(0x4120, [&] {
                        w.u16(2);
                        for (const int i : {0, 1, 2, 0, 0, 2, 3, 0}) {
                            w.u16(static_cast<std::uint16_t>(i));
                        }
                        w.chunk(0x4130, [&] { w.text("skin"), w.u16(1), w.u16(1); });
                        w.chunk(0x4130, [&] { w.text("red"), w.u16(1), w.u16(0); });
                    });
                });
            });
        });
    });
    return w.bytes;
}

std::string gltfFile()
{
    return R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
  "nodes": [{"mesh": 0}],
  "meshes": [{"primitives": [
    {"attributes": {"POSITION": 0, "TEXCOORD_1": 1}, "indices": 2, "material": 0},
    {"attributes": {"POSITION": 0, "TEXCOORD_1": 1}, "indices": 3, "material": 1}]}],
  "materials": [
    {"name": "red", "pbrMetallicRoughness": {"baseColorFactor": [1, 0, 0, 1]}},
    {"name": "skin", "alphaMode": "BLEND",
     "pbrMetallicRoughness": {"baseColorFactor": [1, 1, 1, 0.5], "baseColorTexture": {"index": 0, "texCoord": 1}}}],
  "textures": [{"source": 0}], "images": [{"uri": "Skin.TGA"}],
  "buffers": [{"uri": "quad.bin", "byteLength": 92}],
  "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 48}, {"buffer": 0, "byteOffset": 48, "byteLength": 32},
                  {"buffer": 0, "byteOffset": 80, "byteLength": 12}],
  "accessors": [
    {"bufferView": 0, "componentType": 5126, "count": 4, "type": "VEC3", "min": [0, 0, 0], "max": [1, 1, 0]},
    {"bufferView": 1, "componentType": 5126, "count": 4, "type": "VEC2"},
    {"bufferView": 2, "componentType": 5123, "count": 3, "type": "SCALAR"},
    {"bufferView": 2, "byteOffset": 6, "componentType": 5123, "count": 3, "type": "SCALAR"}]})";
}

// Direct3D's text form: faces as quads are split into triangles, the
// material list names a material per face; the texture name as a Windows
// exporter writes it.
std::string xFile()
{
    return "xof 0303txt 0032\n"
           "Mesh quad { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;;\n"
           "  2; 3;0,1,2;, 3;0,2,3;;\n"
           "  MeshMaterialList { 2; 2; 0, 1;;\n"
           "    Material red { 1;0;0;1;; 0; 0;0;0;; 0;0;0;; }\n"
           "    Material skin { 1;1;1;0.5;; 1; 0;0;0;; 0;0;0;; TextureFilename { \"C:\\\\art\\\\Skin.tga\"; } } }\n"
           "  MeshTextureCoords { 4; 0;0;, 0;0;, 1;0.25;, 0;0;; }\n"
           "}\n";
}

Bytes gltfBuffer()
{
    ChunkWriter w;
    for (const float p : {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}) {
        w.f32(p);
    }
    for (const float uv : {0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.25f, 0.0f, 0.0f}) {
        w.f32(uv);
    }
    for (const int i : {0, 1, 2, 0, 2, 3}) {
        w.u16(static_cast<std::uint16_t>(i));
    }
    return w.bytes;
}

TEST(MaterialImport, EveryImporterKeepsMaterialsTextureCoordinatesAndFindsTheTexture)
{
    const fs::path folder = fs::temp_directory_path() / ("fyrel_materials_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    save(folder / "skin.tga", tinyTga());
    save(folder / "quad.ms3d", ms3dFile());
    save(folder / "quad.3ds", threeDsFile());
    std::ofstream(folder / "quad.gltf") << gltfFile();
    std::ofstream(folder / "quad.x") << xFile();
    save(folder / "quad.bin", gltfBuffer());

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
    fs::remove_all(folder);
}

}  // namespace
}  // namespace fyrel
