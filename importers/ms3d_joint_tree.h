#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "importers/ms3d_records.h"
#include "scene/bone.h"

namespace fyrel::ms3d {

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

// A file whose keys would keep a depth-first search by name per key (which
// visits all bones before the key's in pre-order) busy for seconds is
// refused. Copies of a model no longer search so (keys name their bone by
// index); the limit still decides which files are refused.
void checkKeyLookups(const Ms3dRecords& r, const JointTree& tree, const std::string& fileName);

}  // namespace fyrel::ms3d
