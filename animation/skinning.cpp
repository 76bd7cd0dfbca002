#include "animation/skinning.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scene/model.h"

#if defined(__x86_64__)
#define FYREL_X86 1
#include <immintrin.h>
#endif

namespace fyrel {

// The kernels read and write vertices as six consecutive floats.
static_assert(sizeof(Vector3) == 3 * sizeof(float) && sizeof(Vertex) == 6 * sizeof(float));
static_assert(offsetof(Vertex, normal) == sizeof(Vector3));

void writePaletteSlot(const Matrix4& s, float* slot)
{
    for (int c = 0; c < 4; ++c) {
        float* column = slot + 8 * c;
        for (int r = 0; r < 3; ++r) {
            column[r] = s(r, c);
            column[4 + r] = c < 3 ? -s(r, c) : 0.0f;
        }
        column[3] = 0.0f;
        column[7] = 0.0f;
    }
}

// ---- The per-vertex form -------------------------------------------------------

namespace {

void collectSources(const Bone& bone, std::vector<SkinSource>& sources)
{
    sources.push_back(SkinSource{bone.weights.data(), bone.weights.size()});
    for (const Bone& child : bone.children) {
        collectSources(child, sources);
    }
}

bool inRange(std::int32_t vertex, std::size_t count)
{
    return vertex >= 0 && static_cast<std::size_t>(vertex) < count;
}

}  // namespace

void buildSkin(SkinCache& cache, const Bone& root, std::size_t vertexCount)
{
    cache.sources.clear();
    collectSources(root, cache.sources);
    // Palette slots are addressed by 32-bit float offsets: far more bones
    // than any model can hold in memory.
    assert(cache.sources.size() <= UINT32_MAX / kPaletteFloats);
    cache.vertexCount = vertexCount;

    // Influences per vertex, then their places: the bones are visited in the
    // order of the walk, so each vertex lists them in the order they apply.
    std::vector<std::size_t> next(vertexCount + 1, 0);
    cache.anyWeights = false;
    for (const SkinSource& source : cache.sources) {
        cache.anyWeights = cache.anyWeights || source.size > 0;
        for (std::size_t j = 0; j < source.size; ++j) {
            const std::int32_t v = source.weights[j].vertex;
            if (inRange(v, vertexCount)) {
                ++next[static_cast<std::size_t>(v) + 1];
            }
        }
    }
    cache.runs.clear();
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const auto k = static_cast<std::uint32_t>(next[v + 1]);
        if (cache.runs.empty() || cache.runs.back().influences != k) {
            cache.runs.push_back(SkinRun{v, 0, k});
        }
        ++cache.runs.back().count;
        next[v + 1] += next[v];
    }
    cache.influences.assign(next[vertexCount], SkinInfluence{});
    for (std::size_t b = 0; b < cache.sources.size(); ++b) {
        const SkinSource& source = cache.sources[b];
        for (std::size_t j = 0; j < source.size; ++j) {
            const VertexWeight& w = source.weights[j];
            if (inRange(w.vertex, vertexCount)) {
                cache.influences[next[static_cast<std::size_t>(w.vertex)]++] =
                    SkinInfluence{static_cast<std::uint32_t>(b * kPaletteFloats), w.weight};
            }
        }
    }

    // The palette starts on 32 bytes so that a slot's columns load aligned.
    cache.paletteStore.assign(cache.sources.size() * kPaletteFloats + 8, 0.0f);
    const auto address = reinterpret_cast<std::uintptr_t>(cache.paletteStore.data());
    cache.paletteOffset = ((32 - address % 32) % 32) / sizeof(float);
    cache.built = true;
}

// ---- Kernels ---------------------------------------------------------------------

