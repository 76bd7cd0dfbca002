#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <vector>

#include "paths/path.h"

using namespace fyrel;

namespace {

Path builtPath(std::initializer_list<Vector3> points, std::uint32_t seed = 1)
{
    Path path;
    path.splitRandom.state = seed;
    for (const Vector3& p : points)
        path.addControlPoint(p);
    path.buildCurve();
    path.buildArcLengthTable();
    return path;
}

Path windingPath(std::uint32_t seed = 7)
{
    return builtPath({{0, 0, 0}, {3, 4, 0}, {6, -1, 1}, {10, 2, 0}, {8, 8, -1}}, seed);
}

bool sameRow(const ArcLengthEntry& a, const ArcLengthEntry& b)
{
    return a.u == b.u && a.s == b.s && a.position.x == b.position.x && a.position.y == b.position.y &&
           a.position.z == b.position.z && a.tangent.x == b.tangent.x && a.tangent.y == b.tangent.y &&
           a.tangent.z == b.tangent.z && a.index == b.index;
}

float distanceBetween(const Vector3& a, const Vector3& b)
{
    Vector3 d;
    return length(difference(b, a, d));
}

// The subdivision written as plain recursion on both halves; the table's
// loop over right halves must draw and append in exactly this order.
void referenceSubdivide(const Path& path, SplitRandom& random, float a, float b, std::vector<ArcLengthEntry>& rows)
{
    const float frac = static_cast<float>(random.next()) / 32767.0f;
    const float m = ((1.0f + 2.0f * frac) * b + (3.0f - 2.0f * frac) * a) * 0.25f;
    const Vector3 pa = path.pointAt(a), pb = path.pointAt(b), pm = path.pointAt(m);
    const float left = distanceBetween(pa, pm), right = distanceBetween(pm, pb);
    if (left + right - distanceBetween(pa, pb) > kFlatnessTolerance) {
        referenceSubdivide(path, random, a, m, rows);
        referenceSubdivide(path, random, m, b, rows);
        return;
    }
    const float s = rows.back().s + left;
    rows.push_back({m, s, pm, path.tangentAt(m), static_cast<std::int32_t>(rows.size())});
    rows.push_back({b, s + right, pb, path.tangentAt(b), static_cast<std::int32_t>(rows.size())});
}

}  // namespace

TEST(ArcLengthTable, StraightPathHasThreeRowsAndLengthFour)
{
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        const Path path = builtPath({{0, 0, 0}, {4, 0, 0}}, seed);
        ASSERT_EQ(path.table.size(), 3u) << seed;
        const ArcLengthEntry& mid = path.table[1];
        EXPECT_EQ(path.table[0].u, 0.0f);
        EXPECT_EQ(path.table[0].s, 0.0f);
        EXPECT_GE(mid.u, 0.25f);
        EXPECT_LE(mid.u, 0.75f);
        EXPECT_EQ(path.table[2].u, 1.0f);
        EXPECT_FLOAT_EQ(mid.s, path.pointAt(mid.u).x);
        EXPECT_FLOAT_EQ(path.table[2].s, 4.0f);
        EXPECT_FLOAT_EQ(path.totalLength, 4.0f);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(path.table[i].index, i);
            EXPECT_EQ(path.table[i].tangent.x, 1.0f);
        }
    }
}

TEST(ArcLengthTable, SinglePointPathHoldsOnlyTheStartRow)
{
    const Path path = builtPath({{3, 4, 5}});
    ASSERT_EQ(path.table.size(), 1u);
    EXPECT_TRUE(sameRow(path.table[0], ArcLengthEntry{}));
    EXPECT_EQ(path.totalLength, 0.0f);
}

