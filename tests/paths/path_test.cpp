#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>

#include "paths/path.h"

using namespace fyrel;

namespace {

Path builtPath(std::initializer_list<Vector3> points)
{
    Path path;
    for (const Vector3& p : points)
        path.addControlPoint(p);
    path.buildCurve();
    return path;
}

void expectVector(const Vector3& actual, float x, float y, float z)
{
    EXPECT_EQ(actual.x, x);
    EXPECT_EQ(actual.y, y);
    EXPECT_EQ(actual.z, z);
}

bool isFinite(const Vector3& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

TEST(PathCurve, TwoPointsGiveQuarterChordInnerPoints)
{
    const Path path = builtPath({{0, 0, 0}, {4, 0, 0}});
    ASSERT_EQ(path.bezierPoints.size(), 4u);
    expectVector(path.bezierPoints[0], 0, 0, 0);
    expectVector(path.bezierPoints[1], 1, 0, 0);
    expectVector(path.bezierPoints[2], 3, 0, 0);
    expectVector(path.bezierPoints[3], 4, 0, 0);
    expectVector(path.pointAt(0.5f), 2, 0, 0);
    expectVector(path.tangentAt(0.5f), 1, 0, 0);
}

TEST(PathCurve, InnerPointsOfMiddleControlPointAreSymmetric)
{
    const Vector3 p0{0, 0, 0}, p1{2, 3, 0}, p2{5, 1, 1};
    const Path path = builtPath({p0, p1, p2});
    ASSERT_EQ(path.bezierPoints.size(), 7u);
    expectVector(path.bezierPoints[3], p1.x, p1.y, p1.z);
    const Vector3 t{(p2.x - p0.x) * 0.25f, (p2.y - p0.y) * 0.25f, (p2.z - p0.z) * 0.25f};
    expectVector(path.bezierPoints[2], p1.x - t.x, p1.y - t.y, p1.z - t.z);
    expectVector(path.bezierPoints[4], p1.x + t.x, p1.y + t.y, p1.z + t.z);
    // The end points use the point itself for the missing neighbour.
    expectVector(path.bezierPoints[1], 0.5f, 0.75f, 0);
    expectVector(path.bezierPoints[5], 5 - 0.75f, 1 + 0.5f, 1 - 0.25f);
}

TEST(PathCurve, IntegerParametersHitControlPoints)
{
    const Path path = builtPath({{0, 0, 0}, {2, 3, 0}, {5, 1, 1}, {7, -2, 0}});
    expectVector(path.pointAt(0), 0, 0, 0);
    expectVector(path.pointAt(1), 2, 3, 0);
    expectVector(path.pointAt(2), 5, 1, 1);
    expectVector(path.pointAt(3), 7, -2, 0);
}

TEST(PathCurve, FewerThanTwoPointsEvaluateToOrigin)
{
    Path empty;
    empty.buildCurve();
    EXPECT_TRUE(empty.bezierPoints.empty());
    expectVector(empty.pointAt(0), 0, 0, 0);

    const Path single = builtPath({{3, 4, 5}});
    ASSERT_EQ(single.bezierPoints.size(), 1u);
    expectVector(single.bezierPoints[0], 3, 4, 5);
    for (float u : {0.0f, 0.5f, 1.0f, -2.0f})
        expectVector(single.pointAt(u), 0, 0, 0), expectVector(single.tangentAt(u), 0, 0, 0);
}

TEST(PathCurve, ParametersOutsideTheCurveAreClamped)
{
    const Path path = builtPath({{1, 0, 0}, {2, 3, 0}, {5, 1, 1}});
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    expectVector(path.pointAt(-3.5f), 1, 0, 0);
    expectVector(path.pointAt(-inf), 1, 0, 0);
    expectVector(path.pointAt(nan), 1, 0, 0);
    expectVector(path.pointAt(2.5f), 5, 1, 1);
    expectVector(path.pointAt(inf), 5, 1, 1);
    expectVector(path.pointAt(1e30f), 5, 1, 1);
    for (float u : {-inf, nan, inf, -1e30f, 1e30f})
        EXPECT_TRUE(isFinite(path.tangentAt(u))) << u;
}

TEST(PathCurve, PointAddedWithoutRebuildIsNotRead)
{
    Path path = builtPath({{0, 0, 0}, {4, 0, 0}});
    path.addControlPoint({9, 9, 9});
    EXPECT_EQ(path.controlPointCount(), 3u);
    EXPECT_EQ(path.bezierPoints.size(), 4u);
    // Only the built piece exists; u = 2 is clamped to its end.
    expectVector(path.pointAt(2.0f), 4, 0, 0);
    expectVector(path.pointAt(1.5f), 4, 0, 0);
}

TEST(PathCurve, CoincidentPointsGiveZeroTangentNotNan)
{
    // The derivative's weights sum to zero only before rounding: without a
    // noise floor these give unit vectors pointing anywhere.
    const Path path = builtPath({{2, 2, 0}, {2, 2, 0}});
    for (float u : {0.0f, 0.1f, 0.3f, 0.5f, 0.7f, 0.9f, 1.0f})
        expectVector(path.tangentAt(u), 0, 0, 0);
}
