#include "scene/model.h"

#include <cmath>
#include <utility>

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

void Model::computeNormals()
{
    for (Vertex& v : vertices) {
        v.normal = Vector3{};
    }
    const std::size_t count = vertices.size();
    for (Triangle& t : triangles) {
        if (t.indices[0] >= count || t.indices[1] >= count || t.indices[2] >= count) {
            t.normal = Vector3{};
            continue;
        }
        const Vector3& p0 = vertices[t.indices[0]].position;
        const Vector3& p1 = vertices[t.indices[1]].position;
        const Vector3& p2 = vertices[t.indices[2]].position;
        Vector3 a, b, n;
        difference(p0, p1, a);
        difference(p2, p1, b);
        cross(a, b, n);
        normalize(n, t.normal);
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
