#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "scene/model.h"

struct Lib3dsFile;

namespace fyrel {

// Reads a 3D Studio file into one static model: the triangle meshes of the
// file, in file order, become the model's vertices and triangles, each mesh's
// faces offset by the vertices of the meshes before it. Positions are taken as
// stored (no mesh matrix is applied); normals are computed from the faces.
// Everything else of the file is ignored, and the model keeps its defaults
// (material, an unnamed root bone, no animation, identity transforms).
//
// Parsing is done by lib3ds, but only after the file's chunks have been
// checked (see three_ds_chunks.h). Any failure throws ImportError whose text
// begins "Unable to load 3ds file", followed, when known, by the file's path
// and what is wrong with it. A path that is not a regular file (a device, a
// pipe) is refused without being opened; of a file, only its main chunk is
// read.
Model import3ds(const std::string& path);

// The same for a file already in memory: data[0, size) is only read.
// textureFolder: where texture files named by the materials are looked up.
Model import3dsFromMemory(const std::uint8_t* data, std::size_t size, const std::string& textureFolder = {});

// The conversion from lib3ds's structure alone: meshes in list order, each
// face checked against its own mesh's vertex count. Throws ImportError with a
// bare description (no lead-in) for a face outside its mesh.
Model convert3dsFile(const Lib3dsFile& file);

}  // namespace fyrel
