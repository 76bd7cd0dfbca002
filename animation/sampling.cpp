#include "animation/sampling.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "animation/animation_cache.h"
#include "math/simd.h"
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

// The slerp weight sin(tθ)/sin θ as a polynomial in x − 1, x = cos θ (after
// David Eberly's estimate of slerp): Σ c_i (x − 1)^i, c_0 = t and
// c_i = c_(i−1)·(t² − i²)/(i(2i + 1)), its fifth and last term scaled by
// kLastTerm to stand in for the ones left out. For x ≥ kNearCosine (keys up to
// 106° of turn apart) and 0 ≤ t ≤ 1 the normalized result is within 2.1e-7 of
// the exact slerp in each component, in single precision; other pairs take
// the math library's slerp.
constexpr int kSlerpTerms = 5;
constexpr float kNearCosine = 0.6f;
constexpr double kLastTerm = 1.215;

struct SlerpTerm {
    float u, v;  // (t² − i²)/(i(2i + 1)) = u·t² − v
};

constexpr std::array<SlerpTerm, kSlerpTerms + 1> slerpTerms()
{
    std::array<SlerpTerm, kSlerpTerms + 1> terms{};
    for (int i = 1; i <= kSlerpTerms; ++i) {
        const double scale = i == kSlerpTerms ? kLastTerm : 1.0;
        terms[static_cast<std::size_t>(i)] = {static_cast<float>(scale / (i * (2 * i + 1))),
                                              static_cast<float>(scale * i / (2 * i + 1))};
    }
    return terms;
}

constexpr std::array<SlerpTerm, kSlerpTerms + 1> kSlerpTermTable = slerpTerms();

using F4 = simd::Native4;

// The terms e_i = (x − 1)(t² − i²)/(i(2i + 1)) of the weight for the four t
// whose squares are tt, from xu_i = (x − 1)·u_i and xv_i = (x − 1)·v_i;
// the weight is t·(1 + e_1 + e_1·e_2 + … + e_1·…·e_5), its products
// formed pairwise so that the four tracks do not wait on a chain of five
// steps.
[[gnu::always_inline]] inline F4 slerpWeight(F4 t, const F4* xu, const F4* xv)
{
    const F4 tt = t * t;
    F4 e[kSlerpTerms + 1];
    for (int i = 1; i <= kSlerpTerms; ++i) {
        e[i] = xu[i] * tt - xv[i];
    }
    static_assert(kSlerpTerms == 5);
    const F4 p2 = e[1] * e[2];
    const F4 p3 = p2 * e[3];
    const F4 p4 = p2 * (e[3] * e[4]);
    const F4 p5 = p4 * e[5];
    const F4 sum = ((F4::splat(1.0f) + e[1]) + (p2 + p3)) + (p4 + p5);
    return t * sum;
}

// Up to four tracks' samples, each from its pair of keys, gathered so that
// the weights between the keys (in [0, 1], or beyond before the first key)
// and the rotations are formed four at a time.
struct SampleBatch {
    const KeyFrame* prev[4];
    const KeyFrame* next[4];
    Bone* bone[4];
    float time = 0.0f;  // the playback time
    int count = 0;
};

