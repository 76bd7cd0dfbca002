#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <string>

#include "ik/ik_error.h"
#include "paths/path_binding.h"

using namespace fyrel;

namespace {

constexpr float kFrame = 1.0f / 60.0f;

Path builtPath(std::initializer_list<Vector3> points)
{
    Path path;
    for (const Vector3& p : points)
        path.addControlPoint(p);
    path.buildCurve();
    path.buildArcLengthTable();
    return path;
}

// A model with a root bone "root" and one child "arm".
Model riggedModel()
{
    Model model;
    model.rootBone.name = "root";
    Bone arm;
    arm.name = "arm";
    arm.localMatrix(1, 3) = 1.0f;
    model.rootBone.addChild(arm);
    model.animator.bind(&model);
    return model;
}

void expectQuaternion(const Quaternion& q, float w, float x, float y, float z)
{
    EXPECT_FLOAT_EQ(q.w, w);
    EXPECT_FLOAT_EQ(q.x, x);
    EXPECT_FLOAT_EQ(q.y, y);
    EXPECT_FLOAT_EQ(q.z, z);
}

}  // namespace

TEST(EaseDistance, MatchesTheTabledValues)
{
    EXPECT_NEAR(easeDistance(0.1f), 0.0436347f, 1e-7f);
    EXPECT_NEAR(easeDistance(0.2f), 0.1489783f, 1e-7f);
    EXPECT_NEAR(easeDistance(0.5f), 0.4999999f, 1e-7f);
    EXPECT_LT(easeDistance(0.5f), 0.5f);  // the cruise slope lands one float short
    EXPECT_NEAR(easeDistance(0.8f), 0.8510218f, 1e-7f);
    EXPECT_NEAR(easeDistance(0.9f), 0.9563652f, 1e-7f);
    EXPECT_EQ(easeDistance(1.0f), 1.0f);
    EXPECT_NEAR(easeDistance(0.0f), 0.0f, 1e-7f);
}

TEST(SpeedFactor, RampsUpCruisesAndRampsDown)
{
    EXPECT_EQ(speedFactor(0.0f), 0.0f);
    EXPECT_EQ(speedFactor(0.1f), 0.5f);
    EXPECT_EQ(speedFactor(0.2f), 1.0f);
    EXPECT_EQ(speedFactor(0.5f), 1.0f);
    EXPECT_EQ(speedFactor(0.8f), 1.0f);
    EXPECT_NEAR(speedFactor(0.9f), 0.5f, 1e-6f);
    EXPECT_EQ(speedFactor(1.0f), 0.0f);
}

TEST(PathBinding, PlainBindingLapsInSixThousandFrames)
{
    Path path = builtPath({{0, 0, 0}, {4, 0, 0}});
    Model model = riggedModel();
    PathBinding binding{nullptr, &path, &model};
    for (int frame = 1; frame <= 6000; ++frame) {
        binding.advance(kFrame);
        ASSERT_EQ(model.animator.rate, binding.speed);
        if (frame == 600) {
            EXPECT_NEAR(binding.parameter, 0.1f, 1e-4f);
            EXPECT_NEAR(binding.speed, 0.5f, 1e-3f);
        }
        if (frame == 3000) {
            EXPECT_EQ(binding.speed, 1.0f);
            // Half the length, give or take the coarse table of a straight
            // path: three rows, between which u is linear in s but x is not.
            EXPECT_NEAR(model.position.x, 2.0f, 0.1f);
        }
    }
    // Float accumulation of 6000 frames falls 5e-5 short of 1; the wrap shows
    // one frame later.
    EXPECT_GT(binding.parameter, 0.9999f);
    EXPECT_NEAR(model.position.x, 4.0f, 1e-5f);
    binding.advance(kFrame);
    EXPECT_LT(binding.parameter, 0.001f);
    EXPECT_NEAR(model.position.x, 0.0f, 1e-5f);
    EXPECT_EQ(model.position.y, 0.0f);
}

TEST(PathBinding, FacesTheDirectionOfTravel)
{
    const float h = std::sqrt(0.5f);
    struct Case {
        Vector3 from, to;
        Quaternion expected;
    };
    // Straight −Y, and −Y within rounding, need the half turn: the identity
    // (or its negative) would leave the model walking backwards.
    for (const Case& c : {Case{{0, 0, 0}, {4, 0, 0}, {h, 0, 0, -h}},  // quarter turn about −Z
                          Case{{0, 0, 0}, {0, 4, 0}, {1, 0, 0, 0}},
                          Case{{0, 4, 0}, {0, 0, 0}, {0, 0, 0, 1}},
                          Case{{1e-4f, 4, 0}, {0, 0, 0}, {0, 0, 0, 1}}}) {
        Path path = builtPath({c.from, c.to});
        Model model = riggedModel();
        PathBinding binding{nullptr, &path, &model};
        binding.advance(kFrame);
        expectQuaternion(model.orientation, c.expected.w, c.expected.x, c.expected.y, c.expected.z);
        // The model's own +Y points along the walk.
        Matrix4 r;
        Vector4 ahead;
        transform(quatToMatrix(model.orientation, r), Vector4{0, 1, 0, 0}, ahead);
        Vector3 travel;
        normalize(Vector3{c.to.x - c.from.x, c.to.y - c.from.y, c.to.z - c.from.z}, travel);
        EXPECT_NEAR(ahead.x, travel.x, 1e-4f);
        EXPECT_NEAR(ahead.y, travel.y, 1e-4f);
    }
}

