#include "scene/model.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>

namespace fyrel {

// ---- Bone -------------------------------------------------------------------

Bone* Bone::find(const std::string& boneName)
{
    if (name == boneName) {
        return this;
    }
    for (Bone& child : children) {
        if (Bone* hit = child.find(boneName)) {
            return hit;
        }
    }
    return nullptr;
}

const Bone* Bone::find(const std::string& boneName) const
{
    return const_cast<Bone*>(this)->find(boneName);
}

void Bone::addChild(const Bone& bone)
{
    children.push_back(bone);
}

void Bone::addWeight(std::int32_t vertex, float weight)
{
    weights.push_back(VertexWeight{vertex, weight});
}

// ---- Animation and Animator -------------------------------------------------

void Animation::addKey(const KeyFrame& key)
{
    if (key.time > length) {
        length = key.time;
    }
    for (std::vector<KeyFrame>& track : tracks) {
        if (track.front().bone != key.bone) {
            continue;
        }
        auto later = std::find_if(track.begin(), track.end(),
                                  [&](const KeyFrame& k) { return k.time > key.time; });
        track.insert(later, key);
        return;
    }
    tracks.push_back(std::vector<KeyFrame>{key});
}

void Animation::recordPose(float keyTime, Bone* bone)
{
    if (!bone) {
        if (!model) {
            return;
        }
        bone = &model->rootBone;
    }
    KeyFrame key;
    key.time = keyTime;
    key.bone = bone;
    key.boneName = bone->name;
    key.rotation = bone->rotation;
    key.translation = bone->translation;
    addKey(key);
    for (Bone& child : bone->children) {
        recordPose(keyTime, &child);
    }
}

namespace {

// Every bone by name, the first in depth-first order winning, as Bone::find
// would answer: one walk instead of one search per key.
void indexBones(Bone& bone, std::unordered_map<std::string_view, Bone*>& byName)
{
    byName.emplace(bone.name, &bone);
    for (Bone& child : bone.children) {
        indexBones(child, byName);
    }
}

}  // namespace

void Animator::bind(Model* owner)
{
    model = owner;
    std::unordered_map<std::string_view, Bone*> byName;
    if (owner) {
        indexBones(owner->rootBone, byName);
    }
    for (Animation& animation : animations) {
        animation.model = owner;
        for (std::vector<KeyFrame>& track : animation.tracks) {
            for (KeyFrame& key : track) {
                const auto hit = byName.find(key.boneName);
                key.bone = hit != byName.end() ? hit->second : nullptr;
            }
        }
    }
}

// ---- Model --------------------------------------------------------------------

Model::Model(const Model& other)
{
    copyFrom(other);
}

Model& Model::operator=(const Model& other)
{
    if (this != &other) {
        releaseBuffers();
        skinnedVertices.clear();
        skinnedPositions.clear();
        skinnedNormals.clear();
        copyFrom(other);
    }
    return *this;
}

Model::~Model()
{
    releaseBuffers();
}

void Model::copyFrom(const Model& other)
{
    material = other.material;
    vertices = other.vertices;
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

void Model::releaseBuffers()
{
    if (bufferFunctions) {
        bufferFunctions->deleteBuffers(3, bufferNames);
        bufferFunctions = nullptr;
        bufferNames[0] = bufferNames[1] = bufferNames[2] = 0;
    }
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

void Model::createBuffers(const GlFunctions* table)
{
    if (!table || !hasBufferFunctions(*table)) {
        return;
    }
    releaseBuffers();
    bufferFunctions = table;
    table->genBuffers(3, bufferNames);

    const std::size_t count = vertices.size();
    skinnedPositions.assign(3 * count, 0.0f);
    skinnedNormals.assign(3 * count, 0.0f);
    for (std::size_t i = 0; i < count; ++i) {
        const Vertex& v = vertices[i];
        skinnedPositions[3 * i + 0] = v.position.x;
        skinnedPositions[3 * i + 1] = v.position.y;
        skinnedPositions[3 * i + 2] = v.position.z;
        skinnedNormals[3 * i + 0] = v.normal.x;
        skinnedNormals[3 * i + 1] = v.normal.y;
        skinnedNormals[3 * i + 2] = v.normal.z;
    }
    std::vector<std::uint32_t> indices;
    indices.reserve(3 * triangles.size());
    for (const Triangle& t : triangles) {
        indices.insert(indices.end(), std::begin(t.indices), std::end(t.indices));
    }

    const auto bytes = static_cast<GlSizeiptr>(count * 12);
    table->bindBuffer(kGlArrayBuffer, bufferNames[0]);
    table->bufferData(kGlArrayBuffer, bytes, skinnedPositions.data(), kGlStreamDraw);
    table->bindBuffer(kGlArrayBuffer, bufferNames[1]);
    table->bufferData(kGlArrayBuffer, bytes, skinnedNormals.data(), kGlStreamDraw);
    table->bindBuffer(kGlElementArrayBuffer, bufferNames[2]);
    table->bufferData(kGlElementArrayBuffer, static_cast<GlSizeiptr>(triangles.size() * 12), indices.data(),
                      kGlStaticDraw);
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

}  // namespace fyrel
