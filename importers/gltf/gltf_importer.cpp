#include "importers/gltf/gltf_importer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include <immintrin.h>

#include "images/texture_image.h"
#include "importers/gltf/gltf_accessors.h"
#include "importers/gltf/gltf_document.h"
#include "importers/import_error.h"
#include "math/store_four.h"
#include "diagnostics/debug_output.h"

namespace fyrel {
namespace {

// Floats from one vertex to the next.
constexpr std::size_t kVertexFloats = sizeof(Vertex) / sizeof(float);
static_assert(sizeof(Vertex) % sizeof(float) == 0);

bool finite(const std::vector<double>& values)
{
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// M·(p, w), the sums in transform()'s order (so the same bits), written out
// so that the per-vertex loops inline it.
inline Vector3 place(const Matrix4& m, const Vector3& p, float w)
{
    return {m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2) * p.z + m(0, 3) * w,
            m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2) * p.z + m(1, 3) * w,
            m(2, 0) * p.x + m(2, 1) * p.y + m(2, 2) * p.z + m(2, 3) * w};
}

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
            const float s2 = s * s, s3 = s2 * s;
            const float* v0 = at(k0);
            const float* b0 = v0 + width;                           // out-tangent of k0
            const float* a1 = values.data() + 3 * k1 * static_cast<std::size_t>(width);  // in-tangent of k1
            const float* v1 = at(k1);
            for (int c = 0; c < width; ++c) {
                out[c] = (2 * s3 - 3 * s2 + 1) * v0[c] + (s3 - 2 * s2 + s) * span * b0[c] +
                         (-2 * s3 + 3 * s2) * v1[c] + (s3 - s2) * span * a1[c];
            }
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
};

class Converter {
public:
    // folder: where the model file lies, for its image files; empty for a
    // document from memory.
    Converter(const tinygltf::Model& document, const std::string& fileName, std::size_t inputBytes,
              const std::string& folder = {})
        : doc_(document), fileName_(fileName), folder_(folder)
    {
        const std::size_t perByte = kGltfMemoryPerInputByte;
        budget_ = inputBytes > (std::numeric_limits<std::size_t>::max() - (1u << 20)) / perByte
                      ? std::numeric_limits<std::size_t>::max()
                      : inputBytes * perByte + (1u << 20);
    }

    Model convert()
    {
        nodes_.assign(doc_.nodes.size(), NodeInfo{});
        addMaterials();
        for (const int root : sceneRoots()) {
            walk(root);
        }
        markBones();
        reserveMeshes();
        for (const int n : order_) {
            if (doc_.nodes[static_cast<std::size_t>(n)].mesh >= 0) {
                addMesh(n);
            }
        }
        if (model_.triangles.empty()) {
            fail("its scene holds no triangles to show");
        }
        if (!doc_.animations.empty()) {
            modelSize_ = size();  // what the clips' tolerance is measured against
        }
        buildSkeleton();
        for (std::size_t a = 0; a < doc_.animations.size(); ++a) {
            addAnimation(a);
        }
        if (skippedPrimitives_ > 0) {
            note(std::to_string(skippedPrimitives_) + " primitives of points or lines are not drawn");
        }
        // Face normals were made with each primitive; vertex normals the file
        // does not give are made from them, and those it gives are kept.
        if (std::memchr(normalGiven_.data(), 0, normalGiven_.size()) != nullptr) {
            std::vector<Vector3> normals(model_.vertices.size());
            for (std::size_t i = 0; i < normals.size(); ++i) {
                normals[i] = model_.vertices[i].normal;
            }
            model_.computeNormals();
            for (std::size_t i = 0; i < normals.size(); ++i) {
                if (normalGiven_[i]) {
                    model_.vertices[i].normal = normals[i];
                }
            }
        }
        placeInWorld();
        model_.animator.rate = 1.0f;  // key times are seconds
        return std::move(model_);  // the move binds the keys to the bones of the model returned
    }

private:
    // Base colour factor and texture of the metallic-roughness model; a
    // blended material keeps its alpha, others are opaque. Images are kept
    // encoded, shared by the materials that use them.
    void addMaterials()
    {
        std::vector<std::shared_ptr<const std::vector<std::uint8_t>>> images(doc_.images.size());
        for (std::size_t m = 0; m < doc_.materials.size(); ++m) {
            const tinygltf::Material& source = doc_.materials[m];
            Material material;
            material.name = source.name.empty() ? "material " + std::to_string(m) : source.name;
            const std::vector<double>& factor = source.pbrMetallicRoughness.baseColorFactor;
            if (factor.size() == 4 && finite(factor)) {
                for (int k = 0; k < 4; ++k) {
                    material.diffuse[k] = std::clamp(static_cast<float>(factor[static_cast<std::size_t>(k)]), 0.0f, 1.0f);
                    material.ambient[k] = k < 3 ? 0.2f * material.diffuse[k] : 1.0f;
                }
            }
            if (source.alphaMode != "BLEND") {
                material.diffuse[3] = 1.0f;
            }
            if (source.alphaMode == "MASK") {
                material.alphaCutoff = source.alphaCutoff > 0 && source.alphaCutoff <= 1
                                           ? static_cast<float>(source.alphaCutoff)
                                           : source.alphaCutoff > 1 ? 1.0f : 0.5f;
            }
            if (source.emissiveFactor.size() == 3 && finite(source.emissiveFactor)) {
                for (int k = 0; k < 3; ++k) {
                    material.emissive[k] =
                        std::clamp(static_cast<float>(source.emissiveFactor[static_cast<std::size_t>(k)]), 0.0f, 1.0f);
                }
            }
            const tinygltf::TextureInfo& base = source.pbrMetallicRoughness.baseColorTexture;
            texCoordsOf_.push_back(texCoordsOf(base));
            if (base.index >= 0 && static_cast<std::size_t>(base.index) < doc_.textures.size()) {
                const tinygltf::Texture& texture = doc_.textures[static_cast<std::size_t>(base.index)];
                if (texture.sampler >= 0 && static_cast<std::size_t>(texture.sampler) < doc_.samplers.size()) {
                    const tinygltf::Sampler& sampler = doc_.samplers[static_cast<std::size_t>(texture.sampler)];
                    material.wrapS = wrapOf(sampler.wrapS);
                    material.wrapT = wrapOf(sampler.wrapT);
                }
                const int image = texture.source;
                if (image >= 0 && static_cast<std::size_t>(image) < doc_.images.size()) {
                    const tinygltf::Image& picture = doc_.images[static_cast<std::size_t>(image)];
                    material.texture = !picture.uri.empty() && picture.uri.rfind("data:", 0) != 0 ? picture.uri
                                       : !picture.name.empty() ? picture.name
                                                               : "image " + std::to_string(image);
                    const bool external = !picture.uri.empty() && picture.uri.rfind("data:", 0) != 0;
                    if (external && !folder_.empty()) {
                        material.texturePath = findTextureFile(picture.uri, folder_);
                    }
                    auto& bytes = images[static_cast<std::size_t>(image)];
                    if (material.texturePath.empty() && !bytes) {
                        bytes = imageBytes(picture);
                    }
                    if (material.texturePath.empty()) {
                        material.embeddedTexture = bytes;
                    }
                }
            }
            model_.materials.push_back(std::move(material));
        }
    }

    static TextureWrap wrapOf(int glTF)
    {
        return glTF == TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE     ? TextureWrap::ClampToEdge
               : glTF == TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT ? TextureWrap::MirroredRepeat
                                                               : TextureWrap::Repeat;
    }

