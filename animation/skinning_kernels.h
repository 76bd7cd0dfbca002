#pragma once

// The skinning kernels that live outside skinning.cpp (inside the animation
// layer only): skinning.cpp holds the four-wide ones, written against
// math/simd.h for every backend, and chooses among them.

#include <cstddef>

#include "animation/animation_cache.h"
#include "math/cpu_features.h"

namespace fyrel {

struct Vertex;

// Copies count records one at a time into the two staging arrays.
void stageRecords(const Vertex* in, std::size_t count, float* positions, float* normals);

#if FYREL_X86
// AVX2: a vertex's position and normal in one eight-wide register
// (skinning_avx2.cpp); call only when cpuHasAvx2Fma().
void skinAvx2(const SkinCache& cache, const Vertex* in, std::size_t count, Vertex* out);
void stageAvx2(const Vertex* in, std::size_t count, float* positions, float* normals);
#endif

}  // namespace fyrel
