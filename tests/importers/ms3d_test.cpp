#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "importers/model_formats.h"
#include "importers/ms3d_importer.h"
#include "scene/model.h"
#include "support/import_check.h"
#include "tools/ms3d_writer.h"

using namespace fyrel;
using namespace fyrel::test;
namespace fs = std::filesystem;

namespace {

Ms3dVertex vertex(float x, float y, float z, int bone = -1)
{
    return {{x, y, z}, static_cast<std::int8_t>(bone)};
}

Ms3dJoint joint(const std::string& name, const std::string& parent = "")
{
    return {name, parent};
}

Ms3dKey key(float time, float x, float y, float z)
{
    return Ms3dKey{time, {x, y, z}};
}

// Three vertices, one triangle, one group, one material, two joints with keys.
Ms3dFile smallFile()
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 0, 0), vertex(1, 0, 0, 1), vertex(0, 1, 0.5f, -1)};
    f.triangles = {Ms3dTriangle{{0, 2, 1}}};
    f.groups = {Ms3dGroup{"body", {0}, 0, 0}};
    f.materials = {Ms3dMaterial{"skin"}};
    f.currentTime = 1.0f / 3.0f;
    f.totalFrames = 30;
    Ms3dJoint root = joint("root");
    root.rotationKeys = {key(0, 0, 0, 0), key(1, 0.5f, 0, 0)};
    root.translationKeys = {key(0, 0, 0, 1)};
    f.joints = {root, joint("arm", "root")};
    return f;
}

using Bytes = std::vector<std::uint8_t>;

Model load(const Bytes& bytes, const std::string& name = "test.ms3d")
{
    DebugCapture quiet;
    return importMs3dFromMemory(bytes.data(), bytes.size(), name);
}

Model load(const Ms3dFile& f)
{
    return load(writeMs3d(f));
}

void expectNear(const Matrix4& a, const Matrix4& b)
{
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(a.m[i], b.m[i], 1e-5f) << "element " << i;
    }
}

}  // namespace

TEST(Ms3dConversion, GeometryFirstMaterialAndPlacementOnTheGround)
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 2), vertex(4, -5, 4), vertex(1, 2, 0)};
    f.triangles = {Ms3dTriangle{{1, 0, 2}, {{5, 0, 0}}}};  // stored normals are not used
    const Ms3dMaterial first{"first", {0, 0.1f, 0.2f, 0.3f}, {0, 0.2f, 0.4f, 0.6f}, {0, 0.05f, 0.1f, 0.15f},
                             {0, 0.01f, 0.02f, 0.03f}, 42.0f};
    f.materials = {first, Ms3dMaterial{"second", {0.9f, 0.9f, 0.9f, 0.9f}}};
    const Model m = load(f);
    ASSERT_EQ(m.vertices.size(), 3u);
    EXPECT_EQ(m.vertices[1].position.y, -5.0f);  // kept as stored
    EXPECT_EQ(std::vector<std::uint32_t>(m.triangles.at(0).indices, m.triangles[0].indices + 3),
              (std::vector<std::uint32_t>{1, 0, 2}));
    // (p0 - p1) x (p2 - p1) = (4, -5, 2) x (1, 2, -2) = (6, 10, 13), normalised.
    for (const Vector3& n : {m.triangles[0].normal, m.vertices[2].normal}) {
        EXPECT_NEAR(n.x, 0.343560f, 1e-5f);
        EXPECT_NEAR(n.y, 0.572601f, 1e-5f);
        EXPECT_NEAR(n.z, 0.744380f, 1e-5f);
    }
    EXPECT_EQ(std::memcmp(m.material.ambient, first.ambient, 16), 0);
    EXPECT_EQ(std::memcmp(m.material.diffuse, first.diffuse, 12), 0);
    EXPECT_EQ(m.material.diffuse[3], 1.0f);  // the opacity is the transparency field's
    EXPECT_EQ(std::memcmp(m.material.specular, first.specular, 16), 0);
    EXPECT_EQ(std::memcmp(m.material.emissive, first.emissive, 16), 0);
    EXPECT_EQ(m.material.shininess, 42.0f);
    // Milkshape: y up, front towards -z. The scene: z up, front towards +Y.
    struct Case {
        Vector3 file, world;
    };
    for (const Case& c : {Case{{4, -5, 4}, {4, -4, 0}},   // the lowest vertex, on the ground
                          Case{{0, 1, 0}, {0, 0, 6}},     // up stays up
                          Case{{0, 0, -1}, {0, 1, 5}},    // the front faces +Y
                          Case{{1, 0, 0}, {1, 0, 5}}}) {  // and the right hand +X: not mirrored
        Vector4 w;
        transform(m.baseTransform, Vector4{c.file.x, c.file.y, c.file.z, 1}, w);
        EXPECT_EQ((Vector3{w.x + 0.0f, w.y + 0.0f, w.z + 0.0f}), c.world) << c.file.x << " " << c.file.y << " " << c.file.z;
    }
    // Without joints: no skeleton, no clip, the vertex's bone index names nothing.
    EXPECT_TRUE(m.rootBone.name.empty() && m.rootBone.children.empty() && m.rootBone.weights.empty());
    EXPECT_TRUE(m.animator.animations.empty());
}