    // The coordinates a texture reads: the TEXCOORD_n set, and where
    // KHR_texture_transform moves them: scaled, then turned by the angle
    // (counter-clockwise with t pointing down), then offset. Values that are
    // missing or not numbers keep their defaults; the extension's texCoord,
    // when given, names the set instead.
    struct TexCoords {
        int set = 0;
        float m[2][3] = {{1, 0, 0}, {0, 1, 0}};
        bool moves = false;
    };

    static TexCoords texCoordsOf(const tinygltf::TextureInfo& info)
    {
        TexCoords out;
        out.set = info.texCoord >= 0 && info.texCoord < 8 ? info.texCoord : 0;
        const auto found = info.extensions.find("KHR_texture_transform");
        if (found == info.extensions.end() || !found->second.IsObject()) {
            return out;
        }
        const tinygltf::Value& e = found->second;
        const auto number = [](const tinygltf::Value& v, double otherwise) {
            return v.IsNumber() && std::isfinite(v.GetNumberAsDouble()) ? v.GetNumberAsDouble() : otherwise;
        };
        const auto pair = [&](const char* key, double otherwise, double (&to)[2]) {
            const tinygltf::Value& v = e.Get(key);
            for (int k = 0; k < 2; ++k) {
                to[k] = v.IsArray() && v.ArrayLen() == 2 ? number(v.Get(k), otherwise) : otherwise;
            }
        };
        double offset[2], scale[2];
        pair("offset", 0.0, offset);
        pair("scale", 1.0, scale);
        const double angle = number(e.Get("rotation"), 0.0), c = std::cos(angle), s = std::sin(angle);
        out.m[0][0] = static_cast<float>(c * scale[0]), out.m[0][1] = static_cast<float>(s * scale[1]);
        out.m[1][0] = static_cast<float>(-s * scale[0]), out.m[1][1] = static_cast<float>(c * scale[1]);
        out.m[0][2] = static_cast<float>(offset[0]), out.m[1][2] = static_cast<float>(offset[1]);
        out.moves = true;
        const tinygltf::Value& set = e.Get("texCoord");
        if (set.IsInt() && set.GetNumberAsInt() >= 0 && set.GetNumberAsInt() < 8) {
            out.set = set.GetNumberAsInt();
        }
        return out;
    }

    // The encoded bytes of an image: those the loader kept, or its buffer
    // view's, when the view lies inside its buffer; null when there are none.
    std::shared_ptr<const std::vector<std::uint8_t>> imageBytes(const tinygltf::Image& picture)
    {
        const std::uint8_t* first = picture.image.data();
        std::size_t size = picture.image.size();
        if (picture.bufferView >= 0) {
            size = 0;
            if (static_cast<std::size_t>(picture.bufferView) < doc_.bufferViews.size()) {
                const tinygltf::BufferView& view = doc_.bufferViews[static_cast<std::size_t>(picture.bufferView)];
                if (view.buffer >= 0 && static_cast<std::size_t>(view.buffer) < doc_.buffers.size()) {
                    const std::vector<unsigned char>& data = doc_.buffers[static_cast<std::size_t>(view.buffer)].data;
                    if (view.byteOffset <= data.size() && view.byteLength <= data.size() - view.byteOffset) {
                        first = data.data() + view.byteOffset;
                        size = view.byteLength;
                    }
                }
            }
        }
        if (size == 0) {
            return nullptr;
        }
        spend(size);
        return std::make_shared<const std::vector<std::uint8_t>>(first, first + size);
    }

    struct NodeInfo {
        bool inScene = false;
        int parent = -1;
        Matrix4 local;  // rest transform relative to the parent
        Matrix4 world;  // rest transform in the scene
        bool animated = false;
        bool bone = false;
        std::vector<VertexWeight> weights;
        std::string boneName;
    };

    [[noreturn]] void fail(const std::string& what) const { throw ImportError(gltfMessage(fileName_, what)); }

    void note(const std::string& what) const { debugOutput("glTF: \"" + fileName_ + "\": " + what + "\n"); }

    std::vector<int> sceneRoots() const
    {
        int scene = doc_.defaultScene;
        if (scene < 0 && !doc_.scenes.empty()) {
            scene = 0;
        }
        if (scene >= 0) {
            if (static_cast<std::size_t>(scene) >= doc_.scenes.size()) {
                fail("scene " + std::to_string(scene) + " does not exist");
            }
            return doc_.scenes[static_cast<std::size_t>(scene)].nodes;
        }
        // No scene: every node that is no other node's child.
        std::vector<bool> isChild(doc_.nodes.size(), false);
        for (const tinygltf::Node& node : doc_.nodes) {
            for (const int child : node.children) {
                if (child >= 0 && static_cast<std::size_t>(child) < isChild.size()) {
                    isChild[static_cast<std::size_t>(child)] = true;
                }
            }
        }
        std::vector<int> roots;
        for (std::size_t i = 0; i < isChild.size(); ++i) {
            if (!isChild[i]) {
                roots.push_back(static_cast<int>(i));
            }
        }
        return roots;
    }

    void checkNode(int index) const
    {
        if (index < 0 || static_cast<std::size_t>(index) >= doc_.nodes.size()) {
            fail("node " + std::to_string(index) + " does not exist");
        }
    }

