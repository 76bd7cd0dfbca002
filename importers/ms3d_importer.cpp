#include "importers/ms3d_importer.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <locale>
#include <memory>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "importers/import_error.h"
#include "scene/debug_output.h"

namespace fyrel {

namespace {

// ---- Records mirroring the file -----------------------------------------------

constexpr std::size_t kHeaderSize = 14;
constexpr std::size_t kVertexSize = 15;
constexpr std::size_t kTriangleSize = 70;
constexpr std::size_t kGroupFixedSize = 35;  // flags, name, triangle count
constexpr std::size_t kMaterialSize = 361;
constexpr std::size_t kAnimationBlockSize = 12;
constexpr std::size_t kJointFixedSize = 93;  // up to and including the key counts
constexpr std::size_t kKeySize = 16;
constexpr std::size_t kNameSize = 32;

struct VertexRecord {
    float position[3];
    std::int8_t boneIndex;
};

struct TriangleRecord {
    std::uint16_t indices[3];
};

struct MaterialRecord {
    float ambient[4];
    float diffuse[4];
    float specular[4];
    float emissive[4];
    float shininess;
};

struct KeyRecord {
    float time;
    float value[3];
};

struct JointRecord {
    std::string name;
    std::string parentName;
    float rotation[3];
    float position[3];
    std::vector<KeyRecord> rotationKeys;
    std::vector<KeyRecord> translationKeys;
};

struct Ms3dRecords {
    std::string identifier;
    std::int32_t version = 0;
    std::vector<VertexRecord> vertices;
    std::vector<TriangleRecord> triangles;
    std::uint16_t groupCount = 0;
    std::vector<MaterialRecord> materials;
    float fps = 0.0f;
    float currentTime = 0.0f;
    std::int32_t totalFrames = 0;
    std::vector<JointRecord> joints;
};

// ---- Messages ---------------------------------------------------------------------

[[noreturn]] void fail(const std::string& fileName, const std::string& what)
{
    throw ImportError("The file \"" + fileName + "\" " + what);
}

// A name from the file as a message shows it: control characters, which
// would break the message's lines, become '?'.
std::string shown(const std::string& name)
{
    std::string s = "\"" + name + "\"";
    for (char& c : s) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = '?';
        }
    }
    return s;
}

std::string ofCount(std::size_t index, std::size_t count)
{
    return std::to_string(index + 1) + " of " + std::to_string(count);
}

// ---- Bounded little-endian reader -------------------------------------------------

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}

    std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }

    // Whether count records of recordSize bytes fit in what remains, written so
    // that it cannot overflow.
    bool fits(std::size_t count, std::size_t recordSize) const { return count <= remaining() / recordSize; }

    // Whole records of recordSize bytes that remain.
    std::size_t wholeRecords(std::size_t recordSize) const { return remaining() / recordSize; }

    // The readers below are called only after fits() has vouched for them.
    std::uint8_t u8() { return *p_++; }
    std::int8_t i8() { return static_cast<std::int8_t>(u8()); }

    std::uint16_t u16()
    {
        const std::uint16_t v = static_cast<std::uint16_t>(p_[0] | (p_[1] << 8));
        p_ += 2;
        return v;
    }

    std::uint32_t u32()
    {
        const std::uint32_t v = std::uint32_t{p_[0]} | (std::uint32_t{p_[1]} << 8) | (std::uint32_t{p_[2]} << 16) |
                                (std::uint32_t{p_[3]} << 24);
        p_ += 4;
        return v;
    }

    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    float f32() { return std::bit_cast<float>(u32()); }

    void floats(float* out, int count)
    {
        for (int i = 0; i < count; ++i) {
            out[i] = f32();
        }
    }

    // A fixed text field: its bytes up to the first zero, or all of them.
    std::string text(std::size_t fieldSize)
    {
        const auto* zero = static_cast<const std::uint8_t*>(std::memchr(p_, 0, fieldSize));
        const std::size_t length = zero ? static_cast<std::size_t>(zero - p_) : fieldSize;
        std::string s(reinterpret_cast<const char*>(p_), length);
        p_ += fieldSize;
        return s;
    }

    void skip(std::size_t n) { p_ += n; }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