namespace {

using SkinFunction = void (*)(const SkinCache&, const Vertex*, std::size_t, Vertex*);
using StageFunction = void (*)(const Vertex*, std::size_t, float*, float*);

void skinPortable(const SkinCache& cache, const Vertex* in, std::size_t, Vertex* out)
{
    const float* palette = cache.paletteStore.data() + cache.paletteOffset;
    const SkinInfluence* f = cache.influences.data();
    for (const SkinRun& run : cache.runs) {
        const std::size_t end = run.first + run.count;
        for (std::size_t i = run.first; i < end; ++i) {
            const Vector3& p = in[i].position;
            const Vector3& n = in[i].normal;
            float acc[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
            for (std::uint32_t t = 0; t < run.influences; ++t, ++f) {
                const float* s = palette + f->slot;
                const float w = f->weight;
                for (int r = 0; r < 3; ++r) {
                    const float pr = s[r] * p.x + s[8 + r] * p.y + s[16 + r] * p.z + s[24 + r];
                    acc[r] = acc[r] + w * pr;
                }
                for (int r = 0; r < 3; ++r) {
                    const float nr = s[r] * n.x + s[8 + r] * n.y + s[16 + r] * n.z;
                    acc[3 + r] = acc[3 + r] - w * nr;
                }
            }
            out[i].position = Vector3{acc[0], acc[1], acc[2]};
            out[i].normal = Vector3{acc[3], acc[4], acc[5]};
        }
    }
}

void stagePortable(const Vertex* in, std::size_t count, float* positions, float* normals)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(positions + 3 * i, &in[i].position, sizeof(Vector3));
        std::memcpy(normals + 3 * i, &in[i].normal, sizeof(Vector3));
    }
}

#ifdef FYREL_X86

// ---- SSE2: the position and the normal in one 4-lane register each (rows
// 0-2, lane 3 unused). A vertex's 16-byte stores spill one float into the
// next vertex, which is written afterwards; the model's last vertex is
// stored exactly.

inline __m128 sseRows(const float* s, __m128 x, __m128 y, __m128 z)
{
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_load_ps(s), x), _mm_mul_ps(_mm_load_ps(s + 8), y)),
                      _mm_mul_ps(_mm_load_ps(s + 16), z));
}

template <int K>
inline void sseVertex(const float* palette, const SkinInfluence* f, std::uint32_t k, const Vertex& v,
                      __m128& accP, __m128& accN)
{
    const __m128 a = _mm_loadu_ps(&v.position.x);  // px py pz nx
    const __m128 b = _mm_loadu_ps(&v.position.z);  // pz nx ny nz
    const __m128 px = _mm_shuffle_ps(a, a, 0x00), py = _mm_shuffle_ps(a, a, 0x55), pz = _mm_shuffle_ps(a, a, 0xAA);
    const __m128 nx = _mm_shuffle_ps(b, b, 0x55), ny = _mm_shuffle_ps(b, b, 0xAA), nz = _mm_shuffle_ps(b, b, 0xFF);
    accP = _mm_setzero_ps();
    accN = _mm_setzero_ps();
    const std::uint32_t count = K > 0 ? static_cast<std::uint32_t>(K) : k;
    for (std::uint32_t t = 0; t < count; ++t) {
        const float* s = palette + f[t].slot;
        const __m128 w = _mm_set1_ps(f[t].weight);
        const __m128 p = _mm_add_ps(sseRows(s, px, py, pz), _mm_load_ps(s + 24));
        const __m128 n = sseRows(s, nx, ny, nz);
        accP = _mm_add_ps(accP, _mm_mul_ps(w, p));
        accN = _mm_sub_ps(accN, _mm_mul_ps(w, n));
    }
}

template <int K>
void sseRun(const float* palette, const SkinInfluence*& f, const SkinRun& run, std::size_t wideEnd,
            const Vertex* in, Vertex* out)
{
    const std::size_t end = run.first + run.count;
    const std::uint32_t k = run.influences;
    std::size_t i = run.first;
    for (; i < std::min(end, wideEnd); ++i, f += k) {
        __m128 p, n;
        sseVertex<K>(palette, f, k, in[i], p, n);
        float* o = &out[i].position.x;
        _mm_storeu_ps(o, p);
        _mm_storeu_ps(o + 3, n);
    }
    for (; i < end; ++i, f += k) {
        __m128 p, n;
        sseVertex<K>(palette, f, k, in[i], p, n);
        float buffer[8];
        _mm_storeu_ps(buffer, p);
        _mm_storeu_ps(buffer + 4, n);
        out[i].position = Vector3{buffer[0], buffer[1], buffer[2]};
        out[i].normal = Vector3{buffer[4], buffer[5], buffer[6]};
    }
}

void skinSse2(const SkinCache& cache, const Vertex* in, std::size_t count, Vertex* out)
{
    const float* palette = cache.paletteStore.data() + cache.paletteOffset;
    const SkinInfluence* f = cache.influences.data();
    const std::size_t wideEnd = count - 1;
    for (const SkinRun& run : cache.runs) {
        switch (run.influences) {
        case 0: std::fill(out + run.first, out + run.first + run.count, Vertex{}); break;
        case 1: sseRun<1>(palette, f, run, wideEnd, in, out); break;
        case 2: sseRun<2>(palette, f, run, wideEnd, in, out); break;
        case 3: sseRun<3>(palette, f, run, wideEnd, in, out); break;
        case 4: sseRun<4>(palette, f, run, wideEnd, in, out); break;
        default: sseRun<0>(palette, f, run, wideEnd, in, out); break;
        }
    }
}

