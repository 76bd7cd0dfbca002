#include "importers/x/x_importer.h"

#include <algorithm>
#include <cmath>
#include <cassert>
#include <filesystem>
#include <cerrno>
#include <limits>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "importers/import_error.h"
#include "importers/x/x_animation.h"
#include "importers/x/x_reader.h"
#include "diagnostics/debug_output.h"

namespace fyrel {

namespace {

constexpr std::uint32_t kMaxModelVertices = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void rejectFile(const std::string& fileName, const std::string& reason)
{
    throw ImportError(std::string(kXLoadFailedMessage) + "\n\"" + fileName + "\" cannot be read: " + reason);
}

// The file's matrices act on row vectors; the scene's on column vectors.
Matrix4 transposed(const XMatrix& x)
{
    Matrix4 m;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            m(r, c) = x.m[4 * c + r];
        }
    }
    return m;
}

// Rest matrices in doubles, column-vector form, element (r, c) at [4r + c]:
// the product of a deep chain of scaled frames keeps its precision.
void restMatrixOf(const XMatrix& x, double out[16])
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out[4 * r + c] = x.m[4 * c + r];
        }
    }
}

void multiply(const double a[16], const double b[16], double out[16])
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out[4 * r + c] = a[4 * r] * b[c] + a[4 * r + 1] * b[4 + c] + a[4 * r + 2] * b[8 + c] +
                             a[4 * r + 3] * b[12 + c];
        }
    }
}

// Adds w · (m · p) to sum (three doubles); the point's w is 1.
void addPlaced(const double m[16], const Vector3& p, double w, double* sum)
{
    for (int r = 0; r < 3; ++r) {
        sum[r] += w * (m[4 * r] * p.x + m[4 * r + 1] * p.y + m[4 * r + 2] * p.z + m[4 * r + 3]);
    }
}

Matrix4 transposed(const Matrix4& a)
{
    Matrix4 m;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            m(r, c) = a(c, r);
        }
    }
    return m;
}

void setBottomRowToIdentity(Matrix4& m)
{
    m(3, 0) = 0.0f;
    m(3, 1) = 0.0f;
    m(3, 2) = 0.0f;
    m(3, 3) = 1.0f;
}

// The inverse of a frame's transform. Frames may scale as well as turn and
// move; a transform that cannot be inverted gets the transposed rotation
// after the negated translation, the inverse it would have without scale.
Matrix4 inverseOfFrameTransform(const Matrix4& local)
{
    Matrix4 inverse;
    if (invert(local, inverse)) {
        return inverse;
    }
    Matrix4 rotation = transposed(local);
    setBottomRowToIdentity(rotation);
    Matrix4 translation;
    translationMatrix(Vector3{-local(0, 3), -local(1, 3), -local(2, 3)}, translation);
    Matrix4 out;
    return mul(rotation, translation, out);
}

// Why a file that cannot be opened cannot be read, in the words of the
// checks an opened one passes.
std::string whyNotOpened(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        return fs::exists(path, ec) ? "it is not a regular file" : "no such file";
    }
    return "it cannot be read";
}

