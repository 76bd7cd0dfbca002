#pragma once

#include <cmath>
#include <limits>

#include "math/matrix.h"
#include "math/vector.h"

namespace fyrel {

// w is the scalar part; (1, 0, 0, 0) is the identity. A rotation by θ about the
// unit axis n is (cos θ/2, n·sin θ/2). Quaternions are not renormalised by the
// operations below unless they say so.
struct Quaternion {
    float w = 1.0f;
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// The square root of the single-precision machine epsilon: 3.4526698e-4.
inline const float kEpsilon = std::sqrt(std::numeric_limits<float>::epsilon());

// Hamilton product a⊗b: b is applied first.
Quaternion& quatMul(const Quaternion& a, const Quaternion& b, Quaternion& out);

// (w, −x, −y, −z): for a unit quaternion, the rotation back.
Quaternion& quatConjugate(const Quaternion& q, Quaternion& out);

// q divided by its norm. A zero quaternion has no direction; it yields the
// identity rather than four NaNs.
Quaternion& quatNormalize(const Quaternion& q, Quaternion& out);

// The rotation matrix of q, which is not normalised first.
Matrix4& quatToMatrix(const Quaternion& q, Matrix4& out);

// qz(az)⊗qy(ay)⊗qx(ax): X is applied first, then Y, then Z.
Quaternion& eulerToQuat(float ax, float ay, float az, Quaternion& out);

// The unit rotation of the rotation matrix in r's upper 3×3 part (orthonormal
// columns, determinant +1), by Shepperd's method: the largest of w, x, y, z
// is found first, so no quotient loses its precision.
Quaternion& matrixToQuat(const Matrix4& r, Quaternion& out);

// Turns the direction of from onto the direction of to. The vector part is the
// unnormalised cross product, so the result is of unit length only for angles
// 0 and π/2; callers that need a unit rotation normalise it. The cosine is
// clamped to [−1, 1], so equal directions give the identity even where
// rounding pushes their dot product past 1.
Quaternion& rotationBetween(const Vector3& from, const Vector3& to, Quaternion& out);

// Turns +Y onto the unit direction d. Straight down (−Y, also when rounding
// leaves d.y at −1 or no sideways part) is the half turn about z, (0, 0, 0, 1).
Quaternion& rotationFromUp(const Vector3& d, Quaternion& out);

// Spherical interpolation from q0 (s = 0) to q1 (s = 1) along the shorter
// arc: q1 is negated when the dot product is negative, so at s = 1 the result
// may be −q1, the same rotation. θ = arccos(min(|q0·q1|, 1)); above kEpsilon
// the spherical weights, otherwise a straight lerp. The result is normalised
// (a zero result gives the identity); a NaN dot product yields q1.
Quaternion& slerp(const Quaternion& q0, const Quaternion& q1, float s, Quaternion& out);

// The body of slerp for callers that keep the angle between two keys:
// sign (±1) the side of q1 to take, theta the angle as slerp forms it and
// sinTheta its sine (any value when theta is not above kEpsilon).
Quaternion& slerpWeighted(const Quaternion& q0, const Quaternion& q1, float sign, float theta, float sinTheta,
                          float s, Quaternion& out);

// The slerp glTF clips are resampled with, kept apart from slerp so that
// imported keys (and the files fyrel-convert writes from them) stay as they
// were: q1 taken on q0's side as slerp takes it, but the dot product and
// the weights formed in double precision, a straight lerp only where
// cos θ ≥ 0.9995 (θ below about 1.8°), and the result not normalised (the
// caller normalises a key however it was made). The two differ by a few
// units in the last place of a float (at most about 5e-7 a component).
Quaternion& slerpInDoubles(const Quaternion& q0, const Quaternion& q1, float s, Quaternion& out);

}  // namespace fyrel
