#include "app/frame_loop.h"

#include <chrono>
#include <string>

#include "app/application.h"
#include "app/frame_statistics.h"
#include "platform/platform.h"
#include "platform/window.h"

namespace fyrel {

namespace {

// Nothing to show (no view, or the main window minimised): wait for events,
// waking a few times a second so the scene still moves on. Paced: wait out
// the rest of the display's frame. Otherwise: take what is pending and go on.
bool restOrDrain(Application& app, std::chrono::steady_clock::time_point frameStart, int& exitCode)
{
    constexpr int kRestMs = 250;
    if (app.childWindows.empty() || isWindowMinimized(app.mainWindow)) {
        return waitForEvents(exitCode, kRestMs);
    }
    if (app.syncToDisplay) {
        const auto period = std::chrono::duration<double>(1.0 / displayRefreshRate(app.mainWindow));
        const auto left = period - (std::chrono::steady_clock::now() - frameStart);
        const int ms = static_cast<int>(std::chrono::duration<double, std::milli>(left).count());
        if (ms > 0) {
            return waitForEvents(exitCode, ms);
        }
    }
    return drainEvents(exitCode);
}

}  // namespace

bool runFrameTurn(Application& app, FrameLoopState& state, int& exitCode)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point now = Clock::now();
    const float dt = std::chrono::duration<float>(now - state.start).count();
    state.start = now;
    state.sinceDrawn += dt;
    if (app.frame(limitFrameDt(dt))) {
        if (state.statistics.add(state.sinceDrawn, state.title)) {
            app.frameTitle = state.title;
            app.showDocumentState(true);
        }
        state.sinceDrawn = 0.0f;
    }
    return restOrDrain(app, state.start, exitCode);
}

int runFrameLoop(Application& app)
{
    FrameLoopState state;
    state.start = std::chrono::steady_clock::now();
    int exitCode = 0;
    while (!runFrameTurn(app, state, exitCode)) {
    }
    return exitCode;
}

}  // namespace fyrel
