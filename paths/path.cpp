#include "paths/path.h"

#include <cmath>
#include <limits>

namespace fyrel {

namespace {

// ((w0·P0 + w1·P1) + w2·P2) + w3·P3, component by component, each product
// and sum rounded to float.
Vector3 weightedSum(const Vector3* p, float w0, float w1, float w2, float w3)
{
    Vector3 r;
    r.x = ((w0 * p[0].x + w1 * p[1].x) + w2 * p[2].x) + w3 * p[3].x;
    r.y = ((w0 * p[0].y + w1 * p[1].y) + w2 * p[2].y) + w3 * p[3].y;
    r.z = ((w0 * p[0].z + w1 * p[1].z) + w2 * p[2].z) + w3 * p[3].z;
    return r;
}

// Relative size of the rounding noise in a derivative's weighted sum: a few
// float steps of the largest coordinate times the largest weight (3).
constexpr float kDerivativeNoise = 64.0f * std::numeric_limits<float>::epsilon();

float largestCoordinate(const Vector3* p)
{
    float m = 0.0f;
    for (int i = 0; i < 4; ++i)
        m = std::fmax(m, std::fmax(std::fabs(p[i].x), std::fmax(std::fabs(p[i].y), std::fabs(p[i].z))));
    return m;
}

}  // namespace

void Path::addControlPoint(const Vector3& point)
{
    controlPoints.push_back(point);
}

std::size_t Path::controlPointCount() const
{
    return controlPoints.size();
}

void Path::buildCurve()
{
    bezierPoints.clear();
    const std::size_t n = controlPoints.size();
    if (n > 0)
        bezierPoints.reserve(3 * n - 2);
    for (std::size_t a = 0; a < n; ++a) {
        const Vector3 p = controlPoints[a];
        const Vector3 prev = a > 0 ? controlPoints[a - 1] : p;
        const Vector3 next = a + 1 < n ? controlPoints[a + 1] : p;
        Vector3 t{next.x + -prev.x, next.y + -prev.y, next.z + -prev.z};
        t.x *= 0.25f;
        t.y *= 0.25f;
        t.z *= 0.25f;
        if (a > 0)
            bezierPoints.push_back({p.x + -t.x, p.y + -t.y, p.z + -t.z});
        bezierPoints.push_back(p);
        if (a + 1 < n)
            bezierPoints.push_back({p.x + t.x, p.y + t.y, p.z + t.z});
    }
}

bool Path::locate(float u, std::size_t& piece, float& t) const
{
    if (bezierPoints.size() < 4)
        return false;
    const std::size_t pieces = (bezierPoints.size() - 1) / 3;
    const float end = static_cast<float>(pieces);
    if (!(u >= 0.0f))  // also NaN
        u = 0.0f;
    if (u > end)
        u = end;
    const float f = std::fmod(u, 1.0f);
    const auto k = static_cast<std::size_t>(u);
    if (k >= pieces) {  // the end of the curve: the last piece at t = 1
        piece = pieces - 1;
        t = 1.0f;
    } else {
        piece = k;
        t = f;
    }
    return true;
}

Vector3 Path::pointAt(float u) const
{
    std::size_t k;
    float t;
    if (!locate(u, k, t))
        return Vector3{};
    const float s = 1.0f - t;  // the Bernstein weights
    return weightedSum(&bezierPoints[3 * k], std::pow(s, 3.0f), t * (s * (s * 3.0f)), t * (s * 3.0f * t),
                       std::pow(t, 3.0f));
}

Vector3 Path::tangentAt(float u) const
{
    std::size_t k;
    float t;
    if (!locate(u, k, t))
        return Vector3{};
    const float s = 1.0f - t;  // the weights' derivatives
    const Vector3* p = &bezierPoints[3 * k];
    const Vector3 d = weightedSum(p, -3.0f * (s * s), (s * s - t * (s * 2.0f)) * 3.0f, (t * 2.0f * s - t * t) * 3.0f,
                                  t * (t * 3.0f));
    // The weights sum to zero, so where the control points coincide the sum
    // is rounding noise of the coordinates, pointing anywhere: such a
    // derivative, like a zero one, has no direction.
    if (!(length(d) > kDerivativeNoise * largestCoordinate(p)))
        return Vector3{};
    Vector3 unit;
    return normalize(d, unit);
}

}  // namespace fyrel
