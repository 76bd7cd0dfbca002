#include "animation/skinning.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "animation/skinning_kernels.h"
#include "math/simd.h"
#include "scene/model.h"

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

// Whether a vertex's weights may drop the last one: it is 1 minus the
// others as the kernels subtract them (nearly enough that the skinned
// vertex moves by at most a unit in the last place of its magnitude), or,
// alone, exactly 1.
bool lastImplied(const float* weights, std::uint32_t k)
{
    if (k == 0) {
        return false;
    }
    if (k == 1) {
        return weights[0] == 1.0f;
    }
    float rest = 1.0f;
    for (std::uint32_t t = 0; t + 1 < k; ++t) {
        rest -= weights[t];
    }
    return std::fabs(rest - weights[k - 1]) <= std::numeric_limits<float>::epsilon();
}

// A run of fewer vertices than this that could drop its last weights keeps
// them instead, when that joins it to its neighbours: a kernel call per
// handful of vertices costs more than the bytes save.
constexpr std::size_t kShortestImpliedRun = 16;

// Runs of equal influence count and weight form from each vertex's count and
// whether it may imply its last weight.
std::vector<SkinRun> formRuns(const std::vector<std::size_t>& starts, const std::vector<float>& weights)
{
    std::vector<SkinRun> runs;
    const std::size_t vertexCount = starts.size() - 1;
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const auto k = static_cast<std::uint32_t>(starts[v + 1] - starts[v]);
        const bool implied = lastImplied(weights.data() + starts[v], k);
        if (runs.empty() || runs.back().influences != k || runs.back().impliedLast != implied) {
            runs.push_back(SkinRun{v, 0, k, implied, 0, 0});
        }
        ++runs.back().count;
    }
    std::vector<SkinRun> merged;
    for (SkinRun run : runs) {
        if (run.impliedLast && run.count < kShortestImpliedRun && run.influences > 1) {
            run.impliedLast = false;
        }
        if (!merged.empty() && merged.back().influences == run.influences &&
            merged.back().impliedLast == run.impliedLast) {
            merged.back().count += run.count;
        } else {
            merged.push_back(run);
        }
    }
    return merged;
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
    for (std::size_t v = 0; v < vertexCount; ++v) {
        next[v + 1] += next[v];
    }
    const std::vector<std::size_t> starts = next;
    std::vector<std::uint32_t> bones(next[vertexCount]);
    std::vector<float> weights(next[vertexCount]);
    for (std::size_t b = 0; b < cache.sources.size(); ++b) {
        const SkinSource& source = cache.sources[b];
        for (std::size_t j = 0; j < source.size; ++j) {
            const VertexWeight& w = source.weights[j];
            if (inRange(w.vertex, vertexCount)) {
                const std::size_t at = next[static_cast<std::size_t>(w.vertex)]++;
                bones[at] = static_cast<std::uint32_t>(b);
                weights[at] = w.weight;
            }
        }
    }

    // Each run's bones and the weights it keeps, in vertex order.
    cache.runs = formRuns(starts, weights);
    const bool wide = wideBones(cache);
    cache.boneSlots.clear();
    cache.wideBoneSlots.clear();
    cache.boneWeights.clear();
    for (SkinRun& run : cache.runs) {
        run.bones = wide ? cache.wideBoneSlots.size() : cache.boneSlots.size();
        run.weights = cache.boneWeights.size();
        for (std::size_t v = run.first; v < run.first + run.count; ++v) {
            for (std::size_t at = starts[v]; at < starts[v + 1]; ++at) {
                const auto slot = static_cast<std::uint32_t>(bones[at] * kPaletteFloats);
                if (wide) {
                    cache.wideBoneSlots.push_back(slot);
                } else {
                    cache.boneSlots.push_back(static_cast<std::uint16_t>(slot));
                }
                if (!run.impliedLast || at + 1 < starts[v + 1]) {
                    cache.boneWeights.push_back(weights[at]);
                }
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

// ---- Four wide, for every backend with an F4: the position and the normal in
// one F4 each (rows 0-2, lane 3 unused), two vertices packed into three F4s
// for the stores.

template <typename F4>
inline F4 fourRows(const float* s, F4 x, F4 y, F4 z)
{
    return F4::loadAligned(s) * x + F4::loadAligned(s + 8) * y + F4::loadAligned(s + 16) * z;
}

// One influence: w·(S·v + t) and −w·(S·n), as the walk forms them (a weight
// of exactly 1 multiplies by nothing: the same bits). Two or more: the
// weighted sum of the influences' matrices first, then one product with the
// position and one with the normal (within a few units in the last place of
// the walk's sum of products, and half the work at four influences).
template <typename F4, int K, bool Implied, typename Index>
inline void fourVertex(const float* palette, InfluenceCursor<Index>& f, std::uint32_t k, const float* v, F4& accP,
                       F4& accN)
{
    const F4 a = F4::load(v);      // px py pz nx
    const F4 b = F4::load(v + 2);  // pz nx ny nz
    const F4 px = lane<0>(a), py = lane<1>(a), pz = lane<2>(a);
    const F4 nx = lane<1>(b), ny = lane<2>(b), nz = lane<3>(b);
    if constexpr (K == 1) {
        const float* s = palette + std::size_t{f.bones[0]};
        ++f.bones;
        if constexpr (Implied) {
            accP = F4::zero() + (fourRows(s, px, py, pz) + F4::loadAligned(s + 24));
            accN = F4::zero() - fourRows(s, nx, ny, nz);
        } else {
            const F4 w = F4::splat(f.weights[0]);
            ++f.weights;
            accP = F4::zero() + w * (fourRows(s, px, py, pz) + F4::loadAligned(s + 24));
            accN = F4::zero() - w * fourRows(s, nx, ny, nz);
        }
    } else {
        const std::uint32_t count = K > 0 ? static_cast<std::uint32_t>(K) : k;
        const float* s = palette + std::size_t{f.bones[0]};
        F4 w = F4::splat(weightAt<Implied>(f.weights, 0, count));
        F4 c0 = w * F4::loadAligned(s), c1 = w * F4::loadAligned(s + 8);
        F4 c2 = w * F4::loadAligned(s + 16), c3 = w * F4::loadAligned(s + 24);
        for (std::uint32_t t = 1; t < count; ++t) {
            s = palette + std::size_t{f.bones[t]};
            w = F4::splat(weightAt<Implied>(f.weights, t, count));
            c0 = c0 + w * F4::loadAligned(s);
            c1 = c1 + w * F4::loadAligned(s + 8);
            c2 = c2 + w * F4::loadAligned(s + 16);
            c3 = c3 + w * F4::loadAligned(s + 24);
        }
        f.bones += count;
        f.weights += Implied ? count - 1 : count;
        accP = c0 * px + c1 * py + c2 * pz + c3;
        accN = F4::zero() - (c0 * nx + c1 * ny + c2 * nz);
    }
}

template <Store How, typename F4>
inline void storeFour(F4 x, float* p)
{
    if constexpr (How == Store::Unaligned) {
        x.store(p);
    } else {
        x.storeAligned(p);
    }
}

// One vertex, read and written exactly.
template <typename F4, int K, bool Implied, typename Index>
inline void fourSingle(const float* palette, InfluenceCursor<Index>& f, std::uint32_t k, const Vertex& in,
                       Vertex& out)
{
    float v[8] = {in.position.x, in.position.y, in.position.z, in.normal.x, in.normal.y, in.normal.z};
    F4 p, n;
    fourVertex<F4, K, Implied>(palette, f, k, v, p, n);
    p.store(v);
    out.position = Vector3{v[0], v[1], v[2]};
    n.store(v);
    out.normal = Vector3{v[0], v[1], v[2]};
}

// Two vertices, the first at o: (p0 n0 p1 n1) rows 0-2 packed into three F4s.
template <typename F4, int K, bool Implied, Store How, typename Index>
inline void fourPair(const float* palette, InfluenceCursor<Index>& f, std::uint32_t k, const float* v, float* o)
{
    F4 p0, n0, p1, n1;
    fourVertex<F4, K, Implied>(palette, f, k, v, p0, n0);
    fourVertex<F4, K, Implied>(palette, f, k, v + 6, p1, n1);
    const F4 r0 = shuffle<0, 1, 0, 2>(p0, shuffle<2, 2, 0, 0>(p0, n0));  // p0x p0y p0z n0x
    const F4 r1 = shuffle<1, 2, 0, 1>(n0, p1);                           // n0y n0z p1x p1y
    const F4 r2 = shuffle<0, 2, 1, 2>(shuffle<2, 2, 0, 0>(p1, n1), n1);  // p1z n1x n1y n1z
    storeFour<How>(r0, o);
    storeFour<How>(r1, o + 4);
    storeFour<How>(r2, o + 8);
}

// The vertices of a run: pairs from an even vertex on (which start on 16
// bytes when out does), single vertices at the ends.
template <typename F4, int K, bool Implied, Store How, typename Index>
[[gnu::flatten]] void fourRun(const float* palette, InfluenceCursor<Index> f, const SkinRun& run, const Vertex* in,
                              Vertex* out)
{
    const std::size_t end = run.first + run.count;
    const std::uint32_t k = run.influences;
    std::size_t i = run.first;
    if (i % 2 != 0 && i < end) {
        fourSingle<F4, K, Implied>(palette, f, k, in[i], out[i]);
        ++i;
    }
    for (; i + 2 <= end; i += 2) {
        fourPair<F4, K, Implied, How>(palette, f, k, &in[i].position.x, &out[i].position.x);
    }
    for (; i < end; ++i) {
        fourSingle<F4, K, Implied>(palette, f, k, in[i], out[i]);
    }
}

template <typename F4, bool Implied, Store How, typename Index>
void fourRunOf(const float* palette, InfluenceCursor<Index> f, const SkinRun& run, const Vertex* in, Vertex* out)
{
    switch (run.influences) {
    case 1: fourRun<F4, 1, Implied, How>(palette, f, run, in, out); break;
    case 2: fourRun<F4, 2, Implied, How>(palette, f, run, in, out); break;
    case 3: fourRun<F4, 3, Implied, How>(palette, f, run, in, out); break;
    case 4: fourRun<F4, 4, Implied, How>(palette, f, run, in, out); break;
    default: fourRun<F4, 0, Implied, How>(palette, f, run, in, out); break;
    }
}

template <typename F4, Store How, typename Index>
void fourRuns(const SkinCache& cache, const Index* bones, const Vertex* in, Vertex* out)
{
    const float* palette = cache.paletteStore.data() + cache.paletteOffset;
    for (const SkinRun& run : cache.runs) {
        const InfluenceCursor<Index> f{bones + run.bones, cache.boneWeights.data() + run.weights};
        if (run.influences == 0) {
            std::fill(out + run.first, out + run.first + run.count, Vertex{});
        } else if (run.impliedLast) {
            fourRunOf<F4, true, How>(palette, f, run, in, out);
        } else {
            fourRunOf<F4, false, How>(palette, f, run, in, out);
        }
    }
}

template <typename F4, Store How>
void skinFourWith(const SkinCache& cache, const Vertex* in, Vertex* out)
{
    if (!wideBones(cache)) {
        fourRuns<F4, How>(cache, cache.boneSlots.data(), in, out);
    } else {
        fourRuns<F4, How>(cache, cache.wideBoneSlots.data(), in, out);
    }
}

template <typename F4>
void skinFour(const SkinCache& cache, const Vertex* in, std::size_t /*count*/, Vertex* out)
{
    if (reinterpret_cast<std::uintptr_t>(out) % 16 != 0) {
        skinFourWith<F4, Store::Unaligned>(cache, in, out);
    } else {
        skinFourWith<F4, Store::Aligned>(cache, in, out);
    }
}

// Four records (24 floats in six F4s) at a time into three four-float parts
// of each staging array; the tail one by one.
template <typename F4>
void stageFour(const Vertex* in, std::size_t count, float* positions, float* normals)
{
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const float* v = &in[i].position.x;
        // a = p0 p0 p0 n0 | b = n0 n0 p1 p1 | c = p1 n1 n1 n1, then d, e, g
        // the same for records 2 and 3.
        const F4 a = F4::load(v), b = F4::load(v + 4), c = F4::load(v + 8);
        const F4 d = F4::load(v + 12), e = F4::load(v + 16), g = F4::load(v + 20);
        float* p = positions + 3 * i;
        float* n = normals + 3 * i;
        shuffle<0, 1, 0, 2>(a, shuffle<2, 2, 2, 2>(a, b)).store(p);
        shuffle<0, 2, 0, 1>(shuffle<3, 3, 0, 0>(b, c), d).store(p + 4);
        shuffle<0, 2, 0, 2>(shuffle<2, 2, 2, 2>(d, e), shuffle<3, 3, 0, 0>(e, g)).store(p + 8);
        shuffle<0, 2, 0, 2>(shuffle<3, 3, 0, 1>(a, b), shuffle<1, 1, 1, 1>(b, c)).store(n);
        shuffle<2, 3, 0, 2>(c, shuffle<3, 3, 0, 0>(d, e)).store(n + 4);
        shuffle<0, 2, 2, 3>(shuffle<1, 1, 1, 1>(e, g), g).store(n + 8);
    }
    stageRecords(in + i, count - i, positions + 3 * i, normals + 3 * i);
}


SkinFunction skinFunction(VectorBackend backend)
{
    switch (backend) {
#if FYREL_X86
    case VectorBackend::Avx2: return skinAvx2;
    case VectorBackend::Sse2: return skinFour<simd::sse2::F4>;
#endif
#if FYREL_NEON
    case VectorBackend::Neon: return skinFour<simd::neon::F4>;
#endif
    default: return skinFour<simd::portable::F4>;
    }
}

StageFunction stageFunction(VectorBackend backend)
{
    switch (backend) {
#if FYREL_X86
    case VectorBackend::Avx2: return stageAvx2;
    case VectorBackend::Sse2: return stageFour<simd::sse2::F4>;
#endif
#if FYREL_NEON
    case VectorBackend::Neon: return stageFour<simd::neon::F4>;
#endif
    default: return stageFour<simd::portable::F4>;
    }
}

}  // namespace

void stageRecords(const Vertex* in, std::size_t count, float* positions, float* normals)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(positions + 3 * i, &in[i].position, sizeof(Vector3));
        std::memcpy(normals + 3 * i, &in[i].normal, sizeof(Vector3));
    }
}

void skinVertices(const SkinCache& cache, const Vertex* in, std::size_t vertexCount, Vertex* out)
{
    if (vertexCount > 0) {
        skinFunction(activeVectorBackend())(cache, in, vertexCount, out);
    }
}

void stageVertices(const Vertex* in, std::size_t count, float* positions, float* normals)
{
    stageFunction(activeVectorBackend())(in, count, positions, normals);
}

}  // namespace fyrel
