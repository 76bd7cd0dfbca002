#include "animation/pose_flat.h"

#include "animation/skinning.h"

#if FYREL_X86
#include <immintrin.h>

// Written with AVX2's intrinsics rather than math/simd.h: it turns eight
// bones' records on their side and keeps two matrix columns in the halves of
// a register, moves that have no meaning for a plain eight-float vector. The
// four-wide evaluator (pose_flat.cpp) is what other processors run.

namespace fyrel {

namespace {

// Eight bones' local transforms K = L · [R·S | t] side by side, one element
// of eight bones to a register: the rotation (w, x, y, z) and the
// translation and scale (six floats) of each bone read straight from it and
// turned on their side, the bind transforms L from bindLocals. Written to
// locals, rows 0-2 (row 3 is (0, 0, 0, 1)).
[[gnu::always_inline]] FYREL_TARGET_AVX2 inline __m256 pairOf(const float* low, const float* high)
{
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(low)), _mm_loadu_ps(high), 1);
}

// Rows a, b, c, d (bones j | j + 4 in the two halves) turned into columns:
// element k of the four rows, bones j..j+3 | j+4..j+7, in out[k].
[[gnu::always_inline]] FYREL_TARGET_AVX2 inline void sideways(__m256 a, __m256 b, __m256 c,
                                                                                  __m256 d, __m256* out)
{
    const __m256 ab0 = _mm256_unpacklo_ps(a, b), ab1 = _mm256_unpackhi_ps(a, b);
    const __m256 cd0 = _mm256_unpacklo_ps(c, d), cd1 = _mm256_unpackhi_ps(c, d);
    out[0] = _mm256_shuffle_ps(ab0, cd0, 0x44);
    out[1] = _mm256_shuffle_ps(ab0, cd0, 0xEE);
    out[2] = _mm256_shuffle_ps(ab1, cd1, 0x44);
    out[3] = _mm256_shuffle_ps(ab1, cd1, 0xEE);
}

// Column c of K: L's rows 0-2 (eight bones to a register, 32 floats apart,
// an element's eight 8 floats after the one before) weighted by column c of
// [R·S | t], m0..m2, plus L's translation for the translation column.
[[gnu::always_inline]] FYREL_TARGET_AVX2 inline void localColumn(const float* bind, float* out,
                                                                                     int c, __m256 m0, __m256 m1,
                                                                                     __m256 m2, bool translation)
{
    for (int r = 0; r < 3; ++r) {
        const float* l = bind + 32 * r;
        const __m256 first = translation ? _mm256_fmadd_ps(_mm256_loadu_ps(l), m0, _mm256_loadu_ps(l + 24))
                                         : _mm256_mul_ps(_mm256_loadu_ps(l), m0);
        _mm256_storeu_ps(out + 32 * r + 8 * c,
                         _mm256_fmadd_ps(_mm256_loadu_ps(l + 16), m2, _mm256_fmadd_ps(_mm256_loadu_ps(l + 8), m1, first)));
    }
}