// Four records (24 floats in six registers) at a time into three 16-byte
// parts of each staging array; the tail one by one.
void stageSse2(const Vertex* in, std::size_t count, float* positions, float* normals)
{
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const float* v = &in[i].position.x;
        // a = p0 p0 p0 n0 | b = n0 n0 p1 p1 | c = p1 n1 n1 n1, then d, e, g
        // the same for records 2 and 3.
        const __m128 a = _mm_loadu_ps(v), b = _mm_loadu_ps(v + 4), c = _mm_loadu_ps(v + 8);
        const __m128 d = _mm_loadu_ps(v + 12), e = _mm_loadu_ps(v + 16), g = _mm_loadu_ps(v + 20);
        float* p = positions + 3 * i;
        float* n = normals + 3 * i;
        _mm_storeu_ps(p, _mm_shuffle_ps(a, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 2, 2, 2)), _MM_SHUFFLE(2, 0, 1, 0)));
        _mm_storeu_ps(p + 4, _mm_shuffle_ps(_mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 0, 3, 3)), d, _MM_SHUFFLE(1, 0, 2, 0)));
        _mm_storeu_ps(p + 8, _mm_shuffle_ps(_mm_shuffle_ps(d, e, _MM_SHUFFLE(2, 2, 2, 2)),
                                            _mm_shuffle_ps(e, g, _MM_SHUFFLE(0, 0, 3, 3)), _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(n, _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 3, 3)),
                                        _mm_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 1, 1)), _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(n + 4, _mm_shuffle_ps(c, _mm_shuffle_ps(d, e, _MM_SHUFFLE(0, 0, 3, 3)), _MM_SHUFFLE(2, 0, 3, 2)));
        _mm_storeu_ps(n + 8, _mm_shuffle_ps(_mm_shuffle_ps(e, g, _MM_SHUFFLE(1, 1, 1, 1)), g, _MM_SHUFFLE(3, 2, 2, 0)));
    }
    stagePortable(in + i, count - i, positions + 3 * i, normals + 3 * i);
}

// ---- AVX2: one 8-lane register per vertex holds rows 0-2 of the position
// and, in the upper half, rows 0-2 of the normal, formed with the negated
// columns of S. Negation is exact: (−a)·b = −(a·b) and (−a) + (−b) =
// −(a + b), except that an exact cancellation gives +0 where the negated sum
// is −0; the translation column adds +0 to the normal rows, which can also
// turn −0 into +0. So acc + w·n′ equals acc − w·n whenever n is not zero,
// and when it is, both leave acc as it was: a sum that starts from +0 never
// becomes −0, and adding ±0 to a nonzero value or to +0 changes nothing.

#define FYREL_AVX2 __attribute__((target("avx2")))

// v holds the position in the low half and the normal in the high half,
// (x y z _ | x y z _).
template <int K>
FYREL_AVX2 inline __m256 avxVertex(const float* palette, const SkinInfluence* f, std::uint32_t k, __m256 v)
{
    const __m256 x = _mm256_permute_ps(v, 0x00);
    const __m256 y = _mm256_permute_ps(v, 0x55);
    const __m256 z = _mm256_permute_ps(v, 0xAA);
    __m256 acc = _mm256_setzero_ps();
    const std::uint32_t count = K > 0 ? static_cast<std::uint32_t>(K) : k;
    for (std::uint32_t t = 0; t < count; ++t) {
        const float* s = palette + f[t].slot;
        const __m256 r = _mm256_add_ps(
            _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_load_ps(s), x), _mm256_mul_ps(_mm256_load_ps(s + 8), y)),
                          _mm256_mul_ps(_mm256_load_ps(s + 16), z)),
            _mm256_load_ps(s + 24));
        acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_set1_ps(f[t].weight), r));
    }
    return acc;
}

// A vertex as (position, normal.x | normal, next float): reads 4 bytes past
// the vertex.
FYREL_AVX2 inline __m256 loadVertex(const Vertex& v)
{
    return _mm256_loadu2_m128(&v.normal.x, &v.position.x);
}

