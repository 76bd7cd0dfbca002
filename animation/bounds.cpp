#include "animation/bounds.h"

#include <algorithm>
#include <cmath>

#include "scene/model.h"

namespace fyrel {

bool growByPosedBox(const Model& model, Vector3& low, Vector3& high)
{
    // Only a model with a skeleton is drawn skinned (as its buffers upload).
    const bool skinned = !model.rootBone.children.empty() && model.skinnedVertices.size() == model.vertices.size();
    const std::vector<Vertex>& vertices = skinned ? model.skinnedVertices : model.vertices;
    Matrix4 world;
    model.worldTransform(world);
    bool grown = false;
    for (const Vertex& v : vertices) {
        Vector4 p;
        transform(world, Vector4{v.position.x, v.position.y, v.position.z, 1.0f}, p);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            continue;
        }
        low = Vector3{std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = Vector3{std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
        grown = true;
    }
    return grown;
}

}  // namespace fyrel
