#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "importers/gltf/gltf_conversion.h"

// Skins and the skeleton of a glTF document: the joint influences of a
// skinned primitive's vertices, where the skin puts its vertices at rest,
// the weights each bone receives, and the bone tree the model ends with.

namespace fyrel {

// The joint influences of every vertex of a skinned primitive, per vertex
// perVertex of them (four per JOINTS_n / WEIGHTS_n pair the primitive has,
// 0 when it has none): joints index the skin's joint list, weights are
// finite, not negative and sum to 1 (all 0 for a vertex whose weights do).
struct GltfInfluences {
    std::vector<std::uint32_t> joints;
    std::vector<float> weights;
    std::size_t perVertex = 0;
};

// Reads the influences of a primitive of count vertices whose skin has
// jointCount joints; what names the mesh in messages. Reads c.doc.
// Weights that are not numbers or negative count as 0. Throws ImportError
// when a pair's accessors are wrong (gltf_accessors.h), do not hold count
// elements, or a vertex gives weight to a joint the skin does not have.
GltfInfluences readGltfInfluences(const GltfConversion& c, const tinygltf::Primitive& primitive,
                                  const std::string& what, std::size_t count, std::size_t jointCount);

// Per joint of the skin, rest world · inverse bind matrix: where the skin
// puts a mesh vertex when the skeleton stands at rest (the identity when the
// mesh was bound in that pose, as usual). Reads c.doc and the joints'
// c.nodes world transforms (walkGltfScene). Throws ImportError when the
// inverse bind matrices are not one per joint or not finite.
std::vector<Matrix4> gltfJointOffsets(const GltfConversion& c, const tinygltf::Skin& skin);

// Hands the vertices first … first + count − 1 (a primitive of node just
// added) to the bones that move them: with a skin, each joint its
// influences' positive weights; without, the node itself (weight 1) when
// it is a bone. Writes c.nodes' weights; throws nothing.
void addGltfWeights(GltfConversion& c, int node, const tinygltf::Skin* skin, const GltfInfluences& influences,
                    std::size_t first, std::size_t count);

// The bones below the model's unnamed root, as the node tree has them (a
// lone root, gltfLoneRoot, becomes the model's root itself). Reads c.doc and
// c.nodes (markGltfBones); moves each node's weights to its bone; writes
// c.model.rootBone and c.boneIndexByName. Throws ImportError when a bone's rest
// transform cannot be inverted (a scale of 0).
void buildGltfSkeleton(GltfConversion& c);

}  // namespace fyrel
