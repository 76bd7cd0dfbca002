#pragma once

#include <cstddef>
#include <cstdint>

#include "math/vector.h"

namespace fyrel {

// One sample of a path's arc-length table: the curve parameter u, the arc
// length s from the start of the curve, and the curve's point and unit tangent
// there. Stored rows carry their own position in the table as index; a lookup
// result carries the index of the stored row at or below it.
struct ArcLengthEntry {
    float u = 0.0f;
    float s = 0.0f;
    Vector3 position;
    Vector3 tangent;
    std::int32_t index = 0;
};

// Largest accepted excess of the two half-chords over the chord of an
// interval, in model units; an absolute tolerance, so larger curves get more
// rows.
inline constexpr float kFlatnessTolerance = 0.0001f;

// The subdivision recurses into left parts only and handles right parts in a
// loop; every split, left or right, makes the interval one level finer, and
// at this level an interval is accepted as it is. A split keeps at most three
// quarters of its interval, so an interval this fine spans under 1e-8 of its
// piece: no flat-enough test of a real curve gets there, and the recursion
// (the stack) never grows deeper than this.
inline constexpr int kMaxSplitLevel = 64;

// Once the table holds this many rows, every interval still to do is
// accepted as flat (two rows each), so a table never holds more than
// kMaxArcLengthRows + 2·(kMaxSplitLevel + number of pieces) rows. A curve
// whose coordinates are so large that float rounding alone exceeds the
// flatness tolerance would otherwise be split down to float resolution:
// millions of rows per piece. 2^18 rows of 36 bytes are about 9 MB.
inline constexpr std::size_t kMaxArcLengthRows = std::size_t{1} << 18;

// The source of the random split points: the classic linear congruential
// generator of C libraries (state·214013 + 2531011 modulo 2^32, output bits
// 16 to 30), uniform over 0 … 32767. A fresh generator holds seed 1; tests
// set the state to repeat a sequence.
struct SplitRandom {
    std::uint32_t state = 1;

    static constexpr int kMax = 32767;

    // The next integer of the sequence, 0 … kMax.
    int next();
};

}  // namespace fyrel
