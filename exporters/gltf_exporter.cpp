#include "exporters/gltf_exporter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <unordered_map>

#include <fyrel_tinygltf.h>

#include "diagnostics/debug_output.h"
#include "images/texture_image.h"

namespace fyrel {
namespace {

// glTF is JSON, which is UTF-8 only; names come from files of every age, many
// in a Windows code page ("Terraind\xe6k"). Well-formed UTF-8 is kept; any
// other byte is taken as Latin-1, which every code page of that family
// agrees with for letters, and written as its UTF-8 sequence.
std::string asUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        std::size_t length = 0;
        std::uint32_t low = 0;  // the least code point a sequence of that length may carry
        if (c < 0x80) {
            length = 1;
        } else if (c >= 0xc2 && c <= 0xdf) {
            length = 2, low = 0x80;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 3, low = 0x800;
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 4, low = 0x10000;
        }
        bool valid = length > 0 && i + length <= n;
        std::uint32_t code = length == 1 ? c : c & (0x7fu >> length);
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (p[i + k] & 0xc0) == 0x80;
            code = (code << 6) | (p[i + k] & 0x3fu);
        }
        valid = valid && code >= low && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff);
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
            ++i;
        }
    }
    return out;
}


struct Trs {
    std::array<double, 3> translation{0, 0, 0};
    std::array<double, 4> rotation{0, 0, 0, 1};  // x, y, z, w
    std::array<double, 3> scale{1, 1, 1};
};

// An affine matrix as translation · rotation · scale: the columns' lengths
// are the scale (the first negated when the matrix mirrors), the normalised
// columns the rotation. Shear, which TRS cannot hold, is dropped.
Trs decompose(const Matrix4& m)
{
    Trs out;
    for (int r = 0; r < 3; ++r) {
        out.translation[static_cast<std::size_t>(r)] = m(r, 3);
    }
    double col[3][3];
    for (int c = 0; c < 3; ++c) {
        const double len = std::sqrt(double(m(0, c)) * m(0, c) + double(m(1, c)) * m(1, c) + double(m(2, c)) * m(2, c));
        out.scale[static_cast<std::size_t>(c)] = len;
        for (int r = 0; r < 3; ++r) {
            col[c][r] = len > 0 ? m(r, c) / len : (r == c ? 1.0 : 0.0);
        }
    }
    const double det = col[0][0] * (col[1][1] * col[2][2] - col[2][1] * col[1][2]) -
                       col[1][0] * (col[0][1] * col[2][2] - col[2][1] * col[0][2]) +
                       col[2][0] * (col[0][1] * col[1][2] - col[1][1] * col[0][2]);
    if (det < 0) {
        out.scale[0] = -out.scale[0];
        for (int r = 0; r < 3; ++r) {
            col[0][r] = -col[0][r];
        }
    }
    Matrix4 rotation;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            rotation(r, c) = static_cast<float>(col[c][r]);
        }
    }
    Quaternion q;
    matrixToQuat(rotation, q);
    out.rotation = {q.x, q.y, q.z, q.w};
    return out;
}

// The bone's local transform for a key: bind · T · R · S, as pose
// evaluation forms it.
Matrix4 localPose(const Bone& bone, const KeyFrame& key)
{
    Matrix4 t, r, lt, out;
    translationMatrix(key.translation, t);
    Quaternion unit;
    quatNormalize(key.rotation, unit);
    quatToMatrix(unit, r);
    scaleColumns(r, key.scale);
    mul(bone.localMatrix, t, lt);
    mul(lt, r, out);
    return out;
}

class Writer {
public:
    explicit Writer(const Model& model) : model_(model) {}

