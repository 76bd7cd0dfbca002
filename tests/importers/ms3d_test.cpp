#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "importers/model_formats.h"
#include "importers/import_error.h"
#include "importers/ms3d_importer.h"
#include "diagnostics/debug_output.h"
#include "scene/model.h"
#include "tools/ms3d_writer.h"
#include "support/source_tree.h"

using namespace fyrel;
namespace fs = std::filesystem;

namespace {

// Collects the debug messages sent while it lives.
class DebugCapture {
public:
    DebugCapture()
    {
        previous_ = setDebugSink([this](const std::string& m) { messages.push_back(m); });
    }
    ~DebugCapture() { setDebugSink(previous_); }
    std::vector<std::string> messages;

private:
    DebugSink previous_;
};

Ms3dVertex vertex(float x, float y, float z, int bone = -1)
{
    Ms3dVertex v;
    v.position[0] = x;
    v.position[1] = y;
    v.position[2] = z;
    v.boneIndex = static_cast<std::int8_t>(bone);
    return v;
}

Ms3dTriangle triangle(std::uint16_t a, std::uint16_t b, std::uint16_t c)
{
    Ms3dTriangle t;
    t.indices[0] = a;
    t.indices[1] = b;
    t.indices[2] = c;
    return t;
}

Ms3dJoint joint(const std::string& name, const std::string& parent = "")
{
    Ms3dJoint j;
    j.name = name;
    j.parentName = parent;
    return j;
}

Ms3dKey key(float time, float x, float y, float z)
{
    Ms3dKey k;
    k.time = time;
    k.value[0] = x;
    k.value[1] = y;
    k.value[2] = z;
    return k;
}

// Three vertices, one triangle, one group, one material, two joints with keys.
Ms3dFile smallFile()
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 0, 0), vertex(1, 0, 0, 1), vertex(0, 1, 0.5f, -1)};
    f.triangles = {triangle(0, 2, 1)};
    Ms3dGroup g;
    g.name = "body";
    g.triangles = {0};
    g.materialIndex = 0;
    f.groups = {g};
    Ms3dMaterial m;
    m.name = "skin";
    f.materials = {m};
    f.fps = 24.0f;
    f.currentTime = 1.0f / 3.0f;
    f.totalFrames = 30;
    Ms3dJoint root = joint("root");
    root.rotationKeys = {key(0, 0, 0, 0), key(1, 0.5f, 0, 0)};
    root.translationKeys = {key(0, 0, 0, 1)};
    f.joints = {root, joint("arm", "root")};
    return f;
}

Model load(const Ms3dFile& f, const std::string& name = "test.ms3d")
{
    DebugCapture quiet;
    const std::vector<std::uint8_t> bytes = writeMs3d(f);
    return importMs3dFromMemory(bytes.data(), bytes.size(), name);
}

// The message of the ImportError the bytes raise; records a failure when
// they load.
std::string failureOf(const std::vector<std::uint8_t>& bytes, const std::string& name = "bad.ms3d")
{
    DebugCapture quiet;
    try {
        importMs3dFromMemory(bytes.data(), bytes.size(), name);
    } catch (const ImportError& e) {
        return e.what();
    }
    ADD_FAILURE() << "the file loaded";
    return {};
}

void putU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t v)
{
    bytes[at] = static_cast<std::uint8_t>(v & 0xff);
    bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void putFloat(std::vector<std::uint8_t>& bytes, std::size_t at, float v)
{
    std::memcpy(&bytes[at], &v, 4);  // the test machine is little-endian like the format
}

bool sameMatrix(const Matrix4& a, const Matrix4& b, float tolerance = 1e-5f)
{
    for (int i = 0; i < 16; ++i) {
        if (std::fabs(a.m[i] - b.m[i]) > tolerance) {
            return false;
        }
    }
    return true;
}

}  // namespace

// ---- Conversion -----------------------------------------------------------------------

TEST(Ms3dConversion, OneJointWithoutKeysGivesALoopingEmptyDefaultAnimation)
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 0, 0)};
    Ms3dJoint j = joint("hips");
    j.position[0] = 1.0f;
    j.position[1] = 2.0f;
    j.position[2] = 3.0f;
    j.rotation[2] = 0.5f;
    f.joints = {j};
    f.fps = 25.0f;
    const Model m = load(f);

    EXPECT_EQ(m.rootBone.name, "hips");
    EXPECT_TRUE(m.rootBone.children.empty());
    ASSERT_EQ(m.animator.animations.size(), 1u);
    const Animation& a = m.animator.animations[0];
    EXPECT_EQ(a.name, "Default MS3D Animation");
    EXPECT_TRUE(a.tracks.empty());
    EXPECT_EQ(a.length, 0.0f);
    EXPECT_TRUE(a.loop);
    EXPECT_EQ(m.animator.rate, 1.0f);  // key times are seconds, whatever the fps
    EXPECT_EQ(m.animator.current, 0);
    EXPECT_EQ(m.animator.time, 0.0f);

    // Bind transform: translation by the position after the Euler rotation.
    Quaternion q;
    Matrix4 r, t, expected, product;
    eulerToQuat(0, 0, 0.5f, q);
    quatToMatrix(q, r);
    translationMatrix(Vector3{1, 2, 3}, t);
    mul(t, r, expected);
    EXPECT_TRUE(sameMatrix(m.rootBone.localMatrix, expected));
    mul(m.rootBone.localMatrix, m.rootBone.inverseLocalMatrix, product);
    EXPECT_TRUE(sameMatrix(product, Matrix4{}));
    EXPECT_EQ(m.rootBone.rotation.w, 1.0f);
    EXPECT_EQ(m.rootBone.translation.x, 0.0f);
    ASSERT_EQ(m.rootBone.weights.size(), 1u);
    EXPECT_EQ(m.rootBone.weights[0].vertex, 0);
    EXPECT_EQ(m.rootBone.weights[0].weight, 1.0f);
}