// ---- Reading ----------------------------------------------------------------------

// Reads the sections in file order into records and writes the summary lines
// into log. Throws ImportError at the first record that does not fit.
class SectionReader {
public:
    SectionReader(const std::uint8_t* data, std::size_t size, const std::string& fileName, std::ostream& log)
        : in_(data, size), fileName_(fileName), log_(log)
    {
    }

    void readAll(Ms3dRecords& r)
    {
        readHeader(r);
        readVertices(r);
        readTriangles(r);
        readGroups(r);
        readMaterials(r);
        readAnimationBlock(r);
        readJoints(r);
    }

private:
    // A 16-bit count that precedes a section.
    std::uint16_t count(const char* what)
    {
        if (!in_.fits(1, 2)) {
            fail(fileName_, std::string("ends before its ") + what + ".");
        }
        return in_.u16();
    }

    void requireRecords(std::size_t count, std::size_t recordSize, const char* list, const char* record)
    {
        if (!in_.fits(count, recordSize)) {
            fail(fileName_, std::string("ends inside the ") + list + " (" + record + " " +
                                ofCount(in_.wholeRecords(recordSize), count) + ").");
        }
    }

    void readHeader(Ms3dRecords& r)
    {
        if (!in_.fits(1, kHeaderSize)) {
            fail(fileName_, "is too short to be an MS3D model: it has " + std::to_string(in_.remaining()) +
                                " bytes, and the header alone takes 14.");
        }
        r.identifier = in_.text(10);
        r.version = in_.i32();
        log_ << "Header:\n\t" << r.identifier << "\n\tVersion: " << r.version << '\n';
    }

    void readVertices(Ms3dRecords& r)
    {
        const std::uint16_t n = count("vertex count");
        log_ << "Vertices: " << n << '\n';
        requireRecords(n, kVertexSize, "vertex list", "vertex");
        r.vertices.resize(n);
        for (VertexRecord& v : r.vertices) {
            in_.skip(1);  // flags
            in_.floats(v.position, 3);
            v.boneIndex = in_.i8();
            in_.skip(1);  // reference count
        }
    }

    void readTriangles(Ms3dRecords& r)
    {
        const std::uint16_t n = count("triangle count");
        log_ << "Triangles: " << n << '\n';
        requireRecords(n, kTriangleSize, "triangle list", "triangle");
        r.triangles.resize(n);
        for (TriangleRecord& t : r.triangles) {
            in_.skip(2);  // flags
            for (std::uint16_t& index : t.indices) {
                index = in_.u16();
            }
            in_.skip(kTriangleSize - 8);  // normals, texture coordinates, smoothing group, group
        }
    }

    // Groups are read for their sizes only; nothing of them reaches the model.
    void readGroups(Ms3dRecords& r)
    {
        r.groupCount = count("group count");
        log_ << "Groups: " << r.groupCount << '\n';
        for (std::size_t g = 0; g < r.groupCount; ++g) {
            if (!in_.fits(1, kGroupFixedSize)) {
                fail(fileName_, "ends inside the group list (group " + ofCount(g, r.groupCount) + ").");
            }
            in_.skip(1 + kNameSize);
            const std::uint16_t triangles = in_.u16();
            // The triangle indices and the material index.
            if (!in_.fits(1, std::size_t{triangles} * 2 + 1)) {
                fail(fileName_, "ends inside the group list (group " + ofCount(g, r.groupCount) + ", which lists " +
                                    std::to_string(triangles) + " triangles).");
            }
            in_.skip(std::size_t{triangles} * 2 + 1);
        }
    }

