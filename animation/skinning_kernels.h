#pragma once

// The skinning kernels that live outside skinning.cpp (inside the animation
// layer only): skinning.cpp holds the four-wide ones, written against
// math/simd.h for every backend, and chooses among them.

#include <cstddef>
#include <cstdint>

#include "animation/animation_cache.h"
#include "animation/skinning.h"
#include "math/cpu_features.h"

namespace fyrel {

struct Vertex;

// Whether the skeleton's palette is longer than 16-bit offsets reach (more
// than 2048 bones): its runs are in SkinCache::wideBoneSlots.
inline bool wideBones(const SkinCache& cache)
{
    return cache.sources.size() * kPaletteFloats > std::size_t{UINT16_MAX} + 1;
}

// A run's palette slots and weights, read vertex after vertex.
template <typename Index>
struct InfluenceCursor {
    const Index* bones;
    const float* weights;
};

// Weight t of a vertex's count: the stored one, or with impliedLast the last
// is 1 minus the others, subtracted in order (as buildSkin checked them).
template <bool Implied>
[[gnu::always_inline]] inline float weightAt(const float* w, std::uint32_t t, std::uint32_t count)
{
    if (!Implied || t + 1 < count) {
        return w[t];
    }
    float rest = 1.0f;
    for (std::uint32_t u = 0; u + 1 < count; ++u) {
        rest -= w[u];
    }
    return rest;
}

// Whether a kernel's packed stores may assume 16-byte alignment.
enum class Store { Unaligned, Aligned };

// Copies count records one at a time into the two staging arrays.
void stageRecords(const Vertex* in, std::size_t count, float* positions, float* normals);

#if FYREL_X86
// AVX2: a vertex's position and normal in one eight-wide register
// (skinning_avx2.cpp); call only when cpuHasAvx2Fma().
void skinAvx2(const SkinCache& cache, const Vertex* in, std::size_t count, Vertex* out);
void stageAvx2(const Vertex* in, std::size_t count, float* positions, float* normals);
#endif

}  // namespace fyrel
