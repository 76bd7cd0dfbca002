#include "animation/skinning.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// ---- Four wide, for every backend with an F4: the position and the normal in
// one F4 each (rows 0-2, lane 3 unused). A vertex's four-float stores spill
// one float into the next vertex, which is written afterwards; the model's
// last vertex is stored exactly.

template <typename F4>
inline F4 fourRows(const float* s, F4 x, F4 y, F4 z)
{
    return F4::loadAligned(s) * x + F4::loadAligned(s + 8) * y + F4::loadAligned(s + 16) * z;
}

// One influence: w·(S·v + t) and −w·(S·n), as the walk forms them. Two or
// more: the weighted sum of the influences' matrices first, then one product
// with the position and one with the normal (within a few units in the last
// place of the walk's sum of products, and half the work at four influences).
template <typename F4, int K>
inline void fourVertex(const float* palette, const SkinInfluence* f, std::uint32_t k, const Vertex& v, F4& accP,
                       F4& accN)
{
    const F4 a = F4::load(&v.position.x);  // px py pz nx
    const F4 b = F4::load(&v.position.z);  // pz nx ny nz
    const F4 px = lane<0>(a), py = lane<1>(a), pz = lane<2>(a);
    const F4 nx = lane<1>(b), ny = lane<2>(b), nz = lane<3>(b);
    if constexpr (K == 1) {
        const float* s = palette + f[0].slot;
        const F4 w = F4::splat(f[0].weight);
        accP = F4::zero() + w * (fourRows(s, px, py, pz) + F4::loadAligned(s + 24));
        accN = F4::zero() - w * fourRows(s, nx, ny, nz);
    } else {
        const std::uint32_t count = K > 0 ? static_cast<std::uint32_t>(K) : k;
        const float* s = palette + f[0].slot;
        F4 w = F4::splat(f[0].weight);
        F4 c0 = w * F4::loadAligned(s), c1 = w * F4::loadAligned(s + 8);
        F4 c2 = w * F4::loadAligned(s + 16), c3 = w * F4::loadAligned(s + 24);
        for (std::uint32_t t = 1; t < count; ++t) {
            s = palette + f[t].slot;
            w = F4::splat(f[t].weight);
            c0 = c0 + w * F4::loadAligned(s);
            c1 = c1 + w * F4::loadAligned(s + 8);
            c2 = c2 + w * F4::loadAligned(s + 16);
            c3 = c3 + w * F4::loadAligned(s + 24);
        }
        accP = c0 * px + c1 * py + c2 * pz + c3;
        accN = F4::zero() - (c0 * nx + c1 * ny + c2 * nz);
    }
}

template <typename F4, int K>
void fourRun(const float* palette, const SkinInfluence*& f, const SkinRun& run, std::size_t wideEnd,
             const Vertex* in, Vertex* out)
{
    const std::size_t end = run.first + run.count;
    const std::uint32_t k = run.influences;
    std::size_t i = run.first;
    for (; i < std::min(end, wideEnd); ++i, f += k) {
        F4 p, n;
        fourVertex<F4, K>(palette, f, k, in[i], p, n);
        float* o = &out[i].position.x;
        p.store(o);
        n.store(o + 3);
    }
    for (; i < end; ++i, f += k) {
        F4 p, n;
        fourVertex<F4, K>(palette, f, k, in[i], p, n);
        float buffer[8];
        p.store(buffer);
        n.store(buffer + 4);
        out[i].position = Vector3{buffer[0], buffer[1], buffer[2]};
        out[i].normal = Vector3{buffer[4], buffer[5], buffer[6]};
    }
}

template <typename F4>
void skinFour(const SkinCache& cache, const Vertex* in, std::size_t count, Vertex* out)
{
    const float* palette = cache.paletteStore.data() + cache.paletteOffset;
    const SkinInfluence* f = cache.influences.data();
    const std::size_t wideEnd = count - 1;
    for (const SkinRun& run : cache.runs) {
        switch (run.influences) {
        case 0: std::fill(out + run.first, out + run.first + run.count, Vertex{}); break;
        case 1: fourRun<F4, 1>(palette, f, run, wideEnd, in, out); break;
        case 2: fourRun<F4, 2>(palette, f, run, wideEnd, in, out); break;
        case 3: fourRun<F4, 3>(palette, f, run, wideEnd, in, out); break;
        case 4: fourRun<F4, 4>(palette, f, run, wideEnd, in, out); break;
        default: fourRun<F4, 0>(palette, f, run, wideEnd, in, out); break;
        }
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
