#pragma once

// Derived, cache-friendly forms of a model's animation data, kept in the
// DerivedState slots of the records they are derived from (Model::skin,
// Animator::sampling) and never copied with them: a copy starts empty and
// builds its own on its first frame. Every use checks
// the form against what it was derived from (SkinCache says how far) and
// rebuilds it when they differ, so the results are always those of the plain
// evaluation.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "math/quaternion.h"

namespace fyrel {

struct Bone;
struct VertexWeight;

// Consecutive vertices with the same number of influences and the same form
// of weights, and where their bones' palette slots and their weights start.
// With impliedLast a vertex stores one weight fewer: its last weight is 1
// minus the others, subtracted in order, which the weights it was built from
// match within one unit in the last place of 1 (a single influence: the
// weight is exactly 1 and nothing is stored). Skinning reads these bytes for
// every vertex of every frame, so they are kept as few as the weights allow.
struct SkinRun {
    std::size_t first = 0;
    std::size_t count = 0;
    std::uint32_t influences = 0;
    bool impliedLast = false;
    std::size_t bones = 0;    // in SkinCache::boneSlots (or wideBoneSlots)
    std::size_t weights = 0;  // in SkinCache::boneWeights
};

// What the skin form was built from, per bone in pre-order.
struct SkinSource {
    const VertexWeight* weights = nullptr;
    std::size_t size = 0;
};

// A bone of the flattened skeleton, in pre-order: its parent's entry (the
// root names itself) and the child list it was taken from. A bone's entry is
// trusted only while its parent's child list is where and as long as it was,
// so a changed hierarchy is noticed before a stale pointer is followed.
struct FlatBone {
    Bone* bone = nullptr;
    std::uint32_t parent = 0;
    const Bone* children = nullptr;
    const Bone* childrenEnd = nullptr;
    // The bytes of the bone's child and weight lists (the two std::vector
    // objects, side by side in Bone) as they were: where both lists' storage
    // begins and ends, for a check of 48 bytes at once on x86.
    alignas(16) std::uint64_t lists[6] = {};
};

// The skin of a model turned from scattered per-bone weight lists into a
// per-vertex gather. For every vertex the influences appear in the order the
// bone walk would add them (bones in pre-order, then each bone's weights in
// order), so every sum is formed exactly as the scatter forms it. Rebuilt
// when a bone's weight list moves to new storage, grows or shrinks, when
// bones are added or removed, and when the vertex count changes; weights or
// bind transforms changed in place are announced with skinChanged
// (animation/pose.h).
struct SkinCache {
    bool built = false;
    std::size_t vertexCount = 0;
    std::vector<SkinSource> sources;
    std::vector<SkinRun> runs;
    // Each vertex's bones and weights in the order the walk applies them,
    // run after run. A bone is named by where its slot starts in the palette
    // (in floats): 16 bits hold that for 2048 bones, a skeleton of more uses
    // wideBoneSlots instead.
    std::vector<std::uint16_t> boneSlots;
    std::vector<std::uint32_t> wideBoneSlots;
    std::vector<float> boneWeights;
    bool anyWeights = false;  // some bone lists a weight, in range or not

    // The skeleton flattened for pose evaluation, rebuilt with the rest.
    // worlds holds every bone's world matrix as the evaluation left it (16
    // floats a bone: rows 0-2, or the four columns), inverseBinds the whole
    // inverse bind matrices (16 floats a bone), which depend on the bind
    // transforms alone. affine: every bind transform has the bottom row
    // (0, 0, 0, 1), so that every world matrix has it too and three rows
    // describe it; a skeleton that is not is posed bone by bone.
    std::vector<FlatBone> skeleton;
    std::vector<float> worlds;
    std::vector<float> inverseBinds;
    bool affine = false;
    // For the flat evaluation: rows 0-2 of the bind transforms eight bones
    // at a time (element (r, c) of bones 8g..8g+7 at 96g + 8(4r + c); the
    // four-wide evaluation reads half a group), the bones' local transforms
    // in the same layout, made each pose, and (for the four-wide palette)
    // each inverse bind matrix by rows with every element spread over four
    // floats.
    std::vector<float> bindLocals;
    std::vector<float> locals;
    std::vector<float> spreadInverseBinds;

    // Skinning matrices, one slot of kPaletteFloats per bone in pre-order;
    // held over-allocated so that paletteOffset places slot 0 on 32 bytes.
    std::vector<float> paletteStore;
    std::size_t paletteOffset = 0;

    float* palette() { return paletteStore.data() + paletteOffset; }
};

// Per track: the key found last frame and the key count the cache was sized
// for.
struct TrackCursor {
    std::uint32_t key = 0;
    std::size_t keys = 0;
};

// A bone of the skeleton in pre-order, for the keys' bone indices, with the
// child list it was taken from. The list is trusted while every entry's child
// list is where and as long as it was: checked in pre-order, so that a
// bone's pointer is followed only once its parent's list was found as it
// was. A copy of the model starts without the list, and a changed skeleton
// fails the check: either way it is listed again.
struct SampledBone {
    Bone* bone = nullptr;
    const Bone* children = nullptr;
    const Bone* childrenEnd = nullptr;
};

struct SamplingCache {
    const void* clip = nullptr;  // the Animation the cursors belong to
    std::vector<TrackCursor> cursors;
    std::vector<SampledBone> bones;  // entry i: the bone of index i
};

}  // namespace fyrel
