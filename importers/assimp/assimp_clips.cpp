// The animations of an Assimp scene as the model's clips (assimp_conversion.h
// says what is kept).

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>

#include "importers/assimp/assimp_conversion.h"
#include "importers/assimp/assimp_record.h"
#include "math/quaternion.h"

namespace fyrel {
namespace {

struct Parts {
    Vector3 translation;
    Quaternion rotation;
    Vector3 scale{1, 1, 1};
};

// m = T·R·S; a mirroring matrix keeps its mirror in a negative x scale.
Parts decompose(const Matrix4& m)
{
    Parts p;
    p.translation = {m(0, 3), m(1, 3), m(2, 3)};
    float s[3];
    for (int col = 0; col < 3; ++col) {
        s[col] = std::sqrt(m(0, col) * m(0, col) + m(1, col) * m(1, col) + m(2, col) * m(2, col));
    }
    const float det = m(0, 0) * (m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1)) -
                      m(0, 1) * (m(1, 0) * m(2, 2) - m(1, 2) * m(2, 0)) +
                      m(0, 2) * (m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0));
    if (det < 0) {
        s[0] = -s[0];
    }
    Matrix4 r;
    for (int col = 0; col < 3; ++col) {
        for (int row = 0; row < 3; ++row) {
            r(row, col) = s[col] != 0 ? m(row, col) / s[col] : (row == col ? 1.0f : 0.0f);
        }
    }
    p.scale = {s[0], s[1], s[2]};
    matrixToQuat(r, p.rotation);
    quatNormalize(p.rotation, p.rotation);
    return p;
}

Matrix4 compose(const Parts& p)
{
    Matrix4 r;
    quatToMatrix(p.rotation, r);
    scaleColumns(r, p.scale);
    r(0, 3) = p.translation.x, r(1, 3) = p.translation.y, r(2, 3) = p.translation.z;
    return r;
}

// The key pair around t (keys ascending): index of the last key at or before
// t, and the fraction towards the next.
template <typename Key>
std::pair<unsigned, float> around(const Key* keys, unsigned count, double t)
{
    const Key* next = std::upper_bound(keys, keys + count, t, [](double time, const Key& k) { return time < k.mTime; });
    if (next == keys) {
        return {0, 0.0f};
    }
    const unsigned i = static_cast<unsigned>(next - keys) - 1;
    if (i + 1 >= count) {
        return {i, 0.0f};
    }
    const double span = keys[i + 1].mTime - keys[i].mTime;
    const double f = span > 0 ? (t - keys[i].mTime) / span : 0.0;
    return {i, static_cast<float>(std::clamp(f, 0.0, 1.0))};
}

Vector3 vectorAt(const aiVectorKey* keys, unsigned count, double t)
{
    const auto [i, f] = around(keys, count, t);
    const aiVector3D& a = keys[i].mValue;
    const aiVector3D& b = keys[std::min(i + 1, count - 1)].mValue;
    return {a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z)};
}

Quaternion rotationAt(const aiQuatKey* keys, unsigned count, double t)
{
    const auto [i, f] = around(keys, count, t);
    const aiQuaternion& a = keys[i].mValue;
    const aiQuaternion& b = keys[std::min(i + 1, count - 1)].mValue;
    Quaternion out;
    slerp({a.w, a.x, a.y, a.z}, {b.w, b.x, b.y, b.z}, f, out);
    return out;
}

// A node's local transform at time t: its channel's keys, its rest parts
// where the channel has none of a kind.
Matrix4 localAt(const aiNodeAnim* channel, const Parts& rest, double t)
{
    if (!channel) {
        return compose(rest);
    }
    Parts p = rest;
    if (channel->mNumPositionKeys > 0 && channel->mPositionKeys) {
        p.translation = vectorAt(channel->mPositionKeys, channel->mNumPositionKeys, t);
    }
    if (channel->mNumRotationKeys > 0 && channel->mRotationKeys) {
        p.rotation = rotationAt(channel->mRotationKeys, channel->mNumRotationKeys, t);
    }
    if (channel->mNumScalingKeys > 0 && channel->mScalingKeys) {
        p.scale = vectorAt(channel->mScalingKeys, channel->mNumScalingKeys, t);
    }
    return compose(p);
}

