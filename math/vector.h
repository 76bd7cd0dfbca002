#pragma once

#include <cmath>

// Vectors of the system's single-precision math. Every operation writes into a
// result the caller supplies and returns a reference to it; callers never pass
// the result as an operand of the same call. They are defined here so that
// per-vertex loops (importers, normals, skinning) inline them; with
// floating-point contraction off (the build's flags) results do not change.

namespace fyrel {

struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// A point is carried with w = 1, a direction with w = 0.
struct Vector4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;
};

// sqrt(x² + y² + z²).
inline float length(const Vector3& v)
{
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

// a − b.
inline Vector3& difference(const Vector3& a, const Vector3& b, Vector3& out)
{
    out.x = a.x - b.x;
    out.y = a.y - b.y;
    out.z = a.z - b.z;
    return out;
}

// v / length(v). A zero vector has no direction: the result is then (0, 0, 0)
// rather than three NaNs, so a caller that forgets to check cannot poison the
// scene with them.
inline Vector3& normalize(const Vector3& v, Vector3& out)
{
    const float len = length(v);
    if (len == 0.0f) {
        out = Vector3{};
        return out;
    }
    out.x = v.x / len;
    out.y = v.y / len;
    out.z = v.z / len;
    return out;
}

// a ← a + b in place; out receives a copy of the new a.
inline Vector3& addAssign(Vector3& a, const Vector3& b, Vector3& out)
{
    a.x += b.x;
    a.y += b.y;
    a.z += b.z;
    out = a;
    return out;
}

// a + s·(b + (−a)), component by component.
inline Vector3& lerp(const Vector3& a, const Vector3& b, float s, Vector3& out)
{
    out.x = a.x + s * (b.x + (-a.x));
    out.y = a.y + s * (b.y + (-a.y));
    out.z = a.z + s * (b.z + (-a.z));
    return out;
}

// Cross product a × b.
inline Vector3& cross(const Vector3& a, const Vector3& b, Vector3& out)
{
    out.x = a.y * b.z - a.z * b.y;
    out.y = a.z * b.x - a.x * b.z;
    out.z = a.x * b.y - a.y * b.x;
    return out;
}


inline float dot(const Vector3& a, const Vector3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

}  // namespace fyrel