TEST(Ms3dConversion, KeysAtZeroOneTwoFormOneTrackWithTheTranslationOfTheSameIndex)
{
    Ms3dFile f;
    Ms3dJoint j = joint("root");
    j.rotationKeys = {key(0, 0.1f, 0, 0), key(1, 0, 0.2f, 0), key(2, 0, 0, 0.3f)};
    j.translationKeys = {key(9, 1, 0, 0), key(9, 0, 2, 0), key(9, 0, 0, 3)};  // their times are not used
    f.joints = {j};
    const Model m = load(f);

    const Animation& a = m.animator.animations.at(0);
    ASSERT_EQ(a.tracks.size(), 1u);
    const std::vector<KeyFrame>& track = a.tracks[0];
    ASSERT_EQ(track.size(), 3u);
    EXPECT_EQ(a.length, 2.0f);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(track[k].time, static_cast<float>(k));
        EXPECT_EQ(track[k].bone, &m.rootBone);
        EXPECT_EQ(track[k].boneName, "root");
        Quaternion expected;
        eulerToQuat(j.rotationKeys[k].value[0], j.rotationKeys[k].value[1], j.rotationKeys[k].value[2], expected);
        EXPECT_FLOAT_EQ(track[k].rotation.w, expected.w);
        EXPECT_FLOAT_EQ(track[k].rotation.x, expected.x);
        EXPECT_FLOAT_EQ(track[k].rotation.y, expected.y);
        EXPECT_FLOAT_EQ(track[k].rotation.z, expected.z);
    }
    EXPECT_EQ(track[0].translation.x, 1.0f);
    EXPECT_EQ(track[1].translation.y, 2.0f);
    EXPECT_EQ(track[2].translation.z, 3.0f);
}

TEST(Ms3dConversion, ParentAndChildWithVertexWeights)
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 0, 1), vertex(1, 0, 0, 0), vertex(2, 0, 0, -1), vertex(3, 0, 0, 1)};
    Ms3dJoint b = joint("B", "A");
    b.position[1] = 2.0f;
    f.joints = {joint("A"), b};
    const Model m = load(f);

    EXPECT_EQ(m.rootBone.name, "A");
    ASSERT_EQ(m.rootBone.children.size(), 1u);
    const Bone& child = m.rootBone.children[0];
    EXPECT_EQ(child.name, "B");
    EXPECT_EQ(child.localMatrix(1, 3), 2.0f);
    EXPECT_EQ(child.inverseLocalMatrix(1, 3), -2.0f);
    ASSERT_EQ(child.weights.size(), 2u);
    EXPECT_EQ(child.weights[0].vertex, 0);
    EXPECT_EQ(child.weights[1].vertex, 3);
    EXPECT_EQ(child.weights[0].weight, 1.0f);
    ASSERT_EQ(m.rootBone.weights.size(), 1u);
    EXPECT_EQ(m.rootBone.weights[0].vertex, 1);
}

TEST(Ms3dConversion, BaseTransformStandsTheModelUpOnTheGroundFacingPlusY)
{
    // Milkshape: y up, front towards −z (as real files face). The scene: z up,
    // front towards +Y.
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 3), vertex(4, -5, 4), vertex(1, 2, 0)};
    f.triangles = {triangle(0, 1, 2)};
    const Model m = load(f);
    struct Case {
        Vector3 file, world;
    };
    for (const Case& c : {Case{{4, -5, 4}, {4, -4, 0}},   // the lowest vertex, on the ground
                          Case{{0, 1, 0}, {0, 0, 6}},     // up stays up
                          Case{{0, 0, -1}, {0, 1, 5}},    // the front faces +Y
                          Case{{1, 0, 0}, {1, 0, 5}}}) {  // and the right hand +X: not mirrored
        Vector4 w;
        transform(m.baseTransform, Vector4{c.file.x, c.file.y, c.file.z, 1}, w);
        EXPECT_EQ(w.x + 0.0f, c.world.x) << c.file.x << " " << c.file.y << " " << c.file.z;
        EXPECT_EQ(w.y + 0.0f, c.world.y) << c.file.x << " " << c.file.y << " " << c.file.z;
        EXPECT_EQ(w.z + 0.0f, c.world.z) << c.file.x << " " << c.file.y << " " << c.file.z;
    }
    // Positions are kept as they are in the file.
    EXPECT_EQ(m.vertices[1].position.y, -5.0f);
}

TEST(Ms3dConversion, AModelWithoutVerticesIsLoweredByTheLargestFloat)
{
    const Model m = load(Ms3dFile{});
    EXPECT_EQ(m.baseTransform(2, 3), -std::numeric_limits<float>::max());
}

TEST(Ms3dConversion, GeometryTakesPositionsAndIndicesAndComputesNormals)
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 0), vertex(1, 0, 0), vertex(0, 1, 0)};
    Ms3dTriangle t = triangle(1, 0, 2);
    t.normals[0][0] = 5.0f;  // stored normals are ignored
    f.triangles = {t};
    const Model m = load(f);
    ASSERT_EQ(m.vertices.size(), 3u);
    EXPECT_EQ(m.vertices[1].position.x, 1.0f);
    ASSERT_EQ(m.triangles.size(), 1u);
    EXPECT_EQ(m.triangles[0].indices[0], 1u);
    EXPECT_EQ(m.triangles[0].indices[1], 0u);
    EXPECT_EQ(m.triangles[0].indices[2], 2u);
    // (p0 - p1) x (p2 - p1) = (1,0,0) x (0,1,0).
    EXPECT_FLOAT_EQ(m.triangles[0].normal.z, 1.0f);
    EXPECT_FLOAT_EQ(m.vertices[0].normal.z, 1.0f);
}

