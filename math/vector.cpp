#include "math/vector.h"

#include <cmath>

namespace fyrel {

float length(const Vector3& v)
{
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

Vector3& difference(const Vector3& a, const Vector3& b, Vector3& out)
{
    out.x = a.x - b.x;
    out.y = a.y - b.y;
    out.z = a.z - b.z;
    return out;
}

Vector3& normalize(const Vector3& v, Vector3& out)
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

Vector3& addAssign(Vector3& a, const Vector3& b, Vector3& out)
{
    a.x += b.x;
    a.y += b.y;
    a.z += b.z;
    out = a;
    return out;
}

Vector3& lerp(const Vector3& a, const Vector3& b, float s, Vector3& out)
{
    out.x = a.x + s * (b.x + (-a.x));
    out.y = a.y + s * (b.y + (-a.y));
    out.z = a.z + s * (b.z + (-a.z));
    return out;
}

Vector3& cross(const Vector3& a, const Vector3& b, Vector3& out)
{
    out.x = a.y * b.z - a.z * b.y;
    out.y = a.z * b.x - a.x * b.z;
    out.z = a.x * b.y - a.y * b.x;
    return out;
}

float dot(const Vector3& a, const Vector3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

}  // namespace fyrel
