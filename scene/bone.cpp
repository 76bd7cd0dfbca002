#include "scene/bone.h"

namespace fyrel {

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

}  // namespace fyrel