TEST(Ms3dConversion, OnlyTheFirstMaterialIsUsedAndNoneKeepsTheDefaults)
{
    Ms3dFile f;
    Ms3dMaterial first, second;
    for (int i = 0; i < 4; ++i) {
        first.ambient[i] = 0.1f * i;
        first.diffuse[i] = 0.2f * i;
        first.specular[i] = 0.05f * i;
        first.emissive[i] = 0.01f * i;
        second.diffuse[i] = 0.9f;
    }
    first.shininess = 42.0f;
    f.materials = {first, second};
    const Model m = load(f);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(m.material.ambient[i], first.ambient[i]);
        EXPECT_EQ(m.material.diffuse[i], first.diffuse[i]);
        EXPECT_EQ(m.material.specular[i], first.specular[i]);
        EXPECT_EQ(m.material.emissive[i], first.emissive[i]);
    }
    EXPECT_EQ(m.material.shininess, 42.0f);

    const Model plain = load(Ms3dFile{});
    const Material defaults;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(plain.material.diffuse[i], defaults.diffuse[i]);
    }
    EXPECT_EQ(plain.material.shininess, defaults.shininess);
}

TEST(Ms3dConversion, GroupsTextureCoordinatesAndMaterialExtrasChangeNothing)
{
    Ms3dFile a = smallFile();
    Ms3dFile b = a;
    b.groups.push_back(Ms3dGroup{"extra", {0, 0, 0}, 3, 7});
    b.triangles[0].s[1] = 0.7f;
    b.triangles[0].t[2] = 0.3f;
    b.triangles[0].smoothingGroup = 9;
    b.materials[0].transparency = 0.2f;
    b.materials[0].mode = 3;
    b.materials[0].texture = "skin.png";
    b.materials[0].alphaMap = "alpha.png";
    b.trailer = {1, 2, 3, 4, 5};  // comments and extended data after the joints
    b.identifier = "something!";
    b.version = -7;
    const Model ma = load(a), mb = load(b);
    EXPECT_EQ(std::memcmp(&ma.material, &mb.material, sizeof(Material)), 0);
    ASSERT_EQ(ma.vertices.size(), mb.vertices.size());
    for (std::size_t i = 0; i < ma.vertices.size(); ++i) {
        EXPECT_EQ(std::memcmp(&ma.vertices[i], &mb.vertices[i], sizeof(Vertex)), 0);
    }
    EXPECT_EQ(ma.rootBone.children.size(), mb.rootBone.children.size());
    EXPECT_EQ(ma.animator.animations[0].tracks.size(), mb.animator.animations[0].tracks.size());
}

TEST(Ms3dConversion, WithoutJointsThereIsNoSkeletonAndNoAnimation)
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 0, 0)};  // names a joint the file does not have
    f.fps = 30.0f;
    const Model m = load(f);
    EXPECT_TRUE(m.rootBone.name.empty());
    EXPECT_TRUE(m.rootBone.children.empty());
    EXPECT_TRUE(m.rootBone.weights.empty());
    EXPECT_TRUE(m.animator.animations.empty());
    EXPECT_EQ(m.animator.rate, 0.1f);
}

TEST(Ms3dConversion, BoneIndicesOutsideTheJointsMeanNoBone)
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 0, 2), vertex(0, 0, 0, 127), vertex(0, 0, 0, -2), vertex(0, 0, 0, -128),
                  vertex(0, 0, 0, 1)};
    f.joints = {joint("a"), joint("b", "a")};
    const Model m = load(f);
    EXPECT_TRUE(m.rootBone.weights.empty());
    ASSERT_EQ(m.rootBone.children.at(0).weights.size(), 1u);
    EXPECT_EQ(m.rootBone.children[0].weights[0].vertex, 4);
}

TEST(Ms3dConversion, NamesEndAtTheirZeroOrFillAllThirtyTwoBytes)
{
    const std::string full(32, 'x');
    Ms3dFile f;
    f.joints = {joint(full + "tail"), joint("child", full + "ignored")};
    f.joints[0].rotationKeys = {key(0, 0, 0, 0)};
    const Model m = load(f);
    EXPECT_EQ(m.rootBone.name, full);
    ASSERT_EQ(m.rootBone.children.size(), 1u);
    EXPECT_EQ(m.rootBone.children[0].name, "child");
    EXPECT_EQ(m.animator.animations[0].tracks[0][0].boneName, full);

    std::vector<std::uint8_t> bytes = writeMs3d(f);
    const std::size_t name = ms3dLayout(f).joints[1] + 1;
    bytes[name + 2] = 0;  // "ch\0ld"
    DebugCapture quiet;
    const Model cut = importMs3dFromMemory(bytes.data(), bytes.size(), "cut.ms3d");
    EXPECT_EQ(cut.rootBone.children.at(0).name, "ch");
}

TEST(Ms3dConversion, AJointWhoseParentIsMissingHangsUnderTheRootWithItsSubtree)
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 0, 2), vertex(0, 0, 0, 3)};
    Ms3dJoint orphan = joint("orphan", "nobody");
    orphan.position[0] = 4.0f;
    orphan.rotationKeys = {key(0, 0, 0, 0), key(1, 0, 0, 1)};
    Ms3dJoint secondRoot = joint("second", "");  // an empty parent name matches no bone either
    f.joints = {joint("root", "whatever"), joint("leg", "root"), orphan, joint("tip", "orphan"), secondRoot};
    const Model m = load(f);

    ASSERT_EQ(m.rootBone.children.size(), 3u);
    EXPECT_EQ(m.rootBone.children[0].name, "leg");
    const Bone& o = m.rootBone.children[1];
    EXPECT_EQ(o.name, "orphan");
    EXPECT_EQ(o.localMatrix(0, 3), 4.0f);
    ASSERT_EQ(o.children.size(), 1u);
    EXPECT_EQ(o.children[0].name, "tip");
    EXPECT_EQ(m.rootBone.children[2].name, "second");
    ASSERT_EQ(o.weights.size(), 1u);
    EXPECT_EQ(o.children[0].weights.size(), 1u);
    ASSERT_EQ(m.animator.animations[0].tracks.size(), 1u);
    EXPECT_EQ(m.animator.animations[0].tracks[0][0].bone, &o);
}