// One open, one fstat and the reads: a file's path is looked up once (each
// lookup costs about as much as reading a small model). Opened without
// blocking, so that a FIFO cannot stall the import; that changes nothing
// for regular files, the only ones read.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        reason = whyNotOpened(path);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        reason = "its size cannot be read";
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = "it is not a regular file";
        return false;
    }
    const auto size = static_cast<std::uintmax_t>(status.st_size);
    if (size > kMaxXFileSize) {
        reason = "it is " + std::to_string(size) + " bytes long, more than the " + std::to_string(kMaxXFileSize) +
                 " an .X file may have";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            reason = "it cannot be read";  // an error, or the file became shorter
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// The value of a key list at time t: linear (spherical for rotations)
// between the keys around t, the first or last key's value beyond them.
template <typename T, typename Interpolate>
T sampleKeys(const std::vector<XTimedValue<T>>& keys, float t, Interpolate interpolate)
{
    auto later = std::upper_bound(keys.begin(), keys.end(), t,
                                  [](float time, const XTimedValue<T>& k) { return time < k.time; });
    if (later == keys.begin()) {
        return keys.front().value;
    }
    if (later == keys.end()) {
        return keys.back().value;
    }
    const XTimedValue<T>& before = *(later - 1);
    if (before.time == t) {
        return before.value;
    }
    const float span = later->time - before.time;
    T out;
    return interpolate(before.value, later->value, span > 0.0f ? (t - before.time) / span : 1.0f, out);
}

// The track of a bone driven by a frame animation. The file's keys give the
// frame's whole local transform (a component without keys keeps the
// frame's own); the bone's keys are relative to its bind transform L, so
// each becomes L⁻¹·K, split into translation, rotation and scale. Keys fall
// on every time any component has a key, and on the clip's start and end,
// so sampling them linearly retraces the file's own interpolation and every
// track spans the whole clip.
std::vector<KeyFrame> trackOf(const XFrameAnimation& animation, const Bone& bone, std::int32_t boneIndex,
                              float length)
{
    Vector3 bindTranslation, bindScale;
    Quaternion bindRotation;
    splitTransform(bone.localMatrix, bindTranslation, bindRotation, bindScale);
    std::vector<float> times{0.0f, length};
    for (const auto& k : animation.scales) times.push_back(k.time);
    for (const auto& k : animation.rotations) times.push_back(k.time);
    for (const auto& k : animation.positions) times.push_back(k.time);
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());

    auto lerpVectors = [](const Vector3& a, const Vector3& b, float s, Vector3& out) -> Vector3& {
        return lerp(a, b, s, out);
    };
    auto slerpRotations = [](const Quaternion& a, const Quaternion& b, float s, Quaternion& out) -> Quaternion& {
        return slerp(a, b, s, out);
    };
    std::vector<KeyFrame> track;
    track.reserve(times.size());
    for (float t : times) {
        const Vector3 scale = animation.scales.empty() ? bindScale : sampleKeys(animation.scales, t, lerpVectors);
        const Quaternion rotation =
            animation.rotations.empty() ? bindRotation : sampleKeys(animation.rotations, t, slerpRotations);
        const Vector3 position =
            animation.positions.empty() ? bindTranslation : sampleKeys(animation.positions, t, lerpVectors);
        Matrix4 frame;
        quatToMatrix(rotation, frame);
        scaleColumns(frame, scale);
        frame(0, 3) = position.x;
        frame(1, 3) = position.y;
        frame(2, 3) = position.z;
        Matrix4 relative;
        mul(bone.inverseLocalMatrix, frame, relative);
        KeyFrame key;
        key.time = t;
        key.boneIndex = boneIndex;
        key.boneName = bone.name;
        splitTransform(relative, key.translation, key.rotation, key.scale);
        track.push_back(std::move(key));
    }
    return track;
}

// The reading summary's line for a set: the ticks per second its keys were
// read at, and why when the file names none.
std::string rateSummary(const XAnimationSet& set)
{
    std::ostringstream line;
    line << "Animation set \"" << set.name << "\": " << set.ticksPerSecond << " ticks per second";
    if (!set.rateGiven) {
        line << (set.ticksPerSecond == kXFrameTicksPerSecond ? " (no AnimTicksPerSecond; its keys, up to tick "
                                                             : " (no AnimTicksPerSecond; its keys reach tick ")
             << set.length * set.ticksPerSecond
             << (set.ticksPerSecond == kXFrameTicksPerSecond ? ", are read as frames)" : ")");
    }
    line << "\n";
    return line.str();
}

// One looping clip per set, in file order; a frame animation whose frame
// is no bone, or whose bone an earlier animation of the set drives, adds
// nothing.
void addClips(const std::vector<XAnimationSet>& sets, Model& model)
{
    std::vector<const Bone*> bones;
    listBones(model.rootBone, bones);
    const std::unordered_map<std::string, std::int32_t> byName = boneIndexByName(model.rootBone);
    for (const XAnimationSet& set : sets) {
        Animation clip;
        clip.name = set.name;
        clip.length = set.length;
        clip.loop = true;
        std::vector<bool> driven(bones.size(), false);
        for (const XFrameAnimation& animation : set.animations) {
            auto found = byName.find(animation.frame);
            if (animation.frame.empty() || found == byName.end() || driven[static_cast<std::size_t>(found->second)]) {
                continue;
            }
            driven[static_cast<std::size_t>(found->second)] = true;
            clip.tracks.push_back(
                trackOf(animation, *bones[static_cast<std::size_t>(found->second)], found->second, set.length));
        }
        model.animator.animations.push_back(std::move(clip));
        debugOutput(rateSummary(set));
    }
    if (!sets.empty()) {
        model.animator.current = 0;
        model.animator.time = 0.0f;
        model.animator.rate = 1.0f;  // key times are seconds
    }
}

}  // namespace

