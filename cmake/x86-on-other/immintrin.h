#pragma once

// Only on processors other than x86-64, in place of the compiler's header:
// the glTF reader's SSE2 kernels (importers/gltf), not yet written against
// math/simd.h, build through SIMDe's translations of the intrinsics
// (libsimde-dev). To go when those kernels are ported to the layer.

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/sse2.h>

#include "math/store_four.h"

namespace fyrel {

// storeFour for the translated registers: through the portable backend.
inline void storeFour(__m128 x, __m128 y, __m128 z, float* out, std::size_t step)
{
    simd::portable::F4 px, py, pz;
    _mm_storeu_ps(px.v, x);
    _mm_storeu_ps(py.v, y);
    _mm_storeu_ps(pz.v, z);
    storeFour(px, py, pz, out, step);
}

}  // namespace fyrel
