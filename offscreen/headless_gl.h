#pragma once

#include <memory>
#include <string>

// An OpenGL context without any window system, for the command-line
// pictures (fyrel-render, fyrel-thumbnail): they run on servers, in file
// managers' thumbnail sandboxes and in CI, where there is no X server or
// Wayland compositor, and must not need one.
//
// Why EGL on Mesa's surfaceless platform: it needs nothing but the driver.
// It opens a GPU's render node when there is one the user may use and
// falls back to Mesa's software rasteriser (llvmpipe) otherwise, and it
// starts in a few milliseconds. Qt's offscreen platform plugin was the other
// choice; it costs Qt's start-up on every picture (a thumbnailer runs once
// per file) and its OpenGL goes through GLX, which wants an X server after
// all. EGL's device platform (EXT_platform_device) is tried when the
// surfaceless one is not offered. No surface is made at all: the pictures
// are drawn into framebuffer objects (render/framebuffer.h).

namespace fyrel {

class HeadlessGl {
public:
    // A compatibility-profile context, current on the calling thread; null,
    // with the reason, when EGL offers none.
    static std::unique_ptr<HeadlessGl> create(std::string& reason);
    ~HeadlessGl();
    HeadlessGl(const HeadlessGl&) = delete;
    HeadlessGl& operator=(const HeadlessGl&) = delete;

    // Shaped as loadGlFunctions' loader (render/gl_functions.h); the context
    // argument is unused.
    static void* procAddress(const char* name, void* context);

private:
    HeadlessGl() = default;
    void* display_ = nullptr;
    void* context_ = nullptr;
};

}  // namespace fyrel