TEST(Ms3dConversion, MissingTranslationKeysRepeatTheLastOneOrAreZero)
{
    Ms3dFile f;
    Ms3dJoint a = joint("a");
    a.rotationKeys = {key(0, 0, 0, 0), key(1, 0, 0, 0), key(2, 0, 0, 0)};
    a.translationKeys = {key(0, 1, 1, 1), key(0, 2, 3, 4)};
    Ms3dJoint b = joint("b", "a");
    b.rotationKeys = {key(0, 0, 0, 0), key(1, 0, 0, 0)};
    f.joints = {a, b};
    const Model m = load(f);
    const Animation& clip = m.animator.animations[0];
    ASSERT_EQ(clip.tracks.size(), 2u);
    EXPECT_EQ(clip.tracks[0][1].translation.z, 4.0f);
    EXPECT_EQ(clip.tracks[0][2].translation.x, 2.0f);
    EXPECT_EQ(clip.tracks[0][2].translation.y, 3.0f);
    EXPECT_EQ(clip.tracks[0][2].translation.z, 4.0f);
    for (const KeyFrame& k : clip.tracks[1]) {
        EXPECT_EQ(k.translation.x, 0.0f);
        EXPECT_EQ(k.translation.y, 0.0f);
        EXPECT_EQ(k.translation.z, 0.0f);
    }
}

TEST(Ms3dConversion, KeyTimesAreSecondsWhateverTheFramesPerSecond)
{
    // A real file at 25 fps keeps its 12-second clip at 12 seconds; the
    // summary still shows what the file says.
    const float fps[] = {25.0f, 0.5f, 0.0f, -24.0f, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(), std::numeric_limits<float>::denorm_min()};
    for (float value : fps) {
        Ms3dFile f;
        f.joints = {joint("a")};
        f.fps = value;
        const std::vector<std::uint8_t> bytes = writeMs3d(f);
        DebugCapture capture;
        const Model m = importMs3dFromMemory(bytes.data(), bytes.size(), "a.ms3d");
        EXPECT_EQ(m.animator.rate, 1.0f) << "fps " << value;
        std::ostringstream shown;
        shown << "Animation FPS(" << value << ")";
        ASSERT_EQ(capture.messages.size(), 1u);
        EXPECT_NE(capture.messages[0].find(shown.str()), std::string::npos) << capture.messages[0];
    }
}
TEST(Ms3dConversion, KeysOutOfOrderAreSortedStablyPerBone)
{
    Ms3dFile f;
    Ms3dJoint a = joint("a");
    a.rotationKeys = {key(0.5f, 1, 0, 0), key(0.2f, 0, 0, 0), key(0.5f, 2, 0, 0), key(-1, 0, 0, 0)};
    Ms3dJoint b = joint("b", "a");
    b.rotationKeys = {key(0.1f, 0, 0, 0)};
    f.joints = {a, b};
    const Model m = load(f);
    const Animation& clip = m.animator.animations[0];
    ASSERT_EQ(clip.tracks.size(), 2u);
    ASSERT_EQ(clip.tracks[0].size(), 4u);
    EXPECT_EQ(clip.tracks[0][0].time, -1.0f);
    EXPECT_EQ(clip.tracks[0][1].time, 0.2f);
    EXPECT_EQ(clip.tracks[0][2].time, 0.5f);
    EXPECT_EQ(clip.tracks[0][3].time, 0.5f);
    Quaternion first;
    eulerToQuat(1, 0, 0, first);
    EXPECT_FLOAT_EQ(clip.tracks[0][2].rotation.x, first.x);  // equal times keep file order
    EXPECT_EQ(clip.length, 0.5f);
    EXPECT_EQ(clip.tracks[1][0].boneName, "b");
}

// ---- The conversion against a literal one ----------------------------------------

