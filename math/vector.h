#pragma once

// Vectors of the system's single-precision math. Every operation writes into a
// result the caller supplies and returns a reference to it; callers never pass
// the result as an operand of the same call.

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
float length(const Vector3& v);

// a − b.
Vector3& difference(const Vector3& a, const Vector3& b, Vector3& out);

// v / length(v). A zero vector has no direction: the result is then (0, 0, 0)
// rather than three NaNs, so a caller that forgets to check cannot poison the
// scene with them.
Vector3& normalize(const Vector3& v, Vector3& out);

// a ← a + b in place; out receives a copy of the new a.
Vector3& addAssign(Vector3& a, const Vector3& b, Vector3& out);

// a + s·(b + (−a)), component by component.
Vector3& lerp(const Vector3& a, const Vector3& b, float s, Vector3& out);

// Cross product a × b.
Vector3& cross(const Vector3& a, const Vector3& b, Vector3& out);

float dot(const Vector3& a, const Vector3& b);

}  // namespace fyrel
