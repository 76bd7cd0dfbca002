#pragma once

#include <vector>

#include "importers/gltf/gltf_conversion.h"

// The node tree of a glTF document: which nodes the scene holds, where each
// stands at rest, and which of them become bones.
//
// Why the walk is checked: a file decides how its nodes link, so a node may
// name a child that does not exist, be its own ancestor, be the child of two
// parents, or nest so deep that a recursive walk would exhaust the stack.
// The walk uses a stack of its own and refuses all of these before any node
// is used.

namespace fyrel {

// Walks the scene the file names as default (else scene 0, else every node
// that is no other node's child) depth-first from its roots.
// Reads c.doc; writes c.nodes (one per document node: inScene, parent,
// local, world) and c.order (the scene's nodes, each before its children,
// children in their stored order). Throws ImportError when the named scene
// or a node does not exist, a node is reached twice (its own ancestor or the
// child of two parents), nodes nest deeper than kMaxBoneDepth − 1 levels, or
// a node's matrix, translation, rotation or scale is not finite.
void walkGltfScene(GltfConversion& c);

// Marks the bones: the joints of the skins that scene meshes use, the nodes
// a channel animates and every node below them (an unskinned mesh moves
// with its node), and every ancestor of those, so that each bone's parent
// is a bone. Each bone gets a name of
// its own: the node's, else "node N", primed (') until no other bone has it;
// only a lone root (gltfLoneRoot) keeps an empty one.
// Reads c.doc and c.order; writes c.nodes' animated, bone and boneName.
// Throws ImportError when a mesh names a skin, or a skin a joint, that does
// not exist, or a joint is not in the scene.
void markGltfBones(GltfConversion& c);

// Throws ImportError unless index names a node of the document.
void checkGltfNode(const GltfConversion& c, int index);

// The skin a scene node names, or null for none; throws ImportError when it
// names one that does not exist.
const tinygltf::Skin* gltfSkinOf(const GltfConversion& c, int node);

// The bones without a parent bone, in c.order.
std::vector<int> gltfBoneRoots(const GltfConversion& c);

// One top-level bone with bones below it stands for the whole skeleton;
// a bone alone hangs under an unnamed root, since a root without children
// is the mark of a model without a skeleton.
bool gltfLoneRoot(const GltfConversion& c, const std::vector<int>& roots);

}  // namespace fyrel
