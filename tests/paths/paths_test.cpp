#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "ik/ik_error.h"
#include "paths/path_binding.h"
#include "tests/animation/test_scenes.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

constexpr float kFrame = 1.0f / 60.0f;
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

Path windingPath(std::uint32_t seed = 7)
{
    return builtPath({{0, 0, 0}, {3, 4, 0}, {6, -1, 1}, {10, 2, 0}, {8, 8, -1}}, seed);
}

bool same(const Vector3& a, const Vector3& b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

bool sameRow(const ArcLengthEntry& a, const ArcLengthEntry& b)
{
    return a.u == b.u && a.s == b.s && same(a.position, b.position) && same(a.tangent, b.tangent) && a.index == b.index;
}

// A model with a root bone "root" and one child "arm".
Model riggedModel()
{
    Model model;
    model.rootBone = namedBone("root", {namedBone("arm")});
    return model;
}

}  // namespace

TEST(PathCurve, InnerPointsPassThroughTheControlPointsAndClampTheParameter)
{
    const Path two = builtPath({{0, 0, 0}, {4, 0, 0}});
    ASSERT_EQ(two.bezierPoints.size(), 4u);
    EXPECT_TRUE(same(two.bezierPoints[1], {1, 0, 0}) && same(two.bezierPoints[2], {3, 0, 0}));
    EXPECT_TRUE(same(two.pointAt(0.5f), {2, 0, 0}) && same(two.tangentAt(0.5f), {1, 0, 0}));

    // Each inner point is P ± (next − prev) / 4, a missing neighbour being P itself.
    const Path four = builtPath({{0, 0, 0}, {2, 3, 0}, {5, 1, 1}, {7, -2, 0}});
    ASSERT_EQ(four.bezierPoints.size(), 10u);
    EXPECT_TRUE(same(four.bezierPoints[1], {0.5f, 0.75f, 0}));
    EXPECT_TRUE(same(four.bezierPoints[2], {2 - 1.25f, 3 - 0.25f, -0.25f}));
    EXPECT_TRUE(same(four.bezierPoints[4], {2 + 1.25f, 3 + 0.25f, 0.25f}));
    EXPECT_TRUE(same(four.bezierPoints[8], {7 - 0.5f, -2 + 0.75f, 0.25f}));
    const std::pair<float, Vector3> at[] = {{0, {0, 0, 0}},    {1, {2, 3, 0}},    {2, {5, 1, 1}},  {3, {7, -2, 0}},
                                            {-3.5f, {0, 0, 0}}, {-kInf, {0, 0, 0}}, {kNaN, {0, 0, 0}}, {kInf, {7, -2, 0}},
                                            {1e30f, {7, -2, 0}}};
    for (const auto& [u, p] : at) {
        EXPECT_TRUE(same(four.pointAt(u), p)) << u;
        const Vector3 t = four.tangentAt(u);
        EXPECT_TRUE(std::isfinite(t.x) && std::isfinite(t.y) && std::isfinite(t.z)) << u;
    }

    // Fewer than two points, coincident points, a point added without rebuild.
    const Path single = builtPath({{3, 4, 5}});
    EXPECT_EQ(single.bezierPoints.size(), 1u);
    const Path coincident = builtPath({{2, 2, 0}, {2, 2, 0}});
    for (float u : {0.0f, 0.1f, 0.5f, 0.9f, 1.0f}) {
        EXPECT_TRUE(same(single.pointAt(u), {0, 0, 0}) && same(single.tangentAt(u), {0, 0, 0}));
        EXPECT_TRUE(same(coincident.tangentAt(u), {0, 0, 0})) << u;  // no NaN, no random direction
    }
    Path grown = two;
    grown.addControlPoint({9, 9, 9});
    EXPECT_TRUE(same(grown.pointAt(2.0f), {4, 0, 0}));
}

