#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "scene/model.h"

// Reader for Milkshape3D binary model files (.ms3d): geometry, the first
// material, the joint tree, one bone per vertex and one looping key-frame
// animation.
//
// The file is little-endian and packed. The importer first reads every
// section into records that mirror the file (header, vertices, triangles,
// groups, materials, animation block, joints with their keys), then sends a
// reading summary to the debug output as one message, then converts the
// records into a Model:
//   material of the first material record; vertex positions; triangle
//   indices; the root bone from joint 0; the other joints under their
//   parents; one weight of 1.0 per vertex on its joint; the animation
//   "Default MS3D Animation" (looping, rate 1: key times are seconds) with one
//   key per rotation key; a baseTransform that turns Milkshape's y-up axes,
//   front towards −z, into the scene's z-up ones, front towards +Y ((x, y, z)
//   to (x, −z, y)), and then lifts the lowest vertex onto z = 0; normals from
//   the positions.
// Nothing after the last joint (comments, extended vertex data) is read.
//
// The reading summary, one line each, numbers in the default stream format
// (up to six significant digits):
//   Reading <fileName>
//   Header:
//   \t<identifier>
//   \tVersion: <version>
//   Vertices: <count>
//   Triangles: <count>
//   Groups: <count>
//   Materials: <count>
//   Animation FPS(<fps>); CurrentTime(<time>); Total Frames(<frames>)
//   Joints: <count>
//   Joint <i> named <name> with parent <parent>.  has <r> rotational frames and <t> translational frames.
// The identifier is written up to its first zero byte (at most ten
// characters). The summary is sent only for a file that was read completely;
// a file that fails while being read sends nothing.
//
// Bad input. Every count is checked against the bytes that remain before a
// record is read, and a failure throws ImportError with a message naming the
// file and the place ("The file "a.ms3d" ends inside the triangle list
// (triangle 12 of 40)."; names from the file are quoted, with control
// characters shown as '?'). Rejected as well:
//   - a triangle whose corner names a vertex the file does not have;
//   - a number the model would use that is not finite (NaN or infinity): a
//     vertex position, a colour or the shininess of the first material, a
//     joint's bind rotation or position, a rotation key's time or angles,
//     a translation key that a key frame takes its translation from;
//   - a skeleton nested deeper than kMaxBoneDepth bones (the root is level 1);
//   - an animation whose keys, summed, sit deeper in the bone tree than
//     kMaxMs3dKeyLookups (see there);
//   - for the file entry: a path that is not a regular file, or a file larger
//     than kMaxMs3dFileSize.
// A failed import returns nothing and changes nothing outside the call.
//
// Choices where the format leaves the meaning open:
//   - Names are the bytes of their 32-byte field up to the first zero; a
//     field without a zero gives a name of all 32 bytes.
//   - A vertex whose bone index is negative or not below the joint count has
//     no bone and gets no weight.
//   - The first joint is the root whatever its parent name says. A later
//     joint whose parent name matches no joint before it (including an empty
//     parent name: a second root) is hung under the root bone, keeping its
//     own bind transform relative to that root, its children and its keys.
//   - Key frame k of a joint takes its translation from translation key k;
//     a joint with fewer translation keys than rotation keys uses its last
//     translation key for the later ones, and zero when it has none.
//   - The playback rate is 1 whatever the frames per second: Milkshape
//     writes key times in seconds, and the frames per second (which only
//     the reading summary shows) set the grid its editor snaps keys to.
//   - Joints with the same name: bones are looked up by name as
//     Bone::find does (the first in depth-first order), for parents, vertex
//     weights and keys alike.
//   - A model without vertices gets a baseTransform whose z translation is
//     -3.4028235e38 (the lowest height starts from the largest float).

namespace fyrel {

// Larger files are refused before they are read: the format's 16-bit counts
// cannot fill much more than a few megabytes with anything a model uses.
inline constexpr std::size_t kMaxMs3dFileSize = std::size_t{64} * 1024 * 1024;

// Every copy of a model looks each key's bone up by a depth-first search by
// name, which visits every bone before it in pre-order. Files for which the
// sum of those visits over all keys exceeds this (about a second of work)
// are refused; real files stay far below it (Milkshape's 128 joints with a
// thousand keys each need about 8 million).
inline constexpr std::uint64_t kMaxMs3dKeyLookups = std::uint64_t{1} << 25;

// Reads the file at path and returns the model; the reading summary names
// the path as given. The returned model's animator is not bound: callers
// keep a copy of it, whose construction binds that copy.
Model importMs3d(const std::string& path);

// The same for a file already in memory: size bytes at data (data may be null
// when size is 0). fileName is used in the reading summary and in messages
// only.
// textureFolder: where texture files named by the materials are looked up.
Model importMs3dFromMemory(const std::uint8_t* data, std::size_t size, const std::string& fileName,
                          const std::string& textureFolder = {});

}  // namespace fyrel
