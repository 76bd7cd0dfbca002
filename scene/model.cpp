#include "scene/model.h"

#include <cmath>
#include <utility>

#include <immintrin.h>

namespace fyrel {

Model::Model(const Model& other)
{
    copyFrom(other);
}

Model& Model::operator=(const Model& other)
{
    if (this != &other) {
        buffers.reset();
        skin.reset();
        skinnedVertices.clear();
        copyFrom(other);
    }
    return *this;
}

Model::Model(Model&& other)
{
    moveFrom(other);
}

Model& Model::operator=(Model&& other)
{
    if (this != &other) {
        buffers.reset();
        skin.reset();
        skinnedVertices.clear();
        moveFrom(other);
    }
    return *this;
}

namespace {

// Everything a copy or a move carries over, copied or taken as the source
// is an lvalue or an rvalue, then the clips bound to the new owner.
template <typename Source>
void takeContents(Model& to, Source&& from)
{
    to.material = std::forward<Source>(from).material;
    to.materials = std::forward<Source>(from).materials;
    to.vertices = std::forward<Source>(from).vertices;
    to.texCoords = std::forward<Source>(from).texCoords;
    to.triangles = std::forward<Source>(from).triangles;
    to.rootBone = std::forward<Source>(from).rootBone;
    to.animator.current = from.animator.current;
    to.animator.animations = std::forward<Source>(from).animator.animations;
    to.animator.time = from.animator.time;
    to.animator.rate = from.animator.rate;
    to.baseTransform = from.baseTransform;
    to.position = from.position;
    to.orientation = from.orientation;
    to.animator.bind(&to);
}

}  // namespace

void Model::moveFrom(Model& other)
{
    takeContents(*this, std::move(other));
    other.animator.bind(&other);  // its keys named bones that are ours now
}

void Model::copyFrom(const Model& other)
{
    takeContents(*this, other);
}

Matrix4& Model::worldTransform(Matrix4& out) const
{
    Matrix4 t, r, tr;
    translationMatrix(position, t);
    quatToMatrix(orientation, r);
    mul(t, r, tr);
    return mul(tr, baseTransform, out);
}

namespace {

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

// One coordinate of one corner of four triangles.
inline __m128 corner(const Vertex* v, const Triangle* t, int c, float Vector3::*axis)
{
    return _mm_setr_ps(v[t[0].indices[c]].position.*axis, v[t[1].indices[c]].position.*axis,
                       v[t[2].indices[c]].position.*axis, v[t[3].indices[c]].position.*axis);
}

}  // namespace

// Four faces at a time, with the scalar path's operations in its order, so
// the same bits: a square root and three divisions a face are what it
// costs, and those take four lanes as cheaply as one.
void Model::computeFaceNormals()
{
    const std::size_t count = vertices.size();
    const std::size_t n = triangles.size();
    const Vertex* v = vertices.data();
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Triangle* t = triangles.data() + i;
        bool inside = true;
        for (int k = 0; k < 4; ++k) {
            inside = inside && t[k].indices[0] < count && t[k].indices[1] < count && t[k].indices[2] < count;
        }
        if (!inside) {
            for (int k = 0; k < 4; ++k) {
                faceNormal(vertices, t[k]);
            }
            continue;
        }
        const __m128 x1 = corner(v, t, 1, &Vector3::x), y1 = corner(v, t, 1, &Vector3::y),
                     z1 = corner(v, t, 1, &Vector3::z);
        const __m128 ax = _mm_sub_ps(corner(v, t, 0, &Vector3::x), x1);
        const __m128 ay = _mm_sub_ps(corner(v, t, 0, &Vector3::y), y1);
        const __m128 az = _mm_sub_ps(corner(v, t, 0, &Vector3::z), z1);
        const __m128 bx = _mm_sub_ps(corner(v, t, 2, &Vector3::x), x1);
        const __m128 by = _mm_sub_ps(corner(v, t, 2, &Vector3::y), y1);
        const __m128 bz = _mm_sub_ps(corner(v, t, 2, &Vector3::z), z1);
        const __m128 nx = _mm_sub_ps(_mm_mul_ps(ay, bz), _mm_mul_ps(az, by));
        const __m128 ny = _mm_sub_ps(_mm_mul_ps(az, bx), _mm_mul_ps(ax, bz));
        const __m128 nz = _mm_sub_ps(_mm_mul_ps(ax, by), _mm_mul_ps(ay, bx));
        const __m128 len =
            _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, nx), _mm_mul_ps(ny, ny)), _mm_mul_ps(nz, nz)));
        const __m128 nonzero = _mm_cmpneq_ps(len, _mm_setzero_ps());  // a zero vector keeps no direction
        alignas(16) float ox[4], oy[4], oz[4];
        _mm_store_ps(ox, _mm_and_ps(nonzero, _mm_div_ps(nx, len)));
        _mm_store_ps(oy, _mm_and_ps(nonzero, _mm_div_ps(ny, len)));
        _mm_store_ps(oz, _mm_and_ps(nonzero, _mm_div_ps(nz, len)));
        for (int k = 0; k < 4; ++k) {
            t[k].normal = {ox[k], oy[k], oz[k]};
        }
    }
    for (; i < n; ++i) {
        faceNormal(vertices, triangles[i]);
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
