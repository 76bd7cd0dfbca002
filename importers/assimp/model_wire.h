#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scene/model.h"

// A Model as bytes: what the import worker (a child process that runs Assimp,
// a reader we do not trust with hostile files) hands back to the program.
// The parent reads them as it reads any file: every count is checked against
// the bytes that remain before anything is allocated for it, every index
// (a triangle's vertices and material, a weight's vertex, a bone's parent, a
// key's bone) against what it names, every number for being finite. A worker
// that a damaged file has subverted can make the import fail, never make the
// program crash or take more than a few times the bytes' size in memory.
//
// Layout, little-endian, strings as u32 length and bytes:
//   "FYW2"  notes (u32 count, strings: the reading summary)
//   baseTransform (16 f32, by rows)  animator rate (f32)
//   materials: u32 count; name, ambient/diffuse/specular/emissive (4 f32
//     each), shininess, texture name, embedded image (u32 length, bytes),
//     wrapS, wrapT (u8), alpha cut-off (f32)
//   vertices: u32 count; position, normal (3 f32 each)
//   texture coordinates: u32 count (0 or one a vertex); s, t
//   triangles: u32 count; three u32 vertex indices, unit face normal (3
//     f32; zero for a face without area; the reader makes again any of
//     another length), u32 material
//   bones: u32 count, in pre-order; name, i32 parent (−1 for the first
//     bone, the root; else an ancestor-or-self of the bone before), local
//     matrix (16 f32), u32 weight count, weights (u32 vertex, f32)
//   clips: u32 count; name, ticks per second (f32), loop (u8), u32 track
//     count; per track u32 bone, u32 key count, keys (time, rotation w x y
//     z, translation, scale: 11 f32), times ascending
// Nothing may follow.

namespace fyrel {

// What the worker read besides the model: lines of its reading summary.
struct WireModel {
    Model model;
    std::vector<std::string> notes;
};

// The bytes of model (its bone tree, clips, materials and geometry with its
// face normals) and the notes. Key bone indices must name bones of model's
// skeleton.
std::vector<std::uint8_t> writeModelWire(const Model& model, const std::vector<std::string>& notes);

// Reads bytes written by writeModelWire. The model gets its bones' inverse
// local matrices and its clips' lengths; its face normals are the worker's
// (made where the vertices were, so not made twice) where they have length
// one or none, else made again from the positions as every importer makes
// them (a subverted worker can make faces look wrong, not make anything
// fail). Throws ImportError naming fileName and what is wrong when the bytes
// are cut off, a count exceeds what remains, an index names nothing, a
// number other than a face normal is not finite, the bones are not in
// pre-order or nest deeper than kMaxBoneDepth, a bone's transform cannot be
// inverted, or a track's times do not ascend.
WireModel readModelWire(const std::uint8_t* data, std::size_t size, const std::string& fileName);

}  // namespace fyrel