    void readMaterials(Ms3dRecords& r)
    {
        const std::uint16_t n = count("material count");
        log_ << "Materials: " << n << '\n';
        requireRecords(n, kMaterialSize, "material list", "material");
        r.materials.resize(n);
        for (MaterialRecord& m : r.materials) {
            in_.skip(kNameSize);
            in_.floats(m.ambient, 4);
            in_.floats(m.diffuse, 4);
            in_.floats(m.specular, 4);
            in_.floats(m.emissive, 4);
            m.shininess = in_.f32();
            in_.skip(4 + 1 + 128 + 128);  // transparency, mode, texture and alpha map names
        }
    }

    void readAnimationBlock(Ms3dRecords& r)
    {
        if (!in_.fits(1, kAnimationBlockSize)) {
            fail(fileName_, "ends inside its animation block (frames per second, current time, total frames).");
        }
        r.fps = in_.f32();
        r.currentTime = in_.f32();
        r.totalFrames = in_.i32();
        log_ << "Animation FPS(" << r.fps << "); CurrentTime(" << r.currentTime << "); Total Frames("
             << r.totalFrames << ")\n";
    }

    void readJoints(Ms3dRecords& r)
    {
        const std::uint16_t n = count("joint count");
        log_ << "Joints: " << n << '\n';
        // Every joint takes at least its fixed part: a count that cannot fit is
        // refused before anything is allocated for it.
        requireRecords(n, kJointFixedSize, "joint list", "joint");
        r.joints.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            readJoint(i, n, r.joints[i]);
        }
    }

    void readJoint(std::size_t i, std::size_t n, JointRecord& j)
    {
        if (!in_.fits(1, kJointFixedSize)) {
            fail(fileName_, "ends inside the joint list (joint " + ofCount(i, n) + ").");
        }
        in_.skip(1);  // flags
        j.name = in_.text(kNameSize);
        j.parentName = in_.text(kNameSize);
        in_.floats(j.rotation, 3);
        in_.floats(j.position, 3);
        const std::uint16_t rotationCount = in_.u16();
        const std::uint16_t translationCount = in_.u16();
        log_ << "Joint " << i << " named " << j.name << " with parent " << j.parentName << ".  has " << rotationCount
             << " rotational frames and " << translationCount << " translational frames.\n";
        const std::size_t keys = std::size_t{rotationCount} + translationCount;
        if (!in_.fits(keys, kKeySize)) {
            const std::size_t whole = in_.wholeRecords(kKeySize);
            const std::string key = whole < rotationCount
                                        ? "rotation key " + ofCount(whole, rotationCount)
                                        : "translation key " + ofCount(whole - rotationCount, translationCount);
            fail(fileName_, "ends inside the joint list (joint " + ofCount(i, n) + ", " + shown(j.name) + ", in its " +
                                key + ").");
        }
        readKeys(j.rotationKeys, rotationCount);
        readKeys(j.translationKeys, translationCount);
    }

    void readKeys(std::vector<KeyRecord>& keys, std::size_t count)
    {
        keys.resize(count);
        for (KeyRecord& k : keys) {
            k.time = in_.f32();
            in_.floats(k.value, 3);
        }
    }

    Reader in_;
    const std::string& fileName_;
    std::ostream& log_;
};

// ---- Checks between reading and conversion --------------------------------------

