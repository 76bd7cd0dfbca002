#include "animation/bounds.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "animation/pose.h"
#include "scene/model.h"

namespace fyrel {

namespace {

// Only a model with a skeleton is drawn skinned (as its buffers upload).
const std::vector<Vertex>& drawnVertices(const Model& model)
{
    const bool skinned = !model.rootBone.children.empty() && model.skinnedVertices.size() == model.vertices.size();
    return skinned ? model.skinnedVertices : model.vertices;
}

bool growByPoint(const Matrix4& world, const Vector3& point, Vector3& low, Vector3& high)
{
    Vector4 p;
    transform(world, Vector4{point.x, point.y, point.z, 1.0f}, p);
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
        return false;
    }
    low = Vector3{std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
    high = Vector3{std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    return true;
}

struct BoneTransform {
    Quaternion rotation;
    Vector3 translation;
    Vector3 scale;
};

// Pre-order, as the walks below visit the bones.
void swapToRest(Bone& bone, std::vector<BoneTransform>& saved)
{
    saved.push_back({bone.rotation, bone.translation, bone.scale});
    bone.rotation = Quaternion{};
    bone.translation = Vector3{};
    bone.scale = Vector3{1.0f, 1.0f, 1.0f};
    for (Bone& child : bone.children) {
        swapToRest(child, saved);
    }
}

void restore(Bone& bone, const std::vector<BoneTransform>& saved, std::size_t& next)
{
    const BoneTransform& t = saved[next++];
    bone.rotation = t.rotation;
    bone.translation = t.translation;
    bone.scale = t.scale;
    for (Bone& child : bone.children) {
        restore(child, saved, next);
    }
}

bool growByJoints(const Matrix4& world, const Bone& bone, Vector3& low, Vector3& high)
{
    bool grown = growByPoint(world, Vector3{bone.worldMatrix(0, 3), bone.worldMatrix(1, 3), bone.worldMatrix(2, 3)},
                             low, high);
    for (const Bone& child : bone.children) {
        grown = growByJoints(world, child, low, high) || grown;
    }
    return grown;
}

// Only a model that is drawn skinned is skinned: any other keeps its
// skinned vertices as they are (none, when it was never posed).
void poseBones(Model& model)
{
    if (model.rootBone.children.empty()) {
        evaluateBone(nullptr, model.rootBone);
    } else {
        updatePose(model);
    }
}

}  // namespace

bool growByPosedBox(const Model& model, Vector3& low, Vector3& high)
{
    Matrix4 world;
    model.worldTransform(world);
    bool grown = false;
    for (const Vertex& v : drawnVertices(model)) {
        grown = growByPoint(world, v.position, low, high) || grown;
    }
    return grown;
}

bool growByPosedJoints(const Model& model, Vector3& low, Vector3& high)
{
    const Bone& root = model.rootBone;
    if (root.name.empty() && root.children.empty() && root.weights.empty()) {
        return false;
    }
    Matrix4 world;
    model.worldTransform(world);
    return growByJoints(world, root, low, high);
}

bool growByDrawnBox(const Model& model, Vector3& low, Vector3& high)
{
    return model.vertices.empty() ? growByPosedJoints(model, low, high) : growByPosedBox(model, low, high);
}

void measureRest(Model& model, RestBoxes& boxes)
{
    constexpr float kInf = std::numeric_limits<float>::infinity();
    boxes = RestBoxes{{kInf, kInf, kInf}, {-kInf, -kInf, -kInf}, {kInf, kInf, kInf}, {-kInf, -kInf, -kInf}};
    std::vector<BoneTransform> saved;
    swapToRest(model.rootBone, saved);
    poseBones(model);
    boxes.mesh = growByPosedBox(model, boxes.meshLow, boxes.meshHigh);
    const Bone& root = model.rootBone;
    if (!root.name.empty() || !root.children.empty() || !root.weights.empty()) {
        Matrix4 world;
        model.worldTransform(world);
        boxes.joints = growByJoints(world, root, boxes.jointLow, boxes.jointHigh);
    }
    std::size_t next = 0;
    restore(model.rootBone, saved, next);
    poseBones(model);
}

void standOnGround(Model& model)
{
    const Vector3 position = model.position;
    const Quaternion orientation = model.orientation;
    model.position = Vector3{};
    model.orientation = Quaternion{};
    model.lift = 0.0f;
    RestBoxes boxes;
    measureRest(model, boxes);
    const float lowest = boxes.mesh ? boxes.meshLow.z : boxes.joints ? boxes.jointLow.z : 0.0f;
    model.lift = std::isfinite(-lowest) ? -lowest : 0.0f;
    model.position = position;
    model.orientation = orientation;
}

}  // namespace fyrel
