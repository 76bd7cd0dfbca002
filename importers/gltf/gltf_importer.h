#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "scene/model.h"

// Reader for glTF 2.0 assets (.gltf with its buffers, .glb), parsed by
// tinygltf behind the fence of gltf_document.h.
//
// What becomes the model: the scene the file names as default (else scene 0,
// else every node that is no other node's child), walked from its roots.
// Every mesh of a node, placed by the node's world transform, adds its
// primitives: triangle lists, strips and fans as triangles (points and lines
// are passed over, with one note on the debug output per file), indexed by
// any unsigned component type or not at all. Positions, and normals where
// the primitive has them (turned with the node; computed from the faces
// otherwise). glTF is y-up with the front towards +z; the model's base
// transform turns that into this program's z-up world, (x, y, z) → (−x, z, y),
// and leaves the origin where it is.
//
// Bad input throws ImportError through gltfMessage, naming what is wrong:
// glTF 1.0 (GltfVersionOneError); tinygltf's own errors; a scene without a triangle to show; an accessor that reads outside its buffers (see
// gltf_accessors.h); an index beyond its primitive's vertices; a node,
// mesh or scene index that does not exist; a node that is its own ancestor
// or the child of two parents; nodes nested deeper than kMaxBoneDepth; a
// matrix, translation, rotation, scale or position that is not finite; a
// model that would take more than kGltfMemoryPerInputByte times the bytes
// read (the file and its buffers) plus 1 MiB. Nothing outside the call changes
// on failure.
//
// The conversion runs as steps of one concern each on a shared record; the
// order, and the file of each step, are in gltf_conversion.h.

#include "importers/import_error.h"

namespace fyrel {

inline constexpr std::size_t kGltfMemoryPerInputByte = 96;

// Thrown for an asset of glTF 1.0 (its "asset" says version 1.x, or a
// binary container of version 1), which this reader does not read: the
// format table hands such a file to the reader of older formats instead.
class GltfVersionOneError : public ImportError {
public:
    using ImportError::ImportError;
};

Model importGltf(const std::string& path);

// The same for a document in memory (JSON or GLB); external files are refused.
Model importGltfFromMemory(const std::uint8_t* data, std::size_t size, const std::string& fileName);

}  // namespace fyrel
