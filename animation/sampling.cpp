#include "animation/sampling.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "animation/animation_cache.h"
#include "scene/model.h"

namespace fyrel {

namespace {

// True when k is the first key whose time is at or after t. Keys ascend in
// time, so it is enough that the key before k comes earlier; a key whose
// time is NaN is never at or after t and fails the test, which leaves the
// decision to the full scan.
bool isFirstAtOrAfter(const std::vector<KeyFrame>& track, std::size_t k, float t)
{
    return k < track.size() && track[k].time >= t && (k == 0 || track[k - 1].time < t);
}

// The first key at or after t, or the key count when none qualifies: the key
// a scan from the first key finds. Playback mostly stays at the key of last
// frame or moves on by one; otherwise a binary search, and a scan whenever
// that cannot vouch for its answer.
std::size_t findKey(const std::vector<KeyFrame>& track, std::size_t last, float t)
{
    if (isFirstAtOrAfter(track, last, t)) {
        return last;
    }
    if (isFirstAtOrAfter(track, last + 1, t)) {
        return last + 1;
    }
    if (track.back().time < t) {
        return track.size();
    }
    std::size_t lo = 0, hi = track.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (track[mid].time < t) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    if (isFirstAtOrAfter(track, lo, t)) {
        return lo;
    }
    for (std::size_t i = 0; i < track.size(); ++i) {
        if (track[i].time >= t) {
            return i;
        }
    }
    return track.size();
}

bool sameBits(const Quaternion& a, const Quaternion& b)
{
    return std::memcmp(&a, &b, sizeof(Quaternion)) == 0;
}

// The side and angle of the slerp from q0 to q1 as the math library forms
// them, recomputed only when the pair of rotations changed.
const SlerpAngle& slerpAngle(SlerpAngle& angle, const Quaternion& q0, const Quaternion& q1)
{
    if (!angle.known || !sameBits(angle.from, q0) || !sameBits(angle.to, q1)) {
        angle.from = q0;
        angle.to = q1;
        const float d = q0.w * q1.w + q0.x * q1.x + q0.y * q1.y + q0.z * q1.z;
        angle.sign = d < 0.0f ? -1.0f : 1.0f;
        angle.theta = std::acos(std::min(std::fabs(d), 1.0f));
        angle.sinTheta = angle.theta > kEpsilon ? std::sin(angle.theta) : 0.0f;
        angle.known = true;
    }
    return angle;
}

// lerp as the math library defines it.
void interpolate(const Vector3& a, const Vector3& b, float s, Vector3& out)
{
    out.x = a.x + s * (b.x + (-a.x));
    out.y = a.y + s * (b.y + (-a.y));
    out.z = a.z + s * (b.z + (-a.z));
}

// Sizes the cursors and angles for the clip's tracks, every cursor from the
// first key. Playback does so for a new clip and whenever a track's key
// count is not the one its cursor was sized for (checked as each track is
// sampled).
void sizeCache(SamplingCache& cache, const Animation& clip)
{
    cache.clip = &clip;
    cache.cursors.assign(clip.tracks.size(), TrackCursor{});
    std::size_t total = 0;
    for (std::size_t j = 0; j < clip.tracks.size(); ++j) {
        cache.cursors[j].keys = clip.tracks[j].size();
        cache.cursors[j].angles = total;
        total += clip.tracks[j].size();
    }
    cache.angles.assign(total, SlerpAngle{});
}

// Whether the list still holds the bones of the tree at root in pre-order.
bool bonesStillMatch(const std::vector<SampledBone>& bones, const Bone& root)
{
    if (bones.empty() || bones.front().bone != &root) {
        return false;
    }
    for (const SampledBone& entry : bones) {
        const Bone* children = entry.bone->children.data();
        if (children != entry.children || children + entry.bone->children.size() != entry.childrenEnd) {
            return false;
        }
    }
    return true;
}

// Lists the bones again when the skeleton is not the one listed.
void fitBones(SamplingCache& cache, Bone& root)
{
    if (bonesStillMatch(cache.bones, root)) {
        return;
    }
    std::vector<Bone*> bones;
    listBones(root, bones);
    cache.bones.clear();
    cache.bones.reserve(bones.size());
    for (Bone* bone : bones) {
        const Bone* children = bone->children.data();
        cache.bones.push_back(SampledBone{bone, children, children + bone->children.size()});
    }
}

// slerp(prev, next, s) and lerp(prev, next, s) as the math library defines
// them, with the angle of the slerp from the cache.
void sample(SlerpAngle& cached, const KeyFrame& prev, const KeyFrame& next, float s, Bone& bone)
{
    const Quaternion& q0 = prev.rotation;
    const Quaternion& q1 = next.rotation;
    const SlerpAngle& angle = slerpAngle(cached, q0, q1);
    if (std::isnan(angle.theta)) {
        bone.rotation = q1;
    } else {
        slerpWeighted(q0, q1, angle.sign, angle.theta, angle.sinTheta, s, bone.rotation);
    }
    interpolate(prev.translation, next.translation, s, bone.translation);
    interpolate(prev.scale, next.scale, s, bone.scale);
}

}  // namespace

void updateAnimator(Model& model, float dt)
{
    Animator& animator = model.animator;
    const std::vector<Animation>& animations = animator.animations;
    const std::int32_t current = animator.current;
    float& time = animator.time;
    const float rate = animator.rate;
    if (animations.empty()) {
        return;
    }
    if (current < 0 || static_cast<std::size_t>(current) >= animations.size()) {
        return;  // no clip selected: nothing to play
    }
    const Animation& clip = animations[static_cast<std::size_t>(current)];

    const float advanced = time + rate * clip.ticksPerSecond * dt;
    if (std::isfinite(advanced)) {
        time = advanced;  // a NaN or infinite step would freeze playback for good
    }
    if (clip.loop) {
        // A clip of length 0 has no cycle to wrap around: it stays at 0.
        time = clip.length > 0.0f ? std::fmod(time, clip.length) : 0.0f;
    } else if (!(clip.length > time)) {
        time = clip.length;
    }

    SamplingCache& cache = animator.sampling.get<SamplingCache>();
    if (cache.clip != &clip || cache.cursors.size() != clip.tracks.size()) {
        sizeCache(cache, clip);
    }
    fitBones(cache, model.rootBone);
    const SampledBone* const bones = cache.bones.data();
    const std::size_t boneCount = cache.bones.size();
    for (std::size_t j = 0; j < clip.tracks.size(); ++j) {
        const std::vector<KeyFrame>& track = clip.tracks[j];
        if (track.empty()) {
            continue;
        }
        if (cache.cursors[j].keys != track.size()) {
            sizeCache(cache, clip);  // keys were added or removed since the cursors were sized
        }
        TrackCursor& cursor = cache.cursors[j];
        const std::size_t k = findKey(track, cursor.key, time);
        if (k == track.size()) {
            continue;  // no key at or after the time: the bone keeps its pose
        }
        cursor.key = static_cast<std::uint32_t>(k);
        const KeyFrame& next = track[k];
        const KeyFrame& prev = k == 0 ? track.back() : track[k - 1];
        // Unsigned: kNoBone, like any index past the last bone, drives nothing.
        const auto bone = static_cast<std::uint32_t>(next.boneIndex);
        if (bone >= boneCount) {
            continue;
        }
        const float span = next.time - prev.time;
        // One key, or two keys at one time: the bone takes the later key.
        const float s = span != 0.0f ? (time - prev.time) / span : 1.0f;
        sample(cache.angles[cursor.angles + k], prev, next, s, *bones[bone].bone);
    }
}

}  // namespace fyrel