// Packs rows 0-2 of four registers into three, in each 128-bit half:
// (a b c _)(d e f _)(g h i _)(j k l _) → (a b c d)(e f g h)(i j k l).
FYREL_AVX2 inline void packTriples(__m256 q0, __m256 q1, __m256 q2, __m256 q3, __m256& r0, __m256& r1, __m256& r2)
{
    r0 = _mm256_blend_ps(q0, _mm256_shuffle_ps(q1, q1, 0x00), 0x88);
    r1 = _mm256_shuffle_ps(q1, q2, _MM_SHUFFLE(1, 0, 2, 1));
    r2 = _mm256_shuffle_ps(_mm256_shuffle_ps(q2, q3, _MM_SHUFFLE(0, 0, 2, 2)), q3, _MM_SHUFFLE(2, 1, 2, 0));
}

// Stores the halves of three registers: low halves at lo, high halves at hi.
FYREL_AVX2 inline void storeHalves(__m256 r0, __m256 r1, __m256 r2, float* lo, float* hi)
{
    _mm_storeu_ps(lo, _mm256_castps256_ps128(r0));
    _mm_storeu_ps(lo + 4, _mm256_castps256_ps128(r1));
    _mm_storeu_ps(lo + 8, _mm256_castps256_ps128(r2));
    _mm_storeu_ps(hi, _mm256_extractf128_ps(r0, 1));
    _mm_storeu_ps(hi + 4, _mm256_extractf128_ps(r1, 1));
    _mm_storeu_ps(hi + 8, _mm256_extractf128_ps(r2, 1));
}

// Four vertices from i on, i a multiple of 4: the four records are stored in
// whole 16-byte parts, aligned when the array is, none spilling further.
template <int K>
FYREL_AVX2 inline void avxGroup(const float* palette, const SkinInfluence* f, std::uint32_t k, std::size_t i,
                                const Vertex* in, Vertex* out)
{
    const std::size_t step = K > 0 ? static_cast<std::size_t>(K) : k;
    const __m256 a0 = avxVertex<K>(palette, f, k, loadVertex(in[i]));
    const __m256 a1 = avxVertex<K>(palette, f + step, k, loadVertex(in[i + 1]));
    const __m256 a2 = avxVertex<K>(palette, f + 2 * step, k, loadVertex(in[i + 2]));
    const __m256 a3 = avxVertex<K>(palette, f + 3 * step, k, loadVertex(in[i + 3]));
    // Position, normal, position, normal: vertices 0 and 1 in the low halves,
    // 2 and 3 in the high halves.
    __m256 r0, r1, r2;
    packTriples(_mm256_permute2f128_ps(a0, a2, 0x20), _mm256_permute2f128_ps(a0, a2, 0x31),
                _mm256_permute2f128_ps(a1, a3, 0x20), _mm256_permute2f128_ps(a1, a3, 0x31), r0, r1, r2);
    float* o = &out[i].position.x;
    storeHalves(r0, r1, r2, o, o + 12);
}

// One vertex. Reads two floats of the next vertex and writes two junk floats
// into it; the next vertex is written later.
template <int K>
FYREL_AVX2 inline void avxSingle(const float* palette, const SkinInfluence* f, std::uint32_t k, std::size_t i,
                                 const Vertex* in, Vertex* out)
{
    const __m256 acc = avxVertex<K>(palette, f, k, loadVertex(in[i]));
    _mm256_storeu_ps(&out[i].position.x, _mm256_permutevar8x32_ps(acc, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7)));
}

// The last vertex of the model: read and written exactly.
template <int K>
FYREL_AVX2 void avxLast(const float* palette, const SkinInfluence* f, std::uint32_t k, std::size_t i,
                        const Vertex* in, Vertex* out)
{
    float buffer[8] = {};
    std::memcpy(buffer, &in[i].position, sizeof(Vector3));
    std::memcpy(buffer + 4, &in[i].normal, sizeof(Vector3));
    const __m256 acc = avxVertex<K>(palette, f, k, _mm256_loadu_ps(buffer));
    _mm256_storeu_ps(buffer, acc);
    out[i].position = Vector3{buffer[0], buffer[1], buffer[2]};
    out[i].normal = Vector3{buffer[4], buffer[5], buffer[6]};
}