TEST(Ms3dConversion, AJointsBindPoseAndKeysBecomeItsBoneAndTrack)
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 0, 0)};
    Ms3dJoint j{"hips", "", {0.3f, 0, 0.5f}, {1, 2, 3}};
    j.rotationKeys = {key(0, 0.1f, 0, 0), key(1, 0, 0.2f, 0), key(2, 0, 0, 0.3f)};
    j.translationKeys = {key(9, 1, 0, 0), key(9, 0, 2, 0)};  // their times are not used; the last repeats
    f.joints = {j};
    const Model m = load(f);

    // Bind transform: translation by the position after the Euler rotation.
    Quaternion q;
    Matrix4 r, t, expected, product;
    eulerToQuat(0.3f, 0, 0.5f, q);
    mul(translationMatrix(Vector3{1, 2, 3}, t), quatToMatrix(q, r), expected);
    expectNear(m.rootBone.localMatrix, expected);
    expectNear(mul(m.rootBone.localMatrix, m.rootBone.inverseLocalMatrix, product), Matrix4{});
    ASSERT_EQ(m.rootBone.weights.size(), 1u);
    EXPECT_EQ(m.rootBone.weights[0].weight, 1.0f);

    ASSERT_EQ(m.animator.animations.size(), 1u);
    const Animation& a = m.animator.animations[0];
    EXPECT_EQ(a.name, "Default MS3D Animation");
    EXPECT_TRUE(a.loop);
    EXPECT_EQ(a.length, 2.0f);
    EXPECT_EQ(m.animator.rate, 1.0f);  // key times are seconds, whatever the fps
    ASSERT_EQ(a.tracks.size(), 1u);
    ASSERT_EQ(a.tracks[0].size(), 3u);
    const Vector3 translations[] = {{1, 0, 0}, {0, 2, 0}, {0, 2, 0}};
    for (int k = 0; k < 3; ++k) {
        const KeyFrame& key = a.tracks[0][k];
        EXPECT_EQ(key.time, static_cast<float>(k));
        EXPECT_EQ(key.boneIndex, 0);
        eulerToQuat(j.rotationKeys[k].value[0], j.rotationKeys[k].value[1], j.rotationKeys[k].value[2], q);
        EXPECT_NEAR(std::fabs(key.rotation.w - q.w) + std::fabs(key.rotation.x - q.x) +
                        std::fabs(key.rotation.y - q.y) + std::fabs(key.rotation.z - q.z), 0.0f, 1e-6f);
        EXPECT_EQ(key.translation, translations[k]) << "key " << k;
    }
}

