#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "animation/bounds.h"
#include "animation/pose.h"
#include "scene/model.h"
#include "tests/animation/test_scenes.h"

using namespace fyrel;

namespace {

// Root -> upper (bind at (0,0,1)) -> lower (bind 2 along +X from upper).
// Vertex 0 at (1, 0, 1) on upper, vertex 1 at (3, 0, 1) on lower, vertex 2
// halfway weighted by both, vertex 3 weighted by nobody.
Model makeArm()
{
    Model m;
    m.vertices.resize(4);
    const Vector3 places[] = {{1, 0, 1}, {3, 0, 1}, {2, 0, 1}, {7, 7, 7}};
    for (int i = 0; i < 4; ++i) {
        m.vertices[i].position = places[i];
        m.vertices[i].normal = {0, 0, 1};
    }
    Bone upper, lower;
    translationMatrix(Vector3{0, 0, 1}, upper.localMatrix);
    invert(upper.localMatrix, upper.inverseLocalMatrix);
    upper.addWeight(0, 1.0f);
    upper.addWeight(2, 0.5f);
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

// Skinned places against hand-worked values: the reference equality tests
// share the math library with the product, these do not.
TEST(Pose, SkinnedVerticesFollowTheirBones)
{
    const float kQuarter = 1.5707963f;
    struct Case {
        const char* what;
        std::function<void(Model&)> change;
        Vector3 expected[4];  // positions
        float normalZ[4];     // turned about z, the bind normal (0, 0, 1) keeps its z: negated and weighted
    };
    const Case cases[] = {
        {"bind pose", [](Model&) {}, {{1, 0, 1}, {3, 0, 1}, {2, 0, 1}, {0, 0, 0}}, {-1, -1, -1, 0}},
        {"the upper bone turned a quarter about z carries the lower",
         [&](Model& m) { eulerToQuat(0, 0, kQuarter, m.rootBone.children[0].rotation); },
         {{0, 1, 1}, {0, 3, 1}, {0, 2, 1}, {0, 0, 0}}, {-1, -1, -1, 0}},
        {"the root shifted, a weight halved",
         [](Model& m) {
             m.rootBone.translation = {0, 5, 0};
             m.rootBone.children[0].weights[0].weight = 0.5f;
         },
         {{0.5f, 2.5f, 0.5f}, {3, 5, 1}, {2, 5, 1}, {0, 0, 0}}, {-0.5f, -1, -1, 0}},
        {"bones without weights: the bind pose, unweighted vertex included",
         [](Model& m) {
             m.rootBone.children[0].weights.clear();
             m.rootBone.children[0].children[0].weights.clear();
             eulerToQuat(0, 0, 1.0f, m.rootBone.children[0].rotation);
         },
         {{1, 0, 1}, {3, 0, 1}, {2, 0, 1}, {7, 7, 7}}, {1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        Model m = makeArm();
        c.change(m);
        updatePose(m);
        ASSERT_EQ(m.skinnedVertices.size(), 4u);
        for (int i = 0; i < 4; ++i) {
            EXPECT_LT(fyrel::test::distance(m.skinnedVertices[i].position, c.expected[i]), 2e-5f) << c.what << " " << i;
            EXPECT_NEAR(m.skinnedVertices[i].normal.z, c.normalZ[i], 1e-5f) << c.what << ", vertex " << i;
        }
        // The skeleton is posed either way: the lower joint at upper's turn of (2, 0, 0).
        const Bone& lower = m.rootBone.children[0].children[0];
        const Quaternion& q = m.rootBone.children[0].rotation;
        const float angle = 2.0f * std::atan2(q.z, q.w);
        EXPECT_NEAR(lower.worldMatrix(0, 3), 2.0f * std::cos(angle), 1e-5f) << c.what;
        EXPECT_NEAR(lower.worldMatrix(1, 3), 2.0f * std::sin(angle) + m.rootBone.translation.y, 1e-5f) << c.what;
    }

    Model plain;  // no skeleton: sized, not skinned
    plain.vertices.resize(5);
    plain.vertices[2].position = {1, 1, 1};
    updatePose(plain);
    ASSERT_EQ(plain.skinnedVertices.size(), 5u);
    EXPECT_EQ(plain.skinnedVertices[2].position.x, 0.0f);
}

// A model stands on the ground by its rest pose (each bone at its bind
// transform, the vertices skinned by it), not by its bind vertices nor by the
// pose it is in, which it keeps; without vertices, by its joints.
TEST(Pose, StandOnGroundLiftsTheRestPoseOntoZZero)
{
    Model m = makeArm();
    m.vertices.resize(3);
    m.vertices[0].position = {1, 0, -2};
    Bone& upper = m.rootBone.children[0];
    translationMatrix(Vector3{0, 0, -4}, upper.localMatrix);  // at rest 5 below where it bound the mesh
    eulerToQuat(1.0f, 0, 0, upper.rotation);
    m.position = {9, 9, 9};
    updatePose(m);
    const std::vector<Vertex> posed = m.skinnedVertices;
    standOnGround(m);
    EXPECT_FLOAT_EQ(m.lift, 7.0f);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(fyrel::test::distance(m.skinnedVertices[i].position, posed[i].position), 0.0f) << i;
    }
    RestBoxes rest;
    measureRest(m, rest);  // placed in the world, lift included
    ASSERT_TRUE(rest.mesh && rest.joints);
    const Vector3 expected[] = {{10, 9, 9}, {12, 9, 12}, {9, 9, 12}, {11, 9, 16}};
    const Vector3 boxes[] = {rest.meshLow, rest.meshHigh, rest.jointLow, rest.jointHigh};
    for (int i = 0; i < 4; ++i) {
        EXPECT_LT(fyrel::test::distance(boxes[i], expected[i]), 1e-5f) << i;
    }
    m.vertices.clear();
    standOnGround(m);
    EXPECT_FLOAT_EQ(m.lift, 4.0f);
}
