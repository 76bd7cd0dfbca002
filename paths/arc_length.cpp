#include <cmath>
#include <cstdint>
#include <vector>

#include "paths/path.h"

namespace fyrel {

namespace {

float distanceBetween(const Vector3& a, const Vector3& b)
{
    Vector3 d;
    return length(difference(b, a, d));
}

// The parameter is linear in arc length between a lower and an upper row;
// the point and tangent are evaluated on the curve, not interpolated.
ArcLengthEntry interpolate(const Path& path, const ArcLengthEntry& lower, const ArcLengthEntry& upper, float x)
{
    const float k = (lower.u - upper.u) / (lower.s - upper.s);
    const float u = x * k + lower.u - k * lower.s;
    ArcLengthEntry e;
    e.u = u;
    e.s = x;
    e.position = path.pointAt(u);
    e.tangent = path.tangentAt(u);
    e.index = lower.index;
    return e;
}

// The search of findByDistance; visited counts the rows looked at.
ArcLengthEntry walkTable(const Path& path, unsigned hint, float x, unsigned& visited)
{
    const std::vector<ArcLengthEntry>& table = path.table;
    const std::size_t count = table.size();
    if (count == 0)
        return ArcLengthEntry{};
    std::size_t i = hint < count ? hint : count - 1;
    // On a table ordered by s the walk never turns round; one that is not
    // (written by hand) could make it swing between two rows, so a turn ends
    // the search as a miss.
    int direction = 0;
    for (;;) {
        ++visited;
        if (i == count)  // walked past the last row
            return table[0];
        const ArcLengthEntry& row = table[i];
        if (x == row.s)
            return row;
        if (i + 1 < count && row.s < x && x < table[i + 1].s)
            return interpolate(path, row, table[i + 1], x);
        if (i > 0 && table[i - 1].s < x && x < row.s)
            return interpolate(path, table[i - 1], row, x);
        if (x > row.s) {
            if (direction < 0)
                return table[0];
            direction = 1;
            ++i;
        } else if (i == 0 || direction > 0) {
            return table[0];
        } else {
            direction = -1;
            --i;
        }
    }
}

}  // namespace

int SplitRandom::next()
{
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7fffu);
}

void Path::buildArcLengthTable()
{
    table.clear();
    ArcLengthEntry start;
    start.position = pointAt(0.0f);
    start.tangent = tangentAt(0.0f);
    table.push_back(start);
    // An integer counter: a float one would stop growing at 2^24 pieces.
    const std::size_t pieces = bezierPoints.size() < 4 ? 0 : (bezierPoints.size() - 1) / 3;
    for (std::size_t k = 0; k < pieces; ++k)
        subdivide(static_cast<float>(k), static_cast<float>(k + 1), 0);
    totalLength = table.back().s;
}

void Path::appendRow(float u, float step, const Vector3& position)
{
    ArcLengthEntry row;
    row.u = u;
    row.s = table.back().s + (std::isfinite(step) ? step : 0.0f);
    row.position = position;
    row.tangent = tangentAt(u);
    row.index = static_cast<std::int32_t>(table.size());
    table.push_back(row);
}

void Path::subdivide(float a, float b, int level)
{
    // The left part recurses; the right part continues in this loop with a
    // fresh draw, so the draws come in the same order as full recursion: one
    // per interval, the left part completely before the right part.
    for (;;) {
        const float frac = static_cast<float>(splitRandom.next()) / static_cast<float>(SplitRandom::kMax);
        float m = ((1.0f + 2.0f * frac) * b + (3.0f - 2.0f * frac) * a) * 0.25f;
        // Rounding can push m a float step out of a tiny interval; on an end
        // the interval cannot be split any more and measures as flat.
        if (m < a)
            m = a;
        if (m > b)
            m = b;
        const Vector3 pa = pointAt(a);
        const Vector3 pb = pointAt(b);
        const Vector3 pm = pointAt(m);
        const float left = distanceBetween(pa, pm);
        const float right = distanceBetween(pm, pb);
        const float chord = distanceBetween(pa, pb);
        const bool flat = !(left + right - chord > kFlatnessTolerance);
        if (flat || level >= kMaxSplitLevel || table.size() >= kMaxArcLengthRows) {
            appendRow(m, left, pm);
            appendRow(b, right, pb);
            return;
        }
        ++level;
        subdivide(a, m, level);
        a = m;
    }
}

ArcLengthEntry Path::findByDistance(unsigned hint, float distance, unsigned* steps) const
{
    unsigned visited = 0;
    const ArcLengthEntry e = walkTable(*this, hint, distance, visited);
    if (steps)
        *steps = visited;
    return e;
}

}  // namespace fyrel