namespace {

// Names end at their first zero or after 32 bytes.
std::string stored(const std::string& s)
{
    return s.substr(0, std::min<std::size_t>(s.find('\0'), 32));
}

// The skeleton, weights and keys built the plain way: find on the growing
// tree, addChild, addWeight, addKey.
Model literalSkeleton(const Ms3dFile& f)
{
    Model m;
    auto boneOf = [&](const Ms3dJoint& j) {
        Bone b;
        b.name = stored(j.name);
        return b;
    };
    m.rootBone = boneOf(f.joints[0]);
    for (std::size_t i = 1; i < f.joints.size(); ++i) {
        Bone* parent = m.rootBone.find(stored(f.joints[i].parentName));
        (parent ? parent : &m.rootBone)->addChild(boneOf(f.joints[i]));
    }
    for (std::size_t v = 0; v < f.vertices.size(); ++v) {
        const int index = f.vertices[v].boneIndex;
        if (index >= 0 && static_cast<std::size_t>(index) < f.joints.size()) {
            m.rootBone.find(stored(f.joints[index].name))->addWeight(static_cast<std::int32_t>(v), 1.0f);
        }
    }
    Animation clip;
    const auto byName = boneIndexByName(m.rootBone);
    for (const Ms3dJoint& j : f.joints) {
        for (std::size_t k = 0; k < j.rotationKeys.size(); ++k) {
            KeyFrame key;
            key.time = j.rotationKeys[k].time;
            key.boneName = stored(j.name);
            key.boneIndex = byName.at(key.boneName);
            if (!j.translationKeys.empty()) {
                key.translation.x = j.translationKeys[std::min(k, j.translationKeys.size() - 1)].value[0];
            }
            clip.addKey(key);
        }
    }
    m.animator.animations.push_back(clip);
    return m;
}

// The skeleton (each bone's place, name and weighted vertices) and the clip
// (each key's time, bone by its place, name and translation x) as text.
std::string described(const Model& m)
{
    std::ostringstream s;
    std::vector<std::string> place;  // by bone index: the walk goes in pre-order
    std::function<void(const Bone&, const std::string&)> walk = [&](const Bone& b, const std::string& at) {
        place.push_back(at);
        s << at << " " << b.name << ":";
        for (const VertexWeight& w : b.weights) {
            s << " " << w.vertex;
        }
        s << "\n";
        for (std::size_t i = 0; i < b.children.size(); ++i) {
            walk(b.children[i], at + "/" + std::to_string(i));
        }
    };
    walk(m.rootBone, "");
    s << "length " << m.animator.animations.at(0).length << "\n";
    for (const auto& track : m.animator.animations.at(0).tracks) {
        for (const KeyFrame& k : track) {
            const bool named = k.boneIndex >= 0 && static_cast<std::size_t>(k.boneIndex) < place.size();
            s << k.time << " " << (named ? place[static_cast<std::size_t>(k.boneIndex)] : "none") << " " << k.boneName
              << " " << k.translation.x << "; ";
        }
        s << "\n";
    }
    return s.str();
}

}  // namespace

TEST(Ms3dConversion, TreeWeightsAndTracksMatchALiteralConversionOfRandomFiles)
{
    // Few names, so that names repeat, parents go missing and equal key times
    // meet (keys sort stably per bone); the first bone of a name in
    // depth-first order wins; bone indices reach outside the joints.
    const std::string names[] = {"a", "b", "c", "", std::string("ch\0ld", 5),
                                 "a long name that fills thirty-two bytes!"};
    std::mt19937 random(1234);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    for (int round = 0; round < 300; ++round) {
        Ms3dFile f;
        const int joints = 1 + pick(12);
        for (int j = 0; j < joints; ++j) {
            Ms3dJoint jt = joint(names[pick(6)], pick(8) == 0 ? "missing" : names[pick(6)]);
            for (int k = pick(4); k > 0; --k) {
                jt.rotationKeys.push_back(key(0.5f * pick(4) - 0.5f, 0, 0, 0));
            }
            for (int k = pick(4); k > 0; --k) {
                jt.translationKeys.push_back(key(0, static_cast<float>(pick(100)), 0, 0));
            }
            f.joints.push_back(jt);
        }
        for (int v = pick(20); v > 0; --v) {
            f.vertices.push_back(vertex(0, 0, 0, pick(joints + 4) - 2));
        }
        EXPECT_EQ(described(load(f)), described(literalSkeleton(f))) << "round " << round;
    }
}

TEST(Ms3dSummary, IsOneMessageWithEveryLineInOrder)
{
    const Bytes bytes = writeMs3d(smallFile());
    DebugCapture capture;
    importMs3dFromMemory(bytes.data(), bytes.size(), "small.ms3d");
    EXPECT_EQ(capture.text(),
              "Reading small.ms3d\n"
              "Header:\n"
              "\tMS3D000000\n"
              "\tVersion: 4\n"
              "Vertices: 3\n"
              "Triangles: 1\n"
              "Groups: 1\n"
              "Materials: 1\n"
              "Animation FPS(24); CurrentTime(0.333333); Total Frames(30)\n"
              "Joints: 2\n"
              "Joint 0 named root with parent .  has 2 rotational frames and 1 translational frames.\n"
              "Joint 1 named arm with parent root.  has 0 rotational frames and 0 translational frames.\n");
}

