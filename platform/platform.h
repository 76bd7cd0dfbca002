#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/input.h"

// The session with the window system. Exactly one exists while windows do;
// it must be made before any window, dialog or GL context, and it fixes the
// surface format of every OpenGL surface: compatibility profile, 24-bit
// colour, a depth buffer of at least 16 bits, double buffered, swap interval
// 0 (presenting never waits for the display). It also sends the debug output
// to standard error, one write per message.

namespace fyrel {

class Platform {
public:
    Platform(int& argc, char** argv);
    ~Platform();
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    // The folder of the running executable (empty when unknown).
    static std::string executableDir();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Handles every event that is pending, without waiting for more. Returns
// true when the program was asked to quit (requestQuit) before or while
// they were handled, with its code in exitCode; the rest of the queue is
// still handled.
bool drainEvents(int& exitCode);

// As drainEvents, but first waits until an event arrives or timeoutMs
// milliseconds have passed (a negative timeout waits for an event however
// long it takes).
bool waitForEvents(int& exitCode, int timeoutMs);

// How many events of input (keys, mouse, wheel, drops) and of views changing
// size, being shown or closed the program has received so far: a picture can
// have changed only when this count or the scene has moved on.
std::uint64_t inputEventCount();

// The refresh rate of the screen the window is on, in frames per second (60
// when it cannot be told).
double displayRefreshRate(WindowHandle window);

// Asks the program to end: the next drain reports it.
void requestQuit(int exitCode);

}  // namespace fyrel
