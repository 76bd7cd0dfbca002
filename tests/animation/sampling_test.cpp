#include <gtest/gtest.h>

#include <cmath>

#include "animation/sampling.h"
#include "scene/model.h"

using namespace fyrel;

namespace {

KeyFrame key(Bone* bone, float t, float tx, float angleZ = 0.0f)
{
    KeyFrame k;
    k.bone = bone;
    k.boneName = bone ? bone->name : "";
    k.time = t;
    k.translation = {tx, 0, 0};
    eulerToQuat(0, 0, angleZ, k.rotation);
    return k;
}

struct Rig {
    Model model;
    Bone* bone = nullptr;

    explicit Rig(std::initializer_list<KeyFrame> keysAt, bool loop = true)
    {
        Bone b;
        b.name = "b";
        model.rootBone.addChild(b);
        bone = &model.rootBone.children[0];
        Animation clip;
        clip.loop = loop;
        for (KeyFrame k : keysAt) {
            k.bone = bone;
            k.boneName = bone->name;
            clip.addKey(k);
        }
        model.animator.animations.push_back(clip);
        model.animator.bind(&model);
    }
};

}  // namespace

TEST(Sampling, InactiveAnimatorChangesNothing)
{
    Model m;
    m.animator.time = 3.0f;
    updateAnimator(m.animator, 1.0f);
    EXPECT_EQ(m.animator.time, 3.0f);
    Rig rig{key(nullptr, 0, 0), key(nullptr, 1, 1)};
    rig.model.animator.model = nullptr;
    updateAnimator(rig.model.animator, 1.0f);
    EXPECT_EQ(rig.model.animator.time, 0.0f);
}

TEST(Sampling, ExactKeyTimeTakesThatKey)
{
    Rig rig{key(nullptr, 0, 0, 0.0f), key(nullptr, 1, 4, 1.0f), key(nullptr, 2, 8, 2.0f)};
    rig.model.animator.rate = 1.0f;
    updateAnimator(rig.model.animator, 1.0f);
    EXPECT_NEAR(rig.bone->translation.x, 4.0f, 1e-6f);
    EXPECT_NEAR(rig.bone->rotation.z, std::sin(0.5f), 1e-6f);

    updateAnimator(rig.model.animator, 0.5f);  // halfway between keys 1 and 2
    EXPECT_NEAR(rig.bone->translation.x, 6.0f, 1e-5f);
    EXPECT_NEAR(rig.bone->rotation.z, std::sin(0.75f), 1e-5f);
}

TEST(Sampling, TimeZeroWithFirstKeyAtZeroUsesTheFirstKey)
{
    Rig rig{key(nullptr, 0, 3), key(nullptr, 2, 9)};
    rig.model.animator.rate = 0.0f;
    updateAnimator(rig.model.animator, 1.0f);
    EXPECT_NEAR(rig.bone->translation.x, 3.0f, 1e-6f);
}

TEST(Sampling, BeforeTheFirstKeyExtrapolatesFromTheLast)
{
    Rig rig{key(nullptr, 0.5f, 1), key(nullptr, 1, 2), key(nullptr, 2, 4)};
    rig.model.animator.rate = 1.0f;
    updateAnimator(rig.model.animator, 0.25f);
    // s = (0.25 − 2) / (0.5 − 2) ≈ 1.1667 from the last key (4) to the first (1).
    const float s = (0.25f - 2.0f) / (0.5f - 2.0f);
    EXPECT_NEAR(rig.bone->translation.x, 4.0f + s * (1.0f - 4.0f), 1e-5f);
}

TEST(Sampling, LoopingWrapsAndNonLoopingHolds)
{
    Rig looping{key(nullptr, 0, 0), key(nullptr, 10, 1)};
    looping.model.animator.rate = 1.0f;
    looping.model.animator.time = 9.95f;
    updateAnimator(looping.model.animator, 0.1f);
    EXPECT_NEAR(looping.model.animator.time, 0.05f, 1e-5f);

    Rig holding({key(nullptr, 0, 0), key(nullptr, 10, 1)}, false);
    holding.model.animator.rate = 1.0f;
    holding.model.animator.time = 9.95f;
    updateAnimator(holding.model.animator, 0.1f);
    EXPECT_EQ(holding.model.animator.time, 10.0f);
    updateAnimator(holding.model.animator, 5.0f);
    EXPECT_EQ(holding.model.animator.time, 10.0f);
    EXPECT_NEAR(holding.bone->translation.x, 1.0f, 1e-6f);
}

