#include "offscreen/headless_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

namespace fyrel {

namespace {

EGLDisplay platformDisplay(EGLenum platform, void* native)
{
    static const auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        return EGL_NO_DISPLAY;
    }
    EGLDisplay display = getPlatformDisplay(platform, native, nullptr);
    EGLint major = 0;
    EGLint minor = 0;
    if (display != EGL_NO_DISPLAY && !eglInitialize(display, &major, &minor)) {
        return EGL_NO_DISPLAY;
    }
    return display;
}

// The first device EGL lists (Mesa lists the software one last).
EGLDisplay deviceDisplay()
{
    const auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    if (!queryDevices) {
        return EGL_NO_DISPLAY;
    }
    EGLDeviceEXT devices[8];
    EGLint count = 0;
    if (!queryDevices(8, devices, &count) || count < 1) {
        return EGL_NO_DISPLAY;
    }
    return platformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[0]);
}

}  // namespace

std::unique_ptr<HeadlessGl> HeadlessGl::create(std::string& reason)
{
    EGLDisplay display = platformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY);
    if (display == EGL_NO_DISPLAY) {
        display = deviceDisplay();
    }
    if (display == EGL_NO_DISPLAY) {
        reason = "EGL offers neither a surfaceless nor a device display";
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        eglTerminate(display);
        reason = "EGL offers no desktop OpenGL";
        return nullptr;
    }
    // No config and no surface: the pictures go to framebuffer objects.
    // Asking for no version gives the highest compatibility profile.
    EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        if (context != EGL_NO_CONTEXT) {
            eglDestroyContext(display, context);
        }
        eglTerminate(display);
        reason = "EGL could not make an OpenGL context without a surface";
        return nullptr;
    }
    std::unique_ptr<HeadlessGl> gl(new HeadlessGl);
    gl->display_ = display;
    gl->context_ = context;
    return gl;
}

HeadlessGl::~HeadlessGl()
{
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display_, context_);
    eglTerminate(display_);
}

void* HeadlessGl::procAddress(const char* name, void*)
{
    return reinterpret_cast<void*>(eglGetProcAddress(name));
}

}  // namespace fyrel