namespace {

// Steps 4 to 7 done the plain way: find on the growing tree, addChild, addKey.
Model literalSkeleton(const Ms3dFile& f)
{
    Model m;
    if (f.joints.empty()) {
        return m;
    }
    auto cut = [](const std::string& s) { return s.substr(0, std::min<std::size_t>(s.size(), 32)); };
    auto boneOf = [&](const Ms3dJoint& j) {
        Bone b;
        b.name = cut(j.name);
        return b;
    };
    m.rootBone = boneOf(f.joints[0]);
    for (std::size_t i = 1; i < f.joints.size(); ++i) {
        Bone* parent = m.rootBone.find(cut(f.joints[i].parentName));
        (parent ? parent : &m.rootBone)->addChild(boneOf(f.joints[i]));
    }
    for (std::size_t v = 0; v < f.vertices.size(); ++v) {
        const int index = f.vertices[v].boneIndex;
        if (index >= 0 && static_cast<std::size_t>(index) < f.joints.size()) {
            m.rootBone.find(cut(f.joints[static_cast<std::size_t>(index)].name))
                ->addWeight(static_cast<std::int32_t>(v), 1.0f);
        }
    }
    Animation clip;
    for (const Ms3dJoint& j : f.joints) {
        for (std::size_t k = 0; k < j.rotationKeys.size(); ++k) {
            KeyFrame key;
            key.time = j.rotationKeys[k].time;
            key.bone = m.rootBone.find(cut(j.name));
            key.boneName = key.bone->name;
            if (!j.translationKeys.empty()) {
                key.translation.x = j.translationKeys[std::min(k, j.translationKeys.size() - 1)].value[0];
            }
            clip.addKey(key);
        }
    }
    m.animator.animations.push_back(clip);
    return m;
}

// Child indices from the root down to target.
bool pathTo(const Bone& bone, const Bone* target, std::vector<std::size_t>& path)
{
    if (&bone == target) {
        return true;
    }
    for (std::size_t i = 0; i < bone.children.size(); ++i) {
        path.push_back(i);
        if (pathTo(bone.children[i], target, path)) {
            return true;
        }
        path.pop_back();
    }
    return false;
}

std::vector<std::size_t> pathOf(const Model& m, const Bone* target)
{
    std::vector<std::size_t> path;
    EXPECT_TRUE(pathTo(m.rootBone, target, path));
    return path;
}

void expectSameTree(const Bone& a, const Bone& b)
{
    ASSERT_EQ(a.name, b.name);
    ASSERT_EQ(a.weights.size(), b.weights.size()) << a.name;
    for (std::size_t i = 0; i < a.weights.size(); ++i) {
        EXPECT_EQ(a.weights[i].vertex, b.weights[i].vertex);
    }
    ASSERT_EQ(a.children.size(), b.children.size()) << a.name;
    for (std::size_t i = 0; i < a.children.size(); ++i) {
        expectSameTree(a.children[i], b.children[i]);
    }
}

}  // namespace

TEST(Ms3dConversion, TreeWeightsAndTracksMatchFindAddChildAndAddKeyOnRandomFiles)
{
    // Few names, so that names repeat, parents go missing and equal key
    // times meet; the first bone of a name in depth-first order wins.
    const char* names[] = {"a", "b", "c", "d", "", "a long name that fills thirty-two bytes!"};
    std::mt19937 random(1234);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    for (int round = 0; round < 300; ++round) {
        Ms3dFile f;
        const int joints = 1 + pick(12);
        for (int j = 0; j < joints; ++j) {
            Ms3dJoint jt = joint(names[pick(6)], pick(8) == 0 ? "missing" : names[pick(6)]);
            for (int k = pick(4); k > 0; --k) {
                jt.rotationKeys.push_back(key(0.5f * pick(4), 0, 0, 0));
            }
            for (int k = pick(4); k > 0; --k) {
                jt.translationKeys.push_back(key(0, static_cast<float>(pick(100)), 0, 0));
            }
            f.joints.push_back(jt);
        }
        for (int v = pick(20); v > 0; --v) {
            f.vertices.push_back(vertex(0, 0, 0, pick(joints + 3) - 2));
        }
        const Model got = load(f);
        const Model want = literalSkeleton(f);
        SCOPED_TRACE("round " + std::to_string(round));
        expectSameTree(got.rootBone, want.rootBone);
        const Animation& g = got.animator.animations.at(0);
        const Animation& w = want.animator.animations.at(0);
        EXPECT_EQ(g.length, w.length);
        ASSERT_EQ(g.tracks.size(), w.tracks.size());
        for (std::size_t t = 0; t < g.tracks.size(); ++t) {
            ASSERT_EQ(g.tracks[t].size(), w.tracks[t].size());
            for (std::size_t k = 0; k < g.tracks[t].size(); ++k) {
                EXPECT_EQ(g.tracks[t][k].time, w.tracks[t][k].time);
                EXPECT_EQ(g.tracks[t][k].boneName, w.tracks[t][k].boneName);
                EXPECT_EQ(g.tracks[t][k].translation.x, w.tracks[t][k].translation.x);
                EXPECT_EQ(pathOf(got, g.tracks[t][k].bone), pathOf(want, w.tracks[t][k].bone));
            }
        }
    }
}

// ---- The reading summary --------------------------------------------------------------

