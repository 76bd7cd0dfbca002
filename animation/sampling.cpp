#include <cmath>

#include "scene/model.h"

namespace fyrel {

namespace {

// The first key at or after t, scanning from the first key: the same key the
// playback rules name. Returns the key count when none qualifies.
std::size_t firstKeyAtOrAfter(const std::vector<KeyFrame>& track, float t)
{
    for (std::size_t i = 0; i < track.size(); ++i) {
        if (track[i].time >= t) {
            return i;
        }
    }
    return track.size();
}

}  // namespace

void Animator::update(float dt)
{
    if (!model || animations.empty()) {
        return;
    }
    if (current < 0 || static_cast<std::size_t>(current) >= animations.size()) {
        return;  // no clip selected: nothing to play
    }
    const Animation& clip = animations[static_cast<std::size_t>(current)];

    const float advanced = time + rate * dt;
    if (std::isfinite(advanced)) {
        time = advanced;  // a NaN or infinite step would freeze playback for good
    }
    if (clip.loop) {
        // A clip of length 0 has no cycle to wrap around: it stays at 0.
        time = clip.length > 0.0f ? std::fmod(time, clip.length) : 0.0f;
    } else if (!(clip.length > time)) {
        time = clip.length;
    }

    for (const std::vector<KeyFrame>& track : clip.tracks) {
        const std::size_t k = firstKeyAtOrAfter(track, time);
        if (k == track.size()) {
            continue;
        }
        const KeyFrame& next = track[k];
        const KeyFrame& prev = k == 0 ? track.back() : track[k - 1];
        Bone* bone = next.bone;
        if (!bone) {
            continue;  // a key whose bone name matched no bone drives nothing
        }
        const float span = next.time - prev.time;
        // One key, or two keys at one time: the bone takes the later key.
        const float s = span != 0.0f ? (time - prev.time) / span : 1.0f;
        slerp(prev.rotation, next.rotation, s, bone->rotation);
        lerp(prev.translation, next.translation, s, bone->translation);
    }
}

}  // namespace fyrel