bool allFinite(const float* v, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

// Rejects what the conversion cannot use: corners naming missing vertices and
// numbers that are not finite.
void validate(const Ms3dRecords& r, const std::string& fileName)
{
    const std::size_t vertexCount = r.vertices.size();
    for (std::size_t i = 0; i < vertexCount; ++i) {
        if (!allFinite(r.vertices[i].position, 3)) {
            fail(fileName, "has a vertex (" + ofCount(i, vertexCount) + ") whose position is not a finite number.");
        }
    }
    for (std::size_t i = 0; i < r.triangles.size(); ++i) {
        for (int c = 0; c < 3; ++c) {
            const std::uint16_t index = r.triangles[i].indices[c];
            if (index >= vertexCount) {
                fail(fileName, "has a triangle (" + ofCount(i, r.triangles.size()) + ") whose corner " +
                                   std::to_string(c + 1) + " names vertex " + std::to_string(index) +
                                   ", but the file has only " + std::to_string(vertexCount) + " vertices.");
            }
        }
    }
    if (!r.materials.empty()) {
        const MaterialRecord& m = r.materials.front();
        if (!allFinite(m.ambient, 4) || !allFinite(m.diffuse, 4) || !allFinite(m.specular, 4) ||
            !allFinite(m.emissive, 4) || !std::isfinite(m.shininess)) {
            fail(fileName, "has a first material with a colour or shininess that is not a finite number.");
        }
    }
    const std::size_t jointCount = r.joints.size();
    for (std::size_t i = 0; i < jointCount; ++i) {
        const JointRecord& j = r.joints[i];
        const std::string where = "joint " + ofCount(i, jointCount) + " (" + shown(j.name) + ")";
        if (!allFinite(j.rotation, 3) || !allFinite(j.position, 3)) {
            fail(fileName, "has a " + where + " whose bind rotation or position is not a finite number.");
        }
        for (std::size_t k = 0; k < j.rotationKeys.size(); ++k) {
            if (!std::isfinite(j.rotationKeys[k].time) || !allFinite(j.rotationKeys[k].value, 3)) {
                fail(fileName, "has a " + where + " whose rotation key " + ofCount(k, j.rotationKeys.size()) +
                                   " is not a finite number.");
            }
        }
        // Only the translation keys that key frames take their values from.
        const std::size_t used = std::min(j.translationKeys.size(), j.rotationKeys.size());
        for (std::size_t k = 0; k < used; ++k) {
            if (!allFinite(j.translationKeys[k].value, 3)) {
                fail(fileName, "has a " + where + " whose translation key " +
                                   ofCount(k, j.translationKeys.size()) + " is not a finite number.");
            }
        }
    }
}

// ---- The joint tree -------------------------------------------------------------

// The joints' places in the tree, worked out on indices before any Bone is
// built. Lookups by name give what Bone::find on the finished part of the tree
// would give (the first bone in depth-first order), without searching it.
class JointTree {
public:
    struct Node {
        int parent = -1;
        int depth = 1;        // the root is level 1
        int childIndex = 0;   // place among the parent's children
        std::vector<int> children;
    };

    explicit JointTree(const std::vector<JointRecord>& joints, const std::string& fileName)
    {
        nodes_.resize(joints.size());
        for (std::size_t i = 0; i < joints.size(); ++i) {
            const int node = static_cast<int>(i);
            if (i > 0) {
                attach(node, parentOf(joints[i]));
                if (nodes_[i].depth > kMaxBoneDepth) {
                    fail(fileName, "has a skeleton nested " + std::to_string(nodes_[i].depth) +
                                       " joints deep at joint " + ofCount(i, joints.size()) + " (" +
                                       shown(joints[i].name) + "); at most " + std::to_string(kMaxBoneDepth) +
                                       " levels are supported.");
                }
            }
            remember(joints[i].name, node);
        }
    }

    const Node& node(int i) const { return nodes_[static_cast<std::size_t>(i)]; }

    // Each node's place in depth-first pre-order (the root is 0).
    std::vector<std::uint64_t> preorder() const
    {
        std::vector<std::uint64_t> order(nodes_.size(), 0);
        if (!nodes_.empty()) {
            std::uint64_t next = 0;
            number(0, next, order);
        }
        return order;
    }

    // The first node in depth-first order named name; -1 when none is.
    int find(const std::string& name) const
    {
        const auto hit = firstByName_.find(name);
        return hit == firstByName_.end() ? -1 : hit->second;
    }

private:
    // A joint whose parent name names no earlier joint hangs under the root.
    int parentOf(const JointRecord& joint) const
    {
        const int parent = find(joint.parentName);
        return parent < 0 ? 0 : parent;
    }

    void attach(int child, int parent)
    {
        Node& p = nodes_[static_cast<std::size_t>(parent)];
        Node& c = nodes_[static_cast<std::size_t>(child)];
        c.parent = parent;
        c.depth = p.depth + 1;
        c.childIndex = static_cast<int>(p.children.size());
        p.children.push_back(child);
    }

    void remember(const std::string& name, int node)
    {
        auto [it, inserted] = firstByName_.try_emplace(name, node);
        if (!inserted && precedes(node, it->second)) {
            it->second = node;
        }
    }

    // Whether a comes before b in depth-first pre-order. Adding a leaf never
    // changes the order of the nodes already there, so the first node of each
    // name only has to be compared with newcomers.
    bool precedes(int a, int b) const
    {
        while (node(a).depth > node(b).depth) {
            a = node(a).parent;
        }
        while (node(b).depth > node(a).depth) {
            b = node(b).parent;
        }
        if (a == b) {
            return false;  // b lies in a's subtree below it, or a is b: a does not come first
        }
        while (node(a).parent != node(b).parent) {
            a = node(a).parent;
            b = node(b).parent;
        }
        return node(a).childIndex < node(b).childIndex;
    }

    void number(int n, std::uint64_t& next, std::vector<std::uint64_t>& order) const
    {
        order[static_cast<std::size_t>(n)] = next++;
        for (int child : node(n).children) {
            number(child, next, order);
        }
    }

    std::vector<Node> nodes_;
    std::unordered_map<std::string, int> firstByName_;
};

// Every copy of a model finds each key's bone again by a depth-first search
// by name (Animator::bind), which visits all bones before it in pre-order. A
// file whose keys would keep that search busy for seconds is refused.
void checkKeyLookups(const Ms3dRecords& r, const JointTree& tree, const std::string& fileName)
{
    const std::vector<std::uint64_t> order = tree.preorder();
    std::uint64_t visits = 0;
    std::uint64_t keys = 0;
    for (const JointRecord& joint : r.joints) {
        const std::uint64_t place = order[static_cast<std::size_t>(tree.find(joint.name))];
        visits += joint.rotationKeys.size() * (place + 1);
        keys += joint.rotationKeys.size();
    }
    if (visits > kMaxMs3dKeyLookups) {
        fail(fileName, "has an animation too large for Fyrel: " + std::to_string(keys) + " key frames on " +
                           std::to_string(r.joints.size()) + " joints.");
    }
}

// ---- Conversion --------------------------------------------------------------------

Matrix4 transposed(const Matrix4& a)
{
    Matrix4 t;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            t(r, c) = a(c, r);
        }
    }
    return t;
}

