#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "scene/model.h"

// Writes a model as one binary glTF 2.0 file (.glb), for other tools to read.
//
// What is written:
//   - one mesh: the bind-pose vertices (positions, normals, texture
//     coordinates when a material has an image) and triangles (32-bit
//     indices), one primitive per run of triangles of one material, in the
//     model's order (a material's runs joined when the runs outnumber the
//     materials fourfold), each over the vertices it uses (a vertex two
//     primitives share is written with each);
//   - every material: its diffuse colour as the base colour (blended when
//     its alpha is below 1, else masked at its alpha cutoff when it has
//     one), not metallic, its emissive colour, and its
//     diffuse image carried in the file as the base colour's texture (PNG
//     and JPEG as they are, other formats decoded and encoded as PNG; an
//     image that cannot be read is left out, noted on the debug output),
//     with a sampler when it does not repeat both ways;
//   - when some bone weights a vertex: the skeleton as nodes (one per bone,
//     pre-order, named as the bones, each with its bind transform relative to
//     its parent), a skin over them with each bone's inverse bind matrix, and
//     per vertex its four strongest weights renormalised to sum 1 (JOINTS_0
//     and WEIGHTS_0); a vertex no bone weights goes wholly to the root bone;
//   - every clip as an animation of the same name with the same key times
//     (in seconds: key time divided by the clip's ticksPerSecond, whatever is playing) and, per key, the
//     bone's local transform at that key as translation, rotation and scale
//     (linear interpolation), so that a reader sees the motion this program
//     plays;
//   - the model's base transform turned into glTF's y-up axes
//     ((x, y, z) → (−x, z, y)) on the root bone (in its rest transform and its
//     keys), or on the mesh's node for a model without a skeleton, so the
//     model stands in a glTF viewer as it stands here and a reader finds the
//     same bones.
// A skeleton without a mesh (a BVH motion) is written as its bones' nodes
// and its clips alone, without mesh or skin.
// Fails with ExportError (a message for the user) when the model has neither
// triangles nor a skeleton, more than 65,535 bones, or the file cannot be written.

namespace fyrel {

class ExportError : public std::runtime_error {
public:
    explicit ExportError(const std::string& message) : std::runtime_error(message) {}
};

// The .glb bytes of the model.
std::vector<std::uint8_t> exportGlb(const Model& model);

// Writes exportGlb(model) to path.
void exportGlbFile(const Model& model, const std::string& path);

}  // namespace fyrel
