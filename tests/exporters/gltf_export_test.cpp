#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "exporters/gltf_exporter.h"
#include "ik/ik_controller.h"
#include "importers/gltf/gltf_importer.h"
#include "importers/model_formats.h"
#include "images/texture_image.h"
#include "diagnostics/debug_output.h"
#include "support/import_check.h"
#include "support/source_tree.h"

using namespace fyrel;
using fyrel::test::fileBytes;

namespace {

// Where the model's vertices stand in the world a number of seconds into a
// clip played at speed 1: skinned (or bind) positions under the base transform.
std::vector<Vector3> posedAt(const Model& original, std::size_t clip, float seconds)
{
    Model m(original);
    if (!m.animator.animations.empty()) {
        m.animator.current = static_cast<std::int32_t>(clip);
        m.animator.time = 0;
        m.animator.rate = 1;
        updateAnimator(m, seconds);
    }
    updatePose(m);
    const std::vector<Vertex>& source = m.hasSkin() ? m.skinnedVertices : m.vertices;
    std::vector<Vector3> out;
    for (const Vertex& v : source) {
        Vector4 p{v.position.x, v.position.y, v.position.z, 1}, w;
        transform(m.baseTransform, p, w);
        out.push_back({w.x, w.y, w.z});
    }
    return out;
}

float sizeOf(const std::vector<Vector3>& points)
{
    Vector3 lo = points.at(0), hi = lo, extent;
    for (const Vector3& p : points) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    return length(difference(hi, lo, extent));
}

std::string boneNames(const Bone& bone)
{
    std::string names = bone.name + "(";
    for (const Bone& child : bone.children) {
        names += boneNames(child);
    }
    return names + ")";
}

// The demo with a generated reaching clip, as the IK commands leave it, caught
// by the export in the middle of a walk: what plays must not change the clips.
Model demoWithIkClip()
{
    Model m = importModelFile(sourcePath("resources/demo/walker.ms3d"));
    IkController ik("hand_l", {0.4f, 0.3f, 1.2f}, &m);
    ik.generateAnimation();
    ik.playAnimation();
    m.animator.rate = 2.77f;
    return m;
}

// The demo with its first material, bone and clip named by the bytes given
// (names from old files come in Windows code pages, not UTF-8).
Model demoNamed(const std::string& name)
{
    Model m = importModelFile(sourcePath("resources/demo/walker.ms3d"));
    m.materials.at(0).name = name;
    m.rootBone.children.at(0).name = name;
    m.animator.animations.at(0).name = name;
    return m;
}

struct Sample {
    const char* name;
    std::function<Model()> load;
};

const Sample kSamples[] = {
    {"demo", [] { return importModelFile(sourcePath("resources/demo/walker.ms3d")); }},
    {"demo with an IK clip", demoWithIkClip},
    {"skinned .X", [] { return importModelFile("/usr/share/assimp/models/X/Testwuson.X"); }},
    {"static .3ds", [] { return importModelFile("/usr/share/assimp/models/3DS/fels.3ds"); }},
    {"skinned glTF", [] { return importModelFile("/usr/share/assimp/models/glTF2/simple_skin/simple_skin.gltf"); }},
#ifdef FYREL_HAS_IMPORT_WORKER
    {"skinned FBX", [] { return importModelFile("/usr/share/assimp/models/FBX/animation_with_skeleton.fbx"); }},
    {"COLLADA", [] { return importModelFile("/usr/share/assimp/models/Collada/duck.dae"); }},
#endif
};

TEST(GltfExport, ReimportedModelsKeepCountsNamesClipsAndMotion)
{
    setDebugSink([](const std::string&) {});
    for (const Sample& sample : kSamples) {
        SCOPED_TRACE(sample.name);
        const Model original = sample.load();
        const std::vector<std::uint8_t> glb = exportGlb(original);
        const Model back = importGltfFromMemory(glb.data(), glb.size(), "export.glb");
        EXPECT_EQ(back.vertices.size(), original.vertices.size());
        EXPECT_EQ(back.triangles.size(), original.triangles.size());
        if (original.hasSkin()) {
            EXPECT_EQ(boneNames(back.rootBone), boneNames(original.rootBone));
        }
        ASSERT_EQ(back.animator.animations.size(), original.hasSkin() ? original.animator.animations.size() : 0u);
        const float tolerance = 1e-4f * sizeOf(posedAt(original, 0, 0));
        for (std::size_t clip = 0; clip < std::max<std::size_t>(1, back.animator.animations.size()); ++clip) {
            const Animation* played = back.animator.animations.empty() ? nullptr : &original.animator.animations[clip];
            const float length = played ? played->length / played->ticksPerSecond : 0;
            if (!back.animator.animations.empty()) {
                EXPECT_EQ(back.animator.animations[clip].name, original.animator.animations[clip].name);
            }
            for (const float fraction : {0.0f, 0.2f, 0.45f, 0.7f, 0.95f}) {
                const std::vector<Vector3> a = posedAt(original, clip, fraction * length);
                const std::vector<Vector3> b = posedAt(back, clip, fraction * length);
                ASSERT_EQ(a.size(), b.size());
                float worst = 0;
                for (std::size_t i = 0; i < a.size(); ++i) {
                    worst = std::max({worst, std::fabs(a[i].x - b[i].x), std::fabs(a[i].y - b[i].y),
                                      std::fabs(a[i].z - b[i].z)});
                }
                EXPECT_LE(worst, tolerance) << "clip " << clip << " at " << fraction * length << " s";
            }
        }
    }
    setDebugSink({});
}

// The Khronos validator (npm's gltf-validator, which scripts/setup installs
// into the build folder) finds no error in any export.
TEST(GltfExport, ExportsPassTheKhronosValidator)
{
    const std::string validator = FYREL_GLTF_VALIDATOR_DIR;
    if (!std::filesystem::exists(validator + "/node_modules/gltf-validator")) {
        GTEST_SKIP() << "the glTF validator is not installed in " << validator << " (scripts/setup installs it)";
    }
    setDebugSink([](const std::string&) {});
    const auto folder = std::filesystem::temp_directory_path() / ("fyrel_export_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::string files;
    int n = 0;
    const auto write = [&](const Model& model) {
        const std::string path = (folder / (std::to_string(n++) + ".glb")).string();
        exportGlbFile(model, path);
        files += " " + path;
    };
    for (const Sample& sample : kSamples) {
        write(sample.load());
    }
    write(importModelFile(sourcePath("tests/data/materials/quad.ms3d")));  // materials, a TGA texture
    write(demoNamed("Terraind\xe6k"));  // names in Latin-1
#ifdef FYREL_HAS_IMPORT_WORKER
    write(importModelFile("/usr/share/assimp/models/BVH/Boxing_Toes.bvh"));  // a skeleton and its motion alone
    write(importModelFile("/usr/share/assimp/models/FBX/embedded_ascii/box.FBX"));  // a texture inside the file
#endif
    setDebugSink({});
    const std::string command = "NODE_PATH=" + validator + "/node_modules node " +
                                sourcePath("tests/exporters/validate_gltf.js") + files;
    const std::string report = (folder / "report.txt").string();
    EXPECT_EQ(std::system((command + " >" + report + " 2>&1").c_str()), 0) << fileBytes(report);
    std::filesystem::remove_all(folder);
}

// glTF's JSON is UTF-8: names that are UTF-8 go out as they are, any other
// byte as the Latin-1 letter it is in a Windows code page.
TEST(GltfExport, NamesGoOutAsUtf8)
{
    const struct {
        const char* what;
        std::string name, written;
    } rows[] = {
        {"ASCII", "Hips", "Hips"},
        {"Latin-1", "Terraind\xe6k", "Terraind\xc3\xa6k"},
        {"UTF-8 of two, three and four bytes", "B\xc3\xb8 \xe2\x82\xac \xf0\x9f\x98\x80",
         "B\xc3\xb8 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"a sequence cut short by the end", "x\xe2\x82", "x\xc3\xa2\xc2\x82"},
        {"an overlong slash", "\xc0\xaf", "\xc3\x80\xc2\xaf"},
        {"a surrogate", "\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"},
    };
    setDebugSink([](const std::string&) {});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::vector<std::uint8_t> glb = exportGlb(demoNamed(row.name));
        const Model back = importGltfFromMemory(glb.data(), glb.size(), "export.glb");
        EXPECT_EQ(back.materials.at(0).name, row.written);
        EXPECT_EQ(back.animator.animations.at(0).name, row.written);
        EXPECT_NE(boneNames(back.rootBone).find("(" + row.written + "("), std::string::npos) << boneNames(back.rootBone);
    }
    setDebugSink({});
}

// A model the format cannot hold is refused with a message, nothing written.
TEST(GltfExport, ModelsItCannotWriteAreRefusedWithAMessage)
{
    Model triangle;
    triangle.vertices.resize(3);
    triangle.triangles.emplace_back();
    triangle.triangles[0].indices[1] = 1, triangle.triangles[0].indices[2] = 2;
    struct Case {
        const char* name;
        std::function<void(Model&)> spoil;
        const char* message;
    };
    const Case cases[] = {
        {"no triangles", [](Model& m) { m.triangles.clear(); }, "no triangles to export"},
        {"a corner beyond the vertices", [](Model& m) { m.triangles[0].indices[2] = 3; },
         "names a vertex it does not have"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Model m = triangle;
        c.spoil(m);
        try {
            exportGlb(m);
            ADD_FAILURE() << "exported";
        } catch (const ExportError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    EXPECT_FALSE(exportGlb(triangle).empty());
}

// Triangles whose materials alternate at every one go out as one primitive
// a material, not one a triangle: each comes back with its material.
TEST(GltfExport, AlternatingMaterialsBecomeOnePrimitiveEach)
{
    Model m;
    m.materials.resize(2);
    for (std::uint32_t t = 0; t < 10; ++t) {
        m.vertices.push_back({{float(t), 0, 0}, {}});
        m.vertices.push_back({{float(t), 1, 0}, {}});
        m.vertices.push_back({{float(t), 0, 1}, {}});
        Triangle& triangle = m.triangles.emplace_back();
        triangle.indices[0] = 3 * t, triangle.indices[1] = 3 * t + 1, triangle.indices[2] = 3 * t + 2;
        triangle.material = t % 2;
    }
    const std::vector<std::uint8_t> glb = exportGlb(m);
    const Model back = importGltfFromMemory(glb.data(), glb.size(), "export.glb");
    ASSERT_EQ(back.triangles.size(), 10u);
    for (std::size_t t = 0; t < 10; ++t) {
        const Triangle& triangle = back.triangles[t];
        EXPECT_EQ(triangle.material, t < 5 ? 0u : 1u);
        // The first corner's x (the mirror of glTF's axes undone) names the triangle it came from.
        EXPECT_EQ(static_cast<std::uint32_t>(std::lround(std::fabs(back.vertices[triangle.indices[0]].position.x))) % 2,
                  triangle.material);
    }
}

// The materials of each importer's small file (tests/data/materials: two,
// one of them translucent with a TGA beside the model, which the .glb
// carries as PNG), of a Milkshape jeep (one, with an emissive colour and a
// JPEG, carried as it is) and of the glTF texture transform sample (PNGs
// that clamp at their edges): names, colours, blending, cut-outs, wrapping, which
// triangles use them, the texture coordinates and the textures' pixels all
// come back; so do the triangles' corners.
TEST(GltfExport, MaterialsAndTheirTexturesComeBack)
{
    test::DebugCapture quiet;
    const std::string materials = sourcePath("tests/data/materials/");
    const std::string models = "/usr/share/assimp/models/";
    for (const std::string& path : {materials + "quad.ms3d", materials + "quad.3ds", materials + "quad.x",
                                    materials + "quad.gltf", models + "MS3D/jeep1.ms3d",
                                    models + "glTF2/textureTransform/TextureTransformTest.gltf"}) {
        SCOPED_TRACE(path);
        Model original = importModelFile(path);
        original.materials.at(0).alphaCutoff = 0.25f;  // a cut-out, which none of the files has
        const std::vector<std::uint8_t> glb = exportGlb(original);
        const Model back = importGltfFromMemory(glb.data(), glb.size(), "export.glb");
        ASSERT_EQ(back.materials.size(), original.materials.size());
        for (std::size_t m = 0; m < back.materials.size(); ++m) {
            const Material &a = original.materials[m], &b = back.materials[m];
            EXPECT_EQ(b.name, a.name);
            for (int k = 0; k < 4; ++k) {
                EXPECT_FLOAT_EQ(b.diffuse[k], a.diffuse[k]) << "material " << m << ", component " << k;
            }
            for (int k = 0; k < 3; ++k) {
                EXPECT_FLOAT_EQ(b.emissive[k], a.emissive[k]) << "material " << m << ", component " << k;
            }
            EXPECT_EQ(b.transparent(), a.transparent());
            EXPECT_EQ(b.alphaCutoff, a.alphaCutoff) << "material " << m;
            EXPECT_EQ(b.wrapS, a.wrapS) << "material " << m;
            EXPECT_EQ(b.wrapT, a.wrapT) << "material " << m;
            ASSERT_EQ(b.hasTexture(), a.hasTexture());
            if (b.hasTexture()) {
                ASSERT_TRUE(b.embeddedTexture);
                Image carried, source;
                std::string reason;
                ASSERT_TRUE(decodeImage(b.embeddedTexture->data(), b.embeddedTexture->size(), carried, reason))
                    << reason;
                ASSERT_TRUE(decodeImageFile(a.texturePath, source, reason)) << reason;
                EXPECT_EQ(carried.width, source.width);
                EXPECT_EQ(carried.height, source.height);
                EXPECT_TRUE(carried.data == source.data) << "material " << m;
            }
        }
        ASSERT_EQ(back.triangles.size(), original.triangles.size());
        ASSERT_EQ(back.texCoords.size(), back.vertices.size());
        for (std::size_t t = 0; t < back.triangles.size(); ++t) {
            EXPECT_EQ(back.triangles[t].material, original.triangles[t].material);
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t i = original.triangles[t].indices[k], j = back.triangles[t].indices[k];
                const Vector3 &p = original.vertices[i].position, &q = back.vertices[j].position;
                Vector4 pw, qw;
                transform(original.baseTransform, {p.x, p.y, p.z, 1}, pw);
                transform(back.baseTransform, {q.x, q.y, q.z, 1}, qw);
                EXPECT_NEAR(qw.x, pw.x, 1e-5f);
                EXPECT_NEAR(qw.y, pw.y, 1e-5f);
                EXPECT_NEAR(qw.z, pw.z, 1e-5f);
                EXPECT_EQ(back.texCoords[j].s, original.texCoords[i].s) << "triangle " << t << ", corner " << k;
                EXPECT_EQ(back.texCoords[j].t, original.texCoords[i].t) << "triangle " << t << ", corner " << k;
            }
        }
    }
}

}  // namespace