template <typename Key>
void addTimes(const Key* keys, unsigned count, std::vector<double>& times)
{
    // One key is a constant, which needs no time of its own (the caller
    // gives it one when nothing else does); a list keyed at the times
    // already there (a channel's kinds keyed together, as they mostly are)
    // adds nothing: no copy to sort away.
    if (count == 1) {
        return;
    }
    if (keys && count <= times.size()) {
        const auto at = times.end() - count;
        bool same = true;
        for (unsigned k = 0; k < count && same; ++k) {
            same = at[k] == keys[k].mTime;
        }
        if (same) {
            return;
        }
    }
    for (unsigned k = 0; keys && k < count; ++k) {
        if (std::isfinite(keys[k].mTime)) {
            times.push_back(keys[k].mTime);
        }
    }
}

bool finite(const Parts& p)
{
    const float v[] = {p.translation.x, p.translation.y, p.translation.z, p.rotation.w, p.rotation.x,
                       p.rotation.y,    p.rotation.z,    p.scale.x,       p.scale.y,    p.scale.z};
    return std::all_of(std::begin(v), std::end(v), [](float f) { return std::isfinite(f); });
}

// Appends a key, or, where it repeats the last two kept keys' pose, moves
// the last one to its time instead: a held pose needs only its ends, and a
// small file that holds a pose for millions of frames (BVH's frame count)
// costs two keys, not millions.
void appendKey(std::vector<KeyFrame>& keys, float time, const Parts& p, std::int32_t boneIndex,
               const std::string& boneName)
{
    const auto same = [&](const KeyFrame& k) {
        return k.translation.x == p.translation.x && k.translation.y == p.translation.y &&
               k.translation.z == p.translation.z && k.rotation.w == p.rotation.w && k.rotation.x == p.rotation.x &&
               k.rotation.y == p.rotation.y && k.rotation.z == p.rotation.z && k.scale.x == p.scale.x &&
               k.scale.y == p.scale.y && k.scale.z == p.scale.z;
    };
    const std::size_t n = keys.size();
    if (n >= 2 && same(keys[n - 1]) && same(keys[n - 2])) {
        keys[n - 1].time = time;
        return;
    }
    KeyFrame& key = keys.emplace_back();
    key.time = time;
    key.boneIndex = boneIndex;
    key.boneName = boneName;
    key.translation = p.translation;
    key.rotation = p.rotation;
    key.scale = p.scale;
}

// Whether each kind of the channel's keys is absent, a constant (one key) or
// keyed at exactly these times (as motion capture and baked clips are): its
// keys are then the values, with nothing to interpolate.
bool keyedAtTimes(const aiNodeAnim& ch, const std::vector<double>& times)
{
    const auto same = [&](const auto* keys, unsigned count) {
        if (count <= 1 || !keys) {
            return true;
        }
        if (count != times.size()) {
            return false;
        }
        for (unsigned k = 0; k < count; ++k) {
            if (keys[k].mTime != times[k]) {
                return false;
            }
        }
        return true;
    };
    return same(ch.mPositionKeys, ch.mNumPositionKeys) && same(ch.mRotationKeys, ch.mNumRotationKeys) &&
           same(ch.mScalingKeys, ch.mNumScalingKeys);
}

bool uniformScale(const Parts& rest)
{
    const float s = rest.scale.x;
    return s > 0 && std::fabs(rest.scale.y - s) <= 1e-6f * s && std::fabs(rest.scale.z - s) <= 1e-6f * s;
}

// The keys of a bone that no helper composes, relative to its rest
// transform T0·R0·s0 (s0 uniform): key T·R·S becomes T' = R0⁻¹(t − t0)/s0,
// R' = R0⁻¹·q, S' = s/s0, which is what L⁻¹·(T·R·S) is, without matrices.
void directKeys(const aiNodeAnim& ch, const Parts& rest, const std::vector<double>& times, double ticksPerSecond,
                std::int32_t boneIndex, const std::string& boneName, std::vector<KeyFrame>& keys, bool& skipped)
{
    Quaternion unturn;
    quatConjugate(rest.rotation, unturn);
    Matrix4 back;
    quatToMatrix(unturn, back);
    const float s0 = rest.scale.x;
    const bool moves = ch.mNumPositionKeys > 0 && ch.mPositionKeys;
    const bool turns = ch.mNumRotationKeys > 0 && ch.mRotationKeys;
    const bool scales = ch.mNumScalingKeys > 0 && ch.mScalingKeys;
    for (std::size_t k = 0; k < times.size(); ++k) {
        Parts p;
        if (moves) {
            const aiVector3D& t = ch.mPositionKeys[ch.mNumPositionKeys == 1 ? 0 : k].mValue;
            const Vector3 d{t.x - rest.translation.x, t.y - rest.translation.y, t.z - rest.translation.z};
            p.translation = {(back(0, 0) * d.x + back(0, 1) * d.y + back(0, 2) * d.z) / s0,
                             (back(1, 0) * d.x + back(1, 1) * d.y + back(1, 2) * d.z) / s0,
                             (back(2, 0) * d.x + back(2, 1) * d.y + back(2, 2) * d.z) / s0};
        }
        if (turns) {
            const aiQuaternion& q = ch.mRotationKeys[ch.mNumRotationKeys == 1 ? 0 : k].mValue;
            Quaternion unit;
            quatNormalize({q.w, q.x, q.y, q.z}, unit);
            quatMul(unturn, unit, p.rotation);
        }
        if (scales) {
            const aiVector3D& v = ch.mScalingKeys[ch.mNumScalingKeys == 1 ? 0 : k].mValue;
            p.scale = {v.x / s0, v.y / s0, v.z / s0};
        }
        if (!finite(p)) {
            skipped = true;
            continue;
        }
        appendKey(keys, static_cast<float>(std::max(0.0, times[k] / ticksPerSecond)), p, boneIndex, boneName);
    }
}

