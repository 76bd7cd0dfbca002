#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string>

#include <unistd.h>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "importers/ms3d_importer.h"
#include "run_program.h"
#include "scene/model.h"
#include "support/import_check.h"
#include "support/source_tree.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");

// The demo as the import command leaves it, at a clip time: a copy, posed.
Model demoAt(float time)
{
    static const Model imported = [] {
        DebugCapture quiet;
        return importMs3d(kDemo);
    }();
    Model m(imported);
    m.animator.time = time;
    updateAnimator(m, 0.0f);
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
    const std::string made = fileBytes(out), committed = fileBytes(kDemo);
    std::filesystem::remove(out);
    ASSERT_FALSE(committed.empty()) << kDemo << " is missing";
    EXPECT_TRUE(made == committed) << "regenerate it with fyrel-make-demo " << kDemo;
    EXPECT_EQ(runProgram(FYREL_MAKE_DEMO_PROGRAM, {}).exitCode, 2);
    EXPECT_EQ(runProgram(FYREL_MAKE_DEMO_PROGRAM, {"/nonexistent-folder/walker.ms3d"}).exitCode, 1);
}

TEST(DemoCharacter, WalksOnTheGroundInASeamlessOneSecondLoop)
{
    // Every vertex follows a bone.
    const Model rest = demoAt(0.0f);
    std::size_t weighted = 0;
    for (std::vector<const Bone*> open{&rest.rootBone}; !open.empty();) {
        const Bone* b = open.back();
        open.pop_back();
        weighted += b->weights.size();
        for (const Bone& c : b->children) {
            open.push_back(&c);
        }
    }
    EXPECT_EQ(weighted, rest.vertices.size());
    for (const std::vector<KeyFrame>& track : rest.animator.animations.at(0).tracks) {
        ASSERT_GE(track.size(), 2u);
        const KeyFrame &first = track.front(), &last = track.back();
        EXPECT_EQ(first.time, 0.0f);
        EXPECT_EQ(last.time, 1.0f);
        EXPECT_EQ(first.rotation.w, last.rotation.w) << first.boneName;
        EXPECT_EQ(first.rotation.x, last.rotation.x) << first.boneName;
        EXPECT_EQ(first.rotation.z, last.rotation.z) << first.boneName;
        EXPECT_EQ(first.translation.z, last.translation.z) << first.boneName;
    }
    // The lower foot stays on the ground.
    for (int i = 0; i < 32; ++i) {
        const Model m = demoAt(i / 32.0f);
        float lowest = std::numeric_limits<float>::max();
        for (const Vertex& v : m.skinnedVertices) {
            lowest = std::min(lowest, inScene(m, v.position).z);
        }
        EXPECT_NEAR(lowest, 0.0f, 0.02f) << "time " << i / 32.0f;
    }
    // A quarter into the cycle the right foot is ahead (+Y is forward), three
    // quarters in the left one; the arms swing against the legs; the right
    // side is +X.
    const Model quarter = demoAt(0.25f), threeQuarters = demoAt(0.75f);
    EXPECT_GT(jointAt(quarter, "foot_r").y - jointAt(quarter, "foot_l").y, 0.3f);
    EXPECT_LT(jointAt(threeQuarters, "foot_r").y - jointAt(threeQuarters, "foot_l").y, -0.3f);
    EXPECT_GT(jointAt(quarter, "hand_l").y, jointAt(quarter, "hand_r").y);
    EXPECT_GT(jointAt(quarter, "hand_r").x, 0.2f);
    EXPECT_LT(jointAt(quarter, "hand_l").x, -0.2f);
}

TEST(DemoCharacter, PosedNormalsPointOutOfTheBody)
{
    // Skinning negates normals, so a skinned file must be wound the way
    // Milkshape winds it (counter-clockwise from outside) to be lit outside.
    const Model m = demoAt(0.0f);
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