    tinygltf::Model build()
    {
        // A skeleton without a mesh (a BVH motion) goes out as its joints
        // and clips alone.
        const Bone& root = model_.rootBone;
        const bool bare = model_.triangles.empty() && (!root.name.empty() || !root.children.empty());
        if (!bare && (model_.triangles.empty() || model_.vertices.empty())) {
            throw ExportError("The model has no triangles to export.");
        }
        const std::size_t vertices = model_.vertices.size();
        for (const Triangle& t : model_.triangles) {
            if (t.indices[0] >= vertices || t.indices[1] >= vertices || t.indices[2] >= vertices) {
                throw ExportError("A triangle of the model names a vertex it does not have.");
            }
        }
        textured_ = model_.texCoords.size() == vertices &&
                    std::any_of(model_.materials.begin(), model_.materials.end(),
                                [](const Material& m) { return m.hasTexture(); });
        doc_.asset.version = "2.0";
        doc_.asset.generator = "Fyrel";
        doc_.buffers.emplace_back();
        doc_.scenes.emplace_back();
        doc_.defaultScene = 0;

        Matrix4 toYUp;  // the change is its own inverse
        mul(yUpToZUpMatrix(toYUp), model_.baseTransform, placed_);
        const bool skinned = model_.hasSkin();
        if (skinned || bare) {
            addBones(model_.rootBone, -1);
        }
        if (bare) {
            for (const Animation& clip : model_.animator.animations) {
                addAnimation(clip);
            }
            return std::move(doc_);
        }
        // The mesh stands at the scene's root: a skinned one follows its
        // joints alone, any other carries the model's placement itself.
        addMaterials();
        tinygltf::Node meshNode;
        meshNode.name = "mesh";
        meshNode.mesh = addMesh(skinned);
        if (skinned) {
            meshNode.skin = addSkin();
        } else {
            setTrs(meshNode, decompose(placed_));
        }
        doc_.scenes[0].nodes.push_back(static_cast<int>(doc_.nodes.size()));
        doc_.nodes.push_back(meshNode);
        if (skinned) {
            for (const Animation& clip : model_.animator.animations) {
                addAnimation(clip);
            }
        }
        return std::move(doc_);
    }

private:
    static void setTrs(tinygltf::Node& node, const Trs& trs)
    {
        node.translation.assign(trs.translation.begin(), trs.translation.end());
        node.rotation.assign(trs.rotation.begin(), trs.rotation.end());
        node.scale.assign(trs.scale.begin(), trs.scale.end());
    }

    // Appends bytes to the buffer (4-byte aligned) as a new view; its index.
    int addView(const void* data, std::size_t size, int target)
    {
        std::vector<unsigned char>& buffer = doc_.buffers[0].data;
        buffer.resize((buffer.size() + 3) & ~std::size_t{3}, 0);
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = buffer.size();
        view.byteLength = size;
        view.target = target;
        const auto* bytes = static_cast<const unsigned char*>(data);
        buffer.insert(buffer.end(), bytes, bytes + size);
        doc_.bufferViews.push_back(view);
        return static_cast<int>(doc_.bufferViews.size() - 1);
    }

    template <typename T>
    int addAccessor(const std::vector<T>& values, int componentType, int type, int components, int target,
                    bool withBounds = false)
    {
        tinygltf::Accessor a;
        a.bufferView = addView(values.data(), values.size() * sizeof(T), target);
        a.componentType = componentType;
        a.type = type;
        a.count = values.size() / static_cast<std::size_t>(components);
        if (withBounds) {
            a.minValues.assign(static_cast<std::size_t>(components), std::numeric_limits<double>::max());
            a.maxValues.assign(static_cast<std::size_t>(components), std::numeric_limits<double>::lowest());
            for (std::size_t i = 0; i < values.size(); ++i) {
                const std::size_t c = i % static_cast<std::size_t>(components);
                a.minValues[c] = std::min(a.minValues[c], static_cast<double>(values[i]));
                a.maxValues[c] = std::max(a.maxValues[c], static_cast<double>(values[i]));
            }
        }
        doc_.accessors.push_back(a);
        return static_cast<int>(doc_.accessors.size() - 1);
    }

    // The root bone's transform also carries the model's placement, so the
    // skeleton stands in glTF's axes as it stands here.
    Matrix4 placedLocal(const Bone& bone, const Matrix4& local) const
    {
        if (&bone != &model_.rootBone) {
            return local;
        }
        Matrix4 out;
        mul(placed_, local, out);
        return out;
    }

