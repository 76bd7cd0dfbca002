#pragma once

#include "importers/gltf/gltf_conversion.h"

// A glTF document's materials as the model's, in the document's order (a
// primitive's material index names the same material in both).
//
// Read: the metallic-roughness base colour factor (clamped to [0, 1]; a
// blended material keeps its alpha, any other is opaque), the alpha mode
// MASK and its cutoff (0.5 when not given, 1 at most), the emissive factor,
// and the base colour texture: its sampler's wrap modes, its image (found
// beside the model when it names a file, else its bytes kept encoded, shared
// by the materials that use it) and the coordinates it reads (the
// TEXCOORD_n set and KHR_texture_transform). Factors that are not four
// (three) finite numbers, and texture, sampler or image indices that name
// nothing, leave the defaults; nothing here refuses a file for its materials.
//
// Reads c.doc and c.folder; writes c.model.materials and c.texCoordsOf (one
// each per material); spends the embedded images' bytes from c.budget and
// throws ImportError (failGltf) when they exceed it.

namespace fyrel {

void addGltfMaterials(GltfConversion& c);

}  // namespace fyrel
