#pragma once

#include <chrono>
#include <string>

#include "app/frame_statistics.h"

namespace fyrel {

class Application;

// What the loop carries from one turn to the next.
struct FrameLoopState {
    std::chrono::steady_clock::time_point start;  // the reading the next dt is measured from
    // Seconds since the last turn that drew a picture: the statistics count
    // intervals between frames on screen, not turns that drew nothing.
    float sinceDrawn = 0.0f;
    FrameStatistics statistics;
    std::string title;
};

// Runs frames until the main window is destroyed and returns the exit code.
// Each turn measures dt since the previous turn on the monotonic clock,
// writes the frame statistics (of the intervals between turns that drew a
// picture) into the main window's title every five seconds, runs Application::frame with dt limited to
// kMaxFrameDt and then handles the pending events. While views are visible
// nothing waits and nothing caps the rate, unless the application syncs to
// the display (then a turn waits out the display's frame period); with no
// view open or the main window minimised, a turn waits for events (at most
// a quarter second) instead of spinning.
int runFrameLoop(Application& app);

// One turn of runFrameLoop; true when the program was asked to quit, with
// the code in exitCode.
bool runFrameTurn(Application& app, FrameLoopState& state, int& exitCode);

}  // namespace fyrel
