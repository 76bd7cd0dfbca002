#include "math/quaternion.h"

#include <algorithm>

namespace fyrel {

Quaternion& quatMul(const Quaternion& a, const Quaternion& b, Quaternion& out)
{
    out.w = a.w * b.w - (a.x * b.x + a.y * b.y + a.z * b.z);
    out.x = a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y;
    out.y = a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z;
    out.z = a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x;
    return out;
}

Quaternion& quatConjugate(const Quaternion& q, Quaternion& out)
{
    out = {q.w, -q.x, -q.y, -q.z};
    return out;
}

Quaternion& quatNormalize(const Quaternion& q, Quaternion& out)
{
    const float n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    if (n == 0.0f) {
        out = Quaternion{};
        return out;
    }
    out.w = q.w / n;
    out.x = q.x / n;
    out.y = q.y / n;
    out.z = q.z / n;
    return out;
}

Matrix4& quatToMatrix(const Quaternion& q, Matrix4& out)
{
    const float w = q.w, x = q.x, y = q.y, z = q.z;
    out.m[0] = 1 - 2 * y * y - 2 * z * z;
    out.m[1] = 2 * x * y - 2 * w * z;
    out.m[2] = 2 * x * z + 2 * w * y;
    out.m[3] = 0;
    out.m[4] = 2 * x * y + 2 * w * z;
    out.m[5] = 1 - 2 * x * x - 2 * z * z;
    out.m[6] = 2 * y * z - 2 * w * x;
    out.m[7] = 0;
    out.m[8] = 2 * x * z - 2 * w * y;
    out.m[9] = 2 * y * z + 2 * w * x;
    out.m[10] = 1 - 2 * x * x - 2 * y * y;
    out.m[11] = 0;
    out.m[12] = 0;
    out.m[13] = 0;
    out.m[14] = 0;
    out.m[15] = 1;
    return out;
}

Quaternion& eulerToQuat(float ax, float ay, float az, Quaternion& out)
{
    const float hx = ax * 0.5f, hy = ay * 0.5f, hz = az * 0.5f;
    const float cx = std::cos(hx), sx = std::sin(hx);
    const float cy = std::cos(hy), sy = std::sin(hy);
    const float cz = std::cos(hz), sz = std::sin(hz);
    out.w = cz * cy * cx + sz * sy * sx;
    out.x = cz * cy * sx - sz * sy * cx;
    out.y = cz * sy * cx + sz * cy * sx;
    out.z = sz * cy * cx - cz * sy * sx;
    return out;
}

Quaternion& rotationBetween(const Vector3& from, const Vector3& to, Quaternion& out)
{
    const float lf = length(from), lt = length(to);
    const Vector3 f{from.x / lf, from.y / lf, from.z / lf};
    const Vector3 t{to.x / lt, to.y / lt, to.z / lt};
    // Rounding can push the cosine of two unit vectors past ±1, where the
    // arccosine has no value.
    const float theta = std::acos(std::clamp(f.x * t.x + f.y * t.y + f.z * t.z, -1.0f, 1.0f));
    const float h = theta * 0.5f;
    const float sh = std::sin(h);
    Vector3 axis;
    cross(f, t, axis);
    out.w = std::cos(h);
    out.x = axis.x * sh;
    out.y = axis.y * sh;
    out.z = axis.z * sh;
    return out;
}

Quaternion& rotationFromUp(const Vector3& d, Quaternion& out)
{
    const float u = 0.0f * d.x + d.y + 0.0f * d.z;
    if (u == 1.0f) {
        out = Quaternion{1, 0, 0, 0};
        return out;
    }
    // Straight down, or so close that rounding leaves no sideways part to
    // turn about: the half turn about z. (−1, 0, 0, 0) would turn nothing and
    // leave the model facing backwards.
    if (u <= -1.0f || (d.x == 0.0f && d.z == 0.0f && u < 0.0f)) {
        out = Quaternion{0, 0, 0, 1};
        return out;
    }
    const float theta = std::acos(std::min(u, 1.0f));
    Vector3 axis;
    normalize(Vector3{d.z, 0.0f, -d.x}, axis);
    const float h = theta * 0.5f;
    const float sh = std::sin(h);
    out.w = std::cos(h);
    out.x = axis.x * sh;
    out.y = axis.y * sh;
    out.z = axis.z * sh;
    return out;
}

Quaternion& slerp(const Quaternion& q0, const Quaternion& q1, float s, Quaternion& out)
{
    // q and −q are the same rotation: taking q1 on q0's side of the sphere
    // turns the shorter way. Otherwise keys that wrap at ±180° spin through
    // almost a full turn, and for nearly opposite keys sin θ is close to 0
    // and the weights blow up.
    const float d = q0.w * q1.w + q0.x * q1.x + q0.y * q1.y + q0.z * q1.z;
    const float sign = d < 0.0f ? -1.0f : 1.0f;
    const float theta = std::acos(std::min(std::fabs(d), 1.0f));
    if (std::isnan(theta)) {
        out = q1;
        return out;
    }
    slerpWeighted(q0, q1, sign, theta, theta > kEpsilon ? std::sin(theta) : 0.0f, s, out);
    return out;
}

Quaternion& slerpWeighted(const Quaternion& q0, const Quaternion& q1, float sign, float theta, float sinTheta,
                          float s, Quaternion& out)
{
    const Quaternion nearer{sign * q1.w, sign * q1.x, sign * q1.y, sign * q1.z};
    Quaternion r;
    if (theta > kEpsilon) {
        const float a = theta * s;
        const float k1 = std::sin(a) / sinTheta;
        const float k0 = std::sin(theta - a) / sinTheta;
        r.w = k1 * nearer.w + k0 * q0.w;
        r.x = k1 * nearer.x + k0 * q0.x;
        r.y = k1 * nearer.y + k0 * q0.y;
        r.z = k1 * nearer.z + k0 * q0.z;
    } else {
        // Too close for the spherical weights: a straight line is as good.
        r.w = q0.w + s * (nearer.w - q0.w);
        r.x = q0.x + s * (nearer.x - q0.x);
        r.y = q0.y + s * (nearer.y - q0.y);
        r.z = q0.z + s * (nearer.z - q0.z);
    }
    return quatNormalize(r, out);
}

Quaternion& slerpInDoubles(const Quaternion& q0, const Quaternion& q1, float s, Quaternion& out)
{
    // Summed x, y, z, w, the order the glTF reader always used.
    double dot = 0;
    dot += double(q0.x) * q1.x;
    dot += double(q0.y) * q1.y;
    dot += double(q0.z) * q1.z;
    dot += double(q0.w) * q1.w;
    const double sign = dot < 0 ? -1.0 : 1.0;
    dot = std::min(1.0, std::fabs(dot));
    double k0 = 1 - s, k1 = s;
    if (dot < 0.9995) {
        const double theta = std::acos(dot);
        k0 = std::sin((1 - s) * theta) / std::sin(theta);
        k1 = std::sin(s * theta) / std::sin(theta);
    }
    out.w = static_cast<float>(k0 * q0.w + sign * k1 * q1.w);
    out.x = static_cast<float>(k0 * q0.x + sign * k1 * q1.x);
    out.y = static_cast<float>(k0 * q0.y + sign * k1 * q1.y);
    out.z = static_cast<float>(k0 * q0.z + sign * k1 * q1.z);
    return out;
}

Quaternion& matrixToQuat(const Matrix4& r, Quaternion& out)
{
    const float trace = r(0, 0) + r(1, 1) + r(2, 2);
    Quaternion q;
    if (trace > 0) {
        const float s = std::sqrt(trace + 1.0f) * 2;
        q = {0.25f * s, (r(2, 1) - r(1, 2)) / s, (r(0, 2) - r(2, 0)) / s, (r(1, 0) - r(0, 1)) / s};
    } else if (r(0, 0) > r(1, 1) && r(0, 0) > r(2, 2)) {
        const float s = std::sqrt(1.0f + r(0, 0) - r(1, 1) - r(2, 2)) * 2;
        q = {(r(2, 1) - r(1, 2)) / s, 0.25f * s, (r(0, 1) + r(1, 0)) / s, (r(0, 2) + r(2, 0)) / s};
    } else if (r(1, 1) > r(2, 2)) {
        const float s = std::sqrt(1.0f + r(1, 1) - r(0, 0) - r(2, 2)) * 2;
        q = {(r(0, 2) - r(2, 0)) / s, (r(0, 1) + r(1, 0)) / s, 0.25f * s, (r(1, 2) + r(2, 1)) / s};
    } else {
        const float s = std::sqrt(1.0f + r(2, 2) - r(0, 0) - r(1, 1)) * 2;
        q = {(r(1, 0) - r(0, 1)) / s, (r(0, 2) + r(2, 0)) / s, (r(1, 2) + r(2, 1)) / s, 0.25f * s};
    }
    return quatNormalize(q, out);
}

}  // namespace fyrel