TEST(ArcLengthTable, RowsAreOrderedAndMeasureTheCurve)
{
    // The classic rand() sequence draws the split points: the first split of a
    // straight path lies at (1 + 2·41/32767) / 4.
    SplitRandom random;
    EXPECT_EQ(random.next(), 41);
    EXPECT_EQ(random.next(), 18467);
    const Path straight = builtPath({{0, 0, 0}, {4, 0, 0}});
    ASSERT_EQ(straight.table.size(), 3u);
    EXPECT_FLOAT_EQ(straight.table[1].u, (1.0f + 2.0f * 41.0f / 32767.0f) / 4.0f);
    EXPECT_FLOAT_EQ(straight.totalLength, 4.0f);
    EXPECT_EQ(builtPath({{3, 4, 5}}).table.size(), 1u);

    const Path path = windingPath();
    ASSERT_GT(path.table.size(), 50u);
    EXPECT_EQ(path.table.back().u, 4.0f);
    EXPECT_EQ(path.table.back().s, path.totalLength);
    for (std::size_t i = 1; i < path.table.size(); ++i) {
        const ArcLengthEntry &prev = path.table[i - 1], &row = path.table[i];
        ASSERT_EQ(row.index, static_cast<std::int32_t>(i));
        ASSERT_LE(prev.u, row.u);
        ASSERT_EQ(row.s, prev.s + distance(prev.position, row.position)) << i;
        ASSERT_TRUE(same(row.position, path.pointAt(row.u)) && same(row.tangent, path.tangentAt(row.u))) << i;
    }
    float fine = 0.0f;  // the chord sum of fine sampling is close to the true length
    for (int i = 0; i < 40000; ++i) {
        fine += distance(path.pointAt(i / 10000.0f), path.pointAt((i + 1) / 10000.0f));
    }
    EXPECT_NEAR(path.totalLength, fine, 1e-3f * fine);

    // Seeded builds repeat; a rebuild continues the draws.
    Path again = windingPath();
    ASSERT_EQ(again.table.size(), path.table.size());
    EXPECT_TRUE(sameRow(again.table[path.table.size() / 2], path.table[path.table.size() / 2]));
    again.buildArcLengthTable();
    EXPECT_NE(again.table[1].u, path.table[1].u);
    EXPECT_NEAR(again.totalLength, path.totalLength, 1e-3f * path.totalLength);
}

TEST(ArcLengthTable, HugeAndNonFiniteCoordinatesStayBoundedAndOrdered)
{
    // At the huge scale float rounding alone exceeds the flatness tolerance.
    for (const Vector3& bad : {Vector3{3e6f, 4e6f, 0}, Vector3{kNaN, 0, 0}, Vector3{kInf, 0, 0}, Vector3{3e38f, -3e38f, 0}}) {
        const Path path = builtPath({{0, 0, 0}, bad, {4e6f, -1e6f, 0}, {1e7f, 2e6f, 0}});
        EXPECT_LE(path.table.size(), kMaxArcLengthRows + 2 * (kMaxSplitLevel + 3));
        ASSERT_GE(path.table.size(), 4u);
        for (std::size_t i = 1; i < path.table.size(); ++i) {
            ASSERT_LE(path.table[i - 1].s, path.table[i].s);
        }
        EXPECT_LT(static_cast<std::size_t>(path.findByDistance(2, path.totalLength * 0.5f).index), path.table.size());
        if (bad.x == 3e6f) {
            EXPECT_EQ(path.table.back().u, 3.0f);
            EXPECT_TRUE(std::isfinite(path.totalLength));
        }
    }
}

