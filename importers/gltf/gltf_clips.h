#pragma once

#include "importers/gltf/gltf_conversion.h"

// The animations of a glTF document as the model's clips.
//
// A clip holds one track per bone that a translation, rotation or scale
// channel moves; channels of nodes that are not bones move nothing shown
// and are left out, morph target weights are not played (one note on the
// debug output per file), targets of extensions are passed over. A track's
// keys are made at every key time of the bone's channels; a step channel
// adds a key just before each of its next keys, a cubic spline as many as
// keep the motion within a thousandth of the model's size (c.modelSize) of
// the spline, a rotation's within a thousandth. Each key is the bone's pose
// at that time, channels it lacks keeping the rest pose, made relative to
// the bind pose (local = bind · T · R · S). Key times are seconds; a clip
// without tracks is dropped, a clip's name is "Animation N" when the file
// gives none.
//
// Reads c.doc, c.nodes (bones and their rest transforms), c.boneIndexByName
// (buildGltfSkeleton) and c.modelSize; appends to c.model.animator's
// animations; spends the keys' memory from c.budget. Throws ImportError
// when a channel names a node or sampler that does not exist, an accessor
// is wrong (gltf_accessors.h), key values are not one (three for a cubic
// spline) per key time, key times are not finite, negative or do not
// ascend, a key value is not finite, or the keys would take more than the
// budget left.

namespace fyrel {

void addGltfClips(GltfConversion& c);

}  // namespace fyrel