TEST(Ms3dSummary, IsOneMessageWithEveryLineInOrder)
{
    DebugCapture capture;
    const std::vector<std::uint8_t> bytes = writeMs3d(smallFile());
    importMs3dFromMemory(bytes.data(), bytes.size(), "small.ms3d");
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.messages[0],
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

TEST(Ms3dSummary, IdentifierStopsAtItsFirstZeroAndNothingIsSentForABrokenFile)
{
    Ms3dFile f;
    f.identifier = std::string("MS3D\0junk!", 10);
    f.version = -3;
    {
        DebugCapture capture;
        const std::vector<std::uint8_t> bytes = writeMs3d(f);
        importMs3dFromMemory(bytes.data(), bytes.size(), "id.ms3d");
        ASSERT_EQ(capture.messages.size(), 1u);
        EXPECT_NE(capture.messages[0].find("Header:\n\tMS3D\n\tVersion: -3\n"), std::string::npos);
    }
    DebugCapture capture;
    std::vector<std::uint8_t> bytes = writeMs3d(smallFile());
    bytes.resize(bytes.size() - 1);
    EXPECT_THROW(importMs3dFromMemory(bytes.data(), bytes.size(), "cut.ms3d"), ImportError);
    EXPECT_TRUE(capture.messages.empty());
}

// ---- Bad files ------------------------------------------------------------------------

TEST(Ms3dBadFiles, EveryTruncatedPrefixIsRejectedWithAMessage)
{
    const std::vector<std::uint8_t> whole = writeMs3d(smallFile());
    for (std::size_t size = 0; size < whole.size(); ++size) {
        // A copy of exactly the prefix, so that a read past its end is caught by
        // the address sanitizer.
        const std::vector<std::uint8_t> prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        const std::string message = failureOf(prefix, "cut.ms3d");
        EXPECT_EQ(message.rfind("The file \"cut.ms3d\" ", 0), 0u) << "size " << size << ": " << message;
    }
    EXPECT_NO_THROW(load(smallFile()));
    DebugCapture quiet;
    EXPECT_THROW(importMs3dFromMemory(nullptr, 0, "null.ms3d"), ImportError);
}

TEST(Ms3dBadFiles, TruncationMessagesNameTheListAndTheRecord)
{
    Ms3dFile f = smallFile();
    f.triangles.push_back(triangle(0, 1, 2));
    f.triangles.push_back(triangle(2, 1, 0));
    f.joints[1].rotationKeys = {key(0, 0, 0, 0), key(1, 0, 0, 0)};
    const Ms3dLayout layout = ms3dLayout(f);
    std::vector<std::uint8_t> bytes = writeMs3d(f);

    std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(layout.triangleCount + 2 + 70 + 10));
    EXPECT_EQ(failureOf(cut, "t.ms3d"), "The file \"t.ms3d\" ends inside the triangle list (triangle 2 of 3).");

    cut.assign(bytes.begin(), bytes.begin() + 5);
    EXPECT_EQ(failureOf(cut, "t.ms3d"),
              "The file \"t.ms3d\" is too short to be an MS3D model: it has 5 bytes, and the header alone takes 14.");

    cut.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(layout.joints[1] + 93 + 16 + 3));
    EXPECT_EQ(failureOf(cut, "t.ms3d"),
              "The file \"t.ms3d\" ends inside the joint list (joint 2 of 2, \"arm\", in its rotation key 2 of 2).");

    // Too few bytes for the fixed parts of the joints that the count announces.
    cut.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(layout.joints[0] + 93 + 16 + 3));
    EXPECT_EQ(failureOf(cut, "t.ms3d"), "The file \"t.ms3d\" ends inside the joint list (joint 2 of 2).");

    cut.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(layout.animationBlock + 4));
    EXPECT_EQ(failureOf(cut, "t.ms3d"), "The file \"t.ms3d\" ends inside its animation block (frames per second, "
                                        "current time, total frames).");
}

TEST(Ms3dBadFiles, CorruptedCountsAreRejected)
{
    const Ms3dFile f = smallFile();
    const Ms3dLayout layout = ms3dLayout(f);
    const std::vector<std::uint8_t> good = writeMs3d(f);
    auto withCount = [&](std::size_t at, std::uint16_t value) {
        std::vector<std::uint8_t> bytes = good;
        putU16(bytes, at, value);
        return failureOf(bytes);
    };
    {
        const std::string m = withCount(layout.vertexCount, 0xffff);
        EXPECT_NE(m.find("ends inside the vertex list (vertex "), std::string::npos) << m;
        EXPECT_NE(m.find(" of 65535)"), std::string::npos) << m;
    }
    {
        const std::string m = withCount(layout.triangleCount, 0xffff);
        EXPECT_NE(m.find("ends inside the triangle list"), std::string::npos) << m;
    }
    {
        const std::string m = withCount(layout.groupCount, 0xffff);
        EXPECT_NE(m.find("ends inside the group list (group "), std::string::npos) << m;
    }
    {
        const std::string m = withCount(layout.groupCount + 2 + 33, 0xffff);  // the group's triangle count
        EXPECT_NE(m.find("(group 1 of 1, which lists 65535 triangles)"), std::string::npos) << m;
    }
    {
        const std::string m = withCount(layout.materialCount, 0xffff);
        EXPECT_NE(m.find("ends inside the material list (material 2 of 65535)"), std::string::npos) << m;
    }
    {
        const std::string m = withCount(layout.jointCount, 0xffff);
        EXPECT_NE(m.find("ends inside the joint list (joint "), std::string::npos) << m;
    }
    {
        const std::string m = withCount(layout.joints[1] + 89, 0xffff);  // rotation key count of "arm"
        EXPECT_NE(m.find("joint 2 of 2, \"arm\", in its rotation key 1 of 65535"), std::string::npos) << m;
    }
    {
        const std::string m = withCount(layout.joints[1] + 91, 3);  // translation key count of "arm"
        EXPECT_NE(m.find("in its translation key 1 of 3"), std::string::npos) << m;
    }
    {
        const std::string m = withCount(layout.triangleCount + 2 + 2 + 2, 3);  // corner 2 names vertex 3
        EXPECT_EQ(m, "The file \"bad.ms3d\" has a triangle (1 of 1) whose corner 2 names vertex 3, but the file "
                     "has only 3 vertices.");
    }
    // A joint count that fits the bytes but names records that are not there.
    {
        const std::string m = withCount(layout.jointCount, 3);
        EXPECT_NE(m.find("ends inside the joint list (joint 3 of 3)"), std::string::npos) << m;
    }
}

