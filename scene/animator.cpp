#include "scene/animator.h"

#include <string_view>
#include <unordered_map>

#include "scene/model.h"

namespace fyrel {

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
            const KeyFrame* previous = nullptr;  // a track's keys mostly name one bone
            for (KeyFrame& key : track) {
                if (previous && previous->boneName == key.boneName) {
                    key.bone = previous->bone;
                } else {
                    const auto hit = byName.find(key.boneName);
                    key.bone = hit != byName.end() ? hit->second : nullptr;
                }
                previous = &key;
            }
        }
    }
}

}  // namespace fyrel
