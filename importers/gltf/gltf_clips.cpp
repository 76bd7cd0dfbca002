#include "importers/gltf/gltf_clips.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "importers/gltf/gltf_accessors.h"
#include "importers/gltf/gltf_nodes.h"
#include "math/quaternion.h"

namespace fyrel {
namespace {

// A node's rest transform in parts, for turning absolute keys into keys
// relative to the bind pose.
struct RestParts {
    Vector3 translation;
    Quaternion rotation;
    Vector3 scale{1.0f, 1.0f, 1.0f};
    Matrix4 unrotate;  // the rotation's inverse
};

// One channel's values at a time, as the format interpolates them.
struct Channel {
    std::vector<float> times;
    std::vector<float> values;  // per key: width, or 3 · width for CUBICSPLINE
    int width = 3;               // 3 translation or scale, 4 rotation (x, y, z, w)
    enum class Mode { Linear, Step, Cubic } mode = Mode::Linear;
    enum class Target { Translation, Rotation, Scale } target = Target::Translation;

    std::size_t keys() const { return times.size(); }

    // The value of key k (for a cubic spline, its point between the tangents).
    const float* at(std::size_t k) const
    {
        return values.data() + (mode == Mode::Cubic ? (3 * k + 1) : k) * static_cast<std::size_t>(width);
    }

    void sample(float t, float* out) const
    {
        sampleBefore(static_cast<std::size_t>(std::upper_bound(times.begin(), times.end(), t) - times.begin()), t, out);
    }

    // The first key after t, found from the one found for an earlier time:
    // times asked in ascending order cost a step each, not a search.
    std::size_t keyAfter(std::size_t next, float t) const
    {
        while (next < times.size() && times[next] <= t) {
            ++next;
        }
        return next;
    }

    // The value at t, given k1, the first key after t.
    void sampleBefore(std::size_t k1, float t, float* out) const
    {
        const std::size_t n = keys();
        if (k1 == 0 || n == 1) {
            std::copy(at(0), at(0) + width, out);
            return;
        }
        if (k1 == n) {
            std::copy(at(n - 1), at(n - 1) + width, out);
            return;
        }
        const std::size_t k0 = k1 - 1;
        if (t == times[k0]) {
            // On a key every mode gives the key's value, exactly: copied
            // rather than interpolated with a weight of zero.
            std::copy(at(k0), at(k0) + width, out);
            return;
        }
        const float span = times[k1] - times[k0];
        const float s = span > 0 ? (t - times[k0]) / span : 1.0f;
        if (mode == Mode::Step) {
            std::copy(at(k0), at(k0) + width, out);
        } else if (mode == Mode::Cubic) {
            cubic(k0, k1, s, span, out);
        } else if (width == 4) {
            const float* a = at(k0);
            const float* b = at(k1);
            Quaternion q;
            slerpInDoubles({a[3], a[0], a[1], a[2]}, {b[3], b[0], b[1], b[2]}, s, q);
            out[0] = q.x, out[1] = q.y, out[2] = q.z, out[3] = q.w;
        } else {
            for (int c = 0; c < width; ++c) {
                out[c] = at(k0)[c] + s * (at(k1)[c] - at(k0)[c]);
            }
        }
        if (width == 4) {
            Quaternion q{out[3], out[0], out[1], out[2]};
            quatNormalize(q, q);
            out[0] = q.x, out[1] = q.y, out[2] = q.z, out[3] = q.w;
        }
    }