// Whether pm lies within tolerance of what the keys p0 and p1 give halfway
// (translation and scale as lines, rotation by slerp, as clips play).
bool closeToHalfway(const Parts& p0, const Parts& p1, const Parts& pm, float tolerance)
{
    const auto near = [&](const Vector3& a, const Vector3& b, const Vector3& m, float within) {
        const Vector3 d{0.5f * (a.x + b.x) - m.x, 0.5f * (a.y + b.y) - m.y, 0.5f * (a.z + b.z) - m.z};
        return length(d) <= within;
    };
    Quaternion q;
    slerp(p0.rotation, p1.rotation, 0.5f, q);
    const float dot = std::fabs(q.w * pm.rotation.w + q.x * pm.rotation.x + q.y * pm.rotation.y + q.z * pm.rotation.z);
    return near(p0.translation, p1.translation, pm.translation, tolerance) &&
           near(p0.scale, p1.scale, pm.scale, 1e-4f * length(pm.scale)) && dot >= 1.0f - 1e-6f;
}

// The track of the bone of node bone: the nodes whose transforms make its
// local one (the helpers above it, then itself), sampled at every key time
// of their channels.
std::vector<KeyFrame> track(AssimpConversion& c, std::size_t bone, const std::map<std::size_t, const aiNodeAnim*>& channels,
                            double ticksPerSecond, bool& skipped)
{
    std::vector<std::size_t> chain{bone};
    for (std::size_t p = c.nodes[bone].parent; p != kNoNode && c.nodes[p].helper; p = c.nodes[p].parent) {
        chain.insert(chain.begin(), p);
    }
    std::vector<const aiNodeAnim*> driven(chain.size(), nullptr);
    std::vector<Parts> rest(chain.size());
    std::vector<double> times;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        rest[i] = decompose(c.nodes[chain[i]].local);
        const auto found = channels.find(chain[i]);
        if (found != channels.end()) {
            driven[i] = found->second;
            addTimes(driven[i]->mPositionKeys, driven[i]->mNumPositionKeys, times);
            addTimes(driven[i]->mRotationKeys, driven[i]->mNumRotationKeys, times);
            addTimes(driven[i]->mScalingKeys, driven[i]->mNumScalingKeys, times);
        }
    }
    for (std::size_t i = 0; times.empty() && i < chain.size(); ++i) {
        if (driven[i]) {  // constants only: one key at the first time any of them names
            const aiNodeAnim& d = *driven[i];
            const double first = d.mNumPositionKeys ? d.mPositionKeys[0].mTime
                                 : d.mNumRotationKeys ? d.mRotationKeys[0].mTime
                                 : d.mNumScalingKeys  ? d.mScalingKeys[0].mTime
                                                      : 0.0;
            times.push_back(std::isfinite(first) ? first : 0.0);
        }
    }
    if (!std::is_sorted(times.begin(), times.end()) || std::adjacent_find(times.begin(), times.end()) != times.end()) {
        std::sort(times.begin(), times.end());
        times.erase(std::unique(times.begin(), times.end()), times.end());
    }
    Bone& target = *c.bones[static_cast<std::size_t>(c.nodes[bone].boneIndex)];
    std::vector<KeyFrame> keys;
    if (chain.size() == 1 && driven[0] && keyedAtTimes(*driven[0], times) && uniformScale(rest[0])) {
        directKeys(*driven[0], rest[0], times, ticksPerSecond, c.nodes[bone].boneIndex, target.name, keys, skipped);
        return keys;
    }
    // The bone's pose at t relative to its rest transform, from its chain.
    const auto partsAt = [&](double t) {
        Matrix4 m, relative;
        for (std::size_t i = 0; i < chain.size(); ++i) {
            mul(Matrix4(m), localAt(driven[i], rest[i], t), m);
        }
        mul(target.inverseLocalMatrix, m, relative);
        return decompose(relative);
    };
    // Helpers with an arm (a pivot's offset) that a keyed rotation swings:
    // the product moves on an arc, which keys of the product interpolated
    // as lines cut short. Where halfway between two keys the product is
    // further than tolerance from their interpolation, a key is put there,
    // down to 1/256 of the span, within a budget of keys the track's own
    // times set.
    float arms = 0;
    for (std::size_t i = 0; chain.size() > 1 && i < chain.size(); ++i) {
        arms += length(rest[i].translation);
    }
    const float tolerance = 1e-4f * arms;
    std::size_t budget = 8 * times.size() + 256;
    const std::function<void(double, const Parts&, double, const Parts&, int)> refine =
        [&](double t0, const Parts& p0, double t1, const Parts& p1, int depth) {
            if (depth >= 8 || budget == 0) {
                return;
            }
            const double tm = 0.5 * (t0 + t1);
            const Parts pm = partsAt(tm);
            if (!finite(pm) || closeToHalfway(p0, p1, pm, tolerance)) {
                return;
            }
            --budget;
            refine(t0, p0, tm, pm, depth + 1);
            appendKey(keys, static_cast<float>(std::max(0.0, tm / ticksPerSecond)), pm, c.nodes[bone].boneIndex,
                      target.name);
            refine(tm, pm, t1, p1, depth + 1);
        };
    Parts last;
    double lastTime = 0;
    bool any = false;
    for (const double t : times) {
        const Parts p = partsAt(t);
        if (!finite(p)) {
            skipped = true;
            continue;
        }
        if (any && tolerance > 0) {
            refine(lastTime, last, t, p, 0);
        }
        appendKey(keys, static_cast<float>(std::max(0.0, t / ticksPerSecond)), p, c.nodes[bone].boneIndex,
                  target.name);
        last = p, lastTime = t, any = true;
    }
    return keys;
}

}  // namespace

