#include "animation/pose_flat.h"

#include "animation/skinning.h"
#include "math/simd.h"

namespace fyrel {

namespace {

using namespace simd;

// Row r of a product: a(r,0)·b0 + a(r,1)·b1 + a(r,2)·b2 + a(r,3)·b3, added
// in that order, as mul and product form it.
template <typename F4>
[[gnu::always_inline]] inline F4 productRow(F4 a, F4 b0, F4 b1, F4 b2, F4 b3)
{
    return lane<0>(a) * b0 + lane<1>(a) * b1 + lane<2>(a) * b2 + lane<3>(a) * b3;
}

// [R·S | t] of a bone by rows, each element as quatToMatrix and
// scaleColumns form it.
template <typename F4>
[[gnu::always_inline]] inline void localRows(const Bone& bone, F4& m0, F4& m1, F4& m2)
{
    const float qw = bone.rotation.w, qx = bone.rotation.x, qy = bone.rotation.y, qz = bone.rotation.z;
    const Vector3& s = bone.scale;
    const Vector3& t = bone.translation;
    m0 = F4::set((1 - 2 * qy * qy - 2 * qz * qz) * s.x, (2 * qx * qy - 2 * qw * qz) * s.y,
                 (2 * qx * qz + 2 * qw * qy) * s.z, t.x);
    m1 = F4::set((2 * qx * qy + 2 * qw * qz) * s.x, (1 - 2 * qx * qx - 2 * qz * qz) * s.y,
                 (2 * qy * qz - 2 * qw * qx) * s.z, t.y);
    m2 = F4::set((2 * qx * qz - 2 * qw * qy) * s.x, (2 * qy * qz + 2 * qw * qx) * s.y,
                 (1 - 2 * qx * qx - 2 * qy * qy) * s.z, t.z);
}

// The flat pose: world = parent.world · L · [R·S | t], three rows a bone,
// then the skinning matrix world · inverseBind into the palette. [R·S | t]
// is T·R·S with its zero products left out, so every element is the sum the
// walk forms, equal as a number (a zero may differ in sign) whenever the
// walk's is finite. False, with the bones posed up to that point, when an
// entry no longer matches the tree or the weights it was built from.
template <typename F4>
bool poseFlatFour(SkinCache& cache, Bone& root)
{
    const std::size_t n = cache.skeleton.size();
    if (n == 0 || cache.skeleton[0].bone != &root || cache.sources.size() != n) {
        return false;
    }
    float* worlds = cache.worlds.data();
    const float* inverseBinds = cache.inverseBinds.data();
    float* palette = cache.palette();
    const F4 e3 = F4::set(0.0f, 0.0f, 0.0f, 1.0f);
    const F4 negate = F4::bits(0x80000000u, 0x80000000u, 0x80000000u, 0u);
    // The root's parent: the identity, so that the root's product is formed
    // as the walk's L · T is.
    alignas(16) static const float identity[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    for (std::size_t i = 0; i < n; ++i) {
        const FlatBone& entry = cache.skeleton[i];
        Bone& bone = *entry.bone;
        if (!stillMatches(entry, bone, cache.sources[i])) {
            return false;
        }

        F4 m0, m1, m2;
        localRows(bone, m0, m1, m2);

        const float* l = bone.localMatrix.m;
        const F4 l0 = F4::load(l), l1 = F4::load(l + 4), l2 = F4::load(l + 8), l3 = F4::load(l + 12);
        const float* p = i == 0 ? identity : worlds + 16 * entry.parent;
        const F4 a0 = productRow(F4::load(p), l0, l1, l2, l3);
        const F4 a1 = productRow(F4::load(p + 4), l0, l1, l2, l3);
        const F4 a2 = productRow(F4::load(p + 8), l0, l1, l2, l3);
        const F4 w0 = productRow(a0, m0, m1, m2, e3);
        const F4 w1 = productRow(a1, m0, m1, m2, e3);
        const F4 w2 = productRow(a2, m0, m1, m2, e3);
        float* world = worlds + 16 * i;
        w0.store(world);
        w1.store(world + 4);
        w2.store(world + 8);
        float* out = bone.worldMatrix.m;
        w0.store(out);
        w1.store(out + 4);
        w2.store(out + 8);
        e3.store(out + 12);

        // The palette slot (writePaletteSlot's layout): the columns of S
        // with a zero below, then the first three negated.
        const float* ib = inverseBinds + 16 * i;
        const F4 b0 = F4::load(ib), b1 = F4::load(ib + 4), b2 = F4::load(ib + 8), b3 = F4::load(ib + 12);
        F4 c0 = productRow(w0, b0, b1, b2, b3);
        F4 c1 = productRow(w1, b0, b1, b2, b3);
        F4 c2 = productRow(w2, b0, b1, b2, b3);
        F4 c3 = F4::zero();
        transpose(c0, c1, c2, c3);
        float* slot = palette + i * kPaletteFloats;
        c0.storeAligned(slot);
        (c0 ^ negate).storeAligned(slot + 4);
        c1.storeAligned(slot + 8);
        (c1 ^ negate).storeAligned(slot + 12);
        c2.storeAligned(slot + 16);
        (c2 ^ negate).storeAligned(slot + 20);
        c3.storeAligned(slot + 24);
        F4::zero().storeAligned(slot + 28);
    }
    return true;
}

}  // namespace

bool poseFlatPortable(SkinCache& cache, Bone& root)
{
    return poseFlatFour<portable::F4>(cache, root);
}

#if FYREL_NEON
bool poseFlatNeon(SkinCache& cache, Bone& root)
{
    return poseFlatFour<neon::F4>(cache, root);
}
#endif

#if FYREL_X86
bool poseFlatSse2(SkinCache& cache, Bone& root)
{
    return poseFlatFour<sse2::F4>(cache, root);
}
#endif

}  // namespace fyrel
