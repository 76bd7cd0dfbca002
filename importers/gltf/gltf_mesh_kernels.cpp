#include "importers/gltf/gltf_mesh_kernels.h"

#include <limits>

#include "math/cpu_features.h"

#if FYREL_X86
#include <immintrin.h>

#include "math/store_four.h"
#endif

#if FYREL_X86

namespace fyrel {
namespace {

// Floats from one vertex to the next.
constexpr std::size_t kVertexFloats = sizeof(Vertex) / sizeof(float);
static_assert(sizeof(Vertex) % sizeof(float) == 0);

// Elements i … i + 3 of a view of three floats, one register a coordinate.
struct Four {
    __m128 x, y, z;
};

// Where a view's elements lie, copied out of the caller's view (see the
// counters below).
struct Run {
    const std::uint8_t* first;
    std::size_t stride;
};

inline Vector3 point(const Run& run, std::size_t i)
{
    Vector3 p;
    std::memcpy(&p, run.first + i * run.stride, sizeof p);
    return p;
}

// (Put together in registers: stored as floats and loaded as a vector,
// they would wait for the stores to reach the cache.) Inline, as row() is:
// a call in the loops would cost more than they do.
inline Four gather(const Run& view, std::size_t i)
{
    if (view.stride == 3 * sizeof(float)) {
        // Packed: the four points are the 48 bytes from point i on, read
        // as x0 y0 z0 x1 | y1 z1 x2 y2 | z2 x3 y3 z3 and sorted by axis.
        const float* at = reinterpret_cast<const float*>(view.first + i * view.stride);
        const __m128 a = _mm_loadu_ps(at), b = _mm_loadu_ps(at + 4), c = _mm_loadu_ps(at + 8);
        const __m128 xy23 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 1, 3, 2));  // x2 y2 x3 y3
        const __m128 yz01 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 2, 1));  // y0 z0 y1 z1
        return {_mm_shuffle_ps(a, xy23, _MM_SHUFFLE(2, 0, 3, 0)), _mm_shuffle_ps(yz01, xy23, _MM_SHUFFLE(3, 1, 2, 0)),
                _mm_shuffle_ps(yz01, c, _MM_SHUFFLE(3, 0, 3, 1))};
    }
    const Vector3 a = point(view, i), b = point(view, i + 1), c = point(view, i + 2), d = point(view, i + 3);
    return {_mm_setr_ps(a.x, b.x, c.x, d.x), _mm_setr_ps(a.y, b.y, c.y, d.y), _mm_setr_ps(a.z, b.z, c.z, d.z)};
}

// Row r of m times (x, y, z, w) for four points, the sums in gltfPlace()'s
// order, so the same bits as gltfPlace() gives each alone.
inline __m128 row(const Matrix4& m, int r, const Four& p, __m128 w)
{
    const __m128 xy = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(m(r, 0)), p.x), _mm_mul_ps(_mm_set1_ps(m(r, 1)), p.y));
    return _mm_add_ps(_mm_add_ps(xy, _mm_mul_ps(_mm_set1_ps(m(r, 2)), p.z)), _mm_mul_ps(_mm_set1_ps(m(r, 3)), w));
}

}  // namespace

// The counters the callers pass by reference are counted in locals and
// written back once, and the matrix and the view are read through local
// copies: the stores below may alias anything, so what they read from the
// caller's memory would be stored and loaded again on every turn of the loop.

template <typename T>
std::uint32_t listGltfTriangleFours(const GltfIndexView& indices, std::size_t first, std::size_t count,
                                    std::uint32_t material, Triangle* out, std::size_t triangles, std::size_t& next)
{
    static_assert(offsetof(Triangle, indices) == 0 && sizeof(Triangle) >= 4 * sizeof(std::uint32_t));
    if constexpr (sizeof(T) == 1) {
        return 0;
    } else {
        if (indices.stride != sizeof(T) || count == 0) {
            return 0;
        }
        // Unsigned comparison by signed instructions: both sides moved by 2³¹.
        const __m128i flip = _mm_set1_epi32(INT32_MIN);
        const __m128i last = _mm_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(count - 1) ^ 0x80000000u));
        const __m128i base = _mm_set1_epi32(static_cast<std::int32_t>(first));
        const __m128i corners3 = _mm_setr_epi32(-1, -1, -1, 0);  // the fourth lane is the normal's x
        __m128i beyond = _mm_setzero_si128();
        std::size_t t = next;
        for (; t + 4 <= triangles; t += 4) {
            const std::uint8_t* at = indices.first + 3 * t * sizeof(T);
            __m128i v0, v1, v2;
            if constexpr (sizeof(T) == 2) {
                const __m128i zero = _mm_setzero_si128();
                const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));  // corners 0-7
                const __m128i hi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at + 16));  // 8-11
                v0 = _mm_unpacklo_epi16(lo, zero), v1 = _mm_unpackhi_epi16(lo, zero), v2 = _mm_unpacklo_epi16(hi, zero);
            } else {
                v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
                v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16));
                v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 32));
            }
            for (const __m128i v : {v0, v1, v2}) {
                beyond = _mm_or_si128(beyond, _mm_cmpgt_epi32(_mm_xor_si128(v, flip), last));
            }
            v0 = _mm_add_epi32(v0, base), v1 = _mm_add_epi32(v1, base), v2 = _mm_add_epi32(v2, base);
            const __m128i four[4] = {v0, _mm_or_si128(_mm_srli_si128(v0, 12), _mm_slli_si128(v1, 4)),
                                     _mm_or_si128(_mm_srli_si128(v1, 8), _mm_slli_si128(v2, 8)),
                                     _mm_srli_si128(v2, 4)};
            for (int k = 0; k < 4; ++k) {
                Triangle& tri = out[t + static_cast<std::size_t>(k)];
                _mm_storeu_si128(reinterpret_cast<__m128i*>(&tri), _mm_and_si128(four[k], corners3));
                tri.material = material;
            }
        }
        next = t;
        return _mm_movemask_epi8(beyond) != 0 ? 1u : 0u;
    }
}

