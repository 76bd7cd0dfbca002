#pragma once

#include <cstdint>
#include <vector>

#include "scene/animation_clip.h"
#include "scene/derived_state.h"

namespace fyrel {

// A model's clips and where playback stands in the current one. Playback
// itself (updateAnimator) is animation's; its keys name the bones of the
// model that holds the animator, by index.
struct Animator {
    std::int32_t current = 0;
    std::vector<Animation> animations;
    float time = 0.0f;  // in the current clip's key-time units
    // The playback speed factor: 1 plays a clip at its own time base; a walk
    // along a path sets it to the walking speed.
    float rate = 0.1f;
    DerivedState sampling;  // animation's search state for the current clip and the bones it drives
};

}  // namespace fyrel
