#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <tiny_gltf.h>

// Loading a glTF 2.0 asset, a .gltf JSON file with the buffers it names or a
// .glb container, through tinygltf, fenced so that any file is safe to open.
//
// Why the fence: tinygltf reads whatever file a URI names (absolute paths,
// "../" out of the model's folder) and decodes every image it meets. Here:
//   - external files (buffers, images) are read only from the model's folder
//     or below: a URI that is absolute, has a scheme other than data:, or
//     climbs out with ".." is refused; a document loaded from memory reads no
//     external file at all;
//   - the model file, and each external file, must be a regular file of at
//     most kMaxGltfFileSize bytes; all external files together at most
//     kMaxGltfExternalBytes;
//   - images are not decoded: each image's bytes, as the file or its buffer
//     view holds them, are kept in its `image` for whoever draws them.
// tinygltf's errors and warnings become the message: a failed load throws
// ImportError ("Unable to load glTF file "a.gltf": ..."), control characters
// shown as '?'. Nothing here checks accessors, indices or references between
// objects: gltf_accessors.h and the conversion do that before any use.

namespace fyrel {

inline constexpr std::size_t kMaxGltfFileSize = std::size_t{256} * 1024 * 1024;
inline constexpr std::size_t kMaxGltfExternalBytes = std::size_t{512} * 1024 * 1024;
// How deep a document's JSON may nest its arrays and objects (a glTF asset
// needs about eight levels, extras a few more). The parser and tinygltf's
// reading of extras recurse once a level: a deeper document is refused
// before either sees it, so that no file can exhaust the stack.
inline constexpr int kMaxGltfJsonDepth = 256;

// Loads the file at path: binary when it starts with the GLB magic "glTF",
// JSON otherwise (whatever its ending says).
tinygltf::Model loadGltfDocument(const std::string& path);

// Loads a document held in memory; binary when it starts with the GLB magic
// "glTF". Every URI but a data: URI is refused. fileName names it in messages.
tinygltf::Model loadGltfDocumentFromMemory(const std::uint8_t* data, std::size_t size, const std::string& fileName);

// The text of a message about a glTF file: what, with the file named and
// control characters of both shown as '?'.
std::string gltfMessage(const std::string& fileName, const std::string& what);

}  // namespace fyrel
