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

namespace fyrel {

// Whether a flattened skeleton's entry still describes its bone and weights.
[[gnu::always_inline]] inline bool stillMatches(const FlatBone& entry, const Bone& bone, const SkinSource& source)
{
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
