#pragma once

namespace fyrel {

class Application;

// Runs frames until the main window is destroyed and returns the exit code.
// Each turn measures dt since the previous turn on the monotonic clock,
// writes the frame statistics into the main window's title every five
// seconds, runs Application::frame and then handles every pending event
// without waiting. Nothing sleeps and nothing caps the rate.
int runFrameLoop(Application& app);

}  // namespace fyrel
