#include "tests/animation/reference_animation.h"

#include <algorithm>
#include <cmath>

namespace fyrel::test {

namespace {

std::size_t firstKeyAtOrAfter(const std::vector<KeyFrame>& track, float t)
{
    for (std::size_t i = 0; i < track.size(); ++i) {
        if (track[i].time >= t) {
            return i;
        }
    }
    return track.size();
}

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

void evaluateBone(Model& model, const Bone* parent, Bone& bone, bool skin)
{
    Matrix4 r, t, lt;
    quatToMatrix(bone.rotation, r);
    scaleColumns(r, bone.scale);
    translationMatrix(bone.translation, t);
    if (parent) {
        Matrix4 pl, plt;
        mul(parent->worldMatrix, bone.localMatrix, pl);
        mul(pl, t, plt);
        mul(plt, r, bone.worldMatrix);
        mul(bone.inverseLocalMatrix, parent->inverseBindMatrix, bone.inverseBindMatrix);
    } else {
        mul(bone.localMatrix, t, lt);
        mul(lt, r, bone.worldMatrix);
        bone.inverseBindMatrix = bone.inverseLocalMatrix;
    }
    Matrix4 s;
    mul(bone.worldMatrix, bone.inverseBindMatrix, s);

    const std::size_t count = model.vertices.size();
    for (const VertexWeight& vw : bone.weights) {
        if (!skin || vw.vertex < 0 || static_cast<std::size_t>(vw.vertex) >= count) {
            continue;
        }
        const Vertex& v = model.vertices[static_cast<std::size_t>(vw.vertex)];
        Vertex& o = model.skinnedVertices[static_cast<std::size_t>(vw.vertex)];
        const float w = vw.weight;
        const Vector3& p = v.position;
        const Vector3& n = v.normal;
        const float px = s(0, 0) * p.x + s(0, 1) * p.y + s(0, 2) * p.z + s(0, 3);
        const float py = s(1, 0) * p.x + s(1, 1) * p.y + s(1, 2) * p.z + s(1, 3);
        const float pz = s(2, 0) * p.x + s(2, 1) * p.y + s(2, 2) * p.z + s(2, 3);
        o.position.x = o.position.x + w * px;
        o.position.y = o.position.y + w * py;
        o.position.z = o.position.z + w * pz;
        const float nx = s(0, 0) * n.x + s(0, 1) * n.y + s(0, 2) * n.z;
        const float ny = s(1, 0) * n.x + s(1, 1) * n.y + s(1, 2) * n.z;
        const float nz = s(2, 0) * n.x + s(2, 1) * n.y + s(2, 2) * n.z;
        o.normal.x = o.normal.x - w * nx;
        o.normal.y = o.normal.y - w * ny;
        o.normal.z = o.normal.z - w * nz;
    }
    for (Bone& child : bone.children) {
        evaluateBone(model, &bone, child, skin);
    }
}

}  // namespace

void referenceAnimatorUpdate(Model& model, float dt)
{
    Animator& animator = model.animator;
    if (animator.animations.empty()) {
        return;
    }
    if (animator.current < 0 || static_cast<std::size_t>(animator.current) >= animator.animations.size()) {
        return;
    }
    const Animation& clip = animator.animations[static_cast<std::size_t>(animator.current)];
    const float advanced = animator.time + animator.rate * dt;
    if (std::isfinite(advanced)) {
        animator.time = advanced;
    }
    if (clip.loop) {
        animator.time = clip.length > 0.0f ? std::fmod(animator.time, clip.length) : 0.0f;
    } else if (!(clip.length > animator.time)) {
        animator.time = clip.length;
    }
    const float time = animator.time;
    std::vector<Bone*> bones;
    listBones(model.rootBone, bones);
    for (const std::vector<KeyFrame>& track : clip.tracks) {
        const std::size_t k = firstKeyAtOrAfter(track, time);
        if (k == track.size()) {
            continue;
        }
        const KeyFrame& next = track[k];
        const KeyFrame& prev = k == 0 ? track.back() : track[k - 1];
        if (next.boneIndex < 0 || static_cast<std::size_t>(next.boneIndex) >= bones.size()) {
            continue;
        }
        Bone* bone = bones[static_cast<std::size_t>(next.boneIndex)];
        const float span = next.time - prev.time;
        const float s = span != 0.0f ? (time - prev.time) / span : 1.0f;
        slerp(prev.rotation, next.rotation, s, bone->rotation);
        lerp(prev.translation, next.translation, s, bone->translation);
        lerp(prev.scale, next.scale, s, bone->scale);
    }
}

void referenceUpdatePose(Model& model)
{
    const std::size_t count = model.vertices.size();
    if (model.skinnedVertices.size() != count) {
        model.skinnedVertices.assign(count, Vertex{});
    }
    if (model.rootBone.children.empty()) {
        return;
    }
    if (!anyWeights(model.rootBone)) {
        evaluateBone(model, nullptr, model.rootBone, false);
        std::copy(model.vertices.begin(), model.vertices.end(), model.skinnedVertices.begin());
        return;
    }
    for (Vertex& v : model.skinnedVertices) {
        v = Vertex{};
    }
    evaluateBone(model, nullptr, model.rootBone, true);
}

void referenceStage(const Model& model, std::vector<float>& positions, std::vector<float>& normals)
{
    const std::size_t count = model.skinnedVertices.size();
    positions.assign(3 * count, 0.0f);
    normals.assign(3 * count, 0.0f);
    for (std::size_t i = 0; i < count; ++i) {
        const Vertex& v = model.skinnedVertices[i];
        positions[3 * i + 0] = v.position.x;
        positions[3 * i + 1] = v.position.y;
        positions[3 * i + 2] = v.position.z;
        normals[3 * i + 0] = v.normal.x;
        normals[3 * i + 1] = v.normal.y;
        normals[3 * i + 2] = v.normal.z;
    }
}

}  // namespace fyrel::test