TEST(PathBinding, PathWithoutDirectionKeepsTheOrientation)
{
    const Quaternion turned{0.5f, 0.5f, 0.5f, 0.5f};
    for (Path path : {builtPath({{2, 2, 0}, {2, 2, 0}}), builtPath({{2, 2, 0}})}) {
        Model model = riggedModel();
        model.orientation = turned;
        PathBinding binding{nullptr, &path, &model};
        for (int i = 0; i < 100; ++i)
            binding.advance(0.5f);
        expectQuaternion(model.orientation, 0.5f, 0.5f, 0.5f, 0.5f);
        EXPECT_EQ(model.position.x, path.table[0].position.x);
        EXPECT_EQ(model.position.y, path.table[0].position.y);
    }
}

TEST(PathBinding, UnusableFrameTimesAreIgnored)
{
    Path path = builtPath({{0, 0, 0}, {4, 0, 0}});
    Model model = riggedModel();
    PathBinding binding{nullptr, &path, &model};
    binding.advance(10.0f);
    const float parameter = binding.parameter;
    const Vector3 position = model.position;
    for (float dt : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -1.0f}) {
        binding.advance(dt);
        EXPECT_EQ(binding.parameter, parameter);
        EXPECT_EQ(model.position.x, position.x);
    }
}

TEST(PathBinding, LaterBindingOfTheSameModelDecides)
{
    Path east = builtPath({{0, 0, 0}, {4, 0, 0}});
    Path north = builtPath({{0, 0, 0}, {0, 4, 0}});
    Model model = riggedModel();
    PathBinding first{nullptr, &east, &model};
    PathBinding second{nullptr, &north, &model, 0.0f, 1.0f, 0};
    second.parameter = 0.5f;
    first.advance(1.0f);
    second.advance(1.0f);
    EXPECT_EQ(model.position.x, 0.0f);
    EXPECT_GT(model.position.y, 1.0f);
    EXPECT_EQ(model.animator.rate, 1.0f);
    expectQuaternion(model.orientation, 1, 0, 0, 0);
}

TEST(PathBinding, IkWalkHandsOverOnceOnArrival)
{
    Path path = builtPath({{0, 0, 0}, {4, 0, 0}});
    Model model = riggedModel();  // no animation at all: counts as not playing the clip
    IkController controller("arm", {0, 0, 5}, &model);
    PathBinding binding{&controller, &path, &model};
    binding.advance(60.0f);
    EXPECT_TRUE(model.animator.animations.empty());
    const Vector3 position = model.position;
    const Quaternion orientation = model.orientation;

    binding.advance(60.0f);
    EXPECT_EQ(binding.parameter, 1.0f);
    ASSERT_EQ(model.animator.animations.size(), 1u);
    EXPECT_EQ(model.animator.animations[0].name, "IKAnimation");
    EXPECT_EQ(model.animator.current, 0);
    EXPECT_EQ(model.animator.rate, 0.1f);
    EXPECT_EQ(model.position.x, position.x);
    expectQuaternion(model.orientation, orientation.w, orientation.x, orientation.y, orientation.z);

    model.animator.time = 0.3f;
    for (int i = 0; i < 10; ++i)
        binding.advance(kFrame);
    EXPECT_EQ(model.animator.animations.size(), 1u);
    EXPECT_EQ(model.animator.time, 0.3f);
    EXPECT_EQ(model.animator.rate, 0.1f);
    EXPECT_EQ(model.position.x, position.x);
}

TEST(PathBinding, FailingHandOverIsReportedOnce)
{
    Path path = builtPath({{0, 0, 0}, {4, 0, 0}});
    Model model = riggedModel();
    IkController controller("no such bone", {0, 0, 5}, &model);
    PathBinding binding{&controller, &path, &model};
    binding.advance(50.0f);
    const Vector3 position = model.position;
    try {
        binding.advance(60.0f);
        FAIL() << "generation did not throw";
    } catch (const IkError& e) {
        EXPECT_EQ(std::string(e.what()), "Danger Zarnok!  Root bone not found bone bone bone");
    }
    EXPECT_TRUE(binding.finished);
    EXPECT_EQ(binding.parameter, 1.0f);
    EXPECT_TRUE(model.animator.animations.empty());
    EXPECT_NO_THROW(binding.advance(kFrame));
    EXPECT_EQ(model.position.x, position.x);
}
