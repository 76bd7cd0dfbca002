#pragma once

#include <string>
#include <vector>

#include "math/quaternion.h"
#include "math/vector.h"
#include "scene/bone.h"

namespace fyrel {

struct Model;

struct KeyFrame {
    float time = 0.0f;
    // The bone this key drives: its index in the model's skeleton in
    // pre-order (listBones), kNoBone for none. An index stays right in a
    // copy of the model, where a pointer would name the source's bone.
    std::int32_t boneIndex = kNoBone;
    std::string boneName;  // copy of the bone's name, taken when the key is made
    Quaternion rotation;
    Vector3 translation;
    Vector3 scale{1.0f, 1.0f, 1.0f};  // along the bone's own axes, after its rotation
};

// One clip of key frames.
struct Animation {
    std::string name;
    float length = 0.0f;  // the largest key time added so far
    // The clip's own time base: key-time units that pass in one second of
    // playback at speed 1. Importers write key times in seconds (1); a clip
    // meant to play slowed down carries that here, so that the playback
    // speed (Animator::rate) stays the player's and exports keep the clip's
    // real duration whatever is playing.
    float ticksPerSecond = 1.0f;
    // One track per animated bone; every key of a track drives the same bone,
    // a track is never empty and its keys ascend in time.
    std::vector<std::vector<KeyFrame>> tracks;
    bool loop = false;

    // Adds a copy of the key to the first track whose first key drives the
    // same bone (same index), after any keys of equal time; opens a new
    // track when none matches.
    void addKey(const KeyFrame& key);

    // Adds one key at the given time per bone of the subtree at bone
    // (pre-order) from the bones' current local pose, each naming its bone in
    // model's skeleton; with no bone, the whole skeleton. A bone that is not
    // model's adds nothing.
    void recordPose(float time, const Model& model, const Bone* bone = nullptr);
};

}  // namespace fyrel