    void addBones(const Bone& bone, int parentNode)
    {
        tinygltf::Node node;
        node.name = asUtf8(bone.name);
        setTrs(node, decompose(placedLocal(bone, bone.localMatrix)));
        const int index = static_cast<int>(doc_.nodes.size());
        doc_.nodes.push_back(node);
        if (parentNode < 0) {
            doc_.scenes[0].nodes.push_back(index);
        } else {
            doc_.nodes[static_cast<std::size_t>(parentNode)].children.push_back(index);
        }
        jointOf_[&bone] = static_cast<int>(joints_.size());
        joints_.push_back(&bone);
        jointNodes_.push_back(index);
        for (const Bone& child : bone.children) {
            addBones(child, index);
        }
    }

    // One primitive per run of triangles of one material, over the vertices
    // the run uses (a vertex two runs share is written with each), so that
    // the model reads back in its own order; all of it as one primitive when
    // one material (or none) covers every triangle.
    int addMesh(bool skinned)
    {
        const std::size_t n = model_.vertices.size();
        Attributes all;
        all.positions.reserve(3 * n);
        all.normals.reserve(3 * n);
        for (const Vertex& v : model_.vertices) {
            all.positions.insert(all.positions.end(), {v.position.x, v.position.y, v.position.z});
            Vector3 unit;
            normalize(v.normal, unit);
            if (unit.x == 0 && unit.y == 0 && unit.z == 0) {
                unit = {0, 0, 1};
            }
            all.normals.insert(all.normals.end(), {unit.x, unit.y, unit.z});
        }
        if (textured_) {
            for (const TexCoord& uv : model_.texCoords) {
                all.texCoords.insert(all.texCoords.end(), {finiteOr(uv.s, 0.0f), finiteOr(uv.t, 0.0f)});
            }
        }
        if (skinned) {
            influences(all.joints, all.weights);
        }
        tinygltf::Mesh mesh;
        mesh.name = "mesh";
        for (const auto& [material, triangles] : trianglesByMaterial()) {
            std::vector<std::uint32_t> indices;
            indices.reserve(3 * triangles.size());
            for (const std::uint32_t t : triangles) {
                const Triangle& triangle = model_.triangles[t];
                indices.insert(indices.end(), triangle.indices, triangle.indices + 3);
            }
            tinygltf::Primitive primitive;
            primitive.mode = TINYGLTF_MODE_TRIANGLES;
            primitive.material = material;
            if (triangles.size() == model_.triangles.size()) {
                addAttributes(all, primitive);
            } else {
                // The vertices these triangles use, in their order, numbered from 0.
                std::vector<std::uint32_t> used(indices);
                std::sort(used.begin(), used.end());
                used.erase(std::unique(used.begin(), used.end()), used.end());
                for (std::uint32_t& index : indices) {
                    index = static_cast<std::uint32_t>(std::lower_bound(used.begin(), used.end(), index) - used.begin());
                }
                addAttributes(all.subset(used), primitive);
            }
            primitive.indices = addAccessor(indices, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, TINYGLTF_TYPE_SCALAR, 1,
                                            TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
            mesh.primitives.push_back(primitive);
        }
        doc_.meshes.push_back(mesh);
        return static_cast<int>(doc_.meshes.size() - 1);
    }

    // Per-vertex arrays as glTF stores them: 3, 3, 2, 4 and 4 numbers a
    // vertex; texture coordinates, joints and weights may be left out.
    struct Attributes {
        std::vector<float> positions, normals, texCoords, weights;
        std::vector<std::uint16_t> joints;

        Attributes subset(const std::vector<std::uint32_t>& vertices) const
        {
            Attributes out;
            pick(positions, 3, vertices, out.positions);
            pick(normals, 3, vertices, out.normals);
            pick(texCoords, 2, vertices, out.texCoords);
            pick(weights, 4, vertices, out.weights);
            pick(joints, 4, vertices, out.joints);
            return out;
        }

        template <typename T>
        static void pick(const std::vector<T>& from, std::size_t width, const std::vector<std::uint32_t>& vertices,
                         std::vector<T>& to)
        {
            if (from.empty()) {
                return;
            }
            to.reserve(width * vertices.size());
            for (const std::uint32_t v : vertices) {
                const auto first = from.begin() + static_cast<std::ptrdiff_t>(width * v);
                to.insert(to.end(), first, first + static_cast<std::ptrdiff_t>(width));
            }
        }
    };

    void addAttributes(const Attributes& a, tinygltf::Primitive& primitive)
    {
        primitive.attributes["POSITION"] = addAccessor(a.positions, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3,
                                                       3, TINYGLTF_TARGET_ARRAY_BUFFER, true);
        primitive.attributes["NORMAL"] = addAccessor(a.normals, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, 3,
                                                     TINYGLTF_TARGET_ARRAY_BUFFER);
        if (!a.texCoords.empty()) {
            primitive.attributes["TEXCOORD_0"] = addAccessor(a.texCoords, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                                             TINYGLTF_TYPE_VEC2, 2, TINYGLTF_TARGET_ARRAY_BUFFER);
        }
        if (!a.joints.empty()) {
            primitive.attributes["JOINTS_0"] = addAccessor(a.joints, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                                                           TINYGLTF_TYPE_VEC4, 4, TINYGLTF_TARGET_ARRAY_BUFFER);
            primitive.attributes["WEIGHTS_0"] = addAccessor(a.weights, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                                            TINYGLTF_TYPE_VEC4, 4, TINYGLTF_TARGET_ARRAY_BUFFER);
        }
    }

    // The triangles in runs of one material (-1: of none, or of one the
    // model does not have), in the model's order. When the materials
    // alternate so often that the runs outnumber them fourfold, the runs of
    // each material joined, in the order the materials first appear.
    std::vector<std::pair<int, std::vector<std::uint32_t>>> trianglesByMaterial() const
    {
        const std::size_t materials = model_.materials.size();
        std::vector<std::pair<int, std::vector<std::uint32_t>>> runs;
        for (std::size_t t = 0; t < model_.triangles.size(); ++t) {
            const std::uint32_t m = model_.triangles[t].material;
            const int material = m < materials ? static_cast<int>(m) : -1;
            if (runs.empty() || runs.back().first != material) {
                runs.emplace_back(material, std::vector<std::uint32_t>());
            }
            runs.back().second.push_back(static_cast<std::uint32_t>(t));
        }
        std::vector<std::pair<int, std::vector<std::uint32_t>>> joined;
        std::vector<int> slot(materials + 1, -1);  // where each material's triangles are joined
        for (const auto& [material, triangles] : runs) {
            int& at = slot[material < 0 ? materials : static_cast<std::size_t>(material)];
            if (at < 0) {
                at = static_cast<int>(joined.size());
                joined.emplace_back(material, std::vector<std::uint32_t>());
            }
            std::vector<std::uint32_t>& into = joined[static_cast<std::size_t>(at)].second;
            into.insert(into.end(), triangles.begin(), triangles.end());
        }
        return runs.size() <= 4 * joined.size() ? runs : joined;
    }

    static float finiteOr(float value, float otherwise) { return std::isfinite(value) ? value : otherwise; }

    // Every material as a glTF material: the diffuse colour as the base
    // colour (blended when its alpha is below 1), not metallic, the emissive
    // colour, and the diffuse image as the base colour's texture.
    void addMaterials()
    {
        // Textures by the image or file they hold and how they wrap.
        std::map<std::tuple<const void*, std::string, TextureWrap, TextureWrap>, int> textures;
        for (const Material& m : model_.materials) {
            tinygltf::Material out;
            out.name = asUtf8(m.name);
            std::vector<double>& base = out.pbrMetallicRoughness.baseColorFactor;
            base.clear();
            for (int k = 0; k < 4; ++k) {
                base.push_back(std::clamp(finiteOr(m.diffuse[k], 1.0f), 0.0f, 1.0f));
            }
            out.pbrMetallicRoughness.metallicFactor = 0.0;
            out.alphaMode = base[3] < 1.0 ? "BLEND" : m.alphaCutoff > 0 ? "MASK" : "OPAQUE";
            if (out.alphaMode == "MASK") {
                out.alphaCutoff = std::min(m.alphaCutoff, 1.0f);
            }
            out.emissiveFactor.clear();
            for (int k = 0; k < 3; ++k) {
                out.emissiveFactor.push_back(std::clamp(finiteOr(m.emissive[k], 0.0f), 0.0f, 1.0f));
            }
            if (textured_ && m.hasTexture()) {
                const auto [known, added] = textures.try_emplace(
                    {m.embeddedTexture.get(), m.embeddedTexture ? std::string() : m.texturePath, m.wrapS, m.wrapT}, -1);
                if (added) {
                    known->second = addTexture(m);
                }
                out.pbrMetallicRoughness.baseColorTexture.index = known->second;
            }
            doc_.materials.push_back(out);
        }
    }

    // The material's image in the buffer, as it is when it is PNG or JPEG,
    // else decoded and encoded as PNG, and a texture of it. -1 when it cannot
    // be read (noted on the debug output): the material keeps its colour.
    int addTexture(const Material& m)
    {
        std::vector<std::uint8_t> read, png;
        std::string reason = "it cannot be encoded as PNG";
        if (!m.embeddedTexture && !readImageFile(m.texturePath, read, reason)) {
            return leftOut(m, reason);
        }
        const std::vector<std::uint8_t>& bytes = m.embeddedTexture ? *m.embeddedTexture : read;
        const char* type = pngOrJpegType(bytes.data(), bytes.size());
        if (!type) {
            Image image;
            if (!decodeImage(bytes.data(), bytes.size(), image, reason) || (png = encodePng(toRgba(image))).empty()) {
                return leftOut(m, reason);
            }
            type = "image/png";
        }
        const std::vector<std::uint8_t>& encoded = png.empty() ? bytes : png;
        tinygltf::Image image;
        image.name = asUtf8(m.texture);
        image.mimeType = type;
        image.bufferView = addView(encoded.data(), encoded.size(), 0);
        doc_.images.push_back(image);
        tinygltf::Texture texture;
        texture.source = static_cast<int>(doc_.images.size() - 1);
        if (m.wrapS != TextureWrap::Repeat || m.wrapT != TextureWrap::Repeat) {
            const auto wrap = [](TextureWrap w) {
                return w == TextureWrap::ClampToEdge      ? TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE
                       : w == TextureWrap::MirroredRepeat ? TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT
                                                          : TINYGLTF_TEXTURE_WRAP_REPEAT;
            };
            tinygltf::Sampler sampler;
            sampler.wrapS = wrap(m.wrapS);
            sampler.wrapT = wrap(m.wrapT);
            doc_.samplers.push_back(sampler);
            texture.sampler = static_cast<int>(doc_.samplers.size() - 1);
        }
        doc_.textures.push_back(texture);
        return static_cast<int>(doc_.textures.size() - 1);
    }

    static int leftOut(const Material& m, const std::string& reason)
    {
        debugOutput("glTF export: the image of material \"" + m.name + "\" is left out: " + reason + "\n");
        return -1;
    }

    // The four strongest weights of every vertex, renormalised.
    void influences(std::vector<std::uint16_t>& joints, std::vector<float>& weights) const
    {
        if (joints_.size() > 65535) {
            throw ExportError("The model has more bones than glTF joints can name (65,535).");
        }
        struct Influence {
            std::uint16_t joint;
            float weight;
        };
        std::vector<std::vector<Influence>> influences(model_.vertices.size());
        for (std::size_t j = 0; j < joints_.size(); ++j) {
            for (const VertexWeight& w : joints_[j]->weights) {
                if (w.vertex >= 0 && static_cast<std::size_t>(w.vertex) < influences.size() && w.weight > 0 &&
                    std::isfinite(w.weight)) {
                    influences[static_cast<std::size_t>(w.vertex)].push_back({static_cast<std::uint16_t>(j), w.weight});
                }
            }
        }
        joints.assign(4 * influences.size(), 0);
        weights.assign(4 * influences.size(), 0.0f);
        for (std::size_t v = 0; v < influences.size(); ++v) {
            std::vector<Influence>& list = influences[v];
            std::stable_sort(list.begin(), list.end(),
                             [](const Influence& a, const Influence& b) { return a.weight > b.weight; });
            list.resize(std::min<std::size_t>(list.size(), 4));
            float sum = 0;
            for (const Influence& i : list) {
                sum += i.weight;
            }
            if (list.empty() || !(sum > 0)) {
                weights[4 * v] = 1.0f;  // on the root bone
                continue;
            }
            for (std::size_t k = 0; k < list.size(); ++k) {
                joints[4 * v + k] = list[k].joint;
                weights[4 * v + k] = list[k].weight / sum;
            }
        }
    }

    // Inverse bind matrices as the pose evaluation forms them: the inverse of
    // the bind chain from the root down, column-major.
    int addSkin()
    {
        std::vector<float> matrices;
        matrices.reserve(16 * joints_.size());
        std::vector<Matrix4> bindWorld(joints_.size());
        std::unordered_map<const Bone*, const Bone*> parentOf;
        collectParents(model_.rootBone, nullptr, parentOf);
        for (std::size_t j = 0; j < joints_.size(); ++j) {
            const Bone* parent = parentOf[joints_[j]];
            if (parent) {
                mul(bindWorld[static_cast<std::size_t>(jointOf_[parent])], joints_[j]->localMatrix, bindWorld[j]);
            } else {
                bindWorld[j] = joints_[j]->localMatrix;
            }
            Matrix4 inverse;
            invert(bindWorld[j], inverse);
            inverse(3, 0) = inverse(3, 1) = inverse(3, 2) = 0.0f;  // affine, exactly
            inverse(3, 3) = 1.0f;
            for (int c = 0; c < 4; ++c) {
                for (int r = 0; r < 4; ++r) {
                    matrices.push_back(inverse(r, c));
                }
            }
        }
        tinygltf::Skin skin;
        skin.joints = jointNodes_;
        skin.skeleton = jointNodes_.front();
        skin.inverseBindMatrices = addAccessor(matrices, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_MAT4, 16, 0);
        doc_.skins.push_back(skin);
        return static_cast<int>(doc_.skins.size() - 1);
    }

    static void collectParents(const Bone& bone, const Bone* parent,
                               std::unordered_map<const Bone*, const Bone*>& parentOf)
    {
        parentOf[&bone] = parent;
        for (const Bone& child : bone.children) {
            collectParents(child, &bone, parentOf);
        }
    }

    void addAnimation(const Animation& clip)
    {
        // Key times in seconds by the clip's own time base, never by what is
        // playing (the playback speed is the player's).
        const float rate = clip.ticksPerSecond > 0 && std::isfinite(clip.ticksPerSecond) ? clip.ticksPerSecond : 1.0f;
        tinygltf::Animation animation;
        animation.name = asUtf8(clip.name);
        std::vector<const Bone*> bones;
        listBones(model_.rootBone, bones);
        for (const std::vector<KeyFrame>& track : clip.tracks) {
            // Unsigned: kNoBone, like any index past the last bone, names none.
            const auto index = track.empty() ? bones.size() : static_cast<std::uint32_t>(track.front().boneIndex);
            const Bone* bone = index < bones.size() ? bones[index] : nullptr;
            if (!bone || !jointOf_.count(bone)) {
                continue;
            }
            std::vector<float> times, translations, rotations, scales;
            for (const KeyFrame& key : track) {
                const Trs trs = decompose(placedLocal(*bone, localPose(*bone, key)));
                times.push_back(key.time / rate);
                translations.insert(translations.end(), trs.translation.begin(), trs.translation.end());
                rotations.insert(rotations.end(), trs.rotation.begin(), trs.rotation.end());
                scales.insert(scales.end(), trs.scale.begin(), trs.scale.end());
            }
            // Times must ascend strictly: keys at one time keep the last.
            dropRepeatedTimes(times, {&translations, &rotations, &scales}, {3, 4, 3});
            const int input = addAccessor(times, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_SCALAR, 1, 0, true);
            const int node = jointNodes_[static_cast<std::size_t>(jointOf_[bone])];
            addChannel(animation, input, translations, TINYGLTF_TYPE_VEC3, 3, node, "translation");
            addChannel(animation, input, rotations, TINYGLTF_TYPE_VEC4, 4, node, "rotation");
            addChannel(animation, input, scales, TINYGLTF_TYPE_VEC3, 3, node, "scale");
        }
        if (!animation.channels.empty()) {
            doc_.animations.push_back(animation);
        }
    }

    static void dropRepeatedTimes(std::vector<float>& times, std::initializer_list<std::vector<float>*> values,
                                  std::initializer_list<std::size_t> widths)
    {
        std::vector<float> keptTimes;
        std::vector<std::vector<float>> kept(values.size());
        for (std::size_t k = 0; k < times.size(); ++k) {
            const bool replace = !keptTimes.empty() && !(times[k] > keptTimes.back());
            if (!replace) {
                keptTimes.push_back(times[k]);
            }
            std::size_t v = 0;
            for (auto [list, width] = std::pair{values.begin(), widths.begin()}; list != values.end();
                 ++list, ++width, ++v) {
                const float* from = (*list)->data() + k * *width;
                if (replace) {
                    std::copy(from, from + *width, kept[v].end() - static_cast<std::ptrdiff_t>(*width));
                } else {
                    kept[v].insert(kept[v].end(), from, from + *width);
                }
            }
        }
        times = std::move(keptTimes);
        std::size_t v = 0;
        for (std::vector<float>* list : values) {
            *list = std::move(kept[v++]);
        }
    }

    void addChannel(tinygltf::Animation& animation, int input, const std::vector<float>& values, int type,
                    int components, int node, const char* path)
    {
        tinygltf::AnimationSampler sampler;
        sampler.input = input;
        sampler.output = addAccessor(values, TINYGLTF_COMPONENT_TYPE_FLOAT, type, components, 0);
        sampler.interpolation = "LINEAR";
        animation.samplers.push_back(sampler);
        tinygltf::AnimationChannel channel;
        channel.sampler = static_cast<int>(animation.samplers.size() - 1);
        channel.target_node = node;
        channel.target_path = path;
        animation.channels.push_back(channel);
    }

    const Model& model_;
    bool textured_ = false;  // texture coordinates go out: one a vertex, and some material has an image
    Matrix4 placed_;  // glTF's axes from the model's: axis change · base transform
    tinygltf::Model doc_;
    std::vector<const Bone*> joints_;  // pre-order
    std::vector<int> jointNodes_;      // node of each joint
    std::unordered_map<const Bone*, int> jointOf_;
};

}  // namespace

std::vector<std::uint8_t> exportGlb(const Model& model)
{
    tinygltf::Model document = Writer(model).build();
    document.buffers[0].data.resize((document.buffers[0].data.size() + 3) & ~std::size_t{3}, 0);
    std::ostringstream out;
    tinygltf::TinyGLTF writer;
    const std::lock_guard lock(tinygltfLock());
    if (!writer.WriteGltfSceneToStream(&document, out, false, true)) {
        throw ExportError("The model could not be written as glTF.");
    }
    const std::string bytes = out.str();
    return {bytes.begin(), bytes.end()};
}

void exportGlbFile(const Model& model, const std::string& path)
{
    const std::vector<std::uint8_t> bytes = exportGlb(model);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())) ||
        !file.flush()) {
        throw ExportError("Cannot write \"" + path + "\".");
    }
}

}  // namespace fyrel
