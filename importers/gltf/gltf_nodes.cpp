#include "importers/gltf/gltf_nodes.h"

#include <set>

#include "math/quaternion.h"

namespace fyrel {
namespace {

std::vector<int> sceneRoots(const GltfConversion& c)
{
    const tinygltf::Model& doc = c.doc;
    int scene = doc.defaultScene;
    if (scene < 0 && !doc.scenes.empty()) {
        scene = 0;
    }
    if (scene >= 0) {
        if (static_cast<std::size_t>(scene) >= doc.scenes.size()) {
            failGltf(c, "scene " + std::to_string(scene) + " does not exist");
        }
        return doc.scenes[static_cast<std::size_t>(scene)].nodes;
    }
    // No scene: every node that is no other node's child.
    std::vector<bool> isChild(doc.nodes.size(), false);
    for (const tinygltf::Node& node : doc.nodes) {
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

// The node's transform relative to its parent: its matrix, else T·R·S.
Matrix4 localMatrix(const GltfConversion& c, int index)
{
    const tinygltf::Node& n = c.doc.nodes[static_cast<std::size_t>(index)];
    if (!allFinite(n.matrix) || !allFinite(n.translation) || !allFinite(n.rotation) || !allFinite(n.scale)) {
        failGltf(c, "node " + std::to_string(index) + " has a transform that is not a number");
    }
    Matrix4 m;
    if (n.matrix.size() == 16) {
        for (int r = 0; r < 4; ++r) {
            for (int col = 0; col < 4; ++col) {
                m(r, col) = static_cast<float>(n.matrix[static_cast<std::size_t>(4 * col + r)]);  // column-major
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
            for (int col = 0; col < 3; ++col) {
                m(r, col) *= static_cast<float>(n.scale[static_cast<std::size_t>(col)]);
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
void walk(GltfConversion& c, int root)
{
    struct Entry {
        int node, parent, depth;
    };
    std::vector<Entry> stack{{root, -1, 1}};
    while (!stack.empty()) {
        const Entry e = stack.back();
        stack.pop_back();
        checkGltfNode(c, e.node);
        GltfNodeInfo& info = c.nodes[static_cast<std::size_t>(e.node)];
        if (info.inScene) {
            failGltf(c, "node " + std::to_string(e.node) + " is its own ancestor or the child of two parents");
        }
        if (e.depth > kMaxBoneDepth - 1) {
            failGltf(c, "nodes are nested deeper than " + std::to_string(kMaxBoneDepth - 1) + " levels");
        }
        info.inScene = true;
        info.parent = e.parent;
        info.local = localMatrix(c, e.node);
        if (e.parent >= 0) {
            mul(c.nodes[static_cast<std::size_t>(e.parent)].world, info.local, info.world);
        } else {
            info.world = info.local;
        }
        c.order.push_back(e.node);
        const tinygltf::Node& n = c.doc.nodes[static_cast<std::size_t>(e.node)];
        for (auto child = n.children.rbegin(); child != n.children.rend(); ++child) {
            stack.push_back({*child, e.node, e.depth + 1});
        }
    }
}

void markAnimated(GltfConversion& c)
{
    for (const tinygltf::Animation& a : c.doc.animations) {
        for (const tinygltf::AnimationChannel& channel : a.channels) {
            if (channel.target_node >= 0 && static_cast<std::size_t>(channel.target_node) < c.nodes.size() &&
                c.nodes[static_cast<std::size_t>(channel.target_node)].inScene) {
                c.nodes[static_cast<std::size_t>(channel.target_node)].animated = true;
            }
        }
    }
}

// The joints of the skins of scene meshes, and unskinned meshes that move
// with an animated node.
void markMeshBones(GltfConversion& c)
{
    for (const int n : c.order) {
        GltfNodeInfo& info = c.nodes[static_cast<std::size_t>(n)];
        const GltfNodeInfo* parent = info.parent >= 0 ? &c.nodes[static_cast<std::size_t>(info.parent)] : nullptr;
        // An unskinned mesh moves with its node when that or an ancestor is animated.
        info.animated = info.animated || (parent && parent->animated);
        if (c.doc.nodes[static_cast<std::size_t>(n)].mesh < 0) {
            continue;
        }
        if (const tinygltf::Skin* skin = gltfSkinOf(c, n)) {
            for (const int joint : skin->joints) {
                checkGltfNode(c, joint);
                if (!c.nodes[static_cast<std::size_t>(joint)].inScene) {
                    failGltf(c, "a joint of skin " + std::to_string(c.doc.nodes[static_cast<std::size_t>(n)].skin) +
                                    " is not in the scene");
                }
                c.nodes[static_cast<std::size_t>(joint)].bone = true;
            }
        } else if (info.animated) {
            info.bone = true;
        }
    }
}

// Keys find their bones by name: every bone gets a name of its own (a lone
// root may keep an empty one: nothing else is unnamed).
void nameBones(GltfConversion& c)
{
    std::set<std::string> used;
    const std::vector<int> roots = gltfBoneRoots(c);
    for (const int n : c.order) {
        GltfNodeInfo& info = c.nodes[static_cast<std::size_t>(n)];
        if (!info.bone) {
            continue;
        }
        const std::string& name = c.doc.nodes[static_cast<std::size_t>(n)].name;
        const bool keepsEmptyName = info.parent < 0 && gltfLoneRoot(c, roots);
        info.boneName = (name.empty() && !keepsEmptyName) || used.count(name) ? "node " + std::to_string(n) : name;
        while (used.count(info.boneName)) {
            info.boneName += "'";
        }
        used.insert(info.boneName);
    }
}

}  // namespace

void walkGltfScene(GltfConversion& c)
{
    c.nodes.assign(c.doc.nodes.size(), GltfNodeInfo{});
    for (const int root : sceneRoots(c)) {
        walk(c, root);
    }
}

void markGltfBones(GltfConversion& c)
{
    markAnimated(c);
    markMeshBones(c);
    for (const int n : c.order) {
        if (c.nodes[static_cast<std::size_t>(n)].animated) {
            c.nodes[static_cast<std::size_t>(n)].bone = true;
        }
    }
    for (auto n = c.order.rbegin(); n != c.order.rend(); ++n) {  // children before parents
        const GltfNodeInfo& info = c.nodes[static_cast<std::size_t>(*n)];
        if (info.bone && info.parent >= 0) {
            c.nodes[static_cast<std::size_t>(info.parent)].bone = true;
        }
    }
    nameBones(c);
}

void checkGltfNode(const GltfConversion& c, int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= c.doc.nodes.size()) {
        failGltf(c, "node " + std::to_string(index) + " does not exist");
    }
}

const tinygltf::Skin* gltfSkinOf(const GltfConversion& c, int node)
{
    const int skin = c.doc.nodes[static_cast<std::size_t>(node)].skin;
    if (skin < 0) {
        return nullptr;
    }
    if (static_cast<std::size_t>(skin) >= c.doc.skins.size()) {
        failGltf(c, "skin " + std::to_string(skin) + " does not exist");
    }
    return &c.doc.skins[static_cast<std::size_t>(skin)];
}

std::vector<int> gltfBoneRoots(const GltfConversion& c)
{
    std::vector<int> roots;
    for (const int n : c.order) {
        const GltfNodeInfo& info = c.nodes[static_cast<std::size_t>(n)];
        if (info.bone && info.parent < 0) {
            roots.push_back(n);
        }
    }
    return roots;
}

bool gltfLoneRoot(const GltfConversion& c, const std::vector<int>& roots)
{
    if (roots.size() != 1) {
        return false;
    }
    const auto& children = c.doc.nodes[static_cast<std::size_t>(roots[0])].children;
    return std::any_of(children.begin(), children.end(),
                       [&](int child) { return c.nodes[static_cast<std::size_t>(child)].bone; });
}

}  // namespace fyrel