TEST(Sampling, DegenerateTracksGiveTheKeyNotNaN)
{
    Rig single{key(nullptr, 0, 5, 0.3f)};
    updateAnimator(single.model.animator, 1.0f);  // clip length 0, looping: time stays 0
    EXPECT_EQ(single.model.animator.time, 0.0f);
    EXPECT_EQ(single.bone->translation.x, 5.0f);
    EXPECT_FALSE(std::isnan(single.bone->rotation.w));

    Rig sameTime{key(nullptr, 1, 2), key(nullptr, 1, 7)};
    sameTime.model.animator.rate = 1.0f;
    sameTime.model.animator.time = 0.5f;
    updateAnimator(sameTime.model.animator, 0.5f);
    EXPECT_FALSE(std::isnan(sameTime.bone->translation.x));
}

TEST(Sampling, TrackThatEndedKeepsPreviousPoseAndNaNStepIsIgnored)
{
    Rig rig({key(nullptr, 0, 1), key(nullptr, 1, 2)}, false);
    Bone extra;
    extra.name = "late";
    rig.bone->translation = {42, 0, 0};
    // A second bone's track ending early: add key for a bone ending at 0.2.
    rig.model.animator.animations[0].tracks[0].pop_back();  // now only the key at 0
    rig.model.animator.animations[0].length = 1.0f;
    rig.model.animator.rate = 1.0f;
    updateAnimator(rig.model.animator, 0.5f);
    EXPECT_EQ(rig.bone->translation.x, 42.0f);

    updateAnimator(rig.model.animator, NAN);
    EXPECT_EQ(rig.model.animator.time, 0.5f);
}

TEST(Sampling, RotationsTakeTheShorterArcAndStayUnit)
{
    constexpr float kDegree = 3.14159265f / 180.0f;
    struct Case {
        const char* what;
        float x0, z0, x1, z1;  // key angles about X and Z
        float s;
        Vector3 expected;  // where (1, 0, 0) is turned to
    };
    const Case cases[] = {
        {"an ordinary turn", 0, 0.2f, 0, 1.4f, 0.5f, {std::cos(0.8f), std::sin(0.8f), 0}},
        {"keys 20 degrees apart across the wrap", 0, 170 * kDegree, 0, -170 * kDegree, 0.5f, {-1, 0, 0}},
        // The same rotation written with opposite signs, as exported Euler
        // keys often are: nothing may move.
        {"one rotation, opposite signs", 0.3f, 179.99f * kDegree, 0.3f, -179.99f * kDegree, 0.1f,
         {-std::cos(0.008f * kDegree), std::sin(0.008f * kDegree), 0}},
        {"keys 1e-5 apart", 0, 0.2f, 0, 0.2f + 1e-5f, 0.3f, {std::cos(0.200003f), std::sin(0.200003f), 0}},
    };
    for (const Case& c : cases) {
        KeyFrame a = key(nullptr, 0, 0), b = key(nullptr, 1, 10);
        eulerToQuat(c.x0, 0, c.z0, a.rotation);
        eulerToQuat(c.x1, 0, c.z1, b.rotation);
        Rig rig{a, b};
        rig.model.animator.rate = 1.0f;
        updateAnimator(rig.model.animator, c.s);
        const Quaternion& q = rig.bone->rotation;
        EXPECT_NEAR(std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z), 1.0f, 1e-6f) << c.what;
        Matrix4 r;
        Vector4 v;
        transform(quatToMatrix(q, r), Vector4{1, 0, 0, 0}, v);
        EXPECT_NEAR(v.x, c.expected.x, 1e-4f) << c.what;
        EXPECT_NEAR(v.y, c.expected.y, 1e-4f) << c.what;
        EXPECT_NEAR(v.z, c.expected.z, 1e-4f) << c.what;
        EXPECT_NEAR(rig.bone->translation.x, 10 * c.s, 1e-5f) << c.what;
    }
}
