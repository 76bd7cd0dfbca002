#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scene/model.h"

struct aiScene;
namespace Assimp {
class Importer;
}

// The import worker's side of reading a file with Assimp: Assimp reads it,
// this turns its scene into a Model, and model_wire.h carries that back to
// the program. Only the worker (tools/fyrel_import_worker.cpp), the fuzz
// target and the benchmark link it: Assimp never runs inside the program.
//
// What the conversion keeps:
//   - The skeleton: the nodes that bones and animation channels name, the
//     nodes that hold meshes (so that rigid parts follow them) when any such
//     node exists, and all their ancestors, in the node tree's shape; the
//     scene's root node is the root bone. The FBX reader's pivot helpers
//     (nodes named "NAME_$AssimpFbx$_PART") are folded into the bone below
//     them: its rest transform is the helpers' product times its own, and
//     channels of the helpers drive that bone. A file without bones or
//     channels has no skeleton and its meshes are placed by their nodes.
//   - Meshes: triangles (points and lines are left out, with a note), their
//     normals (where Assimp has none or a zero one, the faces' own, as
//     large as the faces, summed), the first set of texture coordinates,
//     their material. A skinned vertex is placed at rest as Σ wᵢ·(Cᵢ·Oᵢ)·v
//     (Cᵢ the rest transform of bone i's node in the scene, Oᵢ its offset
//     matrix), an unskinned one by its node's rest transform, whose bone
//     then moves it. The pyramids Assimp makes for a skeleton without a
//     mesh (its MD5 reader does for an .md5anim alone) are left out.
//   - Weights: at most the four strongest of a vertex, renormalised to sum 1;
//     the reading summary says how many vertices had more.
//   - Clips: every animation, named as the file names it ("Animation N"
//     when it names none), key times in seconds: Assimp's ticks divided by
//     the animation's ticks per second, kAssimpDefaultTicksPerSecond when
//     the file gives none (the summary says so). Each driven bone gets a key
//     at every key time of its channels (and its helpers'): translation,
//     rotation and scale, relative to its rest transform; where keyed
//     helpers swing a pivot's offset, keys between them too, until the bone
//     follows the arc within 1/10,000 of the helpers' offsets. Clips that
//     drive no bone are left out.
//   - Materials: colours, opacity, shininess, the diffuse (or base colour)
//     texture's name and wrapping; a texture the file carries is carried
//     along (PNG or JPEG as it is, raw texels as PNG).
//   - Axes and unit: the model's base transform turns Assimp's y-up frame
//     into the world's z-up one; for FBX files the GlobalSettings' axes and
//     UnitScaleFactor are applied first (centimetres by default), so that
//     characters stand upright, in metres. COLLADA's up_axis and unit are
//     applied by Assimp; SMD files are z up, as the world is. Other formats
//     say nothing of their unit and keep theirs.

namespace fyrel {

// The rate of an animation whose file gives none: 25 ticks a second, the
// frame rate most of these formats (MD5, SMD, BVH without a frame time)
// were keyed at.
inline constexpr double kAssimpDefaultTicksPerSecond = 25.0;

// Called with Assimp's progress (0 to 1) while it reads.
using AssimpProgress = std::function<void(float)>;

// The post-processing Assimp is asked for: triangles, missing normals made,
// texture rows top first. Where the scene has meshes, Assimp's check of its
// indices runs after them.
unsigned assimpReadFlags();

// Assimp's own check of the scene it read (its indices, counts and
// names), run by the worker after every read that gives meshes: the scene,
// or null (the importer's error string says why) when the check refuses it.
const aiScene* checkAssimpScene(Assimp::Importer& importer, const aiScene* scene);

// Sets the importer's properties as the worker reads: a skeleton without a
// mesh stays one (no stand-in mesh of its bones).
void prepareAssimpImporter(Assimp::Importer& importer);

// The scene as a Model and the lines of its reading summary. fileName names
// the file in messages; ending (lower case, "fbx") chooses the file's axes:
// FBX its GlobalSettings', SMD z up as ours, every other y up. Throws ImportError
// when the scene holds neither triangles nor a skeleton, its node tree nests
// deeper than kMaxBoneDepth, or a bone's rest transform cannot be undone.
Model convertAssimpScene(const aiScene& scene, const std::string& fileName, const std::string& ending,
                         std::vector<std::string>& notes);

// The worker's whole job: reads the file with Assimp and returns the model's
// wire bytes. Throws ImportError with Assimp's reason when it refuses.
std::vector<std::uint8_t> readWithAssimp(const std::string& path, const AssimpProgress& progress);

// The same for bytes in memory; hint is the file's ending ("fbx"), which
// chooses the reader.
std::vector<std::uint8_t> readWithAssimpFromMemory(const std::uint8_t* data, std::size_t size,
                                                   const std::string& hint);

}  // namespace fyrel