// The batch's samples: translation and scale as lerp forms them (the same
// bits, two overlapping four-wide steps a track); the rotation as the
// approximation above where the pair lies in its range, else by slerp. Each
// sample is written in the order of its track, so that when two tracks drive
// one bone the later one wins, as it did one track at a time.
void sampleBatch(SampleBatch& batch)
{
    for (int j = batch.count; j < 4; ++j) {  // lanes past the last repeat the first
        batch.prev[j] = batch.prev[0];
        batch.next[j] = batch.next[0];
    }
    // The weights: one key, or two keys at one time, give the later key.
    const F4 one = F4::splat(1.0f);
    const F4 from = F4::set(batch.prev[0]->time, batch.prev[1]->time, batch.prev[2]->time, batch.prev[3]->time);
    const F4 span = F4::set(batch.next[0]->time, batch.next[1]->time, batch.next[2]->time, batch.next[3]->time) - from;
    const F4 s = one ^ (((F4::splat(batch.time) - from) / span ^ one) & notEqual(span, F4::zero()));
    float weights[4];
    s.store(weights);
    F4 w0 = F4::load(&batch.prev[0]->rotation.w), x0 = F4::load(&batch.prev[1]->rotation.w);
    F4 y0 = F4::load(&batch.prev[2]->rotation.w), z0 = F4::load(&batch.prev[3]->rotation.w);
    transpose(w0, x0, y0, z0);
    F4 w1 = F4::load(&batch.next[0]->rotation.w), x1 = F4::load(&batch.next[1]->rotation.w);
    F4 y1 = F4::load(&batch.next[2]->rotation.w), z1 = F4::load(&batch.next[3]->rotation.w);
    transpose(w1, x1, y1, z1);
    // The dot product summed in slerp's order; q1 taken on q0's side.
    const F4 d = ((w0 * w1 + x0 * x1) + y0 * y1) + z0 * z1;
    const F4 side = d & F4::bits(0x80000000u, 0x80000000u, 0x80000000u, 0x80000000u);
    const F4 xm1 = min(d & F4::bits(0x7FFFFFFFu, 0x7FFFFFFFu, 0x7FFFFFFFu, 0x7FFFFFFFu), one) - one;
    F4 xu[kSlerpTerms + 1], xv[kSlerpTerms + 1];
    for (int i = 1; i <= kSlerpTerms; ++i) {
        const SlerpTerm& term = kSlerpTermTable[static_cast<std::size_t>(i)];
        xu[i] = xm1 * F4::splat(term.u);
        xv[i] = xm1 * F4::splat(term.v);
    }
    const F4 k1 = slerpWeight(s, xu, xv), k0 = slerpWeight(one - s, xu, xv);
    F4 rw = k1 * (w1 ^ side) + k0 * w0, rx = k1 * (x1 ^ side) + k0 * x0;
    F4 ry = k1 * (y1 ^ side) + k0 * y0, rz = k1 * (z1 ^ side) + k0 * z0;
    const F4 scale = one / sqrt(((rw * rw + rx * rx) + ry * ry) + rz * rz);
    rw = rw * scale, rx = rx * scale, ry = ry * scale, rz = rz * scale;
    transpose(rw, rx, ry, rz);
    const F4 rotations[4] = {rw, rx, ry, rz};
    // Lanes the polynomial does not serve: a weight outside [0, 1], or keys
    // further apart than kNearCosine allows (or not finite): all bits set.
    const F4 cosine = d ^ side;
    const F4 outside = notEqual(min(max(s, F4::zero()), one), s);
    const F4 far = notEqual(max(min(cosine, F4::splat(std::numeric_limits<float>::max())), F4::splat(kNearCosine)), cosine);
    float bySlerpBits[4];
    (outside ^ far ^ (outside & far)).store(bySlerpBits);
    std::uint32_t bySlerp[4];
    std::memcpy(bySlerp, bySlerpBits, sizeof bySlerp);

    for (int j = 0; j < batch.count; ++j) {
        const KeyFrame& prev = *batch.prev[j];
        const KeyFrame& next = *batch.next[j];
        Bone& bone = *batch.bone[j];
        const float sj = weights[j];
        if (bySlerp[j] == 0) {
            rotations[j].store(&bone.rotation.w);
        } else {
            slerp(prev.rotation, next.rotation, sj, bone.rotation);
        }
        if (&prev.scale.x != &prev.translation.x + 3 || &bone.scale.x != &bone.translation.x + 3) {
            lerp(prev.translation, next.translation, sj, bone.translation);  // not laid out as six floats
            lerp(prev.scale, next.scale, sj, bone.scale);
            continue;
        }
        const F4 step = F4::splat(sj);
        const float* a = &prev.translation.x;
        const float* b = &next.translation.x;
        const F4 a0 = F4::load(a), a2 = F4::load(a + 2);
        (a0 + step * (F4::load(b) - a0)).store(&bone.translation.x);
        (a2 + step * (F4::load(b + 2) - a2)).store(&bone.translation.x + 2);
    }
    batch.count = 0;
}

// Sizes the cursors for the clip's tracks, every cursor from the
// first key. Playback does so for a new clip and whenever a track's key
// count is not the one its cursor was sized for (checked as each track is
// sampled).
void sizeCache(SamplingCache& cache, const Animation& clip)
{
    cache.clip = &clip;
    cache.cursors.assign(clip.tracks.size(), TrackCursor{});
    for (std::size_t j = 0; j < clip.tracks.size(); ++j) {
        cache.cursors[j].keys = clip.tracks[j].size();
    }
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
    SampleBatch batch;
    batch.time = time;
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
        batch.prev[batch.count] = &prev;
        batch.next[batch.count] = &next;
        batch.bone[batch.count] = bones[bone].bone;
        if (++batch.count == 4) {
            sampleBatch(batch);
        }
    }
    if (batch.count > 0) {
        sampleBatch(batch);
    }
}

}  // namespace fyrel
