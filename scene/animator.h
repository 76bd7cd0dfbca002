#pragma once

#include <cstdint>
#include <vector>

#include "scene/animation_clip.h"
#include "scene/derived_state.h"

namespace fyrel {

struct Model;

// A model's clips and where playback stands in the current one. Playback
// itself (updateAnimator) is animation's.
struct Animator {
    Model* model = nullptr;  // null: the per-frame advance does nothing
    std::int32_t current = 0;
    std::vector<Animation> animations;
    float time = 0.0f;  // in the current clip's key-time units
    // The playback speed factor: 1 plays a clip at its own time base; a walk
    // along a path sets it to the walking speed.
    float rate = 0.1f;
    DerivedState sampling;  // animation's search state for the current clip

    // Points the animator and every animation at the model and resolves every
    // key's bone by name on the model's skeleton (null when none bears it).
    void bind(Model* owner);
};

}  // namespace fyrel
