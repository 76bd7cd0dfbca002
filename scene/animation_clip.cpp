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
    key.scale = bone->scale;
    addKey(key);
    for (Bone& child : bone->children) {
        recordPose(keyTime, &child);
    }
}

}  // namespace fyrel