Matrix4 xBaseTransform()
{
    return Matrix4{{0.01f, 0.0f, 0.0f, 0.0f,
                    0.0f, 0.0f, 0.01f, 0.0f,
                    0.0f, 0.01f, 0.0f, 0.0f,
                    0.0f, 0.0f, 0.0f, 1.0f}};
}

Model importX(const std::string& path)
{
    XImporter importer;
    return importer.load(path);
}

Model XImporter::load(const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!readWholeFile(path, bytes, reason)) {
        rejectFile(path, reason);
    }
    return loadFromMemory(bytes.data(), bytes.size(), path);
}

Model XImporter::loadFromMemory(const std::uint8_t* data, std::size_t size, const std::string& fileName)
{
    assert(data || size == 0);
    fileName_ = fileName;
    Model model;
    XFrames frames;
    std::vector<XAnimationSet> sets;
    try {
        XFileData file = readXFile(data, size);
        // Before the frames, which go on with what the sets left of the budget.
        sets = loadAnimationSetsFromX(file);
        frames = readXFrames(file, std::filesystem::path(fileName).parent_path().string());
    } catch (const XReadError& e) {
        rejectFile(fileName, e.what());
    }
    vertexTotal = 0;
    triangleTotal = 0;
    listFrames(frames);
    chooseBones(frames, sets);
    buildSkeleton(model);
    convertMeshes(frames, model);
    for (const MeshPlace& place : meshes_) {
        if (isSkinned(*place.use)) {
            placeSkinnedMesh(place, model);
        }
    }
    addClips(sets, model);
    const bool moves = model.hasSkin() || std::any_of(model.animator.animations.begin(),
                                                      model.animator.animations.end(),
                                                      [](const Animation& a) { return !a.tracks.empty(); });
    for (const MeshPlace& place : meshes_) {
        if (!isSkinned(*place.use)) {
            placeUnskinnedMesh(place, model, moves);
        }
    }
    if (!meshes_.empty()) {
        model.computeNormals();
    }
    // Their bone pointers are the model's, which leaves with the caller, and
    // their frame pointers the list's, which ends here.
    frames_ = {};
    meshes_ = {};
    frameByName_ = {};
    model.baseTransform = xBaseTransform();
    return model;
}

bool XImporter::isSkinned(const XMeshUse& use)
{
    return use.skin && !use.skin->bones.empty();
}

std::size_t XImporter::frameNamed(const std::string& name) const
{
    auto found = name.empty() ? frameByName_.end() : frameByName_.find(name);
    return found == frameByName_.end() ? kNoFrame : found->second;
}

// Also refuses a tree too deep, before any bone is built, so that it is not
// first converted almost whole. Several top-level frames hang under one
// unnamed root bone: they start at level 2.
void XImporter::listFrames(const XFrames& frames)
{
    frames_.clear();
    frameByName_.clear();
    const auto tops = std::count_if(frames.frames.begin(), frames.frames.end(),
                                    [](const XFrame& f) { return f.parent == kXTopFrame; });
    std::vector<int> level(frames.frames.size());
    frames_.resize(frames.frames.size());
    for (std::size_t i = 0; i < frames.frames.size(); ++i) {
        const XFrame& f = frames.frames[i];
        FrameEntry& entry = frames_[i];
        entry.frame = &f;
        double local[16];
        restMatrixOf(f.transform, local);
        if (f.parent == kXTopFrame) {
            level[i] = tops > 1 ? 2 : 1;
            std::copy(local, local + 16, entry.combined);
        } else {
            entry.parent = static_cast<std::size_t>(f.parent);
            assert(entry.parent < i);
            level[i] = level[entry.parent] + 1;
            multiply(frames_[entry.parent].combined, local, entry.combined);
        }
        if (level[i] > kMaxBoneDepth) {
            rejectFile(fileName_, "its frames nest deeper than " + std::to_string(kMaxBoneDepth) + " levels");
        }
        if (!f.name.empty()) {
            frameByName_.emplace(f.name, i);
        }
    }
}

