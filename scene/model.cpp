#include "scene/model.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

#include <immintrin.h>

#include "math/store_four.h"

namespace fyrel {

Matrix4& Model::worldTransform(Matrix4& out) const
{
    Matrix4 t, r, tr, l, trl;
    translationMatrix(position, t);
    quatToMatrix(orientation, r);
    mul(t, r, tr);
    translationMatrix(Vector3{0.0f, 0.0f, lift}, l);
    mul(tr, l, trl);
    return mul(trl, baseTransform, out);
}

namespace {

// Floats from one triangle to the next.
constexpr std::size_t kTriangleFloats = sizeof(Triangle) / sizeof(float);
static_assert(sizeof(Triangle) % sizeof(float) == 0);

void faceNormal(const std::vector<Vertex>& vertices, Triangle& t)
{
    const std::size_t count = vertices.size();
    if (t.indices[0] >= count || t.indices[1] >= count || t.indices[2] >= count) {
        t.normal = Vector3{};
        return;
    }
    const Vector3& p0 = vertices[t.indices[0]].position;
    const Vector3& p1 = vertices[t.indices[1]].position;
    const Vector3& p2 = vertices[t.indices[2]].position;
    Vector3 a, b, n;
    difference(p0, p1, a);
    difference(p2, p1, b);
    cross(a, b, n);
    normalize(n, t.normal);
}

// Whether every corner of triangles t … t + n − 1 names one of count vertices.
bool cornersInside(const Triangle* t, int n, std::size_t count)
{
    std::uint32_t largest = 0;
    for (int k = 0; k < n; ++k) {
        largest = std::max({largest, t[k].indices[0], t[k].indices[1], t[k].indices[2]});
    }
    return largest < count;
}

// Corner c of four triangles, one register a coordinate. A position is
// loaded with the float after it, which lies in the same vertex.
inline void corners(const Vertex* v, const Triangle* t, int c, __m128& x, __m128& y, __m128& z)
{
    static_assert(offsetof(Vertex, position) + 4 * sizeof(float) <= sizeof(Vertex));
    __m128 a = _mm_loadu_ps(&v[t[0].indices[c]].position.x);
    __m128 b = _mm_loadu_ps(&v[t[1].indices[c]].position.x);
    __m128 d = _mm_loadu_ps(&v[t[2].indices[c]].position.x);
    __m128 e = _mm_loadu_ps(&v[t[3].indices[c]].position.x);
    _MM_TRANSPOSE4_PS(a, b, d, e);
    x = a, y = b, z = d;
}

// Four faces at a time, with the scalar path's operations in its order, so
// the same bits: a square root and three divisions a face are what it
// costs, and those take four lanes as cheaply as one.
void faceNormalsSse(const std::vector<Vertex>& vertices, Triangle* t, std::size_t n)
{
    const Vertex* v = vertices.data();
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4, t += 4) {
        if (!cornersInside(t, 4, vertices.size())) {
            for (int k = 0; k < 4; ++k) {
                faceNormal(vertices, t[k]);
            }
            continue;
        }
        __m128 x0, y0, z0, x1, y1, z1, x2, y2, z2;
        corners(v, t, 0, x0, y0, z0);
        corners(v, t, 1, x1, y1, z1);
        corners(v, t, 2, x2, y2, z2);
        const __m128 ax = _mm_sub_ps(x0, x1), ay = _mm_sub_ps(y0, y1), az = _mm_sub_ps(z0, z1);
        const __m128 bx = _mm_sub_ps(x2, x1), by = _mm_sub_ps(y2, y1), bz = _mm_sub_ps(z2, z1);
        const __m128 nx = _mm_sub_ps(_mm_mul_ps(ay, bz), _mm_mul_ps(az, by));
        const __m128 ny = _mm_sub_ps(_mm_mul_ps(az, bx), _mm_mul_ps(ax, bz));
        const __m128 nz = _mm_sub_ps(_mm_mul_ps(ax, by), _mm_mul_ps(ay, bx));
        const __m128 len =
            _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, nx), _mm_mul_ps(ny, ny)), _mm_mul_ps(nz, nz)));
        const __m128 nonzero = _mm_cmpneq_ps(len, _mm_setzero_ps());  // a zero vector keeps no direction
        storeFour(_mm_and_ps(nonzero, _mm_div_ps(nx, len)), _mm_and_ps(nonzero, _mm_div_ps(ny, len)),
                  _mm_and_ps(nonzero, _mm_div_ps(nz, len)), &t->normal.x, kTriangleFloats);
    }
    for (; i < n; ++i, ++t) {
        faceNormal(vertices, *t);
    }
}

#define FYREL_AVX2 __attribute__((target("avx2")))

// Corner c of triangles k and k + 4, in the low and high half.
FYREL_AVX2 inline __m256 pair(const Vertex* v, const Triangle* t, int k, int c)
{
    return _mm256_set_m128(_mm_loadu_ps(&v[t[k + 4].indices[c]].position.x),
                           _mm_loadu_ps(&v[t[k].indices[c]].position.x));
}

