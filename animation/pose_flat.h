#pragma once

// The flat pose evaluators behind updatePose (inside the animation layer
// only): world = parent.world · L · [R·S | t] over the flattened skeleton
// that pose.cpp builds (SkinCache::skeleton, worlds, inverseBinds,
// bindLocals, spreadInverseBinds), then the palette. Each returns false,
// with the bones posed up to that point or none, when an entry no longer
// matches the tree or the weights it was built from (the caller rebuilds).

#include <cstddef>
#include <cstdint>

#include "animation/animation_cache.h"
#include "math/cpu_features.h"
#include "scene/bone.h"

#if FYREL_X86
#include <emmintrin.h>
#endif

namespace fyrel {

// Whether the bone's child and weight lists lie side by side, 48 bytes in
// all (FlatBone::lists).
inline bool listsSideBySide(const Bone& bone)
{
    return sizeof(bone.children) + sizeof(bone.weights) == sizeof(FlatBone::lists) &&
           reinterpret_cast<const char*>(&bone.weights) == reinterpret_cast<const char*>(&bone.children) + sizeof(bone.children);
}

// Whether a flattened skeleton's entry still describes its bone and weights.
[[gnu::always_inline]] inline bool stillMatches(const FlatBone& entry, const Bone& bone, const SkinSource& source)
{
#if FYREL_X86
    if (listsSideBySide(bone)) {
        // The same bytes are the same beginnings and ends (and capacities:
        // a list that grew in place is taken as changed, which costs a
        // rebuild and nothing else). The skin form was built from the same
        // weight lists as the entry.
        const auto* now = reinterpret_cast<const __m128i*>(&bone.children);
        const auto* then = reinterpret_cast<const __m128i*>(entry.lists);
        const __m128i differ =
            _mm_or_si128(_mm_or_si128(_mm_xor_si128(_mm_loadu_si128(now), _mm_load_si128(then)),
                                      _mm_xor_si128(_mm_loadu_si128(now + 1), _mm_load_si128(then + 1))),
                         _mm_xor_si128(_mm_loadu_si128(now + 2), _mm_load_si128(then + 2)));
        return _mm_movemask_epi8(_mm_cmpeq_epi8(differ, _mm_setzero_si128())) == 0xFFFF;
    }
#endif
    // One comparison for the four: the differences of the words, or-ed.
    auto word = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p); };
    const Bone* children = bone.children.data();
    return ((word(children) ^ word(entry.children)) |
            (word(children + bone.children.size()) ^ word(entry.childrenEnd)) |
            (word(bone.weights.data()) ^ word(source.weights)) | (bone.weights.size() ^ source.size)) == 0;
}

// Floats of a group of eight bones' local transforms (bindLocals, locals):
// twelve elements, eight bones each.
constexpr std::size_t kGroupFloats = 96;

// Four bones at a time against math/simd.h (pose_flat.cpp), within a few
// units in the last place of the walk, every four-wide backend with the
// portable one's bits; the palette only when withPalette.
bool poseFlatPortable(SkinCache& cache, Bone& root, bool withPalette);
#if FYREL_NEON
bool poseFlatNeon(SkinCache& cache, Bone& root, bool withPalette);
#endif
#if FYREL_X86
bool poseFlatSse2(SkinCache& cache, Bone& root, bool withPalette);

// Eight bones at a time with fused multiply-adds (pose_flat_avx2.cpp), within
// a few units in the last place of the walk; the palette only when
// withPalette. Call only when cpuHasAvx2Fma().
bool poseFlatAvx2(SkinCache& cache, Bone& root, bool withPalette);
#endif

}  // namespace fyrel
