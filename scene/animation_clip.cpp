#include "scene/animation_clip.h"

#include <algorithm>

#include "scene/model.h"

namespace fyrel {

void Animation::addKey(const KeyFrame& key)
{
    if (key.time > length) {
        length = key.time;
    }
    for (std::vector<KeyFrame>& track : tracks) {
        if (track.front().boneIndex != key.boneIndex) {
            continue;
        }
        auto later = std::find_if(track.begin(), track.end(),
                                  [&](const KeyFrame& k) { return k.time > key.time; });
        track.insert(later, key);
        return;
    }
    tracks.push_back(std::vector<KeyFrame>{key});
}

namespace {

// Keys for bone and its subtree, bone being of index first; returns the
// index after the subtree.
std::int32_t recordSubtree(Animation& clip, float time, const Bone& bone, std::int32_t first)
{
    KeyFrame key;
    key.time = time;
    key.boneIndex = first;
    key.boneName = bone.name;
    key.rotation = bone.rotation;
    key.translation = bone.translation;
    key.scale = bone.scale;
    clip.addKey(key);
    std::int32_t next = first + 1;
    for (const Bone& child : bone.children) {
        next = recordSubtree(clip, time, child, next);
    }
    return next;
}

}  // namespace

void Animation::recordPose(float keyTime, const Model& model, const Bone* bone)
{
    std::vector<const Bone*> bones;
    listBones(model.rootBone, bones);
    const Bone* start = bone ? bone : &model.rootBone;
    const auto at = std::find(bones.begin(), bones.end(), start);
    if (at != bones.end()) {
        recordSubtree(*this, keyTime, *start, static_cast<std::int32_t>(at - bones.begin()));
    }
}

}  // namespace fyrel
