#pragma once

// Key-frame playback: the animator's clock and the local pose it samples.

namespace fyrel {

struct Model;

// Advances the model's animator by rate·ticksPerSecond·dt (the clip's own
// time base), wraps or clamps it at the clip's length and writes the sampled
// local pose into the model's bones that the current clip's keys name (by
// index; a key whose index names no bone drives nothing). The key of each
// track is the first whose time is at or after the playback time; the
// search starts from where it ended last frame. Does nothing without a clip
// or a valid current index. Allocates nothing while the clip and the
// skeleton stay as they were.
void updateAnimator(Model& model, float dt);

}  // namespace fyrel