    // The Hermite spline between keys k0 and k1 at s of the span between them.
    void cubic(std::size_t k0, std::size_t k1, float s, float span, float* out) const
    {
        const float s2 = s * s, s3 = s2 * s;
        const float* v0 = at(k0);
        const float* b0 = v0 + width;                                                 // out-tangent of k0
        const float* a1 = values.data() + 3 * k1 * static_cast<std::size_t>(width);  // in-tangent of k1
        const float* v1 = at(k1);
        for (int c = 0; c < width; ++c) {
            out[c] = (2 * s3 - 3 * s2 + 1) * v0[c] + (s3 - 2 * s2 + s) * span * b0[c] +
                     (-2 * s3 + 3 * s2) * v1[c] + (s3 - s2) * span * a1[c];
        }
    }
};

// The channel's key times and values, checked.
Channel readChannel(const GltfConversion& c, const tinygltf::Animation& animation,
                    const tinygltf::AnimationChannel& source, const std::string& what)
{
    if (source.sampler < 0 || static_cast<std::size_t>(source.sampler) >= animation.samplers.size()) {
        failGltf(c, what + " names a sampler that does not exist");
    }
    const tinygltf::AnimationSampler& sampler = animation.samplers[static_cast<std::size_t>(source.sampler)];
    Channel channel;
    channel.target = source.target_path == "translation" ? Channel::Target::Translation
                     : source.target_path == "rotation"  ? Channel::Target::Rotation
                                                         : Channel::Target::Scale;
    channel.width = channel.target == Channel::Target::Rotation ? 4 : 3;
    channel.mode = sampler.interpolation == "STEP"          ? Channel::Mode::Step
                   : sampler.interpolation == "CUBICSPLINE" ? Channel::Mode::Cubic
                                                            : Channel::Mode::Linear;
    channel.times = readGltfFloats(c.doc, sampler.input, {"key times", 1, false, &what}, c.fileName);
    channel.values = readGltfFloats(c.doc, sampler.output, {"key values", channel.width, false, &what}, c.fileName);
    const std::size_t perKey = static_cast<std::size_t>(channel.width) * (channel.mode == Channel::Mode::Cubic ? 3 : 1);
    if (channel.times.empty() || channel.values.size() != channel.times.size() * perKey) {
        failGltf(c, what + " has " + std::to_string(channel.values.size() / perKey) + " key values for " +
                        std::to_string(channel.times.size()) + " key times");
    }
    for (std::size_t k = 0; k < channel.times.size(); ++k) {
        if (!std::isfinite(channel.times[k]) || channel.times[k] < 0 ||
            (k > 0 && !(channel.times[k] > channel.times[k - 1]))) {
            failGltf(c, what + " has key times that do not ascend");
        }
    }
    if (!std::all_of(channel.values.begin(), channel.values.end(), [](float v) { return std::isfinite(v); })) {
        failGltf(c, what + " has a key value that is not a number");
    }
    return channel;
}

// Splits [a, b] in halves while the spline strays from the straight line
// between its ends (measured at the quarters) by more than the tolerance.
void refine(const Channel& c, float a, float b, int depth, float modelSize, std::vector<float>& times)
{
    const float m = 0.5f * (a + b);
    float va[4], vb[4], v[4];
    c.sample(a, va), c.sample(b, vb);
    float error = 0;
    for (const float f : {0.25f, 0.5f, 0.75f}) {
        c.sample(a + f * (b - a), v);
        for (int i = 0; i < c.width; ++i) {
            error = std::max(error, std::fabs(v[i] - (va[i] + f * (vb[i] - va[i]))));
        }
    }
    const float tolerance = c.width == 4 ? 1e-3f : 1e-3f * modelSize;
    if (depth >= 6 || error <= tolerance) {
        return;
    }
    times.push_back(m);
    refine(c, a, m, depth + 1, modelSize, times);
    refine(c, m, b, depth + 1, modelSize, times);
}

// The times at which a bone's keys are made: every key time of its
// channels; a step also just before the next key, a cubic spline as
// densely as keeps the motion within a thousandth of the model's size.
std::vector<float> keyTimes(const std::vector<Channel>& channels, float modelSize)
{
    // Each channel's times ascend (readChannel checks), and channels
    // usually share theirs: ascending runs are merged, and only the
    // times added between keys need sorting.
    std::vector<float> times, merged, between;
    for (const Channel& c : channels) {
        if (times != c.times) {
            merged.clear();
            std::set_union(times.begin(), times.end(), c.times.begin(), c.times.end(), std::back_inserter(merged));
            times.swap(merged);
        }
        for (std::size_t k = 0; k + 1 < c.keys() && c.mode != Channel::Mode::Linear; ++k) {
            if (c.mode == Channel::Mode::Step) {
                between.push_back(std::nextafter(c.times[k + 1], 0.0f));
            } else {
                refine(c, c.times[k], c.times[k + 1], 0, modelSize, between);
            }
        }
    }
    if (!between.empty()) {
        std::sort(between.begin(), between.end());
        between.erase(std::unique(between.begin(), between.end()), between.end());
        merged.clear();
        std::set_union(times.begin(), times.end(), between.begin(), between.end(), std::back_inserter(merged));
        times.swap(merged);
    }
    return times;
}

// The parts of a node's rest transform.
RestParts restParts(const GltfConversion& c, int node)
{
    const tinygltf::Node& n = c.doc.nodes[static_cast<std::size_t>(node)];
    const Matrix4& m = c.nodes[static_cast<std::size_t>(node)].local;
    RestParts parts;
    parts.translation = {m(0, 3), m(1, 3), m(2, 3)};
    float scales[3];
    Matrix4 rotation;
    for (int col = 0; col < 3; ++col) {
        scales[col] = std::sqrt(m(0, col) * m(0, col) + m(1, col) * m(1, col) + m(2, col) * m(2, col));
        for (int r = 0; r < 3; ++r) {
            rotation(r, col) = scales[col] > 0 ? m(r, col) / scales[col] : 0.0f;
        }
    }
    parts.scale = {scales[0], scales[1], scales[2]};
    if (n.rotation.size() == 4) {
        parts.rotation = {static_cast<float>(n.rotation[3]), static_cast<float>(n.rotation[0]),
                          static_cast<float>(n.rotation[1]), static_cast<float>(n.rotation[2])};
        quatNormalize(parts.rotation, parts.rotation);
    } else if (n.matrix.size() == 16) {
        matrixToQuat(rotation, parts.rotation);
    }
    Quaternion back;
    quatToMatrix(quatConjugate(parts.rotation, back), parts.unrotate);
    return parts;
}

// Keys here are relative to the bind pose (local = bind · T · R · S):
// with bind = T0 · R0 · S0, the absolute translation t, rotation q and
// scale s become T = S0⁻¹ R0⁻¹ (t − t0), R = R0⁻¹ q and S = s / S0, exact
// when the bind scale is uniform (as it is in practice).
inline void relativeKey(float time, const Vector3& t, const Quaternion& q, const Vector3& s, const RestParts& rest,
                 std::int32_t boneIndex, const std::string& boneName, KeyFrame& key)
{
    Quaternion inverse;
    quatConjugate(rest.rotation, inverse);
    const auto divide = [](float a, float b) { return b != 0.0f ? a / b : a; };
    const Vector3 moved = gltfPlace(rest.unrotate, {t.x - rest.translation.x, t.y - rest.translation.y,
                                                    t.z - rest.translation.z}, 0.0f);
    key.time = time;
    key.boneIndex = boneIndex;
    key.boneName = boneName;
    key.translation = {divide(moved.x, rest.scale.x), divide(moved.y, rest.scale.y), divide(moved.z, rest.scale.z)};
    key.scale = {divide(s.x, rest.scale.x), divide(s.y, rest.scale.y), divide(s.z, rest.scale.z)};
    Quaternion unit;
    quatNormalize(q, unit);
    quatMul(inverse, unit, key.rotation);
}

// A bone's absolute pose at times[k]: each channel's value, the rest pose
// where it has none. next holds each channel's first key after the time
// asked before; keyedHere whether a channel is keyed at exactly these times
// (its key k is then the value).
inline void poseAt(const std::vector<Channel>& channels, const std::vector<float>& times, std::size_t k,
            const std::vector<std::uint8_t>& keyedHere, std::vector<std::size_t>& next, Vector3& translation,
            Quaternion& rotation, Vector3& scale)
{
    const float t = times[k];
    for (std::size_t c = 0; c < channels.size(); ++c) {
        float v[4];
        if (keyedHere[c]) {
            const float* key = channels[c].at(k);
            v[0] = key[0], v[1] = key[1], v[2] = key[2], v[3] = channels[c].width == 4 ? key[3] : 0.0f;
        } else {
            next[c] = channels[c].keyAfter(next[c], t);
            channels[c].sampleBefore(next[c], t, v);
        }
        if (channels[c].target == Channel::Target::Translation) {
            translation = {v[0], v[1], v[2]};
        } else if (channels[c].target == Channel::Target::Rotation) {
            rotation = {v[3], v[0], v[1], v[2]};
        } else {
            scale = {v[0], v[1], v[2]};
        }
    }
}

// The track of one bone: a key at each of times.
std::vector<KeyFrame> sampleTrack(const GltfConversion& c, int node, const std::vector<Channel>& channels,
                                  const std::vector<float>& times)
{
    const RestParts rest = restParts(c, node);
    const std::string& boneName = c.nodes[static_cast<std::size_t>(node)].boneName;
    const std::int32_t boneIndex = c.boneIndexByName.at(boneName);
    std::vector<KeyFrame> track;
    track.reserve(times.size());
    std::vector<std::size_t> next(channels.size(), 0);  // each channel's first key after t
    // A channel keyed at exactly these times gives key k's value at
    // time k (a sample on a key copies it).
    std::vector<std::uint8_t> keyedHere(channels.size());
    for (std::size_t ch = 0; ch < channels.size(); ++ch) {
        keyedHere[ch] = channels[ch].times == times;
    }
    for (std::size_t k = 0; k < times.size(); ++k) {
        Vector3 translation = rest.translation;
        Quaternion rotation = rest.rotation;
        Vector3 scale = rest.scale;
        poseAt(channels, times, k, keyedHere, next, translation, rotation, scale);
        relativeKey(times[k], translation, rotation, scale, rest, boneIndex, boneName, track.emplace_back());
    }
    return track;
}

// The channels of an animation that move bones, by node: translation,
// rotation, scale, in file order.
std::map<int, std::vector<Channel>> readChannels(GltfConversion& c, const tinygltf::Animation& a, std::size_t index)
{
    std::map<int, std::vector<Channel>> byNode;
    std::string what;  // for messages; one buffer for all the channels
    for (std::size_t ch = 0; ch < a.channels.size(); ++ch) {
        const tinygltf::AnimationChannel& channel = a.channels[ch];
        what.assign("channel ").append(std::to_string(ch)).append(" of animation ").append(std::to_string(index));
        if (channel.target_path == "weights") {
            if (!c.notedMorphs) {
                noteGltf(c, "morph target weights are not played");
                c.notedMorphs = true;
            }
            continue;
        }
        if (channel.target_path != "translation" && channel.target_path != "rotation" &&
            channel.target_path != "scale") {
            continue;  // an extension's target
        }
        checkGltfNode(c, channel.target_node);
        if (!c.nodes[static_cast<std::size_t>(channel.target_node)].bone) {
            continue;  // a node outside the scene moves nothing shown
        }
        byNode[channel.target_node].push_back(readChannel(c, a, channel, what));
    }
    return byNode;
}

void addClip(GltfConversion& c, std::size_t index)
{
    const tinygltf::Animation& a = c.doc.animations[index];
    const std::map<int, std::vector<Channel>> byNode = readChannels(c, a, index);
    Animation clip;
    clip.name = a.name.empty() ? "Animation " + std::to_string(index) : a.name;
    clip.loop = true;
    for (const auto& [node, channels] : byNode) {
        const std::vector<float> times = keyTimes(channels, c.modelSize);
        spendGltf(c, times.size() * (sizeof(KeyFrame) + c.nodes[static_cast<std::size_t>(node)].boneName.size()));
        clip.tracks.push_back(sampleTrack(c, node, channels, times));
        clip.length = std::max(clip.length, times.back());
    }
    if (!clip.tracks.empty()) {
        c.model.animator.animations.push_back(std::move(clip));
    }
}

}  // namespace

void addGltfClips(GltfConversion& c)
{
    for (std::size_t a = 0; a < c.doc.animations.size(); ++a) {
        addClip(c, a);
    }
}

}  // namespace fyrel