// A bone in its bind pose relative to its parent, from a joint's rotation
// (Euler angles, X first) and position.
Bone boneFromJoint(const JointRecord& joint)
{
    Bone bone;
    bone.name = joint.name;
    const Vector3 position{joint.position[0], joint.position[1], joint.position[2]};
    const Vector3 negated{-position.x, -position.y, -position.z};
    Quaternion q;
    eulerToQuat(joint.rotation[0], joint.rotation[1], joint.rotation[2], q);
    Matrix4 r, t, inverseT;
    quatToMatrix(q, r);
    translationMatrix(position, t);
    translationMatrix(negated, inverseT);
    mul(t, r, bone.localMatrix);
    mul(transposed(r), inverseT, bone.inverseLocalMatrix);
    return bone;
}

void convertMaterial(const Ms3dRecords& r, Model& model)
{
    if (r.materials.empty()) {
        return;
    }
    const MaterialRecord& m = r.materials.front();
    std::copy(std::begin(m.ambient), std::end(m.ambient), model.material.ambient);
    std::copy(std::begin(m.diffuse), std::end(m.diffuse), model.material.diffuse);
    std::copy(std::begin(m.specular), std::end(m.specular), model.material.specular);
    std::copy(std::begin(m.emissive), std::end(m.emissive), model.material.emissive);
    model.material.shininess = m.shininess;
}

