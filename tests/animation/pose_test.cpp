#include <gtest/gtest.h>

#include <cmath>

#include "animation/pose.h"
#include "scene/model.h"

using namespace fyrel;

namespace {

constexpr float kPi = 3.14159265358979f;

// Root -> upper (bind at (0,0,1)) -> lower (bind 2 along +X from upper).
// Vertex 0 at (1, 0, 1) on upper, vertex 1 at (3, 0, 1) on lower, vertex 2
// halfway weighted by both, vertex 3 weighted by nobody.
Model makeArm()
{
    Model m;
    m.vertices.resize(4);
    m.vertices[0].position = {1, 0, 1};
    m.vertices[1].position = {3, 0, 1};
    m.vertices[2].position = {2, 0, 1};
    m.vertices[3].position = {7, 7, 7};
    for (Vertex& v : m.vertices) {
        v.normal = {0, 0, 1};
    }
    Bone upper;
    upper.name = "upper";
    translationMatrix(Vector3{0, 0, 1}, upper.localMatrix);
    invert(upper.localMatrix, upper.inverseLocalMatrix);
    upper.addWeight(0, 1.0f);
    upper.addWeight(2, 0.5f);
    Bone lower;
    lower.name = "lower";
    translationMatrix(Vector3{2, 0, 0}, lower.localMatrix);
    invert(lower.localMatrix, lower.inverseLocalMatrix);
    lower.addWeight(1, 1.0f);
    lower.addWeight(2, 0.5f);
    lower.addWeight(99, 1.0f);  // out of range: ignored
    upper.addChild(lower);
    m.rootBone.addChild(upper);
    return m;
}

}  // namespace

TEST(Pose, BindPoseReproducesVerticesWithNegatedNormals)
{
    Model m = makeArm();
    updatePose(m);
    ASSERT_EQ(m.skinnedVertices.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(m.skinnedVertices[i].position.x, m.vertices[i].position.x, 1e-6f);
        EXPECT_NEAR(m.skinnedVertices[i].position.z, 1.0f, 1e-6f);
        EXPECT_NEAR(m.skinnedVertices[i].normal.z, -1.0f, 1e-6f);
    }
    // Unweighted vertex: origin, zero normal.
    EXPECT_EQ(m.skinnedVertices[3].position.x, 0.0f);
    EXPECT_EQ(m.skinnedVertices[3].normal.z, 0.0f);
}

TEST(Pose, TurningTheUpperBoneCarriesTheLowerOne)
{
    Model m = makeArm();
    Bone& upper = m.rootBone.children[0];
    eulerToQuat(0, 0, kPi / 2, upper.rotation);  // quarter turn about +Z
    updatePose(m);
    // Vertex 0 is 1 along upper's +X: it moves to 1 along +Y.
    EXPECT_NEAR(m.skinnedVertices[0].position.x, 0.0f, 1e-6f);
    EXPECT_NEAR(m.skinnedVertices[0].position.y, 1.0f, 1e-6f);
    // Vertex 1 rides the child bone: (3,0) turns to (0,3).
    EXPECT_NEAR(m.skinnedVertices[1].position.x, 0.0f, 1e-5f);
    EXPECT_NEAR(m.skinnedVertices[1].position.y, 3.0f, 1e-5f);
    // The half-and-half vertex lands halfway between its two carried places.
    EXPECT_NEAR(m.skinnedVertices[2].position.y, 2.0f, 1e-5f);
    // The lower bone's world matrix has its origin at (0, 2, 1).
    const Bone& lower = upper.children[0];
    EXPECT_NEAR(lower.worldMatrix(0, 3), 0.0f, 1e-6f);
    EXPECT_NEAR(lower.worldMatrix(1, 3), 2.0f, 1e-6f);
    EXPECT_NEAR(lower.worldMatrix(2, 3), 1.0f, 1e-6f);
}

TEST(Pose, RootTranslationMovesEverythingAndHalfWeightHalves)
{
    Model m = makeArm();
    m.rootBone.translation = {0, 5, 0};
    m.rootBone.children[0].weights[0].weight = 0.5f;
    updatePose(m);
    EXPECT_NEAR(m.skinnedVertices[1].position.y, 5.0f, 1e-6f);
    // Weight 0.5 alone: half the transformed position (1, 5, 1).
    EXPECT_NEAR(m.skinnedVertices[0].position.x, 0.5f, 1e-6f);
    EXPECT_NEAR(m.skinnedVertices[0].position.y, 2.5f, 1e-6f);
}

TEST(Pose, BonesWithoutWeightsShowTheBindPose)
{
    Model m = makeArm();
    m.rootBone.children[0].weights.clear();
    m.rootBone.children[0].children[0].weights.clear();
    eulerToQuat(0, 0, 1.0f, m.rootBone.children[0].rotation);
    updatePose(m);
    for (std::size_t i = 0; i < m.vertices.size(); ++i) {
        EXPECT_EQ(m.skinnedVertices[i].position.x, m.vertices[i].position.x);
        EXPECT_EQ(m.skinnedVertices[i].normal.z, m.vertices[i].normal.z);
    }
    // The skeleton itself is still posed.
    EXPECT_NEAR(m.rootBone.children[0].worldMatrix(0, 0), std::cos(1.0f), 1e-6f);
}

TEST(Pose, ModelWithoutSkeletonIsSizedButNotSkinned)
{
    Model m;
    m.vertices.resize(5);
    m.vertices[2].position = {1, 1, 1};
    updatePose(m);
    ASSERT_EQ(m.skinnedVertices.size(), 5u);
    EXPECT_EQ(m.skinnedVertices[2].position.x, 0.0f);
}
