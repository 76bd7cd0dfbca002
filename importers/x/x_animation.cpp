#include "importers/x/x_animation.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "scene/animation_clip.h"

namespace fyrel {

namespace {

// Values per key of each key type: rotation, scale, position, matrix, matrix.
constexpr std::size_t kValuesOfKeyType[] = {4, 3, 3, 16, 16};
constexpr const char* kKeyTypeName[] = {"rotation", "scale", "position", "matrix", "matrix"};

std::string describeObject(const XObject& o)
{
    return o.name.empty() ? o.type : o.type + " \"" + o.name + "\"";
}

[[noreturn]] void fail(const XFileData& file, const XObject& o, const std::string& what)
{
    throw XReadError(what + " at " + file.where(o.location));
}

struct Vec3d {
    double x, y, z;
};

double dot(const Vec3d& a, const Vec3d& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3d scaled(const Vec3d& a, double s)
{
    return {a.x * s, a.y * s, a.z * s};
}

Vec3d minus(const Vec3d& a, const Vec3d& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// a / |a|, or false when a is too short to have a direction.
bool unit(const Vec3d& a, Vec3d& out)
{
    const double length = std::sqrt(dot(a, a));
    if (!(length > 1e-30)) {
        return false;
    }
    out = scaled(a, 1.0 / length);
    return true;
}

// A unit vector at right angles to the unit vector x.
Vec3d perpendicular(const Vec3d& x)
{
    const Vec3d axis = std::fabs(x.x) < 0.9 ? Vec3d{1, 0, 0} : Vec3d{0, 1, 0};
    Vec3d out{};
    unit(minus(axis, scaled(x, dot(axis, x))), out);
    return out;
}

template <typename T>
float lastTime(const std::vector<XTimedValue<T>>& keys)
{
    return keys.empty() ? 0.0f : keys.back().time;
}

class SetReader {
public:
    explicit SetReader(XFileData& file) : file_(file) {}

    std::vector<XAnimationSet> run();

private:
    void charge(const XObject& o, std::uint64_t bytes)
    {
        if (!file_.budget.take(bytes)) {
            fail(file_, o, file_.budget.refusal());
        }
    }
    double ticksPerSecond(const XObject& o);
    XAnimationSet readSet(const XObject& o, std::size_t index, double ticks);
    XFrameAnimation readAnimation(const XObject& o, double ticks);
    void readKeys(const XObject& o, double ticks, XFrameAnimation& out);
    float finite(const XObject& o, double v, std::uint32_t key);

    XFileData& file_;
};

std::vector<XAnimationSet> SetReader::run()
{
    double ticks = 0.0;  // none given
    for (const XObject* top : file_.topLevel) {
        if (top->kind == XObjectKind::AnimTicksPerSecond) {
            ticks = ticksPerSecond(*top);
            break;
        }
    }
    std::vector<XAnimationSet> sets;
    std::size_t index = 0;
    for (const XObject* top : file_.topLevel) {
        if (top->kind == XObjectKind::AnimTicksPerSecond) {
            ticks = ticksPerSecond(*top);
        } else if (top->kind == XObjectKind::AnimationSet) {
            charge(*top, kXGrowthFactor * (sizeof(XAnimationSet) + sizeof(Animation)) +
                             2 * xStringHeapBytes(top->name.size() + 16));
            sets.push_back(readSet(*top, index++, ticks));
        }
    }
    return sets;
}

double SetReader::ticksPerSecond(const XObject& o)
{
    if (o.numbers.empty() || o.numbers.front() == 0.0) {
        fail(file_, o, describeObject(o) + " gives no ticks per second (0)");
    }
    return o.numbers.front();
}

// Without a rate (ticks 0) the keys are read in ticks, and the set's last
// one chooses the rate they are then divided by.
XAnimationSet SetReader::readSet(const XObject& o, std::size_t index, double ticks)
{
    XAnimationSet set;
    set.name = o.name.empty() ? "Animation " + std::to_string(index) : o.name;
    set.rateGiven = ticks != 0.0;
    for (const XChild& c : o.children) {
        if (c.isReference && (!c.object || c.object->kind != XObjectKind::Animation)) {
            fail(file_, o, describeObject(o) + " refers to \"" + c.referenceName +
                               "\", which names no Animation before it");
        }
        if (c.object->kind != XObjectKind::Animation) {
            continue;
        }
        XFrameAnimation animation = readAnimation(*c.object, set.rateGiven ? ticks : 1.0);
        set.length = std::max({set.length, lastTime(animation.scales), lastTime(animation.rotations),
                               lastTime(animation.positions)});
        set.animations.push_back(std::move(animation));
    }
    if (set.rateGiven) {
        set.ticksPerSecond = ticks;
        return set;
    }
    set.ticksPerSecond = set.length < kXLastFrameTick ? kXFrameTicksPerSecond : kXDefaultTicksPerSecond;
    const auto toSeconds = [rate = set.ticksPerSecond](auto& keys) {
        for (auto& k : keys) {
            k.time = static_cast<float>(k.time / rate);
        }
    };
    for (XFrameAnimation& animation : set.animations) {
        toSeconds(animation.scales);
        toSeconds(animation.rotations);
        toSeconds(animation.positions);
    }
    set.length = static_cast<float>(set.length / set.ticksPerSecond);
    return set;
}

XFrameAnimation SetReader::readAnimation(const XObject& o, double ticks)
{
    XFrameAnimation animation;
    bool named = false;
    for (const XChild& c : o.children) {
        const XObject* child = c.object;
        if (child && child->kind == XObjectKind::AnimationKey) {
            readKeys(*child, ticks, animation);
        } else if (!named && c.isReference) {
            animation.frame = c.referenceName;
            named = true;
        } else if (!named && child && child->kind == XObjectKind::Frame) {
            animation.frame = child->name;
            named = true;
        }
    }
    // The record with its name, and the key frames the model's clip will
    // hold for it: one per distinct key time, the clip's start and end.
    const std::uint64_t keys = animation.scales.size() + animation.rotations.size() + animation.positions.size();
    const std::uint64_t nameBytes = xStringHeapBytes(animation.frame.size());
    charge(o, kXGrowthFactor * sizeof(XFrameAnimation) + nameBytes + kXGrowthFactor * sizeof(std::vector<KeyFrame>) +
                  (keys + 2) * (sizeof(KeyFrame) + nameBytes) + kXAllocOverhead);
    return animation;
}

float SetReader::finite(const XObject& o, double v, std::uint32_t key)
{
    if (!(std::fabs(v) <= FLT_MAX)) {
        fail(file_, o, "key " + std::to_string(key) + " of " + describeObject(o) +
                           " holds a value that is not a finite float");
    }
    return static_cast<float>(v);
}

void SetReader::readKeys(const XObject& o, double ticks, XFrameAnimation& out)
{
    const std::vector<double>& n = o.numbers;
    if (n.size() < 2) {
        fail(file_, o, describeObject(o) + " ends before its keys do");
    }
    const double type = n[0];
    if (!(type >= 0 && type <= 4)) {
        fail(file_, o, describeObject(o) + " has key type " + std::to_string(static_cast<long long>(type)) +
                           "; the types are 0 (rotation), 1 (scale), 2 (position), 3 and 4 (matrix)");
    }
    const auto kind = static_cast<std::size_t>(type);
    const std::size_t values = kValuesOfKeyType[kind];
    const auto count = static_cast<std::uint32_t>(n[1]);
    if (count > (n.size() - 2) / (2 + values)) {
        fail(file_, o, describeObject(o) + " ends before its keys do");
    }
    const std::uint64_t listBytes = count * (kind >= 3 ? 2 * sizeof(XTimedValue<Vector3>) + sizeof(XTimedValue<Quaternion>)
                                                       : kind == 0 ? sizeof(XTimedValue<Quaternion>)
                                                                   : sizeof(XTimedValue<Vector3>));
    charge(o, listBytes + 3 * kXAllocOverhead);

    std::vector<XTimedValue<Vector3>> scales, positions;
    std::vector<XTimedValue<Quaternion>> rotations;
    auto& vectors = kind == 1 ? scales : positions;
    if (kind == 0 || kind >= 3) {
        rotations.reserve(count);
    }
    if (kind == 1 || kind >= 3) {
        scales.reserve(count);
    }
    if (kind == 2 || kind >= 3) {
        positions.reserve(count);
    }
    std::size_t i = 2;
    for (std::uint32_t k = 0; k < count; ++k) {
        const auto time = static_cast<float>(n[i] / ticks);
        if (n[i + 1] != static_cast<double>(values)) {
            fail(file_, o, "key " + std::to_string(k) + " of " + describeObject(o) + " holds " +
                               std::to_string(static_cast<long long>(n[i + 1])) + " values; a " + kKeyTypeName[kind] +
                               " key holds " + std::to_string(values));
        }
        float v[16];
        for (std::size_t j = 0; j < values; ++j) {
            v[j] = finite(o, n[i + 2 + j], k);
        }
        i += 2 + values;
        if (kind == 0) {
            // Written for row vectors: the scene's column-vector rotation is its conjugate.
            const Quaternion written{v[0], -v[1], -v[2], -v[3]};
            if (written.w == 0 && written.x == 0 && written.y == 0 && written.z == 0) {
                fail(file_, o, "key " + std::to_string(k) + " of " + describeObject(o) + " is a zero quaternion");
            }
            Quaternion q;
            rotations.push_back({time, quatNormalize(written, q)});
        } else if (kind <= 2) {
            vectors.push_back({time, Vector3{v[0], v[1], v[2]}});
        } else {
            Matrix4 m;
            for (int r = 0; r < 4; ++r) {
                for (int c = 0; c < 4; ++c) {
                    m(r, c) = v[4 * c + r];
                }
            }
            XTimedValue<Vector3> s{time, {}}, t{time, {}};
            XTimedValue<Quaternion> q{time, {}};
            splitTransform(m, t.value, q.value, s.value);
            scales.push_back(s);
            rotations.push_back(q);
            positions.push_back(t);
        }
    }
    auto byTime = [](const auto& a, const auto& b) { return a.time < b.time; };
    std::stable_sort(scales.begin(), scales.end(), byTime);
    std::stable_sort(rotations.begin(), rotations.end(), byTime);
    std::stable_sort(positions.begin(), positions.end(), byTime);
    if (kind == 0 || kind >= 3) {
        out.rotations = std::move(rotations);
    }
    if (kind == 1 || kind >= 3) {
        out.scales = std::move(scales);
    }
    if (kind == 2 || kind >= 3) {
        out.positions = std::move(positions);
    }
}

}  // namespace

void splitTransform(const Matrix4& m, Vector3& translation, Quaternion& rotation, Vector3& scale)
{
    const Vec3d a0{m(0, 0), m(1, 0), m(2, 0)};
    const Vec3d a1{m(0, 1), m(1, 1), m(2, 1)};
    const Vec3d a2{m(0, 2), m(1, 2), m(2, 2)};
    Vec3d x{1, 0, 0}, y{};
    unit(a0, x);
    if (!unit(minus(a1, scaled(x, dot(a1, x))), y)) {
        y = perpendicular(x);
    }
    const Vec3d z{x.y * y.z - x.z * y.y, x.z * y.x - x.x * y.z, x.x * y.y - x.y * y.x};
    Matrix4 r;
    const Vec3d axes[] = {x, y, z};
    for (int c = 0; c < 3; ++c) {
        r(0, c) = static_cast<float>(axes[c].x);
        r(1, c) = static_cast<float>(axes[c].y);
        r(2, c) = static_cast<float>(axes[c].z);
    }
    matrixToQuat(r, rotation);
    scale = Vector3{static_cast<float>(dot(a0, x)), static_cast<float>(dot(a1, y)), static_cast<float>(dot(a2, z))};
    translation = Vector3{m(0, 3), m(1, 3), m(2, 3)};
}

std::vector<XAnimationSet> loadAnimationSetsFromX(XFileData& file)
{
    return SetReader(file).run();
}

}  // namespace fyrel
