#pragma once

#include <chrono>
#include <cstdint>
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
    // The platform's input count (inputEventCount) that the last picture
    // answered: a still scene is drawn again only after more input.
    std::uint64_t drawnAtInput = 0;
    // Turns left to try again, one a display period, a picture that did not
    // reach the screen (a view not mapped yet); the first picture is wanted.
    int retries = kRetries;
    static constexpr int kRetries = 30;
    std::uint64_t turnsDrawn = 0;  // turns that put a picture on screen, for measuring
};

// True when a frame would change the scene: the clock runs (or a step is
// pending) and some model plays a clip that is not at its end, or some
// binding still walks its path.
bool sceneMoves(const Application& app);

// Runs frames until the main window is destroyed and returns the exit code.
// Each turn measures dt since the previous turn on the monotonic clock,
// writes the frame statistics (of the intervals between turns that drew a
// picture) into the main window's title every five seconds, runs
// Application::frame with dt limited to kMaxFrameDt and then handles the
// pending events. A turn draws only when the scene moves, input arrived since
// the last picture, or a wanted picture has not reached the screen (tried
// again each display period, for half a second); otherwise it waits for
// events and draws nothing, so a still program takes no processor time. While views are visible and the scene moves, the application's
// syncToDisplay paces the turns to the display's frame period (the default),
// else nothing waits and nothing caps the rate (for measuring); with no view
// open or the main window minimised, a turn waits for events (at most a
// quarter second) instead of spinning.
int runFrameLoop(Application& app);

// One turn of runFrameLoop; true when the program was asked to quit, with
// the code in exitCode.
bool runFrameTurn(Application& app, FrameLoopState& state, int& exitCode);

}  // namespace fyrel
