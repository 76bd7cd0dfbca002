#pragma once

#include "render/gl_functions.h"

// A picture drawn into memory rather than onto a window: a multisampled
// colour and depth target that the render pass draws into, resolved into a
// plain one that can be read back or copied onto a window's own surface.
// Both the pictures without a window and the views' Studio look draw
// through it, so that the one antialiased picture is made one way. Every
// call needs a current context; the names die with their context.

namespace fyrel {

// The framebuffer-object entry points (OpenGL 3.0 or ARB_framebuffer_object),
// fetched through the same loader as the main table. A slot the driver does
// not offer stays null.
struct FramebufferFunctions {
    void (*genFramebuffers)(GlSizei n, GlUint* names) = nullptr;
    void (*deleteFramebuffers)(GlSizei n, const GlUint* names) = nullptr;
    void (*bindFramebuffer)(GlEnum target, GlUint name) = nullptr;
    GlEnum (*checkFramebufferStatus)(GlEnum target) = nullptr;
    void (*genRenderbuffers)(GlSizei n, GlUint* names) = nullptr;
    void (*deleteRenderbuffers)(GlSizei n, const GlUint* names) = nullptr;
    void (*bindRenderbuffer)(GlEnum target, GlUint name) = nullptr;
    void (*renderbufferStorageMultisample)(GlEnum target, GlSizei samples, GlEnum format, GlSizei width,
                                           GlSizei height) = nullptr;
    void (*framebufferRenderbuffer)(GlEnum target, GlEnum attachment, GlEnum renderbufferTarget,
                                    GlUint renderbuffer) = nullptr;
    void (*blitFramebuffer)(GlInt x0, GlInt y0, GlInt x1, GlInt y1, GlInt dx0, GlInt dy0, GlInt dx1, GlInt dy1,
                            unsigned int mask, GlEnum filter) = nullptr;
};

// Fills every slot; true when all are there.
bool loadFramebufferFunctions(FramebufferFunctions& table, GlProcLoader loader, void* context);

// One framebuffer with a colour (RGBA8) and a depth (24-bit) renderbuffer of
// samples samples each (0: not multisampled).
struct RenderTarget {
    const FramebufferFunctions* functions = nullptr;  // the table that made it, while it lives
    GlUint framebuffer = 0;
    GlUint colour = 0;
    GlUint depth = 0;
    int width = 0;
    int height = 0;
    int samples = 0;
};

// Makes (or remakes, when the size or sample count differ) the target;
// false, leaving it empty, when the driver cannot: too large, or more
// samples than it offers.
bool ensureRenderTarget(const FramebufferFunctions& fb, RenderTarget& target, int width, int height, int samples);

// Deletes the target's names; it is empty afterwards.
void releaseRenderTarget(const FramebufferFunctions& fb, RenderTarget& target);

// Makes the target the one drawn into.
void bindRenderTarget(const FramebufferFunctions& fb, const RenderTarget& target);

// Resolves (averages the samples of) from into the framebuffer named
// destination (0: the window system's), same size, and leaves destination
// bound for drawing and reading.
void resolveRenderTarget(const FramebufferFunctions& fb, const RenderTarget& from, GlUint destination);

// The framebuffer bound for drawing now (a QOpenGLWidget draws into one of
// its own).
GlUint currentDrawFramebuffer();

}  // namespace fyrel