void addAssimpClips(AssimpConversion& c)
{
    bool defaultRate = false, skipped = false;
    int empty = 0;
    for (unsigned a = 0; c.scene.mAnimations && a < c.scene.mNumAnimations; ++a) {
        if (!c.scene.mAnimations[a] || !c.scene.mAnimations[a]->mChannels) {
            continue;
        }
        const aiAnimation& animation = *c.scene.mAnimations[a];
        // The channels by the bone they drive, helpers' by their bone.
        std::map<std::size_t, const aiNodeAnim*> channels;
        std::set<std::size_t> bones;  // node of each driven bone
        for (unsigned ch = 0; ch < animation.mNumChannels; ++ch) {
            const aiNodeAnim* channel = animation.mChannels[ch];
            const std::size_t node = channel ? assimpNodeNamed(c, channel->mNodeName) : kNoNode;
            if (node == kNoNode || c.nodes[node].owner == kNoNode || !c.nodes[c.nodes[node].owner].bone) {
                continue;
            }
            channels.try_emplace(node, channel);
            bones.insert(c.nodes[node].owner);
        }
        double rate = animation.mTicksPerSecond;
        if (!(rate > 0) || !std::isfinite(rate)) {
            rate = kAssimpDefaultTicksPerSecond;
            defaultRate = true;
        }
        Animation clip;
        clip.name.assign(animation.mName.C_Str(), animation.mName.length);
        if (clip.name.empty()) {
            clip.name = "Animation " + std::to_string(a);
        }
        clip.loop = true;
        for (const std::size_t bone : bones) {
            std::vector<KeyFrame> keys = track(c, bone, channels, rate, skipped);
            if (!keys.empty()) {
                clip.length = std::max(clip.length, keys.back().time);
                clip.tracks.push_back(std::move(keys));
            }
        }
        if (clip.tracks.empty()) {
            ++empty;
            continue;
        }
        c.model.animator.animations.push_back(std::move(clip));
    }
    if (defaultRate) {
        c.notes.push_back("an animation gives no ticks per second: read at " +
                          std::to_string(static_cast<int>(kAssimpDefaultTicksPerSecond)));
    }
    if (skipped) {
        c.notes.push_back("keys whose transforms are not finite are left out");
    }
    if (empty > 0) {
        c.notes.push_back(std::to_string(empty) + " animations drive no bone and are left out");
    }
}

}  // namespace fyrel
