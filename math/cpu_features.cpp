#include "math/cpu_features.h"

namespace fyrel {

namespace {

VectorBackend widestBackend()
{
#if FYREL_X86
    return cpuHasAvx2Fma() ? VectorBackend::Avx2 : VectorBackend::Sse2;
#elif FYREL_NEON
    return VectorBackend::Neon;
#else
    return VectorBackend::Portable;
#endif
}

VectorBackend& chosenBackend()
{
    static VectorBackend backend = widestBackend();
    return backend;
}

}  // namespace

bool cpuHasAvx2Fma()
{
#if FYREL_X86
    // __builtin_cpu_supports also checks that the system saves the YMM state.
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return has;
#else
    return false;
#endif
}

bool vectorBackendAvailable(VectorBackend backend)
{
    switch (backend) {
    case VectorBackend::Portable: return true;
    case VectorBackend::Sse2: return FYREL_X86 != 0;
    case VectorBackend::Avx2: return cpuHasAvx2Fma();
    case VectorBackend::Neon: return FYREL_NEON != 0;
    }
    return false;
}

VectorBackend activeVectorBackend()
{
    return chosenBackend();
}

void useVectorBackend(VectorBackend backend)
{
    if (vectorBackendAvailable(backend)) {
        chosenBackend() = backend;
    }
}

}  // namespace fyrel
