#pragma once

#include <cstddef>
#include <memory>

#include "scene/model.h"

// ozz-animation doing the work of our own per-frame steps on the same
// character, for animation_bench to time in the same run (bench/README.md).
// Built only with FYREL_OZZ_SOURCE; the program never links it.
//
// The skeleton is the model's bone tree (joints named as its bones, rest
// pose at each bone's bind translation), the animation its clip 0 (each
// track's keys as they stand, the root joint without keys), the skin its
// bones' weights per vertex (one influence, or four with zero weights filling
// up), the palette the model matrices times the inverses of the rest pose's.
namespace fyrel::bench {

class OzzPeer {
public:
    explicit OzzPeer(const Model& model);
    ~OzzPeer();
    OzzPeer(const OzzPeer&) = delete;
    OzzPeer& operator=(const OzzPeer&) = delete;

    // SamplingJob at the clip time dt·rate after the last (looping).
    void sample(float dt);
    // LocalToModelJob over the sampled (or set) local transforms.
    void localToModel();
    // The skinning palette: model matrix × inverse bind matrix per joint.
    void palette();
    // SkinningJob of positions and normals with the palette.
    void skin();

    // The local transforms set to the model's current bone pose (what
    // randomPose left), as the pose rows evaluate without sampling.
    void takePose(const Model& model);

    int joints() const;
    int tracks() const;  // joints with keys
    const float* skinned() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace fyrel::bench
