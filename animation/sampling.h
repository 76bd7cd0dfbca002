#pragma once

// Key-frame playback: the animator's clock and the local pose it samples.

namespace fyrel {

struct Animator;

// Advances time by rate·ticksPerSecond·dt (the clip's own time base), wraps or clamps it at the clip's length and
// writes the sampled local pose into the bones of the current clip. The key
// of each track is the first whose time is at or after the playback time;
// the search starts from where it ended last frame. Does nothing without a
// model, a clip or a valid current index.
void updateAnimator(Animator& animator, float dt);

}  // namespace fyrel
