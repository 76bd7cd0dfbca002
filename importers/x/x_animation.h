#pragma once

#include <string>
#include <vector>

#include "importers/x/x_reader.h"
#include "math/quaternion.h"
#include "math/vector.h"

// The animation sets of an .X file, read from its data objects into the
// motion each frame is given, before any bone exists.
//
// An AnimationSet holds Animation objects (written in it or named by a
// reference to an earlier one). Each Animation names the frame it drives,
// by a reference ("{ Hip }") or by a Frame written inside it, and holds
// AnimationKey objects of these types, the values of every key checked:
//   0  rotation, a quaternion w, x, y, z (4 values, not all zero);
//   1  scale, x, y, z (3 values);
//   2  position, x, y, z (3 values);
//   3, 4  a whole matrix (16 values, row-vector form), split here into
//      scale, rotation and position keys (splitTransform).
// A later key object of a type replaces an earlier one's keys (a matrix key
// object replaces all three). Key times are ticks; AnimTicksPerSecond says
// how many make a second: the last one before the set, else the file's
// first. A file without one gets, per set, 4800 (the reference loader's
// assumption) unless the set's last key is under 480 ticks: then its keys
// are frame numbers, as modelling tools write them (0, 1, 2 ... 25), read at
// 25 frames per second, one tick a frame; at 4800 such a set would be over in
// a hundredth of a second, while 480 ticks, a tenth of a second at 4800, is
// 19 s at 25. AnimationOptions
// (open or closed, spline or linear) are read and checked by the reader like
// any object; clips always loop and interpolate linearly.
//
// The keys come out in the scene's conventions: times in seconds, ascending;
// rotations as the column-vector rotation of the frame's matrix, which is the
// conjugate of the quaternion as written (the format's quaternions turn row
// vectors), normalised.
//
// Memory: everything kept here, and the key frames the model's clips will
// take (at most one per key of a frame's animation plus two), count against
// what reading left of the file's memory budget (x_budget.h), before they are
// made; a file whose sets would take more is refused. References can
// therefore repeat an Animation only as often as the budget allows.
//
// Failures throw XReadError naming the object and its place: a key type
// outside 0 to 4, a key with the wrong number of values, a value that is not
// a finite float, a zero quaternion, an AnimTicksPerSecond of 0, a reference
// in a set that names no earlier Animation. An Animation that names no
// frame, or one the file does not have, is kept and drives nothing.

namespace fyrel {

template <typename T>
struct XTimedValue {
    float time = 0.0f;  // seconds
    T value{};
};

struct XFrameAnimation {
    std::string frame;  // the frame it drives; empty when it names none
    std::vector<XTimedValue<Vector3>> scales;
    std::vector<XTimedValue<Quaternion>> rotations;
    std::vector<XTimedValue<Vector3>> positions;
};

// Under this last key tick, a set of a file without AnimTicksPerSecond is
// read at kXFrameTicksPerSecond, else at kXDefaultTicksPerSecond.
inline constexpr double kXDefaultTicksPerSecond = 4800.0;
inline constexpr double kXFrameTicksPerSecond = 25.0;
inline constexpr double kXLastFrameTick = 480.0;

struct XAnimationSet {
    std::string name;    // "Animation N" for an unnamed set, N its place among the sets from 0
    float length = 0.0f; // the last key time of any of its animations
    double ticksPerSecond = kXDefaultTicksPerSecond;  // the rate its key times were read at
    bool rateGiven = false;                            // by AnimTicksPerSecond
    std::vector<XFrameAnimation> animations;  // in file order
};

// The file's top-level animation sets, in file order. Takes what it keeps
// from file.budget. Throws XReadError.
std::vector<XAnimationSet> loadAnimationSetsFromX(XFileData& file);

// Splits m (column-vector form) into translation · rotation · scale:
// rotation the right-handed orthonormal frame of m's columns (Gram-Schmidt,
// x first), scale their lengths along it (negative along z for a mirroring
// m). Exact for matrices without shear; never NaN for finite m.
void splitTransform(const Matrix4& m, Vector3& translation, Quaternion& rotation, Vector3& scale);

}  // namespace fyrel
