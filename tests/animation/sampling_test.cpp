#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "animation/sampling.h"
#include "scene/model.h"
#include "tests/animation/test_scenes.h"

using namespace fyrel;

namespace {

struct Key {
    float time, x, angleZ;  // a shift along x and a turn about z
};

// One bone "b" (index 1) driven by one track of the keys.
struct Rig {
    Model model;
    Bone* bone = nullptr;

    Rig(const std::vector<Key>& keys, bool loop)
    {
        model.rootBone.addChild(fyrel::test::namedBone("b"));
        bone = &model.rootBone.children[0];
        Animation clip;
        clip.loop = loop;
        for (const Key& k : keys) {
            KeyFrame key;
            key.boneIndex = 1;
            key.boneName = "b";
            key.time = k.time;
            key.translation = {k.x, 0, 0};
            eulerToQuat(0, 0, k.angleZ, key.rotation);
            clip.addKey(key);
        }
        model.animator.animations.push_back(clip);
        model.animator.rate = 1.0f;
    }
};

}  // namespace

TEST(Sampling, TimeAdvancesWrapsHoldsAndThePoseFollowsTheKeys)
{
    const std::vector<Key> three = {{0, 0, 0}, {1, 4, 1}, {2, 8, 2}};
    const std::vector<Key> long10 = {{0, 0, 0}, {10, 1, 0}};
    const float s = (0.25f - 2.0f) / (0.5f - 2.0f);  // from the last key back to the first
    struct Case {
        const char* what;
        std::vector<Key> keys;
        bool loop;
        float start, dt;
        float time, x, angleZ;  // expected afterwards
    };
    const Case cases[] = {
        {"exactly on a key", three, true, 0.0f, 1.0f, 1.0f, 4.0f, 1.0f},
        {"halfway between keys", three, true, 1.0f, 0.5f, 1.5f, 6.0f, 1.5f},
        {"time zero on the first key", {{0, 3, 0}, {2, 9, 0}}, true, 0.0f, 0.0f, 0.0f, 3.0f, 0.0f},
        {"before the first key", {{0.5f, 1, 0}, {1, 2, 0}, {2, 4, 0}}, true, 0.0f, 0.25f, 0.25f, 4.0f - 3.0f * s, 0.0f},
        // Ten times the way from the last key to the first, turning on.
        {"far before the first key", {{0.9f, 0, 0}, {1, 1, 1.8f}}, true, 0.0f, 0.0f, 0.0f, -9.0f, -16.2f},
        {"a loop wraps", long10, true, 9.95f, 0.1f, 0.05f, 0.005f, 0.0f},
        {"a clip without loop holds its end", long10, false, 9.95f, 5.1f, 10.0f, 1.0f, 0.0f},
        {"a NaN step is ignored", long10, true, 2.0f, NAN, 2.0f, 0.2f, 0.0f},
        {"a single key of length 0", {{0, 5, 0.3f}}, true, 0.0f, 1.0f, 0.0f, 5.0f, 0.3f},
        {"two keys at one time", {{1, 2, 0.4f}, {1, 7, 0}}, false, 0.5f, 0.5f, 1.0f, 2.0f, 0.4f},
    };
    for (const Case& c : cases) {
        Rig rig(c.keys, c.loop);
        rig.model.animator.time = c.start;
        updateAnimator(rig.model, c.dt);
        EXPECT_NEAR(rig.model.animator.time, c.time, 1e-5f) << c.what;
        EXPECT_NEAR(rig.bone->translation.x, c.x, 1e-5f) << c.what;
        EXPECT_NEAR(rig.bone->rotation.z, std::sin(c.angleZ / 2), 1e-5f) << c.what;
        EXPECT_NEAR(rig.bone->rotation.w, std::cos(c.angleZ / 2), 1e-5f) << c.what;
    }

    // Keys name their bone by index: after the skeleton grew (and "b" moved
    // to new storage) they drive "b" where it is now; an index past the
    // bones drives nothing.
    Rig grown(three, true);
    updateAnimator(grown.model, 0.5f);
    for (int i = 0; i < 40; ++i) {
        grown.model.rootBone.addChild(fyrel::test::namedBone("c"));
    }
    updateAnimator(grown.model, 0.5f);
    EXPECT_NEAR(grown.model.rootBone.children[0].translation.x, 4.0f, 1e-5f);
    EXPECT_EQ(grown.model.rootBone.children[1].translation.x, 0.0f);
    Rig beyond(three, true);
    beyond.model.animator.animations[0].tracks[0][1].boneIndex = 2;
    updateAnimator(beyond.model, 1.0f);
    EXPECT_EQ(beyond.bone->translation.x, 0.0f);
    Rig ended({{0, 1, 0}}, false);
    ended.model.animator.animations[0].length = 1.0f;  // the clip runs on past this track's last key
    ended.bone->translation = {42, 0, 0};
    updateAnimator(ended.model, 0.5f);
    EXPECT_EQ(ended.bone->translation.x, 42.0f);
}