TEST(Ms3dBadFiles, EveryTruncatedPrefixIsRefusedSayingWhereItEnds)
{
    Ms3dFile f = smallFile();
    f.triangles.resize(3);
    f.joints[1].rotationKeys = {key(0, 0, 0, 0), key(1, 0, 0, 0)};
    const Ms3dLayout at = ms3dLayout(f);
    const Bytes whole = writeMs3d(f);
    const std::string ends = "The file \"bad.ms3d\" ends inside ";
    const std::map<std::size_t, std::string> messages = {
        {5, "The file \"bad.ms3d\" is too short to be an MS3D model: it has 5 bytes, and the header alone takes 14."},
        {at.triangleCount + 2 + 70 + 10, ends + "the triangle list (triangle 2 of 3)."},
        {at.animationBlock + 4, ends + "its animation block (frames per second, current time, total frames)."},
        {at.joints[0] + 93 + 16 + 3, ends + "the joint list (joint 2 of 2)."},  // too few bytes for the fixed parts
        {at.joints[1] + 93 + 16 + 3, ends + "the joint list (joint 2 of 2, \"arm\", in its rotation key 2 of 2)."},
    };
    for (std::size_t size = 0; size < whole.size(); ++size) {
        // A copy of exactly the prefix, so that a read past its end is caught
        // by the address sanitizer.
        const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        const std::string m = failureOf([&] { importMs3dFromMemory(prefix.data(), prefix.size(), "bad.ms3d"); });
        EXPECT_EQ(m.rfind("The file \"bad.ms3d\" ", 0), 0u) << "size " << size << ": " << m;
        EXPECT_EQ(m.find('\n'), m.size() - 1) << "a summary of a file that was refused: " << m;
        if (messages.count(size)) {
            EXPECT_EQ(m, messages.at(size) + "\n");
        }
    }
    EXPECT_EQ(load(whole).triangles.size(), 3u);
}

TEST(Ms3dFiles, ReadFromDiskByEndingOrRefusedWithTheReason)
{
    const fs::path folder = fs::temp_directory_path() / ("fyrel-ms3d-test-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string path = (folder / "Loud.MS3D").string();
    saveMs3d(smallFile(), path);
    {
        DebugCapture capture;
        EXPECT_EQ(importModelFile(path).vertices.size(), 3u);
        EXPECT_EQ(capture.text().rfind("Reading " + path + "\n", 0), 0u);
    }
    EXPECT_EQ(modelFormatName("a.ms3d/readme"), "");
    EXPECT_NE(failureOf([] { importModelFile("model.lwo"); }).find("Cannot import \"model.lwo\": Fyrel reads model "
                                                                    "files ending in .ms3d"),
              std::string::npos);

    const std::string missing = (folder / "missing.ms3d").string();
    const std::string huge = (folder / "huge.ms3d").string();
    std::ofstream(huge).put('x');
    fs::resize_file(huge, kMaxMs3dFileSize + 1);  // sparse: costs no disk
    const std::string cases[][2] = {
        {missing, "Cannot open file \"" + missing + "\": it does not exist."},
        {folder.string(), "Cannot open file \"" + folder.string() + "\": it is a folder, not a model file."},
        {huge, "The file \"" + huge + "\" is too large for an MS3D model (more than 64 MB)."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failureOf([&] { importMs3d(c[0]); }).rfind(c[1], 0), 0u) << c[0];
    }
    fs::remove_all(folder);
}

TEST(Ms3dRealFiles, AssimpTestModelsLoadWithTheCountsTheyAnnounce)
{
    struct Case {
        const char* file;
        // Counted by walking the files' sections; a vertex whose corners
        // have other texture coordinates than its first becomes one more
        // vertex for each other pair (jeep1 has 1190 in the file, the
        // spheres 124).
        std::size_t vertices, triangles;
    };
    for (const Case& c : {Case{"Wuson.ms3d", 2117, 3732}, Case{"jeep1.ms3d", 1948, 2032}, Case{"twospheres.ms3d", 178, 240},
                          Case{"twospheres_withmats.ms3d", 178, 240}}) {
        DebugCapture quiet;
        const Model m = importMs3d(std::string("/usr/share/assimp/models/MS3D/") + c.file);
        EXPECT_EQ(m.vertices.size(), c.vertices) << c.file;
        EXPECT_EQ(m.triangles.size(), c.triangles) << c.file;
    }
}