void convertGeometry(const Ms3dRecords& r, Model& model)
{
    model.vertices.assign(r.vertices.size(), Vertex{});
    for (std::size_t i = 0; i < r.vertices.size(); ++i) {
        const float* p = r.vertices[i].position;
        model.vertices[i].position = Vector3{p[0], p[1], p[2]};
    }
    model.triangles.assign(r.triangles.size(), Triangle{});
    for (std::size_t i = 0; i < r.triangles.size(); ++i) {
        for (int c = 0; c < 3; ++c) {
            model.triangles[i].indices[c] = r.triangles[i].indices[c];
        }
    }
}

// Builds the children of bone from the tree, all of one bone's children before
// any grandchild, so that the addresses handed out stay valid: boneOf[i] is
// the bone of joint i.
void addChildren(Bone& bone, int node, const JointTree& tree, const std::vector<JointRecord>& joints,
                 std::vector<Bone*>& boneOf)
{
    const std::vector<int>& children = tree.node(node).children;
    bone.children.reserve(children.size());
    for (int child : children) {
        bone.addChild(boneFromJoint(joints[static_cast<std::size_t>(child)]));
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        boneOf[static_cast<std::size_t>(children[i])] = &bone.children[i];
        addChildren(bone.children[i], children[i], tree, joints, boneOf);
    }
}

// The bone that find(name) returns on the finished skeleton.
Bone* boneNamed(const std::string& name, const JointTree& tree, const std::vector<Bone*>& boneOf)
{
    const int node = tree.find(name);
    return node < 0 ? nullptr : boneOf[static_cast<std::size_t>(node)];
}

void convertWeights(const Ms3dRecords& r, const JointTree& tree, const std::vector<Bone*>& boneOf)
{
    const std::size_t jointCount = r.joints.size();
    for (std::size_t i = 0; i < r.vertices.size(); ++i) {
        const int index = r.vertices[i].boneIndex;
        if (index < 0 || static_cast<std::size_t>(index) >= jointCount) {
            continue;  // no bone
        }
        if (Bone* bone = boneNamed(r.joints[static_cast<std::size_t>(index)].name, tree, boneOf)) {
            bone->addWeight(static_cast<std::int32_t>(i), 1.0f);
        }
    }
}

// Key k of a joint: rotation key k, translation key k (or the last one, or
// zero).
KeyFrame keyFrame(const JointRecord& joint, std::size_t k, Bone* bone)
{
    KeyFrame key;
    const KeyRecord& rotation = joint.rotationKeys[k];
    key.time = rotation.time;
    key.bone = bone;
    key.boneName = bone ? bone->name : joint.name;
    eulerToQuat(rotation.value[0], rotation.value[1], rotation.value[2], key.rotation);
    if (!joint.translationKeys.empty()) {
        const KeyRecord& t = joint.translationKeys[std::min(k, joint.translationKeys.size() - 1)];
        key.translation = Vector3{t.value[0], t.value[1], t.value[2]};
    }
    return key;
}

// The animation holds what Animation::addKey, called for every key of every
// joint in file order, would build: one track per bone in the order the bones
// first receive a key, each track in ascending time with keys of equal time in
// the order they were added, and length the largest time above 0. Built here
// by a stable sort per track, as addKey's insertion is quadratic in the
// length of a track.
void convertAnimation(const Ms3dRecords& r, const JointTree& tree, const std::vector<Bone*>& boneOf, Model& model)
{
    Animation animation;
    animation.name = "Default MS3D Animation";
    animation.length = 0.0f;
    animation.loop = true;
    // Milkshape stores key times in seconds; the frames per second only set
    // its editor's grid, so the clip plays at its own pace.
    model.animator.rate = 1.0f;

    std::unordered_map<const Bone*, std::size_t> trackOf;
    for (const JointRecord& joint : r.joints) {
        Bone* bone = boneNamed(joint.name, tree, boneOf);
        for (std::size_t k = 0; k < joint.rotationKeys.size(); ++k) {
            KeyFrame key = keyFrame(joint, k, bone);
            if (key.time > animation.length) {
                animation.length = key.time;
            }
            auto [it, inserted] = trackOf.try_emplace(bone, animation.tracks.size());
            if (inserted) {
                animation.tracks.emplace_back();
            }
            animation.tracks[it->second].push_back(std::move(key));
        }
    }
    for (std::vector<KeyFrame>& track : animation.tracks) {
        std::stable_sort(track.begin(), track.end(),
                         [](const KeyFrame& a, const KeyFrame& b) { return a.time < b.time; });
    }
    model.animator.animations.push_back(std::move(animation));
}

