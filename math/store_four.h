#pragma once

#include <cstddef>

#include "math/simd.h"

namespace fyrel {

// Four points held one F4 an axis, stored as the triples at out, out + step,
// out + 2·step and out + 3·step (floats); the floats between the triples
// are left as they are.
inline void storeFour(const simd::portable::F4& x, const simd::portable::F4& y, const simd::portable::F4& z,
                      float* out, std::size_t step)
{
    for (std::size_t k = 0; k < 4; ++k) {
        out[k * step] = x.v[k];
        out[k * step + 1] = y.v[k];
        out[k * step + 2] = z.v[k];
    }
}

#if FYREL_X86
// x and y of each point as one 8-byte store, z as one 4-byte store, straight
// from the registers. Stored to the stack as vectors and copied out a float
// at a time, each float would wait for its vector store to reach the cache
// first.
inline void storeFour(simd::sse2::F4 x, simd::sse2::F4 y, simd::sse2::F4 z, float* out, std::size_t step)
{
    const __m128 low = _mm_unpacklo_ps(x.v, y.v), high = _mm_unpackhi_ps(x.v, y.v);  // x0 y0 x1 y1, x2 y2 x3 y3
    _mm_storel_pi(reinterpret_cast<__m64*>(out), low);
    _mm_storeh_pi(reinterpret_cast<__m64*>(out + step), low);
    _mm_storel_pi(reinterpret_cast<__m64*>(out + 2 * step), high);
    _mm_storeh_pi(reinterpret_cast<__m64*>(out + 3 * step), high);
    _mm_store_ss(out + 2, z.v);
    _mm_store_ss(out + step + 2, _mm_shuffle_ps(z.v, z.v, 1));
    _mm_store_ss(out + 2 * step + 2, _mm_movehl_ps(z.v, z.v));
    _mm_store_ss(out + 3 * step + 2, _mm_shuffle_ps(z.v, z.v, 3));
}
#endif

#if FYREL_NEON
inline void storeFour(simd::neon::F4 x, simd::neon::F4 y, simd::neon::F4 z, float* out, std::size_t step)
{
    const float32x4x2_t xy = vzipq_f32(x.v, y.v);  // x0 y0 x1 y1, x2 y2 x3 y3
    vst1_f32(out, vget_low_f32(xy.val[0]));
    vst1_f32(out + step, vget_high_f32(xy.val[0]));
    vst1_f32(out + 2 * step, vget_low_f32(xy.val[1]));
    vst1_f32(out + 3 * step, vget_high_f32(xy.val[1]));
    vst1q_lane_f32(out + 2, z.v, 0);
    vst1q_lane_f32(out + step + 2, z.v, 1);
    vst1q_lane_f32(out + 2 * step + 2, z.v, 2);
    vst1q_lane_f32(out + 3 * step + 2, z.v, 3);
}
#endif

}  // namespace fyrel