void XImporter::chooseBones(const XFrames& frames, const std::vector<XAnimationSet>& sets)
{
    const auto mark = [this](const std::string& name) {
        const std::size_t frame = frameNamed(name);
        if (frame != kNoFrame) {
            frames_[frame].bone = true;
        }
    };
    for (FrameEntry& entry : frames_) {
        for (const std::uint32_t m : entry.frame->meshes) {
            entry.bone = true;
            const XMeshUse& use = frames.meshes[m];
            for (std::size_t i = 0; use.skin && i < use.skin->bones.size(); ++i) {
                if (!use.skin->bones[i].vertices.empty()) {
                    mark(use.skin->bones[i].name);
                }
            }
        }
    }
    for (const XAnimationSet& set : sets) {
        for (const XFrameAnimation& animation : set.animations) {
            mark(animation.frame);
        }
    }
    // Parents come before their children: one backward pass reaches the top.
    for (std::size_t i = frames_.size(); i-- > 0;) {
        if (frames_[i].bone && frames_[i].parent != kNoFrame) {
            frames_[frames_[i].parent].bone = true;
        }
    }
}

void XImporter::buildSkeleton(Model& model)
{
    const auto tops = std::count_if(frames_.begin(), frames_.end(),
                                    [](const FrameEntry& e) { return e.bone && e.parent == kNoFrame; });
    // The frames and bones from the top to the bone added last; the parent
    // of the next one is on it (frames come in depth-first order).
    std::vector<std::pair<std::size_t, Bone*>> path;
    for (std::size_t i = 0; i < frames_.size(); ++i) {
        const FrameEntry& entry = frames_[i];
        if (!entry.bone) {
            continue;
        }
        Bone bone;
        bone.name = entry.frame->name;
        bone.localMatrix = transposed(entry.frame->transform);
        bone.inverseLocalMatrix = inverseOfFrameTransform(bone.localMatrix);
        while (!path.empty() && path.back().first != entry.parent) {
            path.pop_back();
        }
        Bone* parent = !path.empty() ? path.back().second : tops > 1 ? &model.rootBone : nullptr;
        Bone* self = &model.rootBone;
        if (parent) {
            parent->children.push_back(std::move(bone));
            self = &parent->children.back();
        } else {
            model.rootBone = std::move(bone);
        }
        path.emplace_back(i, self);
    }
    // Taken once the tree is complete: a bone's elder siblings move while
    // its parent's children grow.
    std::vector<Bone*> bones;
    listBones(model.rootBone, bones);
    std::size_t next = tops > 1 ? 1 : 0;
    for (FrameEntry& entry : frames_) {
        if (entry.bone) {
            assert(next < bones.size());
            entry.boneOf = bones[next++];
        }
    }
}

void XImporter::convertMeshes(const XFrames& frames, Model& model)
{
    meshes_.clear();
    for (std::size_t i = 0; i < frames_.size(); ++i) {
        const XFrame& f = *frames_[i].frame;
        for (const std::uint32_t m : f.meshes) {
            const XMeshUse& use = frames.meshes[m];
            meshes_.push_back(MeshPlace{&use, i, vertexTotal});
            convertMesh(use, model);
            if (use.skin) {
                debugOutput("There are " + std::to_string(use.skin->bones.size()) + " bones in " +
                            (f.name.empty() ? "N/A" : f.name) + "\n");
            }
        }
    }
}

namespace {

// D3D's material has no ambient colour of its own: like Direct3D's samples,
// the diffuse colour stands in for it.
Material materialFrom(const XMaterial& m)
{
    Material material;
    const float diffuse[4] = {m.diffuse.r, m.diffuse.g, m.diffuse.b, m.diffuse.a};
    const float specular[4] = {m.specular.r, m.specular.g, m.specular.b, 1.0f};
    const float emissive[4] = {m.emissive.r, m.emissive.g, m.emissive.b, 1.0f};
    for (int k = 0; k < 4; ++k) {
        const auto unit = [](float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; };
        material.diffuse[k] = unit(diffuse[k]);
        material.ambient[k] = k < 3 ? material.diffuse[k] : 1.0f;
        material.specular[k] = unit(specular[k]);
        material.emissive[k] = unit(emissive[k]);
    }
    material.shininess = std::isfinite(m.power) ? std::clamp(m.power, 0.0f, 128.0f) : 0.0f;
    if (m.texture) {
        material.texture = m.texture->name;
        material.texturePath = m.texture->path;
    }
    material.name = m.name;
    return material;
}

}  // namespace

