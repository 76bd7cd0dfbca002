#pragma once

#include <cstdint>

#include "ik/ik_controller.h"
#include "paths/path.h"
#include "scene/model.h"

namespace fyrel {

// Growth of a binding's parameter per second of frame time: one lap in 100 s.
inline constexpr float kBindingRate = 0.01f;

// The ease-in/ease-out curve: a sine quarter wave up to kEaseInEnd, a straight
// cruise, a sine quarter wave down from kEaseOutStart. The amplitudes and the
// slope normalise the curve to 1 at the end; they and the arithmetic on them
// are double, the result a float.
inline constexpr float kEaseInEnd = 0.2f;
inline constexpr float kEaseOutStart = 0.8f;
inline constexpr float kEaseOutLength = 0.19999999f;  // 1 − 0.8 in float
inline constexpr float kQuarterTurn = 1.570796f;      // not π/2 at full precision
inline constexpr double kEaseInAmplitude = 0.148978270604525;
inline constexpr double kEaseOutAmplitude = 0.14897825950477905;
inline constexpr double kCruiseSlope = 1.1700723499201129;

static_assert(kEaseOutLength == 1.0f - kEaseOutStart);

// The fraction of the path's length covered at normalised time t: 0 at 0,
// 1 at 1, with zero slope at both ends.
float easeDistance(float t);

// The animation-rate factor at t: a linear ramp from 0 to 1 over the ease-in,
// 1 while cruising, a linear ramp down to 0 over the ease-out.
float speedFactor(float t);

// Moves one model along one path. A plain binding (no controller) loops
// forever; a binding with a controller walks once and on arrival has the
// controller generate and play its "IKAnimation" clip.
//
// path, model and controller point into the scene's SceneLists, whose
// elements never move while the lists grow; the binding owns none of them
// and must not outlive them.
struct PathBinding {
    IkController* controller = nullptr;
    Path* path = nullptr;
    Model* model = nullptr;
    float parameter = 0.0f;       // normalised time: 0 at the start, 1 at the end
    float speed = 1.0f;           // speed factor of the last advance
    std::uint32_t searchHint = 0; // table row where the next lookup starts
    // Set when the controller's generation threw at the end of the walk: the
    // binding then does nothing more, so a failing generation is reported
    // once rather than again on every frame.
    bool finished = false;

    // Advances parameter by dt·kBindingRate and places the model: position
    // on the curve at the eased distance, +Y turned along the direction of
    // travel, animation rate set to the speed factor. A dt that is negative,
    // infinite or not a number changes nothing. Where the path gives no
    // direction (zero tangent) or no finite point, the model keeps its
    // orientation or position.
    //
    // With a controller, the first advance that reaches parameter 1 clamps it
    // there and, unless the model's current clip is already "IKAnimation" (a
    // model without a clip at its current index counts as not), generates and
    // plays the controller's clip, leaving position and orientation alone.
    // The IkError of a failing generation propagates to the caller, who
    // shows it; the binding is then finished and the model holds what the
    // failed generation left.
    void advance(float dt);

private:
    void handOver();
    void place(const ArcLengthEntry& e);
};

}  // namespace fyrel
