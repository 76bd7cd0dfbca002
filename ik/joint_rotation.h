#pragma once

#include "math/quaternion.h"
#include "math/vector.h"

namespace fyrel {

// The unit rotation that turns the direction of `from` onto the direction of
// `to`, both seen from the origin, by the smallest angle. Unlike
// rotationBetween its result is always of unit length and turns by exactly the
// angle between the two, so small corrections stay small rather than shrinking
// to their square.
//
// Returns false, writing the identity, when either vector is zero or not
// finite: there is no direction to turn from or to. Opposite directions have
// no single shortest turn; they get a half-turn about an axis perpendicular to
// `from` (built from the coordinate axis least aligned with it), which still
// carries `from` onto the direction of `to`.
bool unitRotationBetween(const Vector3& from, const Vector3& to, Quaternion& out);

// The unit rotation by angle about an axis perpendicular to `direction` (the
// axis unitRotationBetween takes for opposite directions). Returns false,
// writing the identity, when direction is zero or not finite.
bool turnAcross(const Vector3& direction, float angle, Quaternion& out);

}  // namespace fyrel