bool placeGltfFours(const Matrix4& placement, const GltfFloatView& view, std::size_t count, Vertex* out,
                    std::size_t& next)
{
    const Matrix4 m = placement;
    const Run positions{view.first, view.stride};
    std::size_t i = next;
    const __m128i exponent = _mm_set1_epi32(0x7f800000);
    __m128i infinite = _mm_setzero_si128();
    const __m128 one = _mm_set1_ps(1.0f);
    for (; i + 4 <= count; i += 4) {
        const Four p = gather(positions, i);
        for (const __m128 c : {p.x, p.y, p.z}) {
            const __m128i bits = _mm_and_si128(_mm_castps_si128(c), exponent);
            infinite = _mm_or_si128(infinite, _mm_cmpeq_epi32(bits, exponent));
        }
        storeFour(row(m, 0, p, one), row(m, 1, p, one), row(m, 2, p, one), &out[i].position.x, kVertexFloats);
    }
    next = i;
    return _mm_movemask_epi8(infinite) == 0;
}

void turnGltfFours(const Matrix4& turn, const GltfFloatView& view, std::size_t count, Vertex* out,
                   std::uint8_t* given, std::size_t& next)
{
    const Matrix4 m = turn;
    const Run normals{view.first, view.stride};
    std::size_t n = next;
    const __m128 zero = _mm_setzero_ps();
    const __m128 largest = _mm_set1_ps(std::numeric_limits<float>::max());
    for (; n + 4 <= count; n += 4) {
        const Four file = gather(normals, n);
        const __m128 x = row(m, 0, file, zero), y = row(m, 1, file, zero), z = row(m, 2, file, zero);
        const __m128 length = _mm_sqrt_ps(
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)), _mm_mul_ps(z, z)));
        const __m128 ok = _mm_and_ps(_mm_cmpgt_ps(length, zero), _mm_cmple_ps(length, largest));
        const __m128 scale = _mm_and_ps(ok, _mm_div_ps(_mm_set1_ps(1.0f), length));
        storeFour(_mm_mul_ps(x, scale), _mm_mul_ps(y, scale), _mm_mul_ps(z, scale), &out[n].normal.x, kVertexFloats);
        const int okMask = _mm_movemask_ps(ok);
        for (int k = 0; k < 4; ++k) {
            given[n + static_cast<std::size_t>(k)] = (okMask >> k) & 1;
        }
    }
    next = n;
}

}  // namespace fyrel

#else

namespace fyrel {

// Elsewhere the caller's one-at-a-time steps do every element: the kernels
// take no four and leave their counters where they found them.

template <typename T>
std::uint32_t listGltfTriangleFours(const GltfIndexView&, std::size_t, std::size_t, std::uint32_t, Triangle*,
                                    std::size_t, std::size_t&)
{
    return 0;
}

bool placeGltfFours(const Matrix4&, const GltfFloatView&, std::size_t, Vertex*, std::size_t&)
{
    return true;
}

void turnGltfFours(const Matrix4&, const GltfFloatView&, std::size_t, Vertex*, std::uint8_t*, std::size_t&) {}

}  // namespace fyrel

#endif

namespace fyrel {

template std::uint32_t listGltfTriangleFours<std::uint8_t>(const GltfIndexView&, std::size_t, std::size_t,
                                                           std::uint32_t, Triangle*, std::size_t, std::size_t&);
template std::uint32_t listGltfTriangleFours<std::uint16_t>(const GltfIndexView&, std::size_t, std::size_t,
                                                            std::uint32_t, Triangle*, std::size_t, std::size_t&);
template std::uint32_t listGltfTriangleFours<std::uint32_t>(const GltfIndexView&, std::size_t, std::size_t,
                                                            std::uint32_t, Triangle*, std::size_t, std::size_t&);

}  // namespace fyrel