void XImporter::convertMesh(const XMeshUse& use, Model& model)
{
    const XMesh& mesh = *use.mesh;
    std::uint32_t n = mesh.vertexCount();
    std::uint32_t f = mesh.triangleCount();
    if (n > kMaxModelVertices - vertexTotal || f > std::numeric_limits<std::uint32_t>::max() - triangleTotal) {
        rejectFile(fileName_, "its meshes hold more vertices or triangles than a model can");
    }
    model.vertices.resize(std::size_t{vertexTotal} + n);
    model.triangles.resize(std::size_t{triangleTotal} + f);
    for (std::uint32_t i = 0; i < n; ++i) {
        model.vertices[vertexTotal + i].position = mesh.positions[i];
    }
    // Every use brings its own materials; its triangles name them after
    // those of the meshes before it.
    const auto firstMaterial = static_cast<std::uint32_t>(model.materials.size());
    for (const XMaterial& m : use.materials) {
        model.materials.push_back(materialFrom(m));
    }
    const bool listed = mesh.triangleMaterials.size() == f;
    for (std::uint32_t k = 0; k < f; ++k) {
        Triangle& t = model.triangles[triangleTotal + k];
        for (int j = 0; j < 3; ++j) {
            t.indices[j] = vertexTotal + mesh.indices[3 * std::size_t{k} + j];
        }
        const std::uint32_t index = listed ? mesh.triangleMaterials[k] : kXNoMaterial;
        t.material = index < use.materials.size() ? firstMaterial + index : kXNoMaterial;
    }
    model.texCoords.resize(model.vertices.size());
    if (mesh.texCoords.size() == 2 * std::size_t{n}) {
        for (std::uint32_t i = 0; i < n; ++i) {
            model.texCoords[vertexTotal + i] = TexCoord{mesh.texCoords[2 * i], mesh.texCoords[2 * i + 1]};
        }
    }
    vertexTotal += n;
    triangleTotal += f;
}

// Σ wᵢ·(C(bᵢ)·Oᵢ)·v, the rest of the weight (exporters name skin bones
// that the file has no frame for, or leave vertices out of every skin) to the
// frame that holds the mesh, placed as the whole mesh would be without a skin.
void XImporter::placeSkinnedMesh(const MeshPlace& place, Model& model)
{
    constexpr float kWhole = 1.0f - 1e-6f;
    const XMesh& mesh = *place.use->mesh;
    const std::uint32_t n = mesh.vertexCount();
    std::vector<double> sums(3 * std::size_t{n}, 0.0);
    std::vector<float> weightOf(n, 0.0f);
    double skinning[16], offset[16];
    for (const XSkinBone& skinBone : place.use->skin->bones) {
        const std::size_t frame = frameNamed(skinBone.name);
        if (frame == kNoFrame || skinBone.vertices.empty()) {
            continue;
        }
        restMatrixOf(skinBone.offset, offset);
        multiply(frames_[frame].combined, offset, skinning);
        Bone* bone = frames_[frame].boneOf;
        for (std::size_t j = 0; j < skinBone.vertices.size() && j < skinBone.weights.size(); ++j) {
            const std::uint32_t v = skinBone.vertices[j];
            if (v >= n) {
                continue;
            }
            bone->addWeight(static_cast<std::int32_t>(place.firstVertex + v), skinBone.weights[j]);
            weightOf[v] += skinBone.weights[j];
            addPlaced(skinning, mesh.positions[v], skinBone.weights[j], &sums[3 * std::size_t{v}]);
        }
    }
    const FrameEntry& holder = frames_[place.frame];
    for (std::uint32_t v = 0; v < n; ++v) {
        double* sum = &sums[3 * std::size_t{v}];
        if (weightOf[v] < kWhole) {
            const float rest = 1.0f - weightOf[v];
            holder.boneOf->addWeight(static_cast<std::int32_t>(place.firstVertex + v), rest);
            addPlaced(holder.combined, mesh.positions[v], rest, sum);
        }
        model.vertices[place.firstVertex + v].position =
            Vector3{static_cast<float>(sum[0]), static_cast<float>(sum[1]), static_cast<float>(sum[2])};
    }
}

void XImporter::placeUnskinnedMesh(const MeshPlace& place, Model& model, bool follow) const
{
    const XMesh& mesh = *place.use->mesh;
    const FrameEntry& holder = frames_[place.frame];
    for (std::uint32_t v = 0; v < mesh.vertexCount(); ++v) {
        double at[3] = {0.0, 0.0, 0.0};
        addPlaced(holder.combined, mesh.positions[v], 1.0, at);
        model.vertices[place.firstVertex + v].position =
            Vector3{static_cast<float>(at[0]), static_cast<float>(at[1]), static_cast<float>(at[2])};
        if (follow) {
            holder.boneOf->addWeight(static_cast<std::int32_t>(place.firstVertex + v), 1.0f);
        }
    }
}

}  // namespace fyrel