TEST(Ms3dBadFiles, NumbersThatAreNotFiniteAreRejected)
{
    const Ms3dFile f = smallFile();
    const Ms3dLayout layout = ms3dLayout(f);
    const std::vector<std::uint8_t> good = writeMs3d(f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto withFloat = [&](std::size_t at, float value) {
        std::vector<std::uint8_t> bytes = good;
        putFloat(bytes, at, value);
        return failureOf(bytes);
    };
    EXPECT_EQ(withFloat(layout.vertexCount + 2 + 15 + 1 + 8, nan),
              "The file \"bad.ms3d\" has a vertex (2 of 3) whose position is not a finite number.");
    EXPECT_NE(withFloat(layout.materialCount + 2 + 32 + 20, inf).find("first material"), std::string::npos);
    EXPECT_NE(withFloat(layout.materialCount + 2 + 96, nan).find("shininess"), std::string::npos);
    EXPECT_NE(withFloat(layout.joints[1] + 65 + 4, -inf).find("joint 2 of 2 (\"arm\") whose bind rotation"),
              std::string::npos);
    EXPECT_NE(withFloat(layout.joints[1] + 77, nan).find("bind rotation or position"), std::string::npos);
    EXPECT_EQ(withFloat(layout.joints[0] + 93 + 16, nan),
              "The file \"bad.ms3d\" has a joint 1 of 2 (\"root\") whose rotation key 2 of 2 is not a finite number.");
    EXPECT_NE(withFloat(layout.joints[0] + 93 + 4, inf).find("rotation key 1 of 2"), std::string::npos);
    EXPECT_NE(withFloat(layout.joints[0] + 93 + 32 + 12, nan).find("translation key 1 of 1"), std::string::npos);

    // Numbers that are only logged or not used at all may be anything.
    std::vector<std::uint8_t> bytes = good;
    putFloat(bytes, layout.animationBlock + 4, nan);                  // current time
    putFloat(bytes, layout.triangleCount + 2 + 8, nan);               // a stored normal
    putFloat(bytes, layout.animationBlock, nan);                      // frames per second
    DebugCapture quiet;
    EXPECT_NO_THROW(importMs3dFromMemory(bytes.data(), bytes.size(), "fine.ms3d"));
}

TEST(Ms3dBadFiles, SkeletonsDeeperThanTheLimitAreRejected)
{
    auto chain = [](int length) {
        Ms3dFile f;
        for (int i = 0; i < length; ++i) {
            f.joints.push_back(joint("j" + std::to_string(i), i ? "j" + std::to_string(i - 1) : ""));
        }
        return f;
    };
    const Model deepest = load(chain(kMaxBoneDepth));
    const Bone* b = &deepest.rootBone;
    int depth = 1;
    while (!b->children.empty()) {
        b = &b->children[0];
        ++depth;
    }
    EXPECT_EQ(depth, kMaxBoneDepth);

    const std::string m = failureOf(writeMs3d(chain(kMaxBoneDepth + 1)));
    EXPECT_EQ(m, "The file \"bad.ms3d\" has a skeleton nested 1025 joints deep at joint 1025 of 1025 (\"j1024\"); "
                 "at most 1024 levels are supported.");
}

TEST(Ms3dBadFiles, AnimationsWhoseKeysWouldTakeTooLongToBindAreRejected)
{
    // Keys on the last of n joints hanging side by side under the root cost n
    // visits each when a copy looks their bone up.
    auto flat = [](int joints, int keys) {
        Ms3dFile f;
        f.joints.push_back(joint("root"));
        for (int i = 1; i < joints; ++i) {
            f.joints.push_back(joint("j" + std::to_string(i), "root"));
        }
        for (int k = 0; k < keys; ++k) {
            f.joints.back().rotationKeys.push_back(key(static_cast<float>(k), 0, 0, 0));
        }
        return f;
    };
    static_assert(kMaxMs3dKeyLookups == 16384u * 2048u);
    EXPECT_EQ(load(flat(2048, 16384)).animator.animations.at(0).tracks.at(0).size(), 16384u);
    EXPECT_EQ(failureOf(writeMs3d(flat(2049, 16384))),
              "The file \"bad.ms3d\" has an animation too large for Fyrel: 16384 key frames on 2049 joints.");
}

// ---- Files on disk -------------------------------------------------------------------

namespace {

class TempFolder {
public:
    TempFolder()
    {
        path = fs::temp_directory_path() / ("fyrel-ms3d-test-" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~TempFolder()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

std::string failureOfPath(const std::string& path)
{
    DebugCapture quiet;
    try {
        importMs3d(path);
    } catch (const ImportError& e) {
        return e.what();
    }
    ADD_FAILURE() << path << " loaded";
    return {};
}

}  // namespace

TEST(Ms3dFiles, PathsThatAreNotReadableModelFilesAreRefused)
{
    TempFolder temp;
    const std::string missing = (temp.path / "missing.ms3d").string();
    EXPECT_EQ(failureOfPath(missing), "Cannot open file \"" + missing + "\": it does not exist.");
    EXPECT_EQ(failureOfPath(temp.path.string()),
              "Cannot open file \"" + temp.path.string() + "\": it is a folder, not a model file.");

    const std::string fifo = (temp.path / "pipe.ms3d").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(failureOfPath(fifo), "Cannot open file \"" + fifo + "\": it is not a regular file.");

    const std::string huge = (temp.path / "huge.ms3d").string();
    std::ofstream(huge).put('x');
    fs::resize_file(huge, kMaxMs3dFileSize + 1);  // sparse: costs no disk
    EXPECT_EQ(failureOfPath(huge), "The file \"" + huge + "\" is too large for an MS3D model (more than 64 MB).");

    const std::string empty = (temp.path / "empty.ms3d").string();
    std::ofstream(empty).flush();
    EXPECT_NE(failureOfPath(empty).find("it has 0 bytes"), std::string::npos);
}

TEST(Ms3dFiles, AFileOnDiskLoadsLikeTheSameBytesInMemory)
{
    TempFolder temp;
    const std::string path = (temp.path / "small.ms3d").string();
    saveMs3d(smallFile(), path);
    DebugCapture capture;
    const Model m = importMs3d(path);
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.messages[0].rfind("Reading " + path + "\n", 0), 0u);
    EXPECT_EQ(m.vertices.size(), 3u);
    EXPECT_EQ(m.rootBone.children.size(), 1u);
}

TEST(Ms3dFiles, ImportModelFileChoosesByEndingWithoutRegardToCase)
{
    TempFolder temp;
    const std::string path = (temp.path / "Loud.MS3D").string();
    saveMs3d(smallFile(), path);
    DebugCapture quiet;
    EXPECT_EQ(importModelFile(path).vertices.size(), 3u);
    EXPECT_EQ(modelFormatName(path), "MS3D");
    EXPECT_EQ(modelFormatName("a/b.ms3d"), "MS3D");
    EXPECT_EQ(modelFormatName("a.ms3d/readme"), "");
    EXPECT_EQ(modelFormatName("model.obj"), "");
    try {
        importModelFile("model.obj");
        ADD_FAILURE() << "an .obj file was accepted";
    } catch (const ImportError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot import \"model.obj\""), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(".ms3d"), std::string::npos) << e.what();
    }
}

// ---- Files no one here wrote ---------------------------------------------------------

namespace {

// The counts a file announces, read here by walking its sections.
struct AnnouncedCounts {
    std::size_t vertices = 0, triangles = 0, groups = 0, materials = 0, joints = 0;
    float firstDiffuse[4] = {0, 0, 0, 0};
};

AnnouncedCounts announcedCounts(const std::vector<std::uint8_t>& d)
{
    auto u16 = [&](std::size_t at) { return static_cast<std::size_t>(d.at(at) | (d.at(at + 1) << 8)); };
    AnnouncedCounts c;
    std::size_t p = 14;
    c.vertices = u16(p);
    p += 2 + 15 * c.vertices;
    c.triangles = u16(p);
    p += 2 + 70 * c.triangles;
    c.groups = u16(p);
    p += 2;
    for (std::size_t g = 0; g < c.groups; ++g) {
        p += 35 + 2 * u16(p + 33) + 1;
    }
    c.materials = u16(p);
    if (c.materials > 0) {
        std::memcpy(c.firstDiffuse, &d.at(p + 2 + 48), 16);
    }
    p += 2 + 361 * c.materials + 12;
    c.joints = u16(p);
    return c;
}

}  // namespace

TEST(Ms3dRealFiles, AssimpTestModelsLoadWithTheCountsTheyAnnounce)
{
    const fs::path folder = "/usr/share/assimp/models/MS3D";
    ASSERT_TRUE(fs::is_directory(folder)) << "install assimp-testmodels (scripts/setup does)";
    int files = 0;
    for (const char* name : {"Wuson.ms3d", "jeep1.ms3d", "twospheres.ms3d", "twospheres_withmats.ms3d"}) {
        const fs::path path = folder / name;
        SCOPED_TRACE(path.string());
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const AnnouncedCounts c = announcedCounts(bytes);

        DebugCapture capture;
        const Model m = importMs3d(path.string());
        ++files;
        EXPECT_EQ(m.vertices.size(), c.vertices);
        EXPECT_EQ(m.triangles.size(), c.triangles);
        EXPECT_GT(m.triangles.size(), 0u);
        ASSERT_EQ(capture.messages.size(), 1u);
        EXPECT_NE(capture.messages[0].find("Groups: " + std::to_string(c.groups) + "\n"), std::string::npos);
        EXPECT_NE(capture.messages[0].find("Materials: " + std::to_string(c.materials) + "\n"), std::string::npos);
        EXPECT_NE(capture.messages[0].find("Joints: " + std::to_string(c.joints) + "\n"), std::string::npos);
        if (c.materials > 0) {
            EXPECT_EQ(m.material.diffuse[0], c.firstDiffuse[0]);
            EXPECT_EQ(m.material.diffuse[3], c.firstDiffuse[3]);
        }
        // Every triangle's normal is a unit vector or zero (degenerate faces).
        for (const Triangle& t : m.triangles) {
            const float n = length(t.normal);
            EXPECT_TRUE(n == 0.0f || std::fabs(n - 1.0f) < 1e-4f);
        }
        // The lowest vertex stands on z = 0.
        float lowest = std::numeric_limits<float>::max();
        for (const Vertex& v : m.vertices) {
            Vector4 w;
            transform(m.baseTransform, Vector4{v.position.x, v.position.y, v.position.z, 1}, w);
            lowest = std::min(lowest, w.z);
        }
        EXPECT_NEAR(lowest, 0.0f, 1e-4f);
    }
    EXPECT_EQ(files, 4);
}

// ---- Inputs the fuzzer made ------------------------------------------------------------

TEST(Ms3dFuzzedFiles, LoadOrFailWithTheirOwnMessage)
{
    struct Case {
        const char* file;
        const char* message;  // empty: the file loads
    };
    const Case cases[] = {
        {"fuzzed_tangled_skeleton.ms3d", ""},
        {"fuzzed_nan_translation_key.ms3d", "has a joint 1 of 2 (\"root\") whose translation key 2 of 2 is not a finite"},
        {"fuzzed_corner_beyond_vertices.ms3d", "has a triangle (1 of 41) whose corner 1 names vertex 34661"},
        {"fuzzed_group_overrun.ms3d", "ends inside the group list (group 17 of 65280, which lists 26624 triangles)"},
        {"fuzzed_nan_bind_pose.ms3d", "has a joint 3 of 16 (\"\") whose bind rotation or position is not a finite"},
    };
    for (const Case& c : cases) {
        const std::string path = sourcePath("tests/data/ms3d/") + c.file;
        SCOPED_TRACE(path);
        ASSERT_TRUE(fs::is_regular_file(path));
        if (*c.message) {
            EXPECT_NE(failureOfPath(path).find(c.message), std::string::npos) << failureOfPath(path);
            continue;
        }
        DebugCapture quiet;
        const Model imported = importMs3d(path);
        Model m(imported);
        updateAnimator(m.animator, 1.0f);
        updatePose(m);
        EXPECT_EQ(m.skinnedVertices.size(), m.vertices.size());
    }
}