TEST(FindByDistance, RowsMissesAndInterpolationOnTheCurve)
{
    const Path path = windingPath();
    const auto count = static_cast<unsigned>(path.table.size());
    EXPECT_TRUE(sameRow(path.findByDistance(0, 0.0f), path.table[0]));
    for (unsigned hint : {0u, 1u, count / 2, count - 1, count, count + 100}) {
        EXPECT_TRUE(sameRow(path.findByDistance(hint, path.totalLength), path.table.back())) << hint;
        for (float miss : {path.totalLength + 1.0f, -1.0f, kNaN}) {
            EXPECT_TRUE(sameRow(path.findByDistance(hint, miss), path.table[0])) << hint << " " << miss;
        }
    }
    EXPECT_TRUE(sameRow(path.findByDistance(count + 7, path.table[count / 3].s), path.table[count / 3]));

    // Between two rows: u linear in s, the point evaluated on the curve.
    const std::size_t i = count / 2;
    const float x = (path.table[i].s + path.table[i + 1].s) * 0.5f;
    const ArcLengthEntry e = path.findByDistance(0, x);
    EXPECT_EQ(e.s, x);
    EXPECT_EQ(e.index, static_cast<std::int32_t>(i));
    EXPECT_FLOAT_EQ(e.u, (path.table[i].u + path.table[i + 1].u) * 0.5f);
    EXPECT_TRUE(same(e.position, path.pointAt(e.u)) && same(e.tangent, path.tangentAt(e.u)));

    // A hint from the previous result keeps the walk short; an oversized hint is the last row.
    unsigned hint = 0, most = 0, steps = 0, lastSteps = 0;
    for (int frame = 0; frame <= 2000; ++frame) {
        hint = static_cast<unsigned>(path.findByDistance(hint, path.totalLength * frame / 2000.0f, &steps).index);
        most = std::max(most, steps);
    }
    EXPECT_LE(most, 3u);
    EXPECT_TRUE(sameRow(path.findByDistance(1000000, x, &steps), path.findByDistance(count - 1, x, &lastSteps)));
    EXPECT_EQ(steps, lastSteps);

    // An unbuilt table, and one whose order is broken by NaN, end the search.
    EXPECT_TRUE(sameRow(Path{}.findByDistance(5, 1.0f), ArcLengthEntry{}));
    Path broken;
    broken.table = {{0.0f, 0.0f, {}, {}, 0}, {0.5f, kNaN, {}, {}, 1}, {1.0f, 1.0f, {}, {}, 2}};
    EXPECT_EQ(broken.findByDistance(1, 5.0f).index, 0);
    EXPECT_EQ(broken.findByDistance(0, 0.5f).index, 0);
}

TEST(PathBinding, EaseAndSpeedRampUpCruiseAndRampDown)
{
    struct Row {
        float t, ease, speed;
    };
    for (const Row& r : {Row{0.0f, 0.0f, 0.0f}, Row{0.1f, 0.0436347f, 0.5f}, Row{0.2f, 0.1489783f, 1.0f},
                         Row{0.5f, 0.4999999f, 1.0f}, Row{0.8f, 0.8510218f, 1.0f}, Row{0.9f, 0.9563652f, 0.5f},
                         Row{1.0f, 1.0f, 0.0f}}) {
        EXPECT_NEAR(easeDistance(r.t), r.ease, 1e-7f) << r.t;
        EXPECT_NEAR(speedFactor(r.t), r.speed, 1e-6f) << r.t;
    }
}

