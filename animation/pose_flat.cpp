#include "animation/pose_flat.h"

#include <algorithm>

#include "animation/skinning.h"
#include "math/simd.h"

namespace fyrel {

namespace {

using namespace simd;

// The skinning matrices S = world · inverseBind from the world matrices'
// columns in worlds: column c of S is the world's columns weighted by the
// inverse bind's column c (spreadInverseBinds: each element four times). A
// palette slot (writePaletteSlot's layout) holds the columns of S with a zero
// below, each followed by its negation, the last without one.
template <typename F4>
void writePalette(SkinCache& cache)
{
    const std::size_t n = cache.skeleton.size();
    const float* worlds = cache.worlds.data();
    const float* spread = cache.spreadInverseBinds.data();
    float* palette = cache.palette();
    const F4 below = F4::bits(~0u, ~0u, ~0u, 0u);
    const F4 negate = F4::bits(0x80000000u, 0x80000000u, 0x80000000u, 0u);
    for (std::size_t i = 0; i < n; ++i) {
        const float* w = worlds + 16 * i;
        const F4 w0 = F4::load(w), w1 = F4::load(w + 4), w2 = F4::load(w + 8), w3 = F4::load(w + 12);
        const float* ib = spread + 64 * i;
        float* slot = palette + i * kPaletteFloats;
        for (int c = 0; c < 4; ++c) {
            const F4 s = ((w0 * F4::load(ib + 4 * c) + w1 * F4::load(ib + 16 + 4 * c)) +
                          (w2 * F4::load(ib + 32 + 4 * c) + w3 * F4::load(ib + 48 + 4 * c))) &
                         below;
            s.storeAligned(slot + 8 * c);
            (c < 3 ? s ^ negate : F4::zero()).storeAligned(slot + 8 * c + 4);
        }
    }
}

// Four bones' local transforms K = L · [R·S | t] side by side, one element
// of four bones to a register (the half of an eight-bone group that lanes
// selects): rotation, translation and scale read straight from the bones and
// turned on their side, L from bindLocals; written to locals, rows 0-2 (row 3
// is (0, 0, 0, 1)). Past the last bone (count < 4), lanes pose the identity.
template <typename F4>
[[gnu::always_inline]] inline void fourLocals(const FlatBone* entry, std::size_t count, const float* bind,
                                              float* out)
{
    static constexpr float restRotation[4] = {1, 0, 0, 0};
    static constexpr float restMoves[6] = {0, 0, 0, 1, 1, 1};
    const float* r[4];
    const float* m[4];
    for (std::size_t j = 0; j < 4; ++j) {
        r[j] = j < count ? &entry[j].bone->rotation.w : restRotation;
        m[j] = j < count ? &entry[j].bone->translation.x : restMoves;
    }
    F4 qw = F4::load(r[0]), qx = F4::load(r[1]), qy = F4::load(r[2]), qz = F4::load(r[3]);
    transpose(qw, qx, qy, qz);
    F4 tx = F4::load(m[0]), ty = F4::load(m[1]), tz = F4::load(m[2]), sx = F4::load(m[3]);
    transpose(tx, ty, tz, sx);
    F4 u0 = F4::load(m[0] + 2), u1 = F4::load(m[1] + 2), sy = F4::load(m[2] + 2), sz = F4::load(m[3] + 2);
    transpose(u0, u1, sy, sz);  // u0, u1 repeat the translation's z and the scale's x
    const F4 x2 = qx + qx, y2 = qy + qy, z2 = qz + qz;
    const F4 xx = qx * x2, yy = qy * y2, zz = qz * z2;
    const F4 xy = qx * y2, xz = qx * z2, yz = qy * z2;
    const F4 wx = qw * x2, wy = qw * y2, wz = qw * z2;
    const F4 one = F4::splat(1.0f);
    // Columns of [R·S | t]: M(row, column).
    const F4 cols[4][3] = {{(one - yy - zz) * sx, (xy + wz) * sx, (xz - wy) * sx},
                        {(xy - wz) * sy, (one - xx - zz) * sy, (yz + wx) * sy},
                        {(xz + wy) * sz, (yz - wx) * sz, (one - xx - yy) * sz},
                        {tx, ty, tz}};
    for (int row = 0; row < 3; ++row) {
        const float* l = bind + 32 * row;
        const F4 l0 = F4::load(l), l1 = F4::load(l + 8), l2 = F4::load(l + 16);
        for (int c = 0; c < 3; ++c) {
            (l0 * cols[c][0] + l1 * cols[c][1] + l2 * cols[c][2]).store(out + 32 * row + 8 * c);
        }
        (l0 * cols[3][0] + l1 * cols[3][1] + l2 * cols[3][2] + F4::load(l + 24)).store(out + 32 * row + 24);
    }
}

// The flat pose four bones at a time where it can be: first every bone's
// local transform K = L · [R·S | t] (fourLocals), then down the skeleton
// world = parent.world · K by columns, each column the parent's columns
// weighted by K's elements; then, when there are vertices to skin, the
// skinning matrix world · inverseBind into the palette. The other association
// (L · [R·S | t] first) gives sums within a few units in the last place of
// the walk's, not the same bits; every four-wide backend forms the same sums
// in the same order, so they agree bit for bit. False, with no bone posed,
// when an entry no longer matches the tree or the weights it was built from.
template <typename F4>
bool poseFlatFour(SkinCache& cache, Bone& root, bool withPalette)
{
    const std::size_t n = cache.skeleton.size();
    if (n == 0 || cache.skeleton[0].bone != &root || cache.sources.size() != n) {
        return false;
    }
    // Checked in pre-order: a bone's pointer is followed only after its
    // parent's child list was found where it was.
    const FlatBone* skeleton = cache.skeleton.data();
    const SkinSource* sources = cache.sources.data();
    for (std::size_t i = 0; i < n; ++i) {
        if (!stillMatches(skeleton[i], *skeleton[i].bone, sources[i])) {
            return false;
        }
    }
    float* locals = cache.locals.data();
    const float* bindLocals = cache.bindLocals.data();
    for (std::size_t g = 0; g < n; g += 4) {
        // Bones g..g+3 are lanes g % 8.. of their eight-bone group.
        const std::size_t at = kGroupFloats * (g / 8) + g % 8;
        fourLocals<F4>(skeleton + g, std::min<std::size_t>(4, n - g), bindLocals + at, locals + at);
    }

    float* worlds = cache.worlds.data();
    const F4 e3 = F4::set(0.0f, 0.0f, 0.0f, 1.0f);
    F4 p0 = F4::set(1, 0, 0, 0), p1 = F4::set(0, 1, 0, 0), p2 = F4::set(0, 0, 1, 0), p3 = e3;
    const float* k = locals;  // K(0, 0) of bone i; K(r, c) lies 32r + 8c floats after it
    for (std::size_t i = 0; i < n; ++i) {
        const FlatBone& entry = skeleton[i];
        if (i != 0 && entry.parent + 1 != i) {
            const float* p = worlds + 16 * entry.parent;
            p0 = F4::load(p);
            p1 = F4::load(p + 4);
            p2 = F4::load(p + 8);
            p3 = F4::load(p + 12);
        }
        const F4 w0 = p0 * F4::splat(k[0]) + (p1 * F4::splat(k[32]) + p2 * F4::splat(k[64]));
        const F4 w1 = p0 * F4::splat(k[8]) + (p1 * F4::splat(k[40]) + p2 * F4::splat(k[72]));
        const F4 w2 = p0 * F4::splat(k[16]) + (p1 * F4::splat(k[48]) + p2 * F4::splat(k[80]));
        p3 = (p0 * F4::splat(k[24]) + p3) + (p1 * F4::splat(k[56]) + p2 * F4::splat(k[88]));
        p0 = w0;
        p1 = w1;
        p2 = w2;
        k += i % 8 == 7 ? kGroupFloats - 7 : 1;
        float* world = worlds + 16 * i;
        p0.store(world);
        p1.store(world + 4);
        p2.store(world + 8);
        p3.store(world + 12);
        F4 r0 = p0, r1 = p1, r2 = p2, r3 = p3;
        transpose(r0, r1, r2, r3);
        float* rows = entry.bone->worldMatrix.m;
        r0.store(rows);
        r1.store(rows + 4);
        r2.store(rows + 8);
        e3.store(rows + 12);
    }
    if (withPalette && cache.anyWeights) {
        writePalette<F4>(cache);
    }
    return true;
}
}  // namespace

bool poseFlatPortable(SkinCache& cache, Bone& root, bool withPalette)
{
    return poseFlatFour<portable::F4>(cache, root, withPalette);
}

#if FYREL_NEON
bool poseFlatNeon(SkinCache& cache, Bone& root, bool withPalette)
{
    return poseFlatFour<neon::F4>(cache, root, withPalette);
}
#endif

#if FYREL_X86
bool poseFlatSse2(SkinCache& cache, Bone& root, bool withPalette)
{
    return poseFlatFour<sse2::F4>(cache, root, withPalette);
}
#endif

}  // namespace fyrel
