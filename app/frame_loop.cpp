#include "app/frame_loop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/application.h"
#include "app/frame_statistics.h"
#include "platform/platform.h"
#include "platform/window.h"

namespace fyrel {

namespace {

using Clock = std::chrono::steady_clock;

bool clipMoves(const Animator& animator)
{
    if (animator.current < 0 || static_cast<std::size_t>(animator.current) >= animator.animations.size()) {
        return false;
    }
    const Animation& clip = animator.animations[static_cast<std::size_t>(animator.current)];
    if (clip.tracks.empty() || !(clip.length > 0.0f) || animator.rate * clip.ticksPerSecond == 0.0f) {
        return false;
    }
    return clip.loop || animator.time < clip.length;
}

// Waits out what is left of the display's frame period since frameStart,
// handling events as they come: the events a presented frame posts would
// otherwise end the wait at once and the loop would run ahead of the display.
bool waitForDisplay(const Application& app, Clock::time_point frameStart, int& exitCode)
{
    const auto end = frameStart + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(1.0 / displayRefreshRate(app.mainWindow)));
    for (;;) {
        const int ms = static_cast<int>(std::chrono::duration<double, std::milli>(end - Clock::now()).count());
        if (ms <= 0) {
            return drainEvents(exitCode);
        }
        if (waitForEvents(exitCode, ms)) {
            return true;
        }
    }
}

// Nothing to show (no view, or the main window minimised): wait for events,
// waking a few times a second so that a moving scene still moves on. Still:
// wait for input. A picture wanted that did not reach the screen (a view not
// yet mapped): try again after a display period rather than spin. Paced:
// wait out the rest of the display's frame. Otherwise: take what is pending
// and go on.
bool restOrDrain(Application& app, Clock::time_point frameStart, bool moving, bool unshown, int& exitCode)
{
    constexpr int kRestMs = 250;
    constexpr int kStillMs = 1000;
    if (app.childWindows.empty() || isWindowMinimized(app.mainWindow)) {
        return waitForEvents(exitCode, kRestMs);
    }
    if (unshown) {
        return waitForDisplay(app, frameStart, exitCode);
    }
    if (!moving) {
        return waitForEvents(exitCode, kStillMs);
    }
    return app.syncToDisplay ? waitForDisplay(app, frameStart, exitCode) : drainEvents(exitCode);
}

}  // namespace

bool sceneMoves(const Application& app)
{
    const Playback& playback = app.playback;
    if (playback.pendingStep != 0.0f) {
        return true;
    }
    if (!playback.playing) {
        return false;
    }
    for (const Model& model : app.models) {
        if (clipMoves(model.animator)) {
            return true;
        }
    }
    for (const PathBinding& binding : app.bindings) {
        if (!binding.finished && (!binding.controller || binding.parameter < 1.0f)) {
            return true;
        }
    }
    return false;
}

bool runFrameTurn(Application& app, FrameLoopState& state, int& exitCode)
{
    const Clock::time_point now = Clock::now();
    const float dt = std::chrono::duration<float>(now - state.start).count();
    state.start = now;
    state.sinceDrawn += dt;
    const std::uint64_t input = inputEventCount();
    const bool moving = sceneMoves(app);
    bool unshown = false;
    if (moving || input != state.drawnAtInput || state.retries > 0) {
        if (app.frame(limitFrameDt(dt))) {
            if (state.statistics.add(state.sinceDrawn, state.title)) {
                app.frameTitle = state.title;
                app.showDocumentState(true);
            }
            state.sinceDrawn = 0.0f;
            state.drawnAtInput = input;
            state.retries = 0;
            ++state.turnsDrawn;
        } else {
            state.retries = input != state.drawnAtInput ? FrameLoopState::kRetries : std::max(state.retries - 1, 0);
            state.drawnAtInput = input;
            unshown = state.retries > 0;
        }
    } else {
        // Still: nothing to draw, but a change made a moment ago is still due
        // in the recovery file (the still wait wakes once a second for it).
        app.showDocumentState();
    }
    return restOrDrain(app, state.start, moving, unshown, exitCode);
}

int runFrameLoop(Application& app)
{
    FrameLoopState state;
    state.start = Clock::now();
    int exitCode = 0;
    // Set by bench/startup_bench: the first picture on screen is announced on
    // standard output and ends the program, so that start-up is timed from outside.
    const bool firstFrameEnds = std::getenv("FYREL_FIRST_FRAME_EXIT") != nullptr;
    while (!runFrameTurn(app, state, exitCode)) {
        if (firstFrameEnds && state.turnsDrawn > 0) {
            std::fputs("fyrel: first frame\n", stdout);
            std::fflush(stdout);
            return 0;
        }
    }
    return exitCode;
}

}  // namespace fyrel
