#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include <unistd.h>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "importers/ms3d_importer.h"
#include "run_program.h"
#include "diagnostics/debug_output.h"
#include "scene/model.h"
#include "support/source_tree.h"

using namespace fyrel;
using fyrel::test::readBytes;
using fyrel::test::runProgram;

namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");

Model loadDemo()
{
    const DebugSink previous = setDebugSink([](const std::string&) {});
    Model m = importMs3d(kDemo);
    setDebugSink(previous);
    return m;
}

// The model as the import command leaves it: a bound copy at the given time,
// posed.
Model posedAt(const Model& imported, float time)
{
    Model m(imported);
    m.animator.time = time;
    updateAnimator(m.animator, 0.0f);
    updatePose(m);
    return m;
}

// A point or direction (w = 0) of the model's frame in the scene's.
Vector3 inScene(const Model& m, const Vector3& p, float w = 1.0f)
{
    Vector4 out;
    transform(m.baseTransform, Vector4{p.x, p.y, p.z, w}, out);
    return Vector3{out.x, out.y, out.z};
}

float lowestZ(const Model& m, const std::vector<Vertex>& vertices)
{
    float lowest = std::numeric_limits<float>::max();
    for (const Vertex& v : vertices) {
        lowest = std::min(lowest, inScene(m, v.position).z);
    }
    return lowest;
}

// A bone's origin in the scene.
Vector3 jointAt(const Model& m, const char* bone)
{
    const Matrix4& w = m.rootBone.find(bone)->worldMatrix;
    return inScene(m, Vector3{w(0, 3), w(1, 3), w(2, 3)});
}

}  // namespace

TEST(DemoCharacter, RegeneratingItGivesTheCommittedFileByteForByte)
{
    const std::string out =
        (std::filesystem::temp_directory_path() / ("walker-" + std::to_string(::getpid()) + ".ms3d")).string();
    const auto run = runProgram(FYREL_MAKE_DEMO_PROGRAM, {out});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto made = readBytes(out);
    const auto committed = readBytes(kDemo);
    std::filesystem::remove(out);
    ASSERT_FALSE(committed.empty()) << kDemo << " is missing";
    EXPECT_EQ(made.size(), committed.size());
    EXPECT_TRUE(made == committed) << "regenerate it with fyrel-make-demo " << kDemo;

    EXPECT_EQ(runProgram(FYREL_MAKE_DEMO_PROGRAM, {}).exitCode, 2);
    EXPECT_EQ(runProgram(FYREL_MAKE_DEMO_PROGRAM, {"/nonexistent-folder/walker.ms3d"}).exitCode, 1);
}

TEST(DemoCharacter, IsAJointedFigureAboutTwoUnitsTallStandingOnTheGround)
{
    const Model m = loadDemo();
    for (const char* name : {"pelvis", "spine", "chest", "neck", "head", "upper_arm_l", "lower_arm_l", "hand_l",
                             "upper_arm_r", "lower_arm_r", "hand_r", "thigh_l", "shin_l", "foot_l", "thigh_r",
                             "shin_r", "foot_r"}) {
        EXPECT_NE(m.rootBone.find(name), nullptr) << name;
    }
    EXPECT_EQ(m.rootBone.name, "pelvis");
    EXPECT_EQ(m.baseTransform(2, 3), 0.0f);
    EXPECT_EQ(lowestZ(m, m.vertices), 0.0f);
    float top = -1.0f;
    for (const Vertex& v : m.vertices) {
        top = std::max(top, inScene(m, v.position).z);
    }
    EXPECT_GT(top, 1.7f);
    EXPECT_LT(top, 2.1f);
    // Every vertex follows a bone.
    std::size_t weighted = 0;
    std::vector<const Bone*> open = {&m.rootBone};
    while (!open.empty()) {
        const Bone* b = open.back();
        open.pop_back();
        weighted += b->weights.size();
        for (const Bone& c : b->children) {
            open.push_back(&c);
        }
    }
    EXPECT_EQ(weighted, m.vertices.size());
}

TEST(DemoCharacter, WalkCycleLoopsSeamlesslyInOneSecond)
{
    const Model m = loadDemo();
    ASSERT_EQ(m.animator.animations.size(), 1u);
    const Animation& clip = m.animator.animations[0];
    EXPECT_TRUE(clip.loop);
    EXPECT_EQ(clip.length, 1.0f);
    EXPECT_EQ(m.animator.rate, 1.0f);  // one second of key time per second
    EXPECT_EQ(clip.tracks.size(), 17u);
    for (const std::vector<KeyFrame>& track : clip.tracks) {
        ASSERT_GE(track.size(), 2u);
        const KeyFrame& first = track.front();
        const KeyFrame& last = track.back();
        EXPECT_EQ(first.time, 0.0f);
        EXPECT_EQ(last.time, 1.0f);
        EXPECT_EQ(first.rotation.w, last.rotation.w) << first.boneName;
        EXPECT_EQ(first.rotation.x, last.rotation.x) << first.boneName;
        EXPECT_EQ(first.rotation.z, last.rotation.z) << first.boneName;
        EXPECT_EQ(first.translation.z, last.translation.z) << first.boneName;
    }
}

TEST(DemoCharacter, FeetAlternateWhileTheLowerFootStaysOnTheGround)
{
    const Model imported = loadDemo();
    for (int i = 0; i < 32; ++i) {
        const float time = static_cast<float>(i) / 32.0f;
        const Model m = posedAt(imported, time);
        EXPECT_NEAR(lowestZ(m, m.skinnedVertices), 0.0f, 0.02f) << "time " << time;
    }
    // A quarter into the cycle the right foot is ahead (+Y is forward), three
    // quarters in the left one.
    auto ahead = [&](float time) {
        const Model m = posedAt(imported, time);
        return jointAt(m, "foot_r").y - jointAt(m, "foot_l").y;
    };
    EXPECT_GT(ahead(0.25f), 0.3f);
    EXPECT_LT(ahead(0.75f), -0.3f);
    // The arms swing against the legs; the right side is +X.
    const Model quarter = posedAt(imported, 0.25f);
    EXPECT_GT(jointAt(quarter, "hand_l").y, jointAt(quarter, "hand_r").y);
    EXPECT_GT(jointAt(quarter, "hand_r").x, 0.2f);
    EXPECT_LT(jointAt(quarter, "hand_l").x, -0.2f);
}

TEST(DemoCharacter, PosedNormalsPointOutOfTheBody)
{
    // Skinning negates normals, so a skinned file must be wound the way
    // Milkshape winds it (counter-clockwise from outside) to be lit outside.
    const Model m = posedAt(loadDemo(), 0.0f);
    float top = -1.0f;
    for (const Vertex& v : m.skinnedVertices) {
        top = std::max(top, inScene(m, v.position).z);
    }
    int upward = 0;
    for (const Vertex& v : m.skinnedVertices) {
        if (inScene(m, v.position).z > top - 1e-4f) {
            const float up = inScene(m, v.normal, 0.0f).z;
            EXPECT_GT(up, -1e-3f) << "a normal at the top of the head points down";
            upward += up > 0.9f ? 1 : 0;
        }
    }
    EXPECT_EQ(upward, 4);  // the four corners of the head's top face
}
