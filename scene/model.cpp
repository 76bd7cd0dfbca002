#include "scene/model.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "math/cpu_features.h"
#include "math/simd.h"
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

void faceNormal(const Vertex* vertices, std::size_t count, Triangle& t)
{
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

// Corner c of W triangles, one F a coordinate. A position is loaded with
// the float after it, which lies in the same vertex.
template <typename F>
[[gnu::always_inline]] inline void corners(const Vertex* v, const Triangle* t, int c, F& x, F& y, F& z)
{
    static_assert(offsetof(Vertex, position) + 4 * sizeof(float) <= sizeof(Vertex));
    constexpr std::size_t width = sizeof(F) / sizeof(float);
    const float* p[width];
    for (std::size_t k = 0; k < width; ++k) {
        p[k] = &v[t[k].indices[c]].position.x;
    }
    columns(p, x, y, z);
}

// W faces at a time, with the one-at-a-time path's operations in its order,
// so the same bits: a square root and three divisions a face are what it
// costs, and those take all lanes as cheaply as one. (No fused
// multiply-add: it would round differently.) Stored four faces at a time.
template <typename F>
[[gnu::always_inline]] inline void faceNormalsWide(const Vertex* v, std::size_t vertexCount, Triangle* t)
{
    constexpr int width = static_cast<int>(sizeof(F) / sizeof(float));
    if (!cornersInside(t, width, vertexCount)) {
        for (int k = 0; k < width; ++k) {
            faceNormal(v, vertexCount, t[k]);
        }
        return;
    }
    F x0, y0, z0, x1, y1, z1, x2, y2, z2;
    corners(v, t, 0, x0, y0, z0);
    corners(v, t, 1, x1, y1, z1);
    corners(v, t, 2, x2, y2, z2);
    const F ax = x0 - x1, ay = y0 - y1, az = z0 - z1;
    const F bx = x2 - x1, by = y2 - y1, bz = z2 - z1;
    const F nx = ay * bz - az * by;
    const F ny = az * bx - ax * bz;
    const F nz = ax * by - ay * bx;
    const F len = sqrt(nx * nx + ny * ny + nz * nz);
    const F nonzero = notEqual(len, F::zero());  // a zero vector keeps no direction
    const F ox = nonzero & (nx / len), oy = nonzero & (ny / len), oz = nonzero & (nz / len);
    if constexpr (width == 4) {
        storeFour(ox, oy, oz, &t->normal.x, kTriangleFloats);
    } else {
        storeFour(low(ox), low(oy), low(oz), &t->normal.x, kTriangleFloats);
        storeFour(high(ox), high(oy), high(oz), &t[4].normal.x, kTriangleFloats);
    }
}

// Faces W at a time, the rest one at a time.
template <typename F>
void faceNormals(const std::vector<Vertex>& vertices, Triangle* t, std::size_t n)
{
    constexpr std::size_t width = sizeof(F) / sizeof(float);
    std::size_t i = 0;
    for (; i + width <= n; i += width, t += width) {
        faceNormalsWide<F>(vertices.data(), vertices.size(), t);
    }
    for (; i < n; ++i, ++t) {
        faceNormal(vertices.data(), vertices.size(), *t);
    }
}

#if FYREL_X86
// Eight faces with AVX2, then four with SSE2 while four remain.
FYREL_TARGET_AVX2 void faceNormalsAvx2(const std::vector<Vertex>& vertices, Triangle* t, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8, t += 8) {
        faceNormalsWide<simd::avx2::F8>(vertices.data(), vertices.size(), t);
    }
    faceNormals<simd::sse2::F4>(vertices, t, n - i);
}
#endif

}  // namespace

void Model::computeFaceNormals(std::size_t first, std::size_t last)
{
    const std::size_t n = std::min(last, triangles.size());
    const std::size_t i = std::min(first, n);
    Triangle* t = triangles.data() + i;
    switch (activeVectorBackend()) {
#if FYREL_X86
    case VectorBackend::Avx2: faceNormalsAvx2(vertices, t, n - i); break;
    case VectorBackend::Sse2: faceNormals<simd::sse2::F4>(vertices, t, n - i); break;
#endif
#if FYREL_NEON
    case VectorBackend::Neon: faceNormals<simd::neon::F4>(vertices, t, n - i); break;
#endif
    default: faceNormals<simd::portable::F4>(vertices, t, n - i); break;
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
