#pragma once

#include <cstddef>

#include <xmmintrin.h>

namespace fyrel {

// Four points held one register an axis, stored as the triples at out,
// out + step, out + 2·step and out + 3·step (floats): x and y of each as one
// 8-byte store, z as one 4-byte store, straight from the registers. Stored
// to the stack as vectors and copied out a float at a time, each float would
// wait for its vector store to reach the cache first.
inline void storeFour(__m128 x, __m128 y, __m128 z, float* out, std::size_t step)
{
    const __m128 low = _mm_unpacklo_ps(x, y), high = _mm_unpackhi_ps(x, y);  // x0 y0 x1 y1, x2 y2 x3 y3
    _mm_storel_pi(reinterpret_cast<__m64*>(out), low);
    _mm_storeh_pi(reinterpret_cast<__m64*>(out + step), low);
    _mm_storel_pi(reinterpret_cast<__m64*>(out + 2 * step), high);
    _mm_storeh_pi(reinterpret_cast<__m64*>(out + 3 * step), high);
    _mm_store_ss(out + 2, z);
    _mm_store_ss(out + step + 2, _mm_shuffle_ps(z, z, 1));
    _mm_store_ss(out + 2 * step + 2, _mm_movehl_ps(z, z));
    _mm_store_ss(out + 3 * step + 2, _mm_shuffle_ps(z, z, 3));
}

}  // namespace fyrel
