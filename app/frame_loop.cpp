#include "app/frame_loop.h"

#include <chrono>
#include <string>

#include "app/application.h"
#include "app/frame_statistics.h"
#include "platform/platform.h"
#include "platform/window.h"

namespace fyrel {

int runFrameLoop(Application& app)
{
    using Clock = std::chrono::steady_clock;
    FrameStatistics statistics;
    std::string title;
    int exitCode = 0;
    bool running = true;
    Clock::time_point start = Clock::now();
    while (running) {
        const Clock::time_point now = Clock::now();
        const float dt = std::chrono::duration<float>(now - start).count();
        if (statistics.add(dt, title)) {
            setWindowText(app.mainWindow, title);
        }
        start = Clock::now();
        app.frame(dt);
        if (drainEvents(exitCode)) {
            running = false;
        }
    }
    return exitCode;
}

}  // namespace fyrel
