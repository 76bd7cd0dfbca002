#pragma once

#include <memory>

// The program's own OpenGL context. It lives on an offscreen surface in the
// share group of every OpenGL child window, so the display lists, buffers and
// programs it makes serve every view. Compatibility profile.

namespace fyrel {

class GlContext {
public:
    // Null when no context could be made.
    static std::unique_ptr<GlContext> create();
    ~GlContext();

    bool makeCurrent();
    void doneCurrent();

private:
    struct Impl;
    explicit GlContext(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// An entry point of the current context by name, null when there is no
// current context or no such function. Shaped as the loader of
// loadGlFunctions (render/gl_functions.h); the context argument is unused.
void* glProcAddress(const char* name, void* context);

}  // namespace fyrel