TEST(ArcLengthTable, RowsAreOrderedAndMeasureTheirSteps)
{
    const Path path = windingPath();
    ASSERT_GT(path.table.size(), 50u);
    EXPECT_EQ(path.table.back().u, 4.0f);
    EXPECT_EQ(path.table.back().s, path.totalLength);
    for (std::size_t i = 1; i < path.table.size(); ++i) {
        const ArcLengthEntry& prev = path.table[i - 1];
        const ArcLengthEntry& row = path.table[i];
        ASSERT_EQ(row.index, static_cast<std::int32_t>(i));
        ASSERT_LE(prev.u, row.u);
        // Each row adds the length of the step from the row before it.
        ASSERT_EQ(row.s, prev.s + distanceBetween(prev.position, row.position)) << i;
        ASSERT_NEAR(length(row.tangent), 1.0f, 1e-6f);
    }
    // Fine sampling of this curve: the chord sum is close to the true length.
    float fine = 0.0f;
    for (int i = 0; i < 40000; ++i)
        fine += distanceBetween(path.pointAt(i / 10000.0f), path.pointAt((i + 1) / 10000.0f));
    EXPECT_NEAR(path.totalLength, fine, 1e-3f * fine);
}

TEST(ArcLengthTable, SplitsFollowTheDrawOrderOfPlainRecursion)
{
    const Path path = windingPath(12345);
    Path reference = path;
    SplitRandom random;
    random.state = 12345;
    std::vector<ArcLengthEntry> rows{path.table[0]};
    for (int k = 0; k < 4; ++k)
        referenceSubdivide(reference, random, static_cast<float>(k), static_cast<float>(k + 1), rows);
    ASSERT_EQ(rows.size(), path.table.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        ASSERT_TRUE(sameRow(rows[i], path.table[i])) << i;
    EXPECT_EQ(random.state, path.splitRandom.state);
}

TEST(ArcLengthTable, SeededBuildsRepeatAndDrawsContinue)
{
    Path a = windingPath(99);
    const Path b = windingPath(99);
    ASSERT_EQ(a.table.size(), b.table.size());
    for (std::size_t i = 0; i < a.table.size(); ++i)
        ASSERT_TRUE(sameRow(a.table[i], b.table[i]));
    // A rebuild continues the sequence: other split points, nearly the same length.
    const std::vector<ArcLengthEntry> first = a.table;
    a.buildArcLengthTable();
    EXPECT_NE(first[1].u, a.table[1].u);
    EXPECT_NEAR(a.totalLength, b.totalLength, 1e-3f * b.totalLength);
}

TEST(ArcLengthTable, GeneratorIsTheClassicSequence)
{
    SplitRandom random;  // seed 1
    EXPECT_EQ(random.next(), 41);
    EXPECT_EQ(random.next(), 18467);
    EXPECT_EQ(random.next(), 6334);
}

TEST(ArcLengthTable, HugeCoordinatesStayWithinTheRowBound)
{
    // At this scale float rounding alone exceeds the flatness tolerance.
    const Path path = builtPath({{0, 0, 0}, {3e6f, 4e6f, 0}, {6e6f, -1e6f, 0}, {1e7f, 2e6f, 0}});
    EXPECT_LE(path.table.size(), kMaxArcLengthRows + 2 * (kMaxSplitLevel + 3));
    EXPECT_EQ(path.table.back().u, 3.0f);
    for (std::size_t i = 1; i < path.table.size(); ++i)
        ASSERT_LE(path.table[i - 1].s, path.table[i].s);
    EXPECT_TRUE(std::isfinite(path.totalLength));
}

TEST(ArcLengthTable, NonFiniteControlPointsStillGiveAnOrderedTable)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (const Vector3& bad : {Vector3{nan, 0, 0}, Vector3{inf, 0, 0}, Vector3{3e38f, -3e38f, 0}}) {
        const Path path = builtPath({{0, 0, 0}, bad, {4, 0, 0}});
        ASSERT_GE(path.table.size(), 5u);
        for (std::size_t i = 1; i < path.table.size(); ++i)
            ASSERT_LE(path.table[i - 1].s, path.table[i].s);
        const ArcLengthEntry e = path.findByDistance(2, path.totalLength * 0.5f);
        EXPECT_LT(static_cast<std::size_t>(e.index), path.table.size());
    }
}

