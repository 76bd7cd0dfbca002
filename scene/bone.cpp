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

namespace {

// With a stack of its own: skeletons are as deep as importers let them be.
template <typename B>
void listInPreorder(B& root, std::vector<B*>& out)
{
    out.clear();
    std::vector<B*> open{&root};
    while (!open.empty()) {
        B* bone = open.back();
        open.pop_back();
        out.push_back(bone);
        for (auto it = bone->children.rbegin(); it != bone->children.rend(); ++it) {
            open.push_back(&*it);
        }
    }
}

}  // namespace

void listBones(Bone& root, std::vector<Bone*>& out)
{
    listInPreorder(root, out);
}

void listBones(const Bone& root, std::vector<const Bone*>& out)
{
    listInPreorder(root, out);
}

std::unordered_map<std::string, std::int32_t> boneIndexByName(const Bone& root)
{
    std::vector<const Bone*> bones;
    listBones(root, bones);
    std::unordered_map<std::string, std::int32_t> byName;
    for (std::size_t i = 0; i < bones.size(); ++i) {
        byName.emplace(bones[i]->name, static_cast<std::int32_t>(i));
    }
    return byName;
}

}  // namespace fyrel
