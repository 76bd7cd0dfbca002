#pragma once

#include <cstddef>
#include <vector>

#include "math/vector.h"
#include "paths/arc_length.h"

namespace fyrel {

// A smooth curve through clicked points: piecewise cubic Bezier, one piece
// between each two neighbouring control points, continuous in position and
// first derivative. The curve parameter u runs from 0 to n − 1; piece k covers
// [k, k + 1] and uses bezierPoints[3k] … bezierPoints[3k + 3].
//
// Producers add points, then call buildCurve, then buildArcLengthTable; adding
// a point rebuilds nothing. Evaluation and the table always follow the
// current bezierPoints, never a count of control points added since, so a
// path that gained points without a rebuild reads only what exists.
//
// Held by value in the scene's path list; a copy is deep, random source
// included (the copy would split the same way).
struct Path {
    std::vector<Vector3> controlPoints;
    std::vector<Vector3> bezierPoints;  // 3n − 2 points for n ≥ 1, none for n = 0
    std::vector<ArcLengthEntry> table;
    float totalLength = 0.0f;
    SplitRandom splitRandom;  // draws of the subdivision, continued from build to build

    void addControlPoint(const Vector3& point);
    std::size_t controlPointCount() const;

    // Recomputes bezierPoints from controlPoints. Each control point P gets
    // T = (next − prev)·0.25 from its neighbours (P itself standing in for a
    // missing one), an incoming inner point P − T and an outgoing P + T.
    void buildCurve();

    // The curve point at u. Fewer than two control points give (0, 0, 0). An
    // integer u inside the curve selects the start of the piece that begins
    // there; u = n − 1 is the end of the last piece. A u outside [0, n − 1] is
    // clamped into it, NaN counts as 0, so no u reads outside bezierPoints.
    Vector3 pointAt(float u) const;

    // The unit tangent (normalised first derivative) at u, with the same
    // piece choice and clamping as pointAt. Where the derivative vanishes
    // (coincident control points), or is no larger than the rounding noise
    // of the piece's coordinates, there is no direction: (0, 0, 0).
    Vector3 tangentAt(float u) const;

    // Rebuilds table and totalLength from bezierPoints by adaptive subdivision
    // with random split points: the start row, then each piece's samples left
    // to right until every interval is flat within kFlatnessTolerance (bounded
    // by kMaxSplitLevel and kMaxArcLengthRows). Rows are ordered by u and s;
    // the last row's s is totalLength. A step whose length is not a number or
    // infinite (a curve beyond float's range) adds no length, so s stays
    // ordered and every lookup terminates.
    void buildArcLengthTable();

    // The sample at arc length distance, walking the table row by row from
    // row hint (clamped to the last row): an exact row, or u interpolated
    // linearly in s between the two rows around distance, evaluated on the
    // curve. A distance below 0, beyond the last row, or NaN gives row 0. An
    // empty table (never built) gives a zero entry. When steps is given, it
    // receives the number of rows visited. Allocates nothing.
    ArcLengthEntry findByDistance(unsigned hint, float distance, unsigned* steps = nullptr) const;

private:
    // Appends the samples of (a, b], left to right; level counts the splits
    // that made the interval.
    void subdivide(float a, float b, int level);
    void appendRow(float u, float step, const Vector3& position);
    // The piece and local parameter for u; false without a piece.
    bool locate(float u, std::size_t& piece, float& t) const;
};

}  // namespace fyrel
