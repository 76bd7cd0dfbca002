#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "animation/skinning.h"
#include "animation/skinning_kernels.h"
#include "scene/model.h"

#if FYREL_X86
#include <immintrin.h>

// Written with AVX2's intrinsics rather than math/simd.h: its speed comes from
// moving the halves of registers (a vertex's position and normal side by
// side, four records packed into three stores), shuffles that have no
// meaning for a plain eight-float vector. The four-wide kernel in
// skinning.cpp computes the same sums, unfused (within a few units in the
// last place), and is what other processors run.

namespace fyrel {

namespace {

// One 8-lane register per vertex holds rows 0-2 of the position
// and, in the upper half, rows 0-2 of the normal, formed with the negated
// columns of S. Negation is exact: (−a)·b = −(a·b) and (−a) + (−b) =
// −(a + b), except that an exact cancellation gives +0 where the negated sum
// is −0; the translation column adds +0 to the normal rows, which can also
// turn −0 into +0. So acc + w·n′ equals acc − w·n whenever n is not zero,
// and when it is, both leave acc as it was: a sum that starts from +0 never
// becomes −0, and adding ±0 to a nonzero value or to +0 changes nothing.

// v holds the position in the low half and the normal in the high half,
// (x y z _ | x y z _). One influence: w·(S·v + t), fused (a weight of exactly
// 1 multiplies by nothing). Two or more: the weighted sum of the influences'
// slots first (fused), then one product with the vertex. Within a few units
// in the last place of the four-wide kernel's.
template <int K, bool Implied, typename Index>
[[gnu::always_inline]] FYREL_TARGET_AVX2 inline __m256 avxVertex(const float* palette, InfluenceCursor<Index>& f,
                                                                 std::uint32_t k, __m256 v)
{
    const __m256 x = _mm256_permute_ps(v, 0x00);
    const __m256 y = _mm256_permute_ps(v, 0x55);
    const __m256 z = _mm256_permute_ps(v, 0xAA);
    if constexpr (K == 1) {
        const float* s = palette + std::size_t{f.bones[0]};
        ++f.bones;
        const __m256 r = _mm256_fmadd_ps(_mm256_load_ps(s + 16), z,
                                         _mm256_fmadd_ps(_mm256_load_ps(s + 8), y,
                                                         _mm256_fmadd_ps(_mm256_load_ps(s), x, _mm256_load_ps(s + 24))));
        if constexpr (Implied) {
            return r;
        } else {
            const __m256 w = _mm256_set1_ps(f.weights[0]);
            ++f.weights;
            return _mm256_mul_ps(w, r);
        }
    } else {
        const std::uint32_t count = K > 0 ? static_cast<std::uint32_t>(K) : k;
        const float* s = palette + std::size_t{f.bones[0]};
        __m256 w = _mm256_set1_ps(weightAt<Implied>(f.weights, 0, count));
        __m256 c0 = _mm256_mul_ps(w, _mm256_load_ps(s)), c1 = _mm256_mul_ps(w, _mm256_load_ps(s + 8));
        __m256 c2 = _mm256_mul_ps(w, _mm256_load_ps(s + 16)), c3 = _mm256_mul_ps(w, _mm256_load_ps(s + 24));
        for (std::uint32_t t = 1; t < count; ++t) {
            s = palette + std::size_t{f.bones[t]};
            w = _mm256_set1_ps(weightAt<Implied>(f.weights, t, count));
            c0 = _mm256_fmadd_ps(w, _mm256_load_ps(s), c0);
            c1 = _mm256_fmadd_ps(w, _mm256_load_ps(s + 8), c1);
            c2 = _mm256_fmadd_ps(w, _mm256_load_ps(s + 16), c2);
            c3 = _mm256_fmadd_ps(w, _mm256_load_ps(s + 24), c3);
        }
        f.bones += count;
        f.weights += Implied ? count - 1 : count;
        return _mm256_fmadd_ps(c2, z, _mm256_fmadd_ps(c1, y, _mm256_fmadd_ps(c0, x, c3)));
    }
}

// A vertex as (position, normal.x | normal, next float): reads 4 bytes past
// the vertex.
FYREL_TARGET_AVX2 inline __m256 loadVertex(const Vertex& v)
{
    return _mm256_loadu2_m128(&v.normal.x, &v.position.x);
}

// Packs rows 0-2 of four registers into three, in each 128-bit half:
// (a b c _)(d e f _)(g h i _)(j k l _) → (a b c d)(e f g h)(i j k l).
FYREL_TARGET_AVX2 inline void packTriples(__m256 q0, __m256 q1, __m256 q2, __m256 q3, __m256& r0, __m256& r1, __m256& r2)
{
    r0 = _mm256_blend_ps(q0, _mm256_shuffle_ps(q1, q1, 0x00), 0x88);
    r1 = _mm256_shuffle_ps(q1, q2, _MM_SHUFFLE(1, 0, 2, 1));
    r2 = _mm256_shuffle_ps(_mm256_shuffle_ps(q2, q3, _MM_SHUFFLE(0, 0, 2, 2)), q3, _MM_SHUFFLE(2, 1, 2, 0));
}

template <Store How>
FYREL_TARGET_AVX2 inline void storeHalf(float* p, __m128 x)
{
    if constexpr (How == Store::Aligned) {
        _mm_store_ps(p, x);
    } else {
        _mm_storeu_ps(p, x);
    }
}

// Stores the halves of three registers: low halves at lo, high halves at hi.
template <Store How>
FYREL_TARGET_AVX2 inline void storeHalves(__m256 r0, __m256 r1, __m256 r2, float* lo, float* hi)
{
    storeHalf<How>(lo, _mm256_castps256_ps128(r0));
    storeHalf<How>(lo + 4, _mm256_castps256_ps128(r1));
    storeHalf<How>(lo + 8, _mm256_castps256_ps128(r2));
    storeHalf<How>(hi, _mm256_extractf128_ps(r0, 1));
    storeHalf<How>(hi + 4, _mm256_extractf128_ps(r1, 1));
    storeHalf<How>(hi + 8, _mm256_extractf128_ps(r2, 1));
}

// Four vertices from i on, i a multiple of 4: the four records are stored in
// whole 16-byte parts, aligned when the array is, none spilling further.
template <int K, bool Implied, Store How, typename Index>
[[gnu::always_inline]] FYREL_TARGET_AVX2 inline void avxGroup(const float* palette, InfluenceCursor<Index>& f,
                                                              std::uint32_t k, std::size_t i, const Vertex* in,
                                                              Vertex* out)
{
    const __m256 a0 = avxVertex<K, Implied>(palette, f, k, loadVertex(in[i]));
    const __m256 a1 = avxVertex<K, Implied>(palette, f, k, loadVertex(in[i + 1]));
    const __m256 a2 = avxVertex<K, Implied>(palette, f, k, loadVertex(in[i + 2]));
    const __m256 a3 = avxVertex<K, Implied>(palette, f, k, loadVertex(in[i + 3]));
    // Position, normal, position, normal: vertices 0 and 1 in the low halves,
    // 2 and 3 in the high halves.
    __m256 r0, r1, r2;
    packTriples(_mm256_permute2f128_ps(a0, a2, 0x20), _mm256_permute2f128_ps(a0, a2, 0x31),
                _mm256_permute2f128_ps(a1, a3, 0x20), _mm256_permute2f128_ps(a1, a3, 0x31), r0, r1, r2);
    float* o = &out[i].position.x;
    storeHalves<How>(r0, r1, r2, o, o + 12);
}

// One vertex. Reads two floats of the next vertex and writes two junk floats
// into it; the next vertex is written later.
template <int K, bool Implied, typename Index>
FYREL_TARGET_AVX2 inline void avxSingle(const float* palette, InfluenceCursor<Index>& f, std::uint32_t k,
                                        std::size_t i, const Vertex* in, Vertex* out)
{
    const __m256 acc = avxVertex<K, Implied>(palette, f, k, loadVertex(in[i]));
    _mm256_storeu_ps(&out[i].position.x, _mm256_permutevar8x32_ps(acc, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7)));
}

// The last vertex of the model: read and written exactly.
template <int K, bool Implied, typename Index>
FYREL_TARGET_AVX2 void avxLast(const float* palette, InfluenceCursor<Index>& f, std::uint32_t k, std::size_t i,
                               const Vertex* in, Vertex* out)
{
    float buffer[8] = {};
    std::memcpy(buffer, &in[i].position, sizeof(Vector3));
    std::memcpy(buffer + 4, &in[i].normal, sizeof(Vector3));
    const __m256 acc = avxVertex<K, Implied>(palette, f, k, _mm256_loadu_ps(buffer));
    _mm256_storeu_ps(buffer, acc);
    out[i].position = Vector3{buffer[0], buffer[1], buffer[2]};
    out[i].normal = Vector3{buffer[4], buffer[5], buffer[6]};
}

// The vertices of a run in ascending order: singles up to a multiple of 4,
// groups of 4, singles for the rest, and the model's last vertex exactly.
template <int K, bool Implied, Store How, typename Index>
FYREL_TARGET_AVX2 void avxRun(const float* palette, InfluenceCursor<Index> f, const SkinRun& run, std::size_t wideEnd,
                              const Vertex* in, Vertex* out)
{
    const std::size_t end = run.first + run.count;
    const std::uint32_t k = run.influences;
    const std::size_t wide = std::min(end, wideEnd);
    std::size_t i = run.first;
    for (; i < wide && i % 4 != 0; ++i) {
        avxSingle<K, Implied>(palette, f, k, i, in, out);
    }
    for (; i + 4 <= wide; i += 4) {
        avxGroup<K, Implied, How>(palette, f, k, i, in, out);
    }
    for (; i < wide; ++i) {
        avxSingle<K, Implied>(palette, f, k, i, in, out);
    }
    for (; i < end; ++i) {
        avxLast<K, Implied>(palette, f, k, i, in, out);
    }
}

template <bool Implied, Store How, typename Index>
FYREL_TARGET_AVX2 void avxRunOf(const float* palette, InfluenceCursor<Index> f, const SkinRun& run,
                                std::size_t wideEnd, const Vertex* in, Vertex* out)
{
    switch (run.influences) {
    case 1: avxRun<1, Implied, How>(palette, f, run, wideEnd, in, out); break;
    case 2: avxRun<2, Implied, How>(palette, f, run, wideEnd, in, out); break;
    case 3: avxRun<3, Implied, How>(palette, f, run, wideEnd, in, out); break;
    case 4: avxRun<4, Implied, How>(palette, f, run, wideEnd, in, out); break;
    default: avxRun<0, Implied, How>(palette, f, run, wideEnd, in, out); break;
    }
}

template <Store How, typename Index>
FYREL_TARGET_AVX2 void avxRuns(const SkinCache& cache, const Index* bones, const Vertex* in, std::size_t count,
                               Vertex* out)
{
    const float* palette = cache.paletteStore.data() + cache.paletteOffset;
    for (const SkinRun& run : cache.runs) {
        const InfluenceCursor<Index> f{bones + run.bones, cache.boneWeights.data() + run.weights};
        if (run.influences == 0) {
            std::fill(out + run.first, out + run.first + run.count, Vertex{});
        } else if (run.impliedLast) {
            avxRunOf<true, How>(palette, f, run, count - 1, in, out);
        } else {
            avxRunOf<false, How>(palette, f, run, count - 1, in, out);
        }
    }
}

template <Store How>
FYREL_TARGET_AVX2 void avxSkin(const SkinCache& cache, const Vertex* in, std::size_t count, Vertex* out)
{
    if (wideBones(cache)) {
        avxRuns<How>(cache, cache.wideBoneSlots.data(), in, count, out);
    } else {
        avxRuns<How>(cache, cache.boneSlots.data(), in, count, out);
    }
}

}  // namespace

FYREL_TARGET_AVX2 void skinAvx2(const SkinCache& cache, const Vertex* in, std::size_t count, Vertex* out)
{
    if (reinterpret_cast<std::uintptr_t>(out) % 16 != 0) {
        avxSkin<Store::Unaligned>(cache, in, count, out);
    } else {
        avxSkin<Store::Aligned>(cache, in, count, out);
    }
}

// Four records at a time, each loaded as (position _ | normal _) and packed
// into three 16-byte parts of each staging array.
FYREL_TARGET_AVX2 void stageAvx2(const Vertex* in, std::size_t count, float* positions, float* normals)
{
    std::size_t i = 0;
    for (; i + 5 <= count; i += 4) {  // the loads read 4 bytes past the fourth record
        __m256 r0, r1, r2;
        packTriples(loadVertex(in[i]), loadVertex(in[i + 1]), loadVertex(in[i + 2]), loadVertex(in[i + 3]), r0, r1,
                    r2);
        storeHalves<Store::Unaligned>(r0, r1, r2, positions + 3 * i, normals + 3 * i);
    }
    stageRecords(in + i, count - i, positions + 3 * i, normals + 3 * i);
}

}  // namespace fyrel

#endif  // FYREL_X86