// The vertices of a run in ascending order: singles up to a multiple of 4,
// groups of 4, singles for the rest, and the model's last vertex exactly.
template <int K>
FYREL_AVX2 void avxRun(const float* palette, const SkinInfluence*& f, const SkinRun& run, std::size_t wideEnd,
                       const Vertex* in, Vertex* out)
{
    const std::size_t end = run.first + run.count;
    const std::uint32_t k = run.influences;
    const std::size_t wide = std::min(end, wideEnd);
    std::size_t i = run.first;
    for (; i < wide && i % 4 != 0; ++i, f += k) {
        avxSingle<K>(palette, f, k, i, in, out);
    }
    for (; i + 4 <= wide; i += 4, f += 4 * k) {
        avxGroup<K>(palette, f, k, i, in, out);
    }
    for (; i < wide; ++i, f += k) {
        avxSingle<K>(palette, f, k, i, in, out);
    }
    for (; i < end; ++i, f += k) {
        avxLast<K>(palette, f, k, i, in, out);
    }
}

FYREL_AVX2 void skinAvx2(const SkinCache& cache, const Vertex* in, std::size_t count, Vertex* out)
{
    const float* palette = cache.paletteStore.data() + cache.paletteOffset;
    const SkinInfluence* f = cache.influences.data();
    const std::size_t wideEnd = count - 1;
    for (const SkinRun& run : cache.runs) {
        switch (run.influences) {
        case 0: std::fill(out + run.first, out + run.first + run.count, Vertex{}); break;
        case 1: avxRun<1>(palette, f, run, wideEnd, in, out); break;
        case 2: avxRun<2>(palette, f, run, wideEnd, in, out); break;
        case 3: avxRun<3>(palette, f, run, wideEnd, in, out); break;
        case 4: avxRun<4>(palette, f, run, wideEnd, in, out); break;
        default: avxRun<0>(palette, f, run, wideEnd, in, out); break;
        }
    }
}

// Four records at a time, each loaded as (position _ | normal _) and packed
// into three 16-byte parts of each staging array.
FYREL_AVX2 void stageAvx2(const Vertex* in, std::size_t count, float* positions, float* normals)
{
    std::size_t i = 0;
    for (; i + 5 <= count; i += 4) {  // the loads read 4 bytes past the fourth record
        __m256 r0, r1, r2;
        packTriples(loadVertex(in[i]), loadVertex(in[i + 1]), loadVertex(in[i + 2]), loadVertex(in[i + 3]), r0, r1,
                    r2);
        storeHalves(r0, r1, r2, positions + 3 * i, normals + 3 * i);
    }
    stagePortable(in + i, count - i, positions + 3 * i, normals + 3 * i);
}

#endif  // FYREL_X86

SkinFunction skinFunction(SkinKernel kernel)
{
    switch (kernel) {
#ifdef FYREL_X86
    case SkinKernel::Avx2: return skinAvx2;
    case SkinKernel::Sse2: return skinSse2;
#endif
    default: return skinPortable;
    }
}

StageFunction stageFunction(SkinKernel kernel)
{
    switch (kernel) {
#ifdef FYREL_X86
    case SkinKernel::Avx2: return stageAvx2;
    case SkinKernel::Sse2: return stageSse2;
#endif
    default: return stagePortable;
    }
}

SkinKernel widestKernel()
{
#ifdef FYREL_X86
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? SkinKernel::Avx2 : SkinKernel::Sse2;
#else
    return SkinKernel::Portable;
#endif
}

SkinKernel& chosenKernel()
{
    static SkinKernel kernel = widestKernel();
    return kernel;
}

}  // namespace

bool skinKernelAvailable(SkinKernel kernel)
{
    switch (kernel) {
    case SkinKernel::Portable: return true;
    case SkinKernel::Sse2: return widestKernel() != SkinKernel::Portable;
    case SkinKernel::Avx2: return widestKernel() == SkinKernel::Avx2;
    }
    return false;
}

SkinKernel activeSkinKernel()
{
    return chosenKernel();
}

void useSkinKernel(SkinKernel kernel)
{
    if (skinKernelAvailable(kernel)) {
        chosenKernel() = kernel;
    }
}

void skinVertices(const SkinCache& cache, const Vertex* in, std::size_t vertexCount, Vertex* out)
{
    if (vertexCount > 0) {
        skinFunction(chosenKernel())(cache, in, vertexCount, out);
    }
}

void stageVertices(const Vertex* in, std::size_t count, float* positions, float* normals)
{
    stageFunction(chosenKernel())(in, count, positions, normals);
}

}  // namespace fyrel
