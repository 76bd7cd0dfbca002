#pragma once

namespace fyrel {

// The scene's clock as the transport sets it: running or paused, at a speed,
// with single frames stepped while paused.
struct Playback {
    static constexpr float kMinSpeed = 0.1f;
    static constexpr float kMaxSpeed = 4.0f;
    static constexpr float kFrameStep = 1.0f / 30.0f;  // one stepped frame, in scene seconds

    bool playing = true;
    float speed = 1.0f;
    float pendingStep = 0.0f;  // scene time the next frame owes to a step

    // The scene time for a frame of dt seconds: dt·speed while playing; while
    // paused only what a step left, once.
    float sceneDt(float dt);

    // Pauses, and lets the next frame advance the scene by one frame.
    void stepForward();

    // speed clamped to [kMinSpeed, kMaxSpeed]; a NaN leaves it as it was.
    void setSpeed(float newSpeed);
};

// The longest time one frame may advance the scene: a frame after a stall
// (a modal dialog, a long import) moves on by this much, not by the stall.
inline constexpr float kMaxFrameDt = 0.1f;

// dt limited to kMaxFrameDt.
float limitFrameDt(float dt);

}  // namespace fyrel
