#include "ik/joint_rotation.h"

#include <algorithm>
#include <cmath>

namespace fyrel {

namespace {

bool finite(const Vector3& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// A unit vector perpendicular to the unit vector f.
Vector3 perpendicular(const Vector3& f)
{
    const float ax = std::fabs(f.x), ay = std::fabs(f.y), az = std::fabs(f.z);
    Vector3 basis{0, 0, 1};
    if (ax <= ay && ax <= az) {
        basis = Vector3{1, 0, 0};
    } else if (ay <= az) {
        basis = Vector3{0, 1, 0};
    }
    Vector3 c, n;
    cross(f, basis, c);
    return normalize(c, n);
}

}  // namespace

bool unitRotationBetween(const Vector3& from, const Vector3& to, Quaternion& out)
{
    out = Quaternion{};
    const float lf = length(from), lt = length(to);
    if (!(lf > 0.0f) || !(lt > 0.0f) || !std::isfinite(lf) || !std::isfinite(lt)) {
        return false;
    }
    const Vector3 f{from.x / lf, from.y / lf, from.z / lf};
    const Vector3 t{to.x / lt, to.y / lt, to.z / lt};
    if (!finite(f) || !finite(t)) {
        return false;
    }
    // Rounding can push the cosine of two unit vectors just past ±1.
    const float c = std::clamp(dot(f, t), -1.0f, 1.0f);

    // Below this, 1 + cos and the cross product are both lost in rounding and
    // the axis they give is noise: treat the directions as opposite.
    constexpr float kOpposite = 1e-6f;
    if (1.0f + c <= kOpposite) {
        const Vector3 axis = perpendicular(f);
        out = Quaternion{0.0f, axis.x, axis.y, axis.z};
        return true;
    }
    // (1 + cos θ, f × t) is the rotation by θ scaled by 2·cos(θ/2); normalising
    // it needs no arccosine, which is imprecise for small angles.
    Vector3 axis;
    cross(f, t, axis);
    const Quaternion q{1.0f + c, axis.x, axis.y, axis.z};
    quatNormalize(q, out);
    return true;
}

bool turnAcross(const Vector3& direction, float angle, Quaternion& out)
{
    out = Quaternion{};
    const float l = length(direction);
    if (!(l > 0.0f) || !std::isfinite(l)) {
        return false;
    }
    const Vector3 axis = perpendicular(Vector3{direction.x / l, direction.y / l, direction.z / l});
    const float h = angle * 0.5f;
    const float sh = std::sin(h);
    out = Quaternion{std::cos(h), axis.x * sh, axis.y * sh, axis.z * sh};
    return true;
}

}  // namespace fyrel