// The eight bones from entry on; past the last bone (count < 8), lanes pose
// the identity.
[[gnu::always_inline]] FYREL_TARGET_AVX2 inline void eightLocals(const FlatBone* entry,
                                                                                     std::size_t count,
                                                                                     const float* bind, float* out)
{
    static constexpr float restRotation[4] = {1, 0, 0, 0};
    static constexpr float restMoves[6] = {0, 0, 0, 1, 1, 1};
    const float* r[8];
    const float* m[8];
    for (std::size_t j = 0; j < 8; ++j) {
        r[j] = j < count ? &entry[j].bone->rotation.w : restRotation;
        m[j] = j < count ? &entry[j].bone->translation.x : restMoves;
    }
    __m256 q[4], t[4], s[4];
    sideways(pairOf(r[0], r[4]), pairOf(r[1], r[5]), pairOf(r[2], r[6]), pairOf(r[3], r[7]), q);
    sideways(pairOf(m[0], m[4]), pairOf(m[1], m[5]), pairOf(m[2], m[6]), pairOf(m[3], m[7]), t);
    sideways(pairOf(m[0] + 2, m[4] + 2), pairOf(m[1] + 2, m[5] + 2), pairOf(m[2] + 2, m[6] + 2),
             pairOf(m[3] + 2, m[7] + 2), s);
    const __m256 qw = q[0], qx = q[1], qy = q[2], qz = q[3];
    const __m256 x2 = _mm256_add_ps(qx, qx), y2 = _mm256_add_ps(qy, qy), z2 = _mm256_add_ps(qz, qz);
    const __m256 xx = _mm256_mul_ps(qx, x2), yy = _mm256_mul_ps(qy, y2), zz = _mm256_mul_ps(qz, z2);
    const __m256 xy = _mm256_mul_ps(qx, y2), xz = _mm256_mul_ps(qx, z2), yz = _mm256_mul_ps(qy, z2);
    const __m256 wx = _mm256_mul_ps(qw, x2), wy = _mm256_mul_ps(qw, y2), wz = _mm256_mul_ps(qw, z2);
    const __m256 one = _mm256_set1_ps(1.0f);
    // The scale: t[3] is its x; s[0] and s[1] repeat the translation's z and
    // the scale's x.
    const __m256 sx = t[3], sy = s[2], sz = s[3];
    localColumn(bind, out, 0, _mm256_mul_ps(_mm256_sub_ps(_mm256_sub_ps(one, yy), zz), sx),
                _mm256_mul_ps(_mm256_add_ps(xy, wz), sx), _mm256_mul_ps(_mm256_sub_ps(xz, wy), sx), false);
    localColumn(bind, out, 1, _mm256_mul_ps(_mm256_sub_ps(xy, wz), sy),
                _mm256_mul_ps(_mm256_sub_ps(_mm256_sub_ps(one, xx), zz), sy), _mm256_mul_ps(_mm256_add_ps(yz, wx), sy),
                false);
    localColumn(bind, out, 2, _mm256_mul_ps(_mm256_add_ps(xz, wy), sz), _mm256_mul_ps(_mm256_sub_ps(yz, wx), sz),
                _mm256_mul_ps(_mm256_sub_ps(_mm256_sub_ps(one, xx), yy), sz), false);
    localColumn(bind, out, 3, t[0], t[1], t[2], true);
}

// Column c of parent · K, in both halves: first (the parent's column 0
// weighted by K(0, c), plus its translation for c = 3) plus the parent's
// columns 1 and 2 weighted by K(1, c) and K(2, c), which lie 32 and 64 floats
// after K(0, c). Added as first + (column 1 + column 2), so that a chain of
// bones waits on a multiply, a fused multiply-add and an addition per bone.
[[gnu::always_inline]] FYREL_TARGET_AVX2 inline __m256 weighted(__m256 p1, __m256 p2, __m256 first,
                                                                                    const float* k)
{
    return _mm256_add_ps(first,
                         _mm256_fmadd_ps(p2, _mm256_broadcast_ss(k + 64), _mm256_mul_ps(p1, _mm256_broadcast_ss(k + 32))));
}

// The skinning matrices S = world · inverseBind of the flat pose, from the
// world matrices' columns it left in worlds: column c of S is the world's
// columns weighted by the inverse bind's column c (inverseBinds, by rows,
// each element broadcast from memory), formed in both halves of a register
// so that a palette column, the column of S with a zero below and then its
// negation (the last column: then zeros), is one aligned store.
FYREL_TARGET_AVX2 void writePalette(SkinCache& cache)
{
    const std::size_t n = cache.skeleton.size();
    const float* worlds = cache.worlds.data();
    const float* inverseBinds = cache.inverseBinds.data();
    float* palette = cache.palette();
    const __m256 below = _mm256_castsi256_ps(_mm256_setr_epi32(-1, -1, -1, 0, -1, -1, -1, 0));
    const __m256 lowOnly = _mm256_castsi256_ps(_mm256_setr_epi32(-1, -1, -1, 0, 0, 0, 0, 0));
    const __m256 negateHigh =
        _mm256_castsi256_ps(_mm256_setr_epi32(0, 0, 0, 0, INT32_MIN, INT32_MIN, INT32_MIN, 0));
    for (std::size_t i = 0; i < n; ++i) {
        const float* w = worlds + 16 * i;
        const __m256 w0 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(w));
        const __m256 w1 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(w + 4));
        const __m256 w2 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(w + 8));
        const __m256 w3 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(w + 12));
        const float* ib = inverseBinds + 16 * i;
        float* slot = palette + i * kPaletteFloats;
        for (int c = 0; c < 4; ++c) {
            const __m256 column = _mm256_fmadd_ps(
                w3, _mm256_broadcast_ss(ib + 12 + c),
                _mm256_fmadd_ps(w2, _mm256_broadcast_ss(ib + 8 + c),
                                _mm256_fmadd_ps(w1, _mm256_broadcast_ss(ib + 4 + c),
                                                _mm256_mul_ps(w0, _mm256_broadcast_ss(ib + c)))));
            _mm256_store_ps(slot + 8 * c, c < 3 ? _mm256_xor_ps(_mm256_and_ps(column, below), negateHigh)
                                                : _mm256_and_ps(column, lowOnly));
        }
    }
}