TEST(PathBinding, PlainBindingLapsInSixThousandFramesFacingItsWay)
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
        } else if (frame == 3000) {
            EXPECT_EQ(binding.speed, 1.0f);
            EXPECT_NEAR(model.position.x, 2.0f, 0.1f);  // the coarse table of a straight path
        }
    }
    // Float accumulation falls 5e-5 short of 1; the wrap shows one frame later.
    EXPECT_NEAR(model.position.x, 4.0f, 1e-5f);
    binding.advance(kFrame);
    EXPECT_LT(binding.parameter, 0.001f);
    EXPECT_NEAR(model.position.x, 0.0f, 1e-5f);
    // Unusable frame times change nothing.
    binding.advance(10.0f);
    const float parameter = binding.parameter;
    for (float dt : {kNaN, kInf, -1.0f}) {
        binding.advance(dt);
        EXPECT_EQ(binding.parameter, parameter);
    }

    // The model's +Y points along the walk; −Y (within rounding) needs the half turn.
    const float h = std::sqrt(0.5f);
    const std::pair<Vector3, Quaternion> ways[] = {
        {{4, 0, 0}, {h, 0, 0, -h}}, {{0, 4, 0}, {1, 0, 0, 0}}, {{0, -4, 0}, {0, 0, 0, 1}}, {{-1e-4f, -4, 0}, {0, 0, 0, 1}}};
    for (const auto& [to, expected] : ways) {
        Path way = builtPath({{0, 0, 0}, to});
        Model walker = riggedModel();
        PathBinding walk{nullptr, &way, &walker};
        walk.advance(kFrame);
        const Quaternion& q = walker.orientation;
        EXPECT_NEAR(q.w, expected.w, 1e-6f) << to.x << "," << to.y;
        EXPECT_NEAR(q.z, expected.z, 1e-6f) << to.x << "," << to.y;
        EXPECT_NEAR(std::fabs(q.x) + std::fabs(q.y), 0.0f, 1e-6f);
    }
    // A path without direction keeps the orientation.
    for (Path still : {builtPath({{2, 2, 0}, {2, 2, 0}}), builtPath({{2, 2, 0}})}) {
        Model walker = riggedModel();
        walker.orientation = Quaternion{0.5f, 0.5f, 0.5f, 0.5f};
        PathBinding stay{nullptr, &still, &walker};
        for (int i = 0; i < 100; ++i) {
            stay.advance(0.5f);
        }
        EXPECT_EQ(walker.orientation.w, 0.5f);
        EXPECT_EQ(walker.orientation.x, 0.5f);
        EXPECT_TRUE(same(walker.position, still.table[0].position));
    }
}

TEST(PathBinding, LaterBindingOfTheSameModelDecides)
{
    Path east = builtPath({{0, 0, 0}, {4, 0, 0}});
    Path north = builtPath({{0, 0, 0}, {0, 4, 0}});
    Model model = riggedModel();
    PathBinding first{nullptr, &east, &model};
    PathBinding second{nullptr, &north, &model, 0.5f, 1.0f, 0};
    first.advance(1.0f);
    second.advance(1.0f);
    EXPECT_EQ(model.position.x, 0.0f);
    EXPECT_GT(model.position.y, 1.0f);
    EXPECT_EQ(model.animator.rate, 1.0f);
    EXPECT_EQ(model.orientation.w, 1.0f);
}

// On arrival an IK walk generates and plays the reach once, and then holds;
// a generation that fails is thrown once and the walk is over.
TEST(PathBinding, IkWalkHandsOverOnceOnArrival)
{
    for (const char* effector : {"arm", "no such bone"}) {
        Path path = builtPath({{0, 0, 0}, {4, 0, 0}});
        Model model = riggedModel();
        IkController controller(effector, {0, 0, 5}, &model);
        PathBinding binding{&controller, &path, &model};
        binding.advance(60.0f);
        EXPECT_TRUE(model.animator.animations.empty());
        const Vector3 position = model.position;
        const Quaternion orientation = model.orientation;
        const bool fails = std::string(effector) != "arm";
        try {
            binding.advance(60.0f);
            EXPECT_FALSE(fails) << "generation did not throw";
        } catch (const IkError& e) {
            EXPECT_TRUE(fails);
            EXPECT_STREQ(e.what(), "Danger Zarnok!  Root bone not found bone bone bone");
        }
        EXPECT_EQ(binding.parameter, 1.0f);
        ASSERT_EQ(model.animator.animations.size(), fails ? 0u : 1u) << effector;
        if (!fails) {
            EXPECT_EQ(model.animator.animations[0].name, "IKAnimation");
            EXPECT_EQ(model.animator.current, 0);
            EXPECT_EQ(model.animator.rate, 1.0f);  // played at the clip's own slow time base
            model.animator.time = 0.3f;
        }
        for (int i = 0; i < 10; ++i) {
            EXPECT_NO_THROW(binding.advance(kFrame)) << effector;
        }
        EXPECT_EQ(model.animator.animations.size(), fails ? 0u : 1u);
        EXPECT_TRUE(same(model.position, position)) << effector;
        EXPECT_EQ(model.orientation.w, orientation.w);
        if (!fails) {
            EXPECT_EQ(model.animator.time, 0.3f);
            EXPECT_EQ(model.animator.rate, 1.0f);
        }
    }
}