TEST(FindByDistance, ExactRowsAndMisses)
{
    const Path path = windingPath();
    const ArcLengthEntry& last = path.table.back();
    const auto count = static_cast<unsigned>(path.table.size());

    EXPECT_TRUE(sameRow(path.findByDistance(0, 0.0f), path.table[0]));
    for (unsigned hint : {0u, 1u, count / 2, count - 1, count, count + 100})
        EXPECT_TRUE(sameRow(path.findByDistance(hint, path.totalLength), last)) << hint;
    for (unsigned hint : {0u, count / 2, count - 1}) {
        EXPECT_TRUE(sameRow(path.findByDistance(hint, path.totalLength + 1.0f), path.table[0])) << hint;
        EXPECT_TRUE(sameRow(path.findByDistance(hint, -1.0f), path.table[0])) << hint;
        EXPECT_TRUE(sameRow(path.findByDistance(hint, std::numeric_limits<float>::quiet_NaN()), path.table[0]));
    }
    const ArcLengthEntry& row = path.table[count / 3];
    EXPECT_TRUE(sameRow(path.findByDistance(count + 7, row.s), row));
}

TEST(FindByDistance, OversizedHintIsClampedToTheLastRow)
{
    const Path path = windingPath();
    const float x = path.totalLength - 0.001f;
    unsigned clampedSteps = 0, lastRowSteps = 0;
    const ArcLengthEntry a = path.findByDistance(1000000, x, &clampedSteps);
    const ArcLengthEntry b = path.findByDistance(static_cast<unsigned>(path.table.size() - 1), x, &lastRowSteps);
    EXPECT_TRUE(sameRow(a, b));
    EXPECT_EQ(clampedSteps, lastRowSteps);
    EXPECT_EQ(a.s, x);
}

TEST(FindByDistance, InterpolatesTheParameterLinearlyInLength)
{
    Path path;
    path.addControlPoint({0, 0, 0});
    path.addControlPoint({4, 0, 0});
    path.buildCurve();
    path.table = {{0.0f, 0.0f, {}, {}, 0}, {0.5f, 2.0f, {}, {}, 1}};
    for (unsigned hint : {0u, 1u}) {
        const ArcLengthEntry e = path.findByDistance(hint, 1.0f);
        EXPECT_EQ(e.u, 0.25f);
        EXPECT_EQ(e.s, 1.0f);
        EXPECT_EQ(e.index, 0);
        const Vector3 p = path.pointAt(0.25f);
        EXPECT_EQ(e.position.x, p.x);  // evaluated on the curve, not interpolated
        EXPECT_EQ(e.tangent.x, 1.0f);
    }
}

TEST(FindByDistance, BetweenRowsTheResultLiesOnTheCurve)
{
    const Path path = windingPath();
    const std::size_t i = path.table.size() / 2;
    const float x = (path.table[i].s + path.table[i + 1].s) * 0.5f;
    const ArcLengthEntry e = path.findByDistance(0, x);
    EXPECT_EQ(e.s, x);
    EXPECT_EQ(e.index, static_cast<std::int32_t>(i));
    EXPECT_GT(e.u, path.table[i].u);
    EXPECT_LT(e.u, path.table[i + 1].u);
    const Vector3 p = path.pointAt(e.u);
    EXPECT_EQ(e.position.x, p.x);
    EXPECT_EQ(e.position.y, p.y);
    EXPECT_EQ(e.position.z, p.z);
}

TEST(FindByDistance, HintFromThePreviousResultKeepsTheWalkShort)
{
    const Path path = windingPath();
    unsigned hint = 0;
    unsigned most = 0;
    for (int frame = 0; frame <= 2000; ++frame) {
        unsigned steps = 0;
        const ArcLengthEntry e = path.findByDistance(hint, path.totalLength * frame / 2000.0f, &steps);
        hint = static_cast<unsigned>(e.index);
        most = steps > most ? steps : most;
    }
    EXPECT_LE(most, 3u);
}

TEST(FindByDistance, UnbuiltOrDisorderedTablesEndTheSearch)
{
    Path empty;
    EXPECT_TRUE(sameRow(empty.findByDistance(5, 1.0f), ArcLengthEntry{}));

    Path path;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    path.table = {{0.0f, 0.0f, {}, {}, 0}, {0.5f, nan, {}, {}, 1}, {1.0f, 1.0f, {}, {}, 2}};
    EXPECT_EQ(path.findByDistance(1, 5.0f).index, 0);
    EXPECT_EQ(path.findByDistance(0, 0.5f).index, 0);
}