// Sampling interpolates rotations within this of slerp in each component
// (animation/sampling.cpp).
constexpr float kSlerpTolerance = 1e-6f;

TEST(Sampling, RotationsTakeTheShorterArcAndStayUnit)
{
    constexpr float kDegree = 3.14159265f / 180.0f;
    struct Case {
        const char* what;
        float x0, z0, x1, z1;  // key angles about X and Z
        float s;
        Vector3 expected;  // where (1, 0, 0) is turned to
        float length = 1.0f;  // of the second key
    };
    const Case cases[] = {
        {"an ordinary turn", 0, 0.2f, 0, 1.4f, 0.5f, {std::cos(0.8f), std::sin(0.8f), 0}},
        {"keys 20 degrees apart across the wrap", 0, 170 * kDegree, 0, -170 * kDegree, 0.5f, {-1, 0, 0}},
        // The same rotation written with opposite signs, as exported Euler
        // keys often are: nothing may move.
        {"one rotation, opposite signs", 0.3f, 179.99f * kDegree, 0.3f, -179.99f * kDegree, 0.1f,
         {-std::cos(0.008f * kDegree), std::sin(0.008f * kDegree), 0}},
        {"keys 1e-5 apart", 0, 0.2f, 0, 0.2f + 1e-5f, 0.3f, {std::cos(0.200003f), std::sin(0.200003f), 0}},
        // Keys far apart: where the polynomial stops (a turn of 106 degrees)
        // and beyond, where slerp takes over, at the weights the polynomial
        // would miss most.
        {"keys 105 degrees apart", 0, 0, 0, 105 * kDegree, 0.22f, {std::cos(23.1f * kDegree), std::sin(23.1f * kDegree), 0}},
        {"keys 107 degrees apart", 0, 0, 0, 107 * kDegree, 0.22f, {std::cos(23.54f * kDegree), std::sin(23.54f * kDegree), 0}},
        {"keys 121 degrees apart", 0, 0, 0, 121 * kDegree, 0.22f, {std::cos(26.62f * kDegree), std::sin(26.62f * kDegree), 0}},
        {"keys 170 degrees apart", 0, 0, 0, 170 * kDegree, 0.22f, {std::cos(37.4f * kDegree), std::sin(37.4f * kDegree), 0}},
        {"keys 170 degrees apart, tilted", 0.4f, 0.1f, -0.3f, 170 * kDegree, 0.8f, {}},
        // Rotations of another length than 1 (an importer's rounding, or
        // worse) come out unit all the same.
        {"a key of length 1.5", 0, 0.2f, 0, 1.4f, 0.5f, {}, 1.5f},
        {"a key of length 0.01", 0, 0.2f, 0, 1.4f, 0.3f, {}, 0.01f},
    };
    for (const Case& c : cases) {
        Rig rig({{0, 0, 0}, {1, 10, 0}}, true);
        std::vector<KeyFrame>& track = rig.model.animator.animations[0].tracks[0];
        eulerToQuat(c.x0, 0, c.z0, track[0].rotation);
        eulerToQuat(c.x1, 0, c.z1, track[1].rotation);
        Quaternion& q1 = track[1].rotation;
        q1 = {q1.w * c.length, q1.x * c.length, q1.y * c.length, q1.z * c.length};
        updateAnimator(rig.model, c.s);
        const Quaternion& q = rig.bone->rotation;
        EXPECT_NEAR(std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z), 1.0f, 1e-6f) << c.what;
        // Within the stated bound of the math library's slerp, component by component.
        Quaternion exact;
        slerp(track[0].rotation, track[1].rotation, c.s, exact);
        EXPECT_NEAR(q.w, exact.w, kSlerpTolerance) << c.what;
        EXPECT_NEAR(q.x, exact.x, kSlerpTolerance) << c.what;
        EXPECT_NEAR(q.y, exact.y, kSlerpTolerance) << c.what;
        EXPECT_NEAR(q.z, exact.z, kSlerpTolerance) << c.what;
        Matrix4 r;
        Vector4 v;
        transform(quatToMatrix(q, r), Vector4{1, 0, 0, 0}, v);
        if (c.expected.x != 0.0f || c.expected.y != 0.0f) {
            EXPECT_LT(fyrel::test::distance({v.x, v.y, v.z}, c.expected), 1e-4f) << c.what;
        }
        EXPECT_NEAR(rig.bone->translation.x, 10 * c.s, 1e-5f) << c.what;
    }
}
