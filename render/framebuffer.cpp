#include "render/framebuffer.h"

#include <GL/gl.h>
#include <GL/glext.h>

namespace fyrel {

namespace {

template <typename Fn>
bool fetch(Fn& slot, const char* name, GlProcLoader loader, void* context)
{
    slot = reinterpret_cast<Fn>(loader(name, context));
    return slot != nullptr;
}

}  // namespace

bool loadFramebufferFunctions(FramebufferFunctions& t, GlProcLoader loader, void* context)
{
    bool all = fetch(t.genFramebuffers, "glGenFramebuffers", loader, context);
    all = fetch(t.deleteFramebuffers, "glDeleteFramebuffers", loader, context) && all;
    all = fetch(t.bindFramebuffer, "glBindFramebuffer", loader, context) && all;
    all = fetch(t.checkFramebufferStatus, "glCheckFramebufferStatus", loader, context) && all;
    all = fetch(t.genRenderbuffers, "glGenRenderbuffers", loader, context) && all;
    all = fetch(t.deleteRenderbuffers, "glDeleteRenderbuffers", loader, context) && all;
    all = fetch(t.bindRenderbuffer, "glBindRenderbuffer", loader, context) && all;
    all = fetch(t.renderbufferStorageMultisample, "glRenderbufferStorageMultisample", loader, context) && all;
    all = fetch(t.framebufferRenderbuffer, "glFramebufferRenderbuffer", loader, context) && all;
    all = fetch(t.blitFramebuffer, "glBlitFramebuffer", loader, context) && all;
    return all;
}

void releaseRenderTarget(const FramebufferFunctions& fb, RenderTarget& target)
{
    if (target.framebuffer != 0) {
        fb.deleteFramebuffers(1, &target.framebuffer);
    }
    const GlUint buffers[2] = {target.colour, target.depth};
    if (buffers[0] != 0 || buffers[1] != 0) {
        fb.deleteRenderbuffers(2, buffers);
    }
    target = RenderTarget{};
}

bool ensureRenderTarget(const FramebufferFunctions& fb, RenderTarget& target, int width, int height, int samples)
{
    if (target.framebuffer != 0 && target.width == width && target.height == height && target.samples == samples) {
        return true;
    }
    releaseRenderTarget(fb, target);
    GLint previous = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previous);
    fb.genFramebuffers(1, &target.framebuffer);
    GlUint buffers[2] = {0, 0};
    fb.genRenderbuffers(2, buffers);
    target.colour = buffers[0];
    target.depth = buffers[1];
    fb.bindRenderbuffer(GL_RENDERBUFFER, target.colour);
    fb.renderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, width, height);
    fb.bindRenderbuffer(GL_RENDERBUFFER, target.depth);
    fb.renderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH_COMPONENT24, width, height);
    fb.bindRenderbuffer(GL_RENDERBUFFER, 0);
    fb.bindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    fb.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, target.colour);
    fb.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, target.depth);
    const bool complete = fb.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    fb.bindFramebuffer(GL_FRAMEBUFFER, static_cast<GlUint>(previous));
    while (glGetError() != GL_NO_ERROR) {
    }
    if (!complete) {
        releaseRenderTarget(fb, target);
        return false;
    }
    target.functions = &fb;
    target.width = width;
    target.height = height;
    target.samples = samples;
    return true;
}

void bindRenderTarget(const FramebufferFunctions& fb, const RenderTarget& target)
{
    fb.bindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
}

void resolveRenderTarget(const FramebufferFunctions& fb, const RenderTarget& from, GlUint destination)
{
    fb.bindFramebuffer(GL_READ_FRAMEBUFFER, from.framebuffer);
    fb.bindFramebuffer(GL_DRAW_FRAMEBUFFER, destination);
    fb.blitFramebuffer(0, 0, from.width, from.height, 0, 0, from.width, from.height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    fb.bindFramebuffer(GL_FRAMEBUFFER, destination);
}

GlUint currentDrawFramebuffer()
{
    GLint name = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &name);
    return static_cast<GlUint>(name);
}

}  // namespace fyrel
