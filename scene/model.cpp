#include "scene/model.h"

#include <cmath>

namespace fyrel {

Model::Model(const Model& other)
{
    copyFrom(other);
}

Model& Model::operator=(const Model& other)
{
    if (this != &other) {
        buffers.reset();
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

void Model::moveFrom(Model& other)
{
    material = std::move(other.material);
    materials = std::move(other.materials);
    vertices = std::move(other.vertices);
    texCoords = std::move(other.texCoords);
    triangles = std::move(other.triangles);
    rootBone = std::move(other.rootBone);
    animator.current = other.animator.current;
    animator.animations = std::move(other.animator.animations);
    animator.time = other.animator.time;
    animator.rate = other.animator.rate;
    baseTransform = other.baseTransform;
    position = other.position;
    orientation = other.orientation;
    animator.bind(this);
    other.animator.bind(&other);  // its keys named bones that are ours now
}

void Model::copyFrom(const Model& other)
{
    material = other.material;
    materials = other.materials;
    vertices = other.vertices;
    texCoords = other.texCoords;
    triangles = other.triangles;
    rootBone = other.rootBone;
    animator.current = other.animator.current;
    animator.animations = other.animator.animations;
    animator.time = other.animator.time;
    animator.rate = other.animator.rate;
    baseTransform = other.baseTransform;
    position = other.position;
    orientation = other.orientation;
    animator.bind(this);
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
