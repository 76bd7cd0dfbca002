#include "importers/ms3d_importer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <locale>
#include <map>
#include <tuple>
#include <memory>
#include <sstream>
#include <vector>

#include "diagnostics/debug_output.h"
#include "images/texture_image.h"
#include "importers/import_error.h"
#include "importers/ms3d_joint_tree.h"
#include "importers/ms3d_records.h"

namespace fyrel {

namespace {

using namespace ms3d;

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

Material materialFrom(const MaterialRecord& m, const std::string& folder)
{
    Material material;
    material.name = m.name;
    std::copy(std::begin(m.ambient), std::end(m.ambient), material.ambient);
    std::copy(std::begin(m.diffuse), std::end(m.diffuse), material.diffuse);
    std::copy(std::begin(m.specular), std::end(m.specular), material.specular);
    std::copy(std::begin(m.emissive), std::end(m.emissive), material.emissive);
    material.shininess = m.shininess;
    material.diffuse[3] = std::clamp(m.transparency, 0.0f, 1.0f);
    material.texture = m.texture;
    if (!m.texture.empty()) {
        material.texturePath = findTextureFile(m.texture, folder);
    }
    return material;
}

// The model's material is the first record's, for what draws with one
// material only; every triangle gets the material of its group.
void convertMaterials(const Ms3dRecords& r, const std::string& folder, Model& model)
{
    for (const MaterialRecord& m : r.materials) {
        model.materials.push_back(materialFrom(m, folder));
    }
    if (!model.materials.empty()) {
        model.material = model.materials.front();
    }
}

// Milkshape keeps texture coordinates per triangle corner. A vertex keeps
// its place and the coordinates of its first corner; a corner with other
// coordinates gets a copy of the vertex, added after the file's vertices,
// with the same bone. original[i] is the file's vertex that vertex i is.
void convertGeometry(const Ms3dRecords& r, Model& model, std::vector<std::uint32_t>& original)
{
    const std::size_t count = r.vertices.size();
    model.vertices.assign(count, Vertex{});
    model.texCoords.assign(count, TexCoord{});
    original.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const float* p = r.vertices[i].position;
        model.vertices[i].position = Vector3{p[0], p[1], p[2]};
        original[i] = static_cast<std::uint32_t>(i);
    }
    std::vector<bool> placed(count, false);
    std::map<std::tuple<std::uint32_t, float, float>, std::uint32_t> copies;
    model.triangles.assign(r.triangles.size(), Triangle{});
    for (std::size_t i = 0; i < r.triangles.size(); ++i) {
        const TriangleRecord& record = r.triangles[i];
        Triangle& triangle = model.triangles[i];
        const std::int8_t group = record.group < r.groups.size() ? r.groups[record.group].material : -1;
        triangle.material = group >= 0 ? static_cast<std::uint32_t>(group) : UINT32_MAX;
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t v = record.indices[c];
            const TexCoord uv{std::isfinite(record.s[c]) ? record.s[c] : 0.0f,
                              std::isfinite(record.t[c]) ? record.t[c] : 0.0f};
            triangle.indices[c] = v;
            if (!placed[v]) {
                placed[v] = true;
                model.texCoords[v] = uv;
                continue;
            }
            if (model.texCoords[v].s == uv.s && model.texCoords[v].t == uv.t) {
                continue;
            }
            const auto [it, added] = copies.try_emplace({v, uv.s, uv.t}, static_cast<std::uint32_t>(original.size()));
            if (added) {
                original.push_back(v);
                model.vertices.push_back(model.vertices[v]);
                model.texCoords.push_back(uv);
            }
            triangle.indices[c] = it->second;
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

void convertWeights(const Ms3dRecords& r, const JointTree& tree, const std::vector<Bone*>& boneOf,
                    const std::vector<std::uint32_t>& original)
{
    const std::size_t jointCount = r.joints.size();
    for (std::size_t i = 0; i < original.size(); ++i) {
        const int index = r.vertices[original[i]].boneIndex;
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
// Fills a key made in its track (no copy or move of its name).
void fillKey(KeyFrame& key, const JointRecord& joint, std::size_t k, const Bone* bone, std::int32_t boneIndex)
{
    const KeyRecord& rotation = joint.rotationKeys[k];
    key.time = rotation.time;
    key.boneIndex = boneIndex;
    key.boneName = bone ? bone->name : joint.name;
    eulerToQuat(rotation.value[0], rotation.value[1], rotation.value[2], key.rotation);
    if (!joint.translationKeys.empty()) {
        const KeyRecord& t = joint.translationKeys[std::min(k, joint.translationKeys.size() - 1)];
        key.translation = Vector3{t.value[0], t.value[1], t.value[2]};
    }
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

    std::vector<const Bone*> bones;
    listBones(model.rootBone, bones);
    std::unordered_map<const Bone*, std::int32_t> indexOf;
    for (std::size_t i = 0; i < bones.size(); ++i) {
        indexOf.emplace(bones[i], static_cast<std::int32_t>(i));
    }
    std::unordered_map<std::int32_t, std::size_t> trackOf;
    for (const JointRecord& joint : r.joints) {
        const Bone* bone = boneNamed(joint.name, tree, boneOf);
        const std::int32_t index = bone ? indexOf.at(bone) : kNoBone;
        if (joint.rotationKeys.empty()) {
            continue;
        }
        auto [it, inserted] = trackOf.try_emplace(index, animation.tracks.size());
        if (inserted) {
            animation.tracks.emplace_back();
        }
        std::vector<KeyFrame>& track = animation.tracks[it->second];
        track.reserve(track.size() + joint.rotationKeys.size());
        for (std::size_t k = 0; k < joint.rotationKeys.size(); ++k) {
            KeyFrame& key = track.emplace_back();
            fillKey(key, joint, k, bone, index);
            if (key.time > animation.length) {
                animation.length = key.time;
            }
        }
    }
    // Files mostly list a joint's keys in time already (times are finite,
    // checked by validate): then the sort would move every key for nothing.
    const auto earlier = [](const KeyFrame& a, const KeyFrame& b) { return a.time < b.time; };
    for (std::vector<KeyFrame>& track : animation.tracks) {
        if (!std::is_sorted(track.begin(), track.end(), earlier)) {
            std::stable_sort(track.begin(), track.end(), earlier);
        }
    }
    model.animator.animations.push_back(std::move(animation));
}

void convertSkeleton(const Ms3dRecords& r, const JointTree& tree, const std::vector<std::uint32_t>& original,
                     Model& model)
{
    if (r.joints.empty()) {
        return;
    }
    std::vector<Bone*> boneOf(r.joints.size(), nullptr);
    model.rootBone = boneFromJoint(r.joints.front());
    boneOf[0] = &model.rootBone;
    addChildren(model.rootBone, 0, tree, r.joints, boneOf);
    convertWeights(r, tree, boneOf, original);
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

Model importMs3dFromMemory(const std::uint8_t* data, std::size_t size, const std::string& fileName,
                          const std::string& textureFolder)
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
    readRecords(data, size, fileName, log, records);
    debugOutput(log.str());

    validate(records, fileName);
    const JointTree tree(records.joints, fileName);
    checkKeyLookups(records, tree, fileName);

    Model model;
    std::vector<std::uint32_t> original;
    convertMaterials(records, textureFolder, model);
    convertGeometry(records, model, original);
    convertSkeleton(records, tree, original, model);
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
    return importMs3dFromMemory(bytes.data(), bytes.size(), path, fs::path(path).parent_path().string());
}

}  // namespace fyrel
