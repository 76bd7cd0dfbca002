#include "importers/gltf/gltf_skeleton.h"

#include "importers/gltf/gltf_accessors.h"
#include "importers/gltf/gltf_nodes.h"

namespace fyrel {
namespace {

// The JOINTS_n / WEIGHTS_n pairs one after another, as the file stores them.
GltfInfluences readSets(const GltfConversion& c, const tinygltf::Primitive& primitive, const std::string& what,
                        std::size_t count)
{
    GltfInfluences in;
    for (int set = 0;; ++set) {
        const auto j = primitive.attributes.find("JOINTS_" + std::to_string(set));
        const auto w = primitive.attributes.find("WEIGHTS_" + std::to_string(set));
        if (j == primitive.attributes.end() || w == primitive.attributes.end()) {
            break;
        }
        std::vector<std::uint32_t> joints = readGltfIndices(c.doc, j->second, {"JOINTS", 4, false, &what}, c.fileName);
        std::vector<float> weights = readGltfFloats(c.doc, w->second, {"WEIGHTS", 4, false, &what}, c.fileName);
        if (joints.size() != 4 * count || weights.size() != 4 * count) {
            failGltf(c, "the joints or weights of " + what + " do not match its positions");
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
    return in;
}

// Sets are stored one after another: reordered to per vertex (one set
// already is).
void interleave(GltfInfluences& in, std::size_t count)
{
    const std::size_t sets = in.perVertex / 4;
    if (sets <= 1) {
        return;
    }
    std::vector<std::uint32_t> joints(in.joints.size());
    std::vector<float> weights(in.weights.size());
    for (std::size_t s = 0; s < sets; ++s) {
        for (std::size_t v = 0; v < count; ++v) {
            for (std::size_t k = 0; k < 4; ++k) {
                joints[v * in.perVertex + 4 * s + k] = in.joints[(s * count + v) * 4 + k];
                weights[v * in.perVertex + 4 * s + k] = in.weights[(s * count + v) * 4 + k];
            }
        }
    }
    in.joints = std::move(joints);
    in.weights = std::move(weights);
}

void normalise(const GltfConversion& c, GltfInfluences& in, const std::string& what, std::size_t count,
               std::size_t jointCount)
{
    for (std::size_t v = 0; v < count; ++v) {
        float sum = 0;
        for (std::size_t k = 0; k < in.perVertex; ++k) {
            float& weight = in.weights[v * in.perVertex + k];
            if (!std::isfinite(weight) || weight < 0) {
                weight = 0;
            }
            if (weight > 0 && in.joints[v * in.perVertex + k] >= jointCount) {
                failGltf(c, "a vertex of " + what + " names joint " + std::to_string(in.joints[v * in.perVertex + k]) +
                                " of a skin of " + std::to_string(jointCount));
            }
            sum += weight;
        }
        for (std::size_t k = 0; k < in.perVertex; ++k) {
            in.weights[v * in.perVertex + k] = sum > 0 ? in.weights[v * in.perVertex + k] / sum : 0.0f;
        }
    }
}

Bone makeBone(GltfConversion& c, int node)
{
    GltfNodeInfo& info = c.nodes[static_cast<std::size_t>(node)];
    Bone bone;
    bone.name = info.boneName;
    bone.localMatrix = info.local;
    if (!invert(info.local, bone.inverseLocalMatrix)) {
        failGltf(c, "node " + std::to_string(node) + " has a transform that cannot be undone (scale 0)");
    }
    bone.weights = std::move(info.weights);
    for (const int child : c.doc.nodes[static_cast<std::size_t>(node)].children) {
        if (c.nodes[static_cast<std::size_t>(child)].bone) {
            bone.children.push_back(makeBone(c, child));
        }
    }
    return bone;
}

void collect(Bone& bone, std::vector<Bone*>& out)
{
    out.push_back(&bone);
    for (Bone& child : bone.children) {
        collect(child, out);
    }
}

}  // namespace

GltfInfluences readGltfInfluences(const GltfConversion& c, const tinygltf::Primitive& primitive,
                                  const std::string& what, std::size_t count, std::size_t jointCount)
{
    GltfInfluences in = readSets(c, primitive, what, count);
    interleave(in, count);
    normalise(c, in, what, count, jointCount);
    return in;
}

std::vector<Matrix4> gltfJointOffsets(const GltfConversion& c, const tinygltf::Skin& skin)
{
    std::vector<float> inverseBinds;
    if (skin.inverseBindMatrices >= 0) {
        inverseBinds = readGltfFloats(c.doc, skin.inverseBindMatrices, {"inverse bind matrices", 16}, c.fileName);
        if (inverseBinds.size() != 16 * skin.joints.size()) {
            failGltf(c, "a skin has " + std::to_string(inverseBinds.size() / 16) + " inverse bind matrices for " +
                            std::to_string(skin.joints.size()) + " joints");
        }
    }
    std::vector<Matrix4> offsets(skin.joints.size());
    for (std::size_t j = 0; j < skin.joints.size(); ++j) {
        Matrix4 inverseBind;
        for (int r = 0; r < 4 && !inverseBinds.empty(); ++r) {
            for (int col = 0; col < 4; ++col) {
                inverseBind(r, col) = inverseBinds[16 * j + static_cast<std::size_t>(4 * col + r)];
            }
        }
        if (!std::all_of(inverseBind.m, inverseBind.m + 16, [](float f) { return std::isfinite(f); })) {
            failGltf(c, "an inverse bind matrix is not a number");
        }
        mul(c.nodes[static_cast<std::size_t>(skin.joints[j])].world, inverseBind, offsets[j]);
    }
    return offsets;
}

void addGltfWeights(GltfConversion& c, int node, const tinygltf::Skin* skin, const GltfInfluences& influences,
                    std::size_t first, std::size_t count)
{
    if (!skin) {
        if (c.nodes[static_cast<std::size_t>(node)].bone) {
            std::vector<VertexWeight>& weights = c.nodes[static_cast<std::size_t>(node)].weights;
            weights.reserve(weights.size() + count);
            for (std::size_t i = 0; i < count; ++i) {
                weights.push_back({static_cast<std::int32_t>(first + i), 1.0f});
            }
        }
        return;
    }
    // Each joint's share counted first, so that its list grows once.
    std::vector<std::size_t> shares(skin->joints.size(), 0);
    for (std::size_t e = 0; e < influences.weights.size(); ++e) {
        if (influences.weights[e] > 0) {  // the joints of these were checked
            ++shares[influences.joints[e]];
        }
    }
    for (std::size_t j = 0; j < shares.size(); ++j) {
        std::vector<VertexWeight>& list = c.nodes[static_cast<std::size_t>(skin->joints[j])].weights;
        list.reserve(list.size() + shares[j]);
    }
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t k = 0; k < influences.perVertex; ++k) {
            const float w = influences.weights[i * influences.perVertex + k];
            if (w > 0) {
                const int joint = skin->joints[influences.joints[i * influences.perVertex + k]];
                c.nodes[static_cast<std::size_t>(joint)].weights.push_back({static_cast<std::int32_t>(first + i), w});
            }
        }
    }
}

void buildGltfSkeleton(GltfConversion& c)
{
    const std::vector<int> roots = gltfBoneRoots(c);
    if (gltfLoneRoot(c, roots)) {
        c.model.rootBone = makeBone(c, roots[0]);  // one skeleton: its root is the model's
    } else {
        for (const int root : roots) {
            c.model.rootBone.addChild(makeBone(c, root));
        }
    }
    std::vector<Bone*> bones;
    collect(c.model.rootBone, bones);
    for (std::size_t i = 0; i < bones.size(); ++i) {
        c.boneIndexByName[bones[i]->name] = static_cast<std::int32_t>(i);
    }
}

}  // namespace fyrel