// The flat pose eight bones at a time where it can be: first every bone's
// local transform K = L · [R·S | t] (eightLocals), then down the skeleton
// world = parent.world · K by columns, each column the parent's columns
// weighted by K's elements and held in both halves of a register; then, when
// there are vertices to skin, the palette (writePalette). Fused multiply-adds
// and the other association (L · [R·S | t] first) give sums within a few
// units in the last place of the walk's, not the same bits; where the walk's
// world matrix is not finite this one is not either, and a skinning matrix
// whose translation is not finite carries that into its other columns, as
// the walk's does. False, with no bone posed, when an entry no longer
// matches the tree or the weights it was built from.
}  // namespace

FYREL_TARGET_AVX2 bool poseFlatAvx2(SkinCache& cache, Bone& root, bool withPalette)
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
    std::size_t g = 0;
    for (; g + 8 <= n; g += 8) {
        eightLocals(skeleton + g, 8, bindLocals + 12 * g, locals + 12 * g);
    }
    if (g < n) {
        eightLocals(skeleton + g, n - g, bindLocals + 12 * g, locals + 12 * g);
    }

    float* worlds = cache.worlds.data();
    const __m256i byRows = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    // The parent's columns; the root's parent is the identity.
    __m256 p0 = _mm256_setr_ps(1, 0, 0, 0, 1, 0, 0, 0), p1 = _mm256_setr_ps(0, 1, 0, 0, 0, 1, 0, 0);
    __m256 p2 = _mm256_setr_ps(0, 0, 1, 0, 0, 0, 1, 0), p3 = _mm256_setr_ps(0, 0, 0, 1, 0, 0, 0, 1);
    // K(0, 0) of bone i; K(r, c) lies 32r + 8c floats after it, and the next
    // group's first bone kGroupFloats after this group's.
    const float* k = locals;
    for (std::size_t i = 0; i < n; ++i) {
        const FlatBone& entry = skeleton[i];
        // A bone that follows its parent (a chain) keeps the parent's
        // columns in registers.
        if (i != 0 && entry.parent + 1 != i) {
            const float* p = worlds + 16 * entry.parent;
            p0 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(p));
            p1 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(p + 4));
            p2 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(p + 8));
            p3 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(p + 12));
        }
        const __m256 w0 = weighted(p1, p2, _mm256_mul_ps(p0, _mm256_broadcast_ss(k)), k);
        const __m256 w1 = weighted(p1, p2, _mm256_mul_ps(p0, _mm256_broadcast_ss(k + 8)), k + 8);
        const __m256 w2 = weighted(p1, p2, _mm256_mul_ps(p0, _mm256_broadcast_ss(k + 16)), k + 16);
        p3 = weighted(p1, p2, _mm256_fmadd_ps(p0, _mm256_broadcast_ss(k + 24), p3), k + 24);
        p0 = w0;
        p1 = w1;
        p2 = w2;
        k += i % 8 == 7 ? kGroupFloats - 7 : 1;

        const __m256 w01 = _mm256_blend_ps(p0, p1, 0xF0), w23 = _mm256_blend_ps(p2, p3, 0xF0);
        float* world = worlds + 16 * i;
        _mm256_storeu_ps(world, w01);
        _mm256_storeu_ps(world + 8, w23);
        // The bone's own matrix by rows: (w0.r, w2.r, w0.r', w2.r' | w1.r,
        // w3.r, ...) put in column order.
        float* rows = entry.bone->worldMatrix.m;
        _mm256_storeu_ps(rows, _mm256_permutevar8x32_ps(_mm256_unpacklo_ps(w01, w23), byRows));
        _mm256_storeu_ps(rows + 8, _mm256_permutevar8x32_ps(_mm256_unpackhi_ps(w01, w23), byRows));
    }
    if (withPalette && cache.anyWeights) {
        writePalette(cache);
    }
    return true;
}

}  // namespace fyrel

#endif  // FYREL_X86