    // The node's transform relative to its parent: its matrix, else T·R·S.
    Matrix4 localMatrix(int index) const
    {
        const tinygltf::Node& n = doc_.nodes[static_cast<std::size_t>(index)];
        if (!finite(n.matrix) || !finite(n.translation) || !finite(n.rotation) || !finite(n.scale)) {
            fail("node " + std::to_string(index) + " has a transform that is not a number");
        }
        Matrix4 m;
        if (n.matrix.size() == 16) {
            for (int r = 0; r < 4; ++r) {
                for (int c = 0; c < 4; ++c) {
                    m(r, c) = static_cast<float>(n.matrix[static_cast<std::size_t>(4 * c + r)]);  // column-major
                }
            }
            return m;
        }
        Quaternion q;
        if (n.rotation.size() == 4) {
            q = {static_cast<float>(n.rotation[3]), static_cast<float>(n.rotation[0]),
                 static_cast<float>(n.rotation[1]), static_cast<float>(n.rotation[2])};
            quatNormalize(q, q);
        }
        quatToMatrix(q, m);
        if (n.scale.size() == 3) {
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) {
                    m(r, c) *= static_cast<float>(n.scale[static_cast<std::size_t>(c)]);
                }
            }
        }
        if (n.translation.size() == 3) {
            for (int r = 0; r < 3; ++r) {
                m(r, 3) = static_cast<float>(n.translation[static_cast<std::size_t>(r)]);
            }
        }
        return m;
    }

    // Depth-first over the node tree with an explicit stack: a file decides
    // how deep it goes, not the call stack. Records every node's parent and
    // rest transforms, and the nodes in pre-order.
    void walk(int root)
    {
        struct Entry {
            int node, parent, depth;
        };
        std::vector<Entry> stack{{root, -1, 1}};
        while (!stack.empty()) {
            const Entry e = stack.back();
            stack.pop_back();
            checkNode(e.node);
            NodeInfo& info = nodes_[static_cast<std::size_t>(e.node)];
            if (info.inScene) {
                fail("node " + std::to_string(e.node) + " is its own ancestor or the child of two parents");
            }
            if (e.depth > kMaxBoneDepth - 1) {
                fail("nodes are nested deeper than " + std::to_string(kMaxBoneDepth - 1) + " levels");
            }
            info.inScene = true;
            info.parent = e.parent;
            info.local = localMatrix(e.node);
            if (e.parent >= 0) {
                mul(nodes_[static_cast<std::size_t>(e.parent)].world, info.local, info.world);
            } else {
                info.world = info.local;
            }
            order_.push_back(e.node);
            const tinygltf::Node& n = doc_.nodes[static_cast<std::size_t>(e.node)];
            for (auto child = n.children.rbegin(); child != n.children.rend(); ++child) {
                stack.push_back({*child, e.node, e.depth + 1});
            }
        }
    }

    const tinygltf::Skin* skinOf(int node) const
    {
        const int skin = doc_.nodes[static_cast<std::size_t>(node)].skin;
        if (skin < 0) {
            return nullptr;
        }
        if (static_cast<std::size_t>(skin) >= doc_.skins.size()) {
            fail("skin " + std::to_string(skin) + " does not exist");
        }
        return &doc_.skins[static_cast<std::size_t>(skin)];
    }

    // Bones: the joints of the skins that scene meshes use, the animated
    // nodes, and every ancestor of those, so each bone's parent is a bone.
    void markBones()
    {
        for (const tinygltf::Animation& a : doc_.animations) {
            for (const tinygltf::AnimationChannel& c : a.channels) {
                if (c.target_node >= 0 && static_cast<std::size_t>(c.target_node) < nodes_.size() &&
                    nodes_[static_cast<std::size_t>(c.target_node)].inScene) {
                    nodes_[static_cast<std::size_t>(c.target_node)].animated = true;
                }
            }
        }
        for (const int n : order_) {
            NodeInfo& info = nodes_[static_cast<std::size_t>(n)];
            const NodeInfo* parent = info.parent >= 0 ? &nodes_[static_cast<std::size_t>(info.parent)] : nullptr;
            // An unskinned mesh moves with its node when that or an ancestor is animated.
            info.animated = info.animated || (parent && parent->animated);
            if (doc_.nodes[static_cast<std::size_t>(n)].mesh < 0) {
                continue;
            }
            if (const tinygltf::Skin* skin = skinOf(n)) {
                for (const int joint : skin->joints) {
                    checkNode(joint);
                    if (!nodes_[static_cast<std::size_t>(joint)].inScene) {
                        fail("a joint of skin " + std::to_string(doc_.nodes[static_cast<std::size_t>(n)].skin) +
                             " is not in the scene");
                    }
                    nodes_[static_cast<std::size_t>(joint)].bone = true;
                }
            } else if (info.animated) {
                info.bone = true;
            }
        }
        for (const int n : order_) {
            if (nodes_[static_cast<std::size_t>(n)].animated) {
                nodes_[static_cast<std::size_t>(n)].bone = true;
            }
        }
        for (auto n = order_.rbegin(); n != order_.rend(); ++n) {  // children before parents
            const NodeInfo& info = nodes_[static_cast<std::size_t>(*n)];
            if (info.bone && info.parent >= 0) {
                nodes_[static_cast<std::size_t>(info.parent)].bone = true;
            }
        }
        // Keys find their bones by name: every bone gets a name of its own
        // (a lone root may keep an empty one: nothing else is unnamed).
        std::set<std::string> used;
        std::vector<int> roots;
        for (const int n : order_) {
            if (nodes_[static_cast<std::size_t>(n)].bone && nodes_[static_cast<std::size_t>(n)].parent < 0) {
                roots.push_back(n);
            }
        }
        for (const int n : order_) {
            NodeInfo& info = nodes_[static_cast<std::size_t>(n)];
            if (!info.bone) {
                continue;
            }
            const std::string& name = doc_.nodes[static_cast<std::size_t>(n)].name;
            const bool keepsEmptyName = info.parent < 0 && loneRoot(roots);
            info.boneName = (name.empty() && !keepsEmptyName) || used.count(name) ? "node " + std::to_string(n) : name;
            while (used.count(info.boneName)) {
                info.boneName += "'";
            }
            used.insert(info.boneName);
        }
    }

    void spend(std::size_t bytes)
    {
        if (bytes > budget_) {
            fail("the model would take more memory than a file of this size may claim");
        }
        budget_ -= bytes;
    }

    // Room for the vertices and triangles of every drawn primitive at once,
    // by the counts the file claims. Nothing is checked yet, and a file
    // refused later must not have cost much memory first: room is made only
    // when all of it stays within a third of the memory budget (32 bytes per
    // input byte and a third of a MiB, well below the 100 per byte a refused
    // file may cost). Otherwise the arrays grow as the primitives are read.
    void reserveMeshes()
    {
        std::size_t vertices = 0, triangles = 0;
        const auto count = [&](int accessor) -> std::size_t {
            return accessor >= 0 && static_cast<std::size_t>(accessor) < doc_.accessors.size()
                       ? std::min(doc_.accessors[static_cast<std::size_t>(accessor)].count, kMaxGltfValues)
                       : 0;
        };
        for (const int n : order_) {
            const int mesh = doc_.nodes[static_cast<std::size_t>(n)].mesh;
            if (mesh < 0 || static_cast<std::size_t>(mesh) >= doc_.meshes.size()) {
                continue;
            }
            for (const tinygltf::Primitive& primitive : doc_.meshes[static_cast<std::size_t>(mesh)].primitives) {
                const auto position = primitive.attributes.find("POSITION");
                if (position == primitive.attributes.end()) {
                    continue;
                }
                const std::size_t points = count(position->second);
                const std::size_t corners = primitive.indices >= 0 ? count(primitive.indices) : points;
                vertices += points;
                triangles += primitive.mode == TINYGLTF_MODE_TRIANGLES || primitive.mode < 0 ? corners / 3 : corners;
            }
        }
        const std::size_t perVertex = sizeof(Vertex) + sizeof(TexCoord) + 1;
        const std::size_t limit = budget_ / 3;
        if (vertices <= limit / perVertex && triangles <= (limit - vertices * perVertex) / sizeof(Triangle)) {
            model_.vertices.reserve(vertices);
            model_.texCoords.reserve(vertices);
            normalGiven_.reserve(vertices);
            model_.triangles.reserve(triangles);
        }
    }

    void addMesh(int node)
    {
        const int meshIndex = doc_.nodes[static_cast<std::size_t>(node)].mesh;
        if (static_cast<std::size_t>(meshIndex) >= doc_.meshes.size()) {
            fail("mesh " + std::to_string(meshIndex) + " does not exist");
        }
        const tinygltf::Mesh& mesh = doc_.meshes[static_cast<std::size_t>(meshIndex)];
        for (const tinygltf::Primitive& primitive : mesh.primitives) {
            if (!primitive.targets.empty() && !notedMorphs_) {
                note("morph targets are not played");
                notedMorphs_ = true;
            }
            addPrimitive(primitive, node, "mesh " + std::to_string(meshIndex));
        }
    }

    // The four (or more) joint influences of every vertex of a skinned
    // primitive: joint indices into the skin, weights normalised to sum 1.
    struct Influences {
        std::vector<std::uint32_t> joints;
        std::vector<float> weights;
        std::size_t perVertex = 0;
    };

    Influences readInfluences(const tinygltf::Primitive& primitive, const std::string& what, std::size_t count,
                              std::size_t jointCount)
    {
        Influences in;
        for (int set = 0;; ++set) {
            const auto j = primitive.attributes.find("JOINTS_" + std::to_string(set));
            const auto w = primitive.attributes.find("WEIGHTS_" + std::to_string(set));
            if (j == primitive.attributes.end() || w == primitive.attributes.end()) {
                break;
            }
            std::vector<std::uint32_t> joints = readGltfIndices(doc_, j->second, {"JOINTS", 4, false, &what}, fileName_);
            std::vector<float> weights = readGltfFloats(doc_, w->second, {"WEIGHTS", 4, false, &what}, fileName_);
            if (joints.size() != 4 * count || weights.size() != 4 * count) {
                fail("the joints or weights of " + what + " do not match its positions");
            }
            if (set == 0) {
                in.joints = std::move(joints);
                in.weights = std::move(weights);
            } else {
                in.joints.insert(in.joints.end(), joints.begin(), joints.end());
                in.weights.insert(in.weights.end(), weights.begin(), weights.end());
            }
            in.perVertex += 4;
        }
        // Sets are stored one after another: reorder to per vertex (one set
        // already is).
        std::vector<std::uint32_t> joints;
        std::vector<float> weights;
        const std::size_t sets = in.perVertex / 4;
        if (sets <= 1) {
            joints = std::move(in.joints);
            weights = std::move(in.weights);
        } else {
            joints.resize(in.joints.size());
            weights.resize(in.weights.size());
            for (std::size_t s = 0; s < sets; ++s) {
                for (std::size_t v = 0; v < count; ++v) {
                    for (std::size_t k = 0; k < 4; ++k) {
                        joints[v * in.perVertex + 4 * s + k] = in.joints[(s * count + v) * 4 + k];
                        weights[v * in.perVertex + 4 * s + k] = in.weights[(s * count + v) * 4 + k];
                    }
                }
            }
        }
        for (std::size_t v = 0; v < count; ++v) {
            float sum = 0;
            for (std::size_t k = 0; k < in.perVertex; ++k) {
                float& weight = weights[v * in.perVertex + k];
                if (!std::isfinite(weight) || weight < 0) {
                    weight = 0;
                }
                if (weight > 0 && joints[v * in.perVertex + k] >= jointCount) {
                    fail("a vertex of " + what + " names joint " + std::to_string(joints[v * in.perVertex + k]) +
                         " of a skin of " + std::to_string(jointCount));
                }
                sum += weight;
            }
            for (std::size_t k = 0; k < in.perVertex; ++k) {
                weights[v * in.perVertex + k] = sum > 0 ? weights[v * in.perVertex + k] / sum : 0.0f;
            }
        }
        in.joints = std::move(joints);
        in.weights = std::move(weights);
        return in;
    }

    void addPrimitive(const tinygltf::Primitive& primitive, int node, const std::string& what)
    {
        const int mode = primitive.mode < 0 ? TINYGLTF_MODE_TRIANGLES : primitive.mode;
        if (mode != TINYGLTF_MODE_TRIANGLES && mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
            mode != TINYGLTF_MODE_TRIANGLE_FAN) {
            ++skippedPrimitives_;
            return;
        }
        const auto position = primitive.attributes.find("POSITION");
        if (position == primitive.attributes.end()) {
            return;  // nothing to place
        }
        const GltfFloatView positions =
            viewGltfFloats(doc_, position->second, {"POSITION", 3, false, &what}, fileName_);
        const std::size_t count = positions.count;
        GltfFloatView normals;
        if (const auto normal = primitive.attributes.find("NORMAL"); normal != primitive.attributes.end()) {
            normals = viewGltfFloats(doc_, normal->second, {"NORMAL", 3, false, &what}, fileName_);
            if (normals.count != count) {
                fail("the normals of " + what + " do not match its positions");
            }
        }
        GltfIndexView indices;
        if (primitive.indices >= 0) {
            indices = viewGltfIndices(doc_, primitive.indices, {"indices", 1, true, &what}, fileName_);
        } else {
            indices.owned.resize(count);
            for (std::size_t i = 0; i < count; ++i) {
                indices.owned[i] = static_cast<std::uint32_t>(i);
            }
            indices.first = reinterpret_cast<const std::uint8_t*>(indices.owned.data());
            indices.stride = sizeof(std::uint32_t);
            indices.count = count;
        }
        const bool hasMaterial =
            primitive.material >= 0 && static_cast<std::size_t>(primitive.material) < model_.materials.size();
        GltfFloatView texCoords;
        const std::string texCoordName =
            "TEXCOORD_" + std::to_string(hasMaterial ? texCoordsOf_[static_cast<std::size_t>(primitive.material)].set : 0);
        if (const auto uv = primitive.attributes.find(texCoordName); uv != primitive.attributes.end()) {
            texCoords = viewGltfFloats(doc_, uv->second, {texCoordName.c_str(), 2, false, &what}, fileName_);
            if (texCoords.count != count) {
                fail("the texture coordinates of " + what + " do not match its positions");
            }
        }
        const tinygltf::Skin* skin = skinOf(node);
        Influences influences;
        std::vector<Matrix4> bindOffsets;  // per joint: rest world · inverse bind matrix
        if (skin) {
            influences = readInfluences(primitive, what, count, skin->joints.size());
            bindOffsets = jointOffsets(*skin);
        }
        const std::size_t corners = indices.count;
        const std::size_t triangles =
            mode == TINYGLTF_MODE_TRIANGLES ? corners / 3 : (corners >= 3 ? corners - 2 : 0);
        spend(count * (sizeof(Vertex) + sizeof(TexCoord) + 1 + influences.perVertex * sizeof(VertexWeight)) +
              triangles * sizeof(Triangle));

        const std::size_t first = model_.vertices.size();
        if (first + count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
            fail("the model has more vertices than the program holds");
        }
        const std::size_t firstTriangle = model_.triangles.size();
        Triangle* const out = growTo(model_.triangles, firstTriangle + triangles);
        const std::uint32_t material = hasMaterial ? static_cast<std::uint32_t>(primitive.material) : UINT32_MAX;
        const bool inside = indices.size == 1   ? addTriangles<std::uint8_t>(indices, mode, first, count, material, out)
                            : indices.size == 2 ? addTriangles<std::uint16_t>(indices, mode, first, count, material, out)
                                                : addTriangles<std::uint32_t>(indices, mode, first, count, material, out);
        if (!inside) {
            fail("an index of " + what + " names vertex " + std::to_string(firstIndexBeyond(indices, count)) + " of " +
                 std::to_string(count));
        }

        Vertex* const vertices = growTo(model_.vertices, first + count);
        // Texture coordinates are one a vertex or none: kept from the first
        // primitive that has them on, the vertices before it at (0, 0).
        if (texCoords.first || !model_.texCoords.empty()) {
            growTo(model_.texCoords, first + count);
        }
        std::uint8_t* const normalGiven = growTo(normalGiven_, first + count);
        const NodeInfo& info = nodes_[static_cast<std::size_t>(node)];
        const bool skinned = skin && influences.perVertex > 0;
        bool finitePositions = true;
        // Where a vertex stands at rest: a skinned one where its joints'
        // inverse bind matrices and rest pose put it, any other where its node does.
        if (skinned) {
            // Neighbouring vertices mostly hang from the same joints by the
            // same weights: their placement is made once.
            Matrix4 placement, placementNormals;
            const std::size_t per = influences.perVertex;
            for (std::size_t i = 0; i < count; ++i) {
                const Vector3 p = point(positions, i);
                finitePositions = finitePositions && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
                const std::uint32_t* joints = influences.joints.data() + i * per;
                const float* weights = influences.weights.data() + i * per;
                if (i == 0 || !std::equal(joints, joints + per, joints - per) ||
                    std::memcmp(weights, weights - per, per * sizeof(float)) != 0) {
                    placement = blend(bindOffsets, influences, i);
                    placementNormals = normalMatrix(placement);
                }
                vertices[i].position = place(placement, p, 1.0f);
                if (normals.first) {
                    turnNormal(placementNormals, point(normals, i), vertices[i].normal, normalGiven[i]);
                }
            }
        } else {
            const Matrix4 nodeNormals = normalMatrix(info.world);
            std::size_t i = 0;
            finitePositions = placeFours(info.world, positions, count, vertices, i);
            if (normals.first) {
                std::size_t n = 0;
                turnFours(nodeNormals, normals, count, vertices, normalGiven, n);
                for (; n < count; ++n) {
                    turnNormal(nodeNormals, point(normals, n), vertices[n].normal, normalGiven[n]);
                }
            }
            std::uint32_t infinite = 0;
            for (; i < count; ++i) {
                const Vector3 p = point(positions, i);
                infinite |= exponentAllOnes(p.x) | exponentAllOnes(p.y) | exponentAllOnes(p.z);
                vertices[i].position = place(info.world, p, 1.0f);
            }
            finitePositions = finitePositions && infinite == 0;
        }
        if (!finitePositions) {
            fail("a position of " + what + " is not a number");
        }
        model_.computeFaceNormals(firstTriangle, firstTriangle + triangles);  // while they are in the cache
        const TexCoords* const moved =
            hasMaterial && texCoordsOf_[static_cast<std::size_t>(primitive.material)].moves
                ? &texCoordsOf_[static_cast<std::size_t>(primitive.material)]
                : nullptr;
        for (std::size_t i = 0; i < count && texCoords.first; ++i) {
            float s = texCoords(i, 0), t = texCoords(i, 1);
            if (moved) {
                const float (&m)[2][3] = moved->m;
                const float u = s;
                s = m[0][0] * u + m[0][1] * t + m[0][2];
                t = m[1][0] * u + m[1][1] * t + m[1][2];
            }
            model_.texCoords[first + i] = TexCoord{std::isfinite(s) ? s : 0.0f, std::isfinite(t) ? t : 0.0f};
        }
        if (skin) {
            // Each joint's share counted first, so that its list grows once.
            std::vector<std::size_t> shares(skin->joints.size(), 0);
            for (std::size_t e = 0; e < influences.weights.size(); ++e) {
                if (influences.weights[e] > 0) {  // the joints of these were checked
                    ++shares[influences.joints[e]];
                }
            }
            for (std::size_t j = 0; j < shares.size(); ++j) {
                std::vector<VertexWeight>& list = nodes_[static_cast<std::size_t>(skin->joints[j])].weights;
                list.reserve(list.size() + shares[j]);
            }
            for (std::size_t i = 0; i < count; ++i) {
                for (std::size_t k = 0; k < influences.perVertex; ++k) {
                    const float w = influences.weights[i * influences.perVertex + k];
                    if (w > 0) {
                        const int joint = skin->joints[influences.joints[i * influences.perVertex + k]];
                        nodes_[static_cast<std::size_t>(joint)].weights.push_back(
                            {static_cast<std::int32_t>(first + i), w});
                    }
                }
            }
        } else if (info.bone) {
            std::vector<VertexWeight>& weights = nodes_[static_cast<std::size_t>(node)].weights;
            weights.reserve(weights.size() + count);
            for (std::size_t i = 0; i < count; ++i) {
                weights.push_back({static_cast<std::int32_t>(first + i), 1.0f});
            }
        }
    }

    // The triangles of a primitive's corners, every index below count (the
    // answer is false when one is not). An index is read where it lies, as
    // T, and checked without a branch.
    template <typename T>
    static bool addTriangles(const GltfIndexView& indices, int mode, std::size_t first, std::size_t count,
                             std::uint32_t material, Triangle* out)
    {
        const auto index = [&](std::size_t i) { return indexAt<T>(indices, i); };
        std::uint32_t beyond = 0;
        const auto corner = [&](std::size_t i) {
            const std::uint32_t v = index(i);
            beyond |= static_cast<std::uint32_t>(v >= count);
            return static_cast<std::uint32_t>(first + v);
        };
        const std::size_t corners = indices.count;
        const std::size_t triangles =
            mode == TINYGLTF_MODE_TRIANGLES ? corners / 3 : (corners >= 3 ? corners - 2 : 0);
        std::size_t t = 0;
        if (mode == TINYGLTF_MODE_TRIANGLES) {
            beyond |= listFours<T>(indices, first, count, material, out, triangles, t);
        }
        for (; t < triangles; ++t) {
            Triangle& tri = out[t];
            tri.material = material;
            if (mode == TINYGLTF_MODE_TRIANGLES) {
                tri.indices[0] = corner(3 * t), tri.indices[1] = corner(3 * t + 1), tri.indices[2] = corner(3 * t + 2);
            } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
                // Every other triangle of a strip is turned so that all keep one winding.
                tri.indices[0] = corner(t);
                tri.indices[1] = corner(t + 1 + t % 2);
                tri.indices[2] = corner(t + 2 - t % 2);
            } else {
                tri.indices[0] = corner(t + 1), tri.indices[1] = corner(t + 2), tri.indices[2] = corner(0);
            }
        }
        // Corners no triangle takes (a list not a multiple of three, a strip or
        // fan of fewer than three) are checked too.
        for (std::size_t i = mode == TINYGLTF_MODE_TRIANGLES ? 3 * triangles : (triangles > 0 ? corners : 0);
             i < corners; ++i) {
            beyond |= static_cast<std::uint32_t>(index(i) >= count);
        }
        return beyond == 0;
    }

    // Whole fours of a list's triangles, their twelve corners read and
    // checked side by side; t ends at the first triangle left. Answers 1
    // when a corner is not below count. Only for indices that lie packed
    // (no gaps between them) as 16 or 32 bits.
    template <typename T>
    static std::uint32_t listFours(const GltfIndexView& indices, std::size_t first, std::size_t count,
                                   std::uint32_t material, Triangle* out, std::size_t triangles, std::size_t& t)
    {
        static_assert(offsetof(Triangle, indices) == 0 && sizeof(Triangle) >= 4 * sizeof(std::uint32_t));
        if constexpr (sizeof(T) == 1) {
            return 0;
        } else {
            if (indices.stride != sizeof(T) || count == 0) {
                return 0;
            }
            // Unsigned comparison by signed instructions: both sides moved by 2³¹.
            const __m128i flip = _mm_set1_epi32(INT32_MIN);
            const __m128i last = _mm_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(count - 1) ^ 0x80000000u));
            const __m128i base = _mm_set1_epi32(static_cast<std::int32_t>(first));
            const __m128i corners3 = _mm_setr_epi32(-1, -1, -1, 0);  // the fourth lane is the normal's x
            __m128i beyond = _mm_setzero_si128();
            for (; t + 4 <= triangles; t += 4) {
                const std::uint8_t* at = indices.first + 3 * t * sizeof(T);
                __m128i v0, v1, v2;
                if constexpr (sizeof(T) == 2) {
                    const __m128i zero = _mm_setzero_si128();
                    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));  // corners 0-7
                    const __m128i hi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at + 16));  // 8-11
                    v0 = _mm_unpacklo_epi16(lo, zero), v1 = _mm_unpackhi_epi16(lo, zero), v2 = _mm_unpacklo_epi16(hi, zero);
                } else {
                    v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
                    v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16));
                    v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 32));
                }
                for (const __m128i v : {v0, v1, v2}) {
                    beyond = _mm_or_si128(beyond, _mm_cmpgt_epi32(_mm_xor_si128(v, flip), last));
                }
                v0 = _mm_add_epi32(v0, base), v1 = _mm_add_epi32(v1, base), v2 = _mm_add_epi32(v2, base);
                const __m128i four[4] = {v0, _mm_or_si128(_mm_srli_si128(v0, 12), _mm_slli_si128(v1, 4)),
                                         _mm_or_si128(_mm_srli_si128(v1, 8), _mm_slli_si128(v2, 8)),
                                         _mm_srli_si128(v2, 4)};
                for (int k = 0; k < 4; ++k) {
                    Triangle& tri = out[t + static_cast<std::size_t>(k)];
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(&tri), _mm_and_si128(four[k], corners3));
                    tri.material = material;
                }
            }
            return _mm_movemask_epi8(beyond) != 0 ? 1u : 0u;
        }
    }

    template <typename T>
    static std::uint32_t indexAt(const GltfIndexView& indices, std::size_t i)
    {
        T v;
        std::memcpy(&v, indices.first + i * indices.stride, sizeof v);
        return v;
    }

    static std::uint32_t firstIndexBeyond(const GltfIndexView& indices, std::size_t count)
    {
        for (std::size_t i = 0; i < indices.count; ++i) {
            const std::uint32_t v = indices.size == 1   ? indexAt<std::uint8_t>(indices, i)
                                    : indices.size == 2 ? indexAt<std::uint16_t>(indices, i)
                                                        : indexAt<std::uint32_t>(indices, i);
            if (v >= count) {
                return v;
            }
        }
        return 0;
    }

    // Grown by half again when full, so that many primitives in turn do not
    // each copy all before them; the new elements are written by index.
    // Answers where the new elements begin.
    template <typename T>
    static T* growTo(std::vector<T>& array, std::size_t size)
    {
        const std::size_t old = array.size();
        if (array.capacity() < size) {
            array.reserve(std::max(size, array.capacity() + array.capacity() / 2));
        }
        array.resize(size);
        return array.data() + old;
    }

    // What turns normals as the placement turns points: the inverse's
    // transpose, up to a positive factor (normals are made unit afterwards).
    // That is the cofactor matrix, whose columns are the cross products of
    // the placement's columns, turned round when the placement mirrors. A
    // placement that flattens space leaves normals as they are.
    static Matrix4 normalMatrix(const Matrix4& placement)
    {
        const Vector3 c0{placement(0, 0), placement(1, 0), placement(2, 0)};
        const Vector3 c1{placement(0, 1), placement(1, 1), placement(2, 1)};
        const Vector3 c2{placement(0, 2), placement(1, 2), placement(2, 2)};
        Vector3 columns[3];
        cross(c1, c2, columns[0]);
        cross(c2, c0, columns[1]);
        cross(c0, c1, columns[2]);
        const float det = c0.x * columns[0].x + c0.y * columns[0].y + c0.z * columns[0].z;
        Matrix4 out;
        if (det == 0.0f || !std::isfinite(det)) {
            return out;
        }
        const float sign = det > 0.0f ? 1.0f : -1.0f;
        for (int c = 0; c < 3; ++c) {
            out(0, c) = sign * columns[c].x;
            out(1, c) = sign * columns[c].y;
            out(2, c) = sign * columns[c].z;
        }
        return out;
    }

    // Per joint, rest world · inverse bind matrix: where the skin puts a mesh
    // vertex when the skeleton stands at rest (the identity when the mesh was
    // bound in that pose, as usual).
    std::vector<Matrix4> jointOffsets(const tinygltf::Skin& skin)
    {
        std::vector<float> inverseBinds;
        if (skin.inverseBindMatrices >= 0) {
            inverseBinds = readGltfFloats(doc_, skin.inverseBindMatrices, {"inverse bind matrices", 16}, fileName_);
            if (inverseBinds.size() != 16 * skin.joints.size()) {
                fail("a skin has " + std::to_string(inverseBinds.size() / 16) + " inverse bind matrices for " +
                     std::to_string(skin.joints.size()) + " joints");
            }
        }
        std::vector<Matrix4> offsets(skin.joints.size());
        for (std::size_t j = 0; j < skin.joints.size(); ++j) {
            Matrix4 inverseBind;
            for (int r = 0; r < 4 && !inverseBinds.empty(); ++r) {
                for (int c = 0; c < 4; ++c) {
                    inverseBind(r, c) = inverseBinds[16 * j + static_cast<std::size_t>(4 * c + r)];
                }
            }
            if (!std::all_of(inverseBind.m, inverseBind.m + 16, [](float f) { return std::isfinite(f); })) {
                fail("an inverse bind matrix is not a number");
            }
            mul(nodes_[static_cast<std::size_t>(skin.joints[j])].world, inverseBind, offsets[j]);
        }
        return offsets;
    }

    static Vector3 point(const GltfFloatView& xyz, std::size_t i)
    {
        static_assert(sizeof(Vector3) == 3 * sizeof(float));
        Vector3 p;
        std::memcpy(&p, xyz.first + i * xyz.stride, sizeof p);
        return p;
    }

    // 1 for infinities and NaNs, 0 for finite numbers.
    static std::uint32_t exponentAllOnes(float v)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return static_cast<std::uint32_t>((bits & 0x7f800000u) == 0x7f800000u);
    }

    // Elements i … i + 3 of a view of three floats, one register a coordinate.
    struct Four {
        __m128 x, y, z;
    };

    // (Put together in registers: stored as floats and loaded as a vector,
    // they would wait for the stores to reach the cache.)
    static Four gather(const GltfFloatView& view, std::size_t i)
    {
        if (view.stride == 3 * sizeof(float)) {
            // Packed: the four points are the 48 bytes from point i on, read
            // as x0 y0 z0 x1 | y1 z1 x2 y2 | z2 x3 y3 z3 and sorted by axis.
            const float* at = reinterpret_cast<const float*>(view.first + i * view.stride);
            const __m128 a = _mm_loadu_ps(at), b = _mm_loadu_ps(at + 4), c = _mm_loadu_ps(at + 8);
            const __m128 xy23 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 1, 3, 2));  // x2 y2 x3 y3
            const __m128 yz01 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 2, 1));  // y0 z0 y1 z1
            return {_mm_shuffle_ps(a, xy23, _MM_SHUFFLE(2, 0, 3, 0)), _mm_shuffle_ps(yz01, xy23, _MM_SHUFFLE(3, 1, 2, 0)),
                    _mm_shuffle_ps(yz01, c, _MM_SHUFFLE(3, 0, 3, 1))};
        }
        const Vector3 a = point(view, i), b = point(view, i + 1), c = point(view, i + 2), d = point(view, i + 3);
        return {_mm_setr_ps(a.x, b.x, c.x, d.x), _mm_setr_ps(a.y, b.y, c.y, d.y), _mm_setr_ps(a.z, b.z, c.z, d.z)};
    }

    // Row r of m times (x, y, z, w) for four points, the sums in place()'s
    // order, so the same bits as place() gives each alone.
    static __m128 row(const Matrix4& m, int r, const Four& p, __m128 w)
    {
        const __m128 xy = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(m(r, 0)), p.x), _mm_mul_ps(_mm_set1_ps(m(r, 1)), p.y));
        return _mm_add_ps(_mm_add_ps(xy, _mm_mul_ps(_mm_set1_ps(m(r, 2)), p.z)), _mm_mul_ps(_mm_set1_ps(m(r, 3)), w));
    }

    // The positions of whole fours of vertices placed by m, as place() would;
    // i ends at the first vertex left. False when a coordinate is not a number.
    static bool placeFours(const Matrix4& m, const GltfFloatView& positions, std::size_t count, Vertex* out,
                           std::size_t& i)
    {
        const __m128i exponent = _mm_set1_epi32(0x7f800000);
        __m128i infinite = _mm_setzero_si128();
        const __m128 one = _mm_set1_ps(1.0f);
        for (; i + 4 <= count; i += 4) {
            const Four p = gather(positions, i);
            for (const __m128 c : {p.x, p.y, p.z}) {
                const __m128i bits = _mm_and_si128(_mm_castps_si128(c), exponent);
                infinite = _mm_or_si128(infinite, _mm_cmpeq_epi32(bits, exponent));
            }
            storeFour(row(m, 0, p, one), row(m, 1, p, one), row(m, 2, p, one), &out[i].position.x, kVertexFloats);
        }
        return _mm_movemask_epi8(infinite) == 0;
    }

    // turnNormal for whole fours of vertices; n ends at the first vertex left.
    static void turnFours(const Matrix4& m, const GltfFloatView& normals, std::size_t count, Vertex* out,
                          std::uint8_t* given, std::size_t& n)
    {
        const __m128 zero = _mm_setzero_ps();
        const __m128 largest = _mm_set1_ps(std::numeric_limits<float>::max());
        for (; n + 4 <= count; n += 4) {
            const Four file = gather(normals, n);
            const __m128 x = row(m, 0, file, zero), y = row(m, 1, file, zero), z = row(m, 2, file, zero);
            const __m128 length = _mm_sqrt_ps(
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)), _mm_mul_ps(z, z)));
            const __m128 ok = _mm_and_ps(_mm_cmpgt_ps(length, zero), _mm_cmple_ps(length, largest));
            const __m128 scale = _mm_and_ps(ok, _mm_div_ps(_mm_set1_ps(1.0f), length));
            storeFour(_mm_mul_ps(x, scale), _mm_mul_ps(y, scale), _mm_mul_ps(z, scale), &out[n].normal.x, kVertexFloats);
            const int okMask = _mm_movemask_ps(ok);
            for (int k = 0; k < 4; ++k) {
                given[n + static_cast<std::size_t>(k)] = (okMask >> k) & 1;
            }
        }
    }

    // A given normal turned by the normal matrix and made unit; one that
    // ends up zero or not a number counts as not given.
    static void turnNormal(const Matrix4& normals, const Vector3& given, Vector3& out, std::uint8_t& ok)
    {
        const Vector3 n = place(normals, given, 0.0f);
        const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        ok = length > 0.0f && length <= std::numeric_limits<float>::max();
        const float scale = ok ? 1.0f / length : 0.0f;
        out = {n.x * scale, n.y * scale, n.z * scale};
    }

    static Matrix4 blend(const std::vector<Matrix4>& offsets, const Influences& in, std::size_t vertex)
    {
        Matrix4 sum;
        std::fill(sum.m, sum.m + 16, 0.0f);
        float total = 0;
        for (std::size_t k = 0; k < in.perVertex; ++k) {
            const float w = in.weights[vertex * in.perVertex + k];
            if (w > 0) {
                const Matrix4& m = offsets[in.joints[vertex * in.perVertex + k]];
                for (int e = 0; e < 16; ++e) {
                    sum.m[e] += w * m.m[e];
                }
                total += w;
            }
        }
        return total > 0 ? sum : Matrix4{};
    }

    // The diagonal of the vertices' box: what "close" means for this model.
    float size() const
    {
        Vector3 lo = model_.vertices[0].position, hi = lo;
        for (const Vertex& v : model_.vertices) {
            lo = {std::min(lo.x, v.position.x), std::min(lo.y, v.position.y), std::min(lo.z, v.position.z)};
            hi = {std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z)};
        }
        const float d = std::sqrt((hi.x - lo.x) * (hi.x - lo.x) + (hi.y - lo.y) * (hi.y - lo.y) +
                                  (hi.z - lo.z) * (hi.z - lo.z));
        return d > 0 && std::isfinite(d) ? d : 1.0f;
    }

    // The bones below the model's unnamed root, as the node tree has them.
    void buildSkeleton()
    {
        std::vector<int> roots;
        for (const int n : order_) {
            const NodeInfo& info = nodes_[static_cast<std::size_t>(n)];
            if (info.bone && info.parent < 0) {
                roots.push_back(n);
            }
        }
        if (loneRoot(roots)) {
            model_.rootBone = makeBone(roots[0]);  // one skeleton: its root is the model's
        } else {
            for (const int root : roots) {
                model_.rootBone.addChild(makeBone(root));
            }
        }
        std::vector<Bone*> bones;
        collect(model_.rootBone, bones);
        for (Bone* bone : bones) {
            boneByName_[bone->name] = bone;
        }
    }

    // One top-level bone with bones below it stands for the whole skeleton;
    // a bone alone hangs under an unnamed root, since a root without children
    // is the mark of a model without a skeleton.
    bool loneRoot(const std::vector<int>& roots) const
    {
        if (roots.size() != 1) {
            return false;
        }
        const auto& children = doc_.nodes[static_cast<std::size_t>(roots[0])].children;
        return std::any_of(children.begin(), children.end(),
                           [&](int child) { return nodes_[static_cast<std::size_t>(child)].bone; });
    }

    Bone makeBone(int node)
    {
        NodeInfo& info = nodes_[static_cast<std::size_t>(node)];
        Bone bone;
        bone.name = info.boneName;
        bone.localMatrix = info.local;
        if (!invert(info.local, bone.inverseLocalMatrix)) {
            fail("node " + std::to_string(node) + " has a transform that cannot be undone (scale 0)");
        }
        bone.weights = std::move(info.weights);
        for (const int child : doc_.nodes[static_cast<std::size_t>(node)].children) {
            if (nodes_[static_cast<std::size_t>(child)].bone) {
                bone.children.push_back(makeBone(child));
            }
        }
        return bone;
    }

    static void collect(Bone& bone, std::vector<Bone*>& out)
    {
        out.push_back(&bone);
        for (Bone& child : bone.children) {
            collect(child, out);
        }
    }

    // The parts of a node's rest transform.
    RestParts restParts(int node) const
    {
        const tinygltf::Node& n = doc_.nodes[static_cast<std::size_t>(node)];
        const Matrix4& m = nodes_[static_cast<std::size_t>(node)].local;
        RestParts parts;
        parts.translation = {m(0, 3), m(1, 3), m(2, 3)};
        float scales[3];
        Matrix4 rotation;
        for (int c = 0; c < 3; ++c) {
            scales[c] = std::sqrt(m(0, c) * m(0, c) + m(1, c) * m(1, c) + m(2, c) * m(2, c));
            for (int r = 0; r < 3; ++r) {
                rotation(r, c) = scales[c] > 0 ? m(r, c) / scales[c] : 0.0f;
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

    Channel readChannel(const tinygltf::Animation& animation, const tinygltf::AnimationChannel& c,
                        const std::string& what)
    {
        if (c.sampler < 0 || static_cast<std::size_t>(c.sampler) >= animation.samplers.size()) {
            fail(what + " names a sampler that does not exist");
        }
        const tinygltf::AnimationSampler& sampler = animation.samplers[static_cast<std::size_t>(c.sampler)];
        Channel channel;
        channel.target = c.target_path == "translation" ? Channel::Target::Translation
                         : c.target_path == "rotation"  ? Channel::Target::Rotation
                                                        : Channel::Target::Scale;
        channel.width = channel.target == Channel::Target::Rotation ? 4 : 3;
        channel.mode = sampler.interpolation == "STEP"          ? Channel::Mode::Step
                       : sampler.interpolation == "CUBICSPLINE" ? Channel::Mode::Cubic
                                                                : Channel::Mode::Linear;
        channel.times = readGltfFloats(doc_, sampler.input, {"key times", 1, false, &what}, fileName_);
        channel.values =
            readGltfFloats(doc_, sampler.output, {"key values", channel.width, false, &what}, fileName_);
        const std::size_t perKey = static_cast<std::size_t>(channel.width) * (channel.mode == Channel::Mode::Cubic ? 3 : 1);
        if (channel.times.empty() || channel.values.size() != channel.times.size() * perKey) {
            fail(what + " has " + std::to_string(channel.values.size() / perKey) + " key values for " +
                 std::to_string(channel.times.size()) + " key times");
        }
        for (std::size_t k = 0; k < channel.times.size(); ++k) {
            if (!std::isfinite(channel.times[k]) || channel.times[k] < 0 ||
                (k > 0 && !(channel.times[k] > channel.times[k - 1]))) {
                fail(what + " has key times that do not ascend");
            }
        }
        if (!std::all_of(channel.values.begin(), channel.values.end(), [](float v) { return std::isfinite(v); })) {
            fail(what + " has a key value that is not a number");
        }
        return channel;
    }

    // The times at which a bone's keys are made: every key time of its
    // channels; a step also just before the next key, a cubic spline as
    // densely as keeps the motion within a thousandth of the model's size.
    std::vector<float> keyTimes(const std::vector<Channel>& channels) const
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
                    refine(c, c.times[k], c.times[k + 1], 0, between);
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

    // Splits [a, b] in halves while the spline strays from the straight line
    // between its ends (measured at the quarters) by more than the tolerance.
    void refine(const Channel& c, float a, float b, int depth, std::vector<float>& times) const
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
        const float tolerance = c.width == 4 ? 1e-3f : 1e-3f * modelSize_;
        if (depth >= 6 || error <= tolerance) {
            return;
        }
        times.push_back(m);
        refine(c, a, m, depth + 1, times);
        refine(c, m, b, depth + 1, times);
    }

    void addAnimation(std::size_t index)
    {
        const tinygltf::Animation& a = doc_.animations[index];
        std::map<int, std::vector<Channel>> byNode;  // translation, rotation, scale, in file order
        std::string what;  // for messages; one buffer for all the channels
        for (std::size_t c = 0; c < a.channels.size(); ++c) {
            const tinygltf::AnimationChannel& channel = a.channels[c];
            what.assign("channel ").append(std::to_string(c)).append(" of animation ").append(std::to_string(index));
            if (channel.target_path == "weights") {
                if (!notedMorphs_) {
                    note("morph target weights are not played");
                    notedMorphs_ = true;
                }
                continue;
            }
            if (channel.target_path != "translation" && channel.target_path != "rotation" &&
                channel.target_path != "scale") {
                continue;  // an extension's target
            }
            checkNode(channel.target_node);
            if (!nodes_[static_cast<std::size_t>(channel.target_node)].bone) {
                continue;  // a node outside the scene moves nothing shown
            }
            byNode[channel.target_node].push_back(readChannel(a, channel, what));
        }
        Animation clip;
        clip.name = a.name.empty() ? "Animation " + std::to_string(index) : a.name;
        clip.loop = true;
        for (const auto& [node, channels] : byNode) {
            const std::vector<float> times = keyTimes(channels);
            spend(times.size() * (sizeof(KeyFrame) + nodes_[static_cast<std::size_t>(node)].boneName.size()));
            const RestParts rest = restParts(node);
            Bone* bone = boneByName_.at(nodes_[static_cast<std::size_t>(node)].boneName);
            std::vector<KeyFrame> track;
            track.reserve(times.size());
            std::vector<std::size_t> next(channels.size(), 0);  // each channel's first key after t
            // A channel keyed at exactly these times gives key k's value at
            // time k (a sample on a key copies it).
            std::vector<std::uint8_t> keyedHere(channels.size());
            for (std::size_t c = 0; c < channels.size(); ++c) {
                keyedHere[c] = channels[c].times == times;
            }
            for (std::size_t k = 0; k < times.size(); ++k) {
                const float t = times[k];
                Vector3 translation = rest.translation;
                Quaternion rotation = rest.rotation;
                Vector3 scale = rest.scale;
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
                relativeKey(t, translation, rotation, scale, rest, *bone, track.emplace_back());
            }
            clip.length = std::max(clip.length, times.back());
            clip.tracks.push_back(std::move(track));
        }
        if (!clip.tracks.empty()) {
            model_.animator.animations.push_back(std::move(clip));
        }
    }

    // Keys here are relative to the bind pose (local = bind · T · R · S):
    // with bind = T0 · R0 · S0, the absolute translation t, rotation q and
    // scale s become T = S0⁻¹ R0⁻¹ (t − t0), R = R0⁻¹ q and S = s / S0, exact
    // when the bind scale is uniform (as it is in practice).
    static void relativeKey(float time, const Vector3& t, const Quaternion& q, const Vector3& s,
                            const RestParts& rest, Bone& bone, KeyFrame& key)
    {
        Quaternion inverse;
        quatConjugate(rest.rotation, inverse);
        const auto divide = [](float a, float b) { return b != 0.0f ? a / b : a; };
        const Vector3 moved = place(rest.unrotate, {t.x - rest.translation.x, t.y - rest.translation.y,
                                                    t.z - rest.translation.z}, 0.0f);
        key.time = time;
        key.bone = &bone;
        key.boneName = bone.name;
        key.translation = {divide(moved.x, rest.scale.x), divide(moved.y, rest.scale.y), divide(moved.z, rest.scale.z)};
        key.scale = {divide(s.x, rest.scale.x), divide(s.y, rest.scale.y), divide(s.z, rest.scale.z)};
        Quaternion unit;
        quatNormalize(q, unit);
        quatMul(inverse, unit, key.rotation);
    }

    // y-up, front +z → z-up, front +y: (x, y, z) → (−x, z, y). The origin
    // stays where the file has it (glTF models stand on it), so a model
    // written by fyrel-convert comes back where it stood.
    void placeInWorld()
    {
        Matrix4 axes;
        axes(0, 0) = -1.0f;
        axes(1, 1) = 0.0f, axes(1, 2) = 1.0f;
        axes(2, 1) = 1.0f, axes(2, 2) = 0.0f;
        model_.baseTransform = axes;
    }

    const tinygltf::Model& doc_;
    const std::string& fileName_;
    const std::string folder_;
    std::size_t budget_ = 0;
    Model model_;
    std::vector<NodeInfo> nodes_;
    std::vector<int> order_;  // scene nodes, pre-order
    std::vector<std::uint8_t> normalGiven_;  // per vertex: whether the file gives its normal
    std::map<std::string, Bone*> boneByName_;
    float modelSize_ = 1.0f;
    std::vector<TexCoords> texCoordsOf_;  // per material: the coordinates its base colour texture reads
    int skippedPrimitives_ = 0;
    bool notedMorphs_ = false;
};

std::size_t inputBytes(const tinygltf::Model& document, std::size_t fileSize)
{
    std::size_t total = fileSize;
    for (const tinygltf::Buffer& buffer : document.buffers) {
        total += buffer.data.size();
    }
    return total;
}

}  // namespace

Model importGltf(const std::string& path)
{
    const tinygltf::Model document = loadGltfDocument(path);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return Converter(document, path, inputBytes(document, error ? 0 : static_cast<std::size_t>(size)),
                     std::filesystem::path(path).parent_path().string())
        .convert();
}

Model importGltfFromMemory(const std::uint8_t* data, std::size_t size, const std::string& fileName)
{
    const tinygltf::Model document = loadGltfDocumentFromMemory(data, size, fileName);
    return Converter(document, fileName, inputBytes(document, size)).convert();
}

}  // namespace fyrel