void convertSkeleton(const Ms3dRecords& r, const JointTree& tree, Model& model)
{
    if (r.joints.empty()) {
        return;
    }
    std::vector<Bone*> boneOf(r.joints.size(), nullptr);
    model.rootBone = boneFromJoint(r.joints.front());
    boneOf[0] = &model.rootBone;
    addChildren(model.rootBone, 0, tree, r.joints, boneOf);
    convertWeights(r, tree, boneOf);
    convertAnimation(r, tree, boneOf, model);
}

// Milkshape is y-up, and real characters and vehicles face −z in it (their
// right hand towards +x); the scene is z-up and models face +Y. (x, y, z)
// becomes (x, −z, y), a quarter turn about x, so nothing is mirrored and
// windings stay as they are. Then the lowest vertex is lifted onto z = 0.
void convertGround(Model& model)
{
    float lowest = std::numeric_limits<float>::max();
    for (const Vertex& v : model.vertices) {
        lowest = std::min(lowest, v.position.y);
    }
    model.baseTransform = Matrix4{};
    model.baseTransform(1, 1) = 0.0f;
    model.baseTransform(1, 2) = -1.0f;
    model.baseTransform(2, 1) = 1.0f;
    model.baseTransform(2, 2) = 0.0f;
    model.baseTransform(2, 3) = -lowest;
}

ImportError tooLarge(const std::string& path)
{
    return ImportError("The file \"" + path + "\" is too large for an MS3D model (more than " +
                       std::to_string(kMaxMs3dFileSize / (1024 * 1024)) + " MB).");
}

}  // namespace

// ---- Entry points ---------------------------------------------------------------------

Model importMs3dFromMemory(const std::uint8_t* data, std::size_t size, const std::string& fileName)
{
    static const std::uint8_t kNothing = 0;
    if (!data) {
        data = &kNothing;
        size = 0;
    }
    std::ostringstream log;
    log.imbue(std::locale::classic());
    log << "Reading " << fileName << '\n';
    Ms3dRecords records;
    SectionReader(data, size, fileName, log).readAll(records);
    debugOutput(log.str());

    validate(records, fileName);
    const JointTree tree(records.joints, fileName);
    checkKeyLookups(records, tree, fileName);

    Model model;
    convertMaterial(records, model);
    convertGeometry(records, model);
    convertSkeleton(records, tree, model);
    convertGround(model);
    model.computeNormals();
    return model;
}

Model importMs3d(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        throw ImportError("Cannot open file \"" + path + "\": it does not exist.");
    }
    if (fs::is_directory(status)) {
        throw ImportError("Cannot open file \"" + path + "\": it is a folder, not a model file.");
    }
    if (!fs::is_regular_file(status)) {
        throw ImportError("Cannot open file \"" + path + "\": it is not a regular file.");
    }
    const std::uintmax_t size = fs::file_size(path, ec);
    if (!ec && size > kMaxMs3dFileSize) {
        throw tooLarge(path);
    }

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        throw ImportError("Cannot open file \"" + path + "\": " + std::strerror(errno) + ".");
    }
    // Read in chunks up to one byte past the limit, so that a file that grows
    // while it is read is caught as well.
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    while (bytes.size() <= kMaxMs3dFileSize) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < sizeof chunk) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        throw ImportError("Cannot read file \"" + path + "\": " + std::strerror(errno) + ".");
    }
    if (bytes.size() > kMaxMs3dFileSize) {
        throw tooLarge(path);
    }
    return importMs3dFromMemory(bytes.data(), bytes.size(), path);
}

}  // namespace fyrel
