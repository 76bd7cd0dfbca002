#pragma once

// The one place that asks the processor what it runs, and the one choice of
// vector backend that every kernel (skinning, pose, face normals) follows.
//
// FYREL_X86 is set on x86-64, where SSE2 is always there and AVX2 with FMA
// is asked for at run time; FYREL_TARGET_AVX2 marks a function compiled for
// AVX2 and FMA (code outside such functions must not assume either), and is
// not defined elsewhere, so code that uses it sits under #if FYREL_X86.
// FYREL_NEON is set on 64-bit ARM, where Advanced SIMD is always there. On
// any other processor only the portable backend exists.

#if defined(__x86_64__)
#define FYREL_X86 1
#define FYREL_TARGET_AVX2 __attribute__((target("avx2,fma")))
#else
#define FYREL_X86 0
#endif
#if defined(__aarch64__)
#define FYREL_NEON 1
#else
#define FYREL_NEON 0
#endif

namespace fyrel {

// Whether the processor runs AVX2 and FMA (and the system saves the YMM
// registers); asked once, false on other processors.
bool cpuHasAvx2Fma();

// The instruction sets the kernels are written for. Portable is plain C++ and
// computes what the vector backends compute (the same bits wherever they do
// not reassociate); Sse2 exists on every x86-64; Avx2 needs cpuHasAvx2Fma();
// Neon exists on every 64-bit ARM.
enum class VectorBackend { Portable, Sse2, Avx2, Neon };

bool vectorBackendAvailable(VectorBackend backend);

// The widest available backend, until useVectorBackend picks another (tests
// and benchmarks do, to compare them). Not thread-safe to change while
// kernels run.
VectorBackend activeVectorBackend();
void useVectorBackend(VectorBackend backend);  // ignored when not available

}  // namespace fyrel