// Corner c of eight triangles: triangles k and k + 4 share a register,
// whose halves are transposed like four triangles' corners, so lane k
// holds triangle k.
FYREL_AVX2 inline void corners8(const Vertex* v, const Triangle* t, int c, __m256& x, __m256& y, __m256& z)
{
    const __m256 a = pair(v, t, 0, c), b = pair(v, t, 1, c), d = pair(v, t, 2, c), e = pair(v, t, 3, c);
    const __m256 ab0 = _mm256_unpacklo_ps(a, b), ab1 = _mm256_unpackhi_ps(a, b);
    const __m256 de0 = _mm256_unpacklo_ps(d, e), de1 = _mm256_unpackhi_ps(d, e);
    x = _mm256_shuffle_ps(ab0, de0, 0x44);  // each half: a.x b.x d.x e.x
    y = _mm256_shuffle_ps(ab0, de0, 0xEE);
    z = _mm256_shuffle_ps(ab1, de1, 0x44);
}

// The same operations as the four-wide path on eight faces: the lanes of a
// 256-bit division cost little more than those of a 128-bit one. (No FMA:
// a fused multiply-add would round differently.)
FYREL_AVX2 void faceNormalsAvx2(const std::vector<Vertex>& vertices, Triangle* t, std::size_t n)
{
    const Vertex* v = vertices.data();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8, t += 8) {
        if (!cornersInside(t, 8, vertices.size())) {
            for (int k = 0; k < 8; ++k) {
                faceNormal(vertices, t[k]);
            }
            continue;
        }
        __m256 x0, y0, z0, x1, y1, z1, x2, y2, z2;
        corners8(v, t, 0, x0, y0, z0);
        corners8(v, t, 1, x1, y1, z1);
        corners8(v, t, 2, x2, y2, z2);
        const __m256 ax = _mm256_sub_ps(x0, x1), ay = _mm256_sub_ps(y0, y1), az = _mm256_sub_ps(z0, z1);
        const __m256 bx = _mm256_sub_ps(x2, x1), by = _mm256_sub_ps(y2, y1), bz = _mm256_sub_ps(z2, z1);
        const __m256 nx = _mm256_sub_ps(_mm256_mul_ps(ay, bz), _mm256_mul_ps(az, by));
        const __m256 ny = _mm256_sub_ps(_mm256_mul_ps(az, bx), _mm256_mul_ps(ax, bz));
        const __m256 nz = _mm256_sub_ps(_mm256_mul_ps(ax, by), _mm256_mul_ps(ay, bx));
        const __m256 len = _mm256_sqrt_ps(
            _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(nx, nx), _mm256_mul_ps(ny, ny)), _mm256_mul_ps(nz, nz)));
        const __m256 nonzero = _mm256_cmp_ps(len, _mm256_setzero_ps(), _CMP_NEQ_UQ);
        const __m256 ox = _mm256_and_ps(nonzero, _mm256_div_ps(nx, len));
        const __m256 oy = _mm256_and_ps(nonzero, _mm256_div_ps(ny, len));
        const __m256 oz = _mm256_and_ps(nonzero, _mm256_div_ps(nz, len));
        storeFour(_mm256_castps256_ps128(ox), _mm256_castps256_ps128(oy), _mm256_castps256_ps128(oz), &t->normal.x,
                  kTriangleFloats);
        storeFour(_mm256_extractf128_ps(ox, 1), _mm256_extractf128_ps(oy, 1), _mm256_extractf128_ps(oz, 1),
                  &t[4].normal.x, kTriangleFloats);
    }
    faceNormalsSse(vertices, t, n - i);
}

bool hasAvx2()
{
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return avx2;
}

}  // namespace

void Model::computeFaceNormals(std::size_t first, std::size_t last)
{
    const std::size_t n = std::min(last, triangles.size());
    const std::size_t i = std::min(first, n);
    if (hasAvx2()) {
        faceNormalsAvx2(vertices, triangles.data() + i, n - i);
    } else {
        faceNormalsSse(vertices, triangles.data() + i, n - i);
    }
}

void Model::computeNormals()
{
    computeFaceNormals();
    for (Vertex& v : vertices) {
        v.normal = Vector3{};
    }
    const std::size_t count = vertices.size();
    for (const Triangle& t : triangles) {
        if (t.indices[0] >= count || t.indices[1] >= count || t.indices[2] >= count) {
            continue;
        }
        for (std::uint32_t index : t.indices) {
            Vector3& vn = vertices[index].normal;
            vn.x += t.normal.x;
            vn.y += t.normal.y;
            vn.z += t.normal.z;
        }
    }
    for (Vertex& v : vertices) {
        Vector3 n;
        v.normal = normalize(v.normal, n);
    }
}

namespace {

bool anyWeights(const Bone& bone)
{
    if (!bone.weights.empty()) {
        return true;
    }
    for (const Bone& child : bone.children) {
        if (anyWeights(child)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool Model::hasSkin() const
{
    return anyWeights(rootBone);
}

const Material& Model::materialOf(const Triangle& triangle) const
{
    return triangle.material < materials.size() ? materials[triangle.material] : material;
}

}  // namespace fyrel
