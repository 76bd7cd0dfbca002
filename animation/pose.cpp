#include <algorithm>

#include "scene/model.h"

namespace fyrel {

void Model::updatePose()
{
    const std::size_t count = vertices.size();
    if (skinnedVertices.size() != count) {
        skinnedVertices.assign(count, Vertex{});
        skinnedPositions.assign(3 * count, 0.0f);
        skinnedNormals.assign(3 * count, 0.0f);
    }
    if (rootBone.children.empty()) {
        return;
    }
    if (!hasSkin()) {
        // Bones that weight nothing would collapse every vertex onto the
        // origin: such a model is shown in its bind pose instead, like one
        // without a skeleton. The bones are still posed for the skeleton view.
        evaluateBone(nullptr, rootBone);
        std::copy(vertices.begin(), vertices.end(), skinnedVertices.begin());
        return;
    }
    for (Vertex& v : skinnedVertices) {
        v = Vertex{};
    }
    evaluateBone(nullptr, rootBone);
}

void Model::evaluateBone(const Bone* parent, Bone& bone)
{
    Matrix4 r, t, lt;
    quatToMatrix(bone.rotation, r);
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

    const std::size_t count = vertices.size();
    for (const VertexWeight& vw : bone.weights) {
        if (vw.vertex < 0 || static_cast<std::size_t>(vw.vertex) >= count) {
            continue;  // a weight for a vertex the model does not have
        }
        const Vertex& v = vertices[static_cast<std::size_t>(vw.vertex)];
        Vertex& o = skinnedVertices[static_cast<std::size_t>(vw.vertex)];
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
        evaluateBone(&bone, child);
    }
}

void Model::uploadSkinned()
{
    if (rootBone.children.empty() || !bufferFunctions) {
        return;
    }
    const std::size_t count = std::min(skinnedVertices.size(), skinnedPositions.size() / 3);
    for (std::size_t i = 0; i < count; ++i) {
        const Vertex& v = skinnedVertices[i];
        skinnedPositions[3 * i + 0] = v.position.x;
        skinnedPositions[3 * i + 1] = v.position.y;
        skinnedPositions[3 * i + 2] = v.position.z;
        skinnedNormals[3 * i + 0] = v.normal.x;
        skinnedNormals[3 * i + 1] = v.normal.y;
        skinnedNormals[3 * i + 2] = v.normal.z;
    }
    const auto bytes = static_cast<GlSizeiptr>(count * 12);
    bufferFunctions->bindBuffer(kGlArrayBuffer, bufferNames[0]);
    bufferFunctions->bufferData(kGlArrayBuffer, bytes, skinnedPositions.data(), kGlStreamDraw);
    bufferFunctions->bindBuffer(kGlArrayBuffer, bufferNames[1]);
    bufferFunctions->bufferData(kGlArrayBuffer, bytes, skinnedNormals.data(), kGlStreamDraw);
}

}  // namespace fyrel
