#include "render/gl_diagnostics.h"

#include <GL/gl.h>

#include "diagnostics/debug_output.h"

namespace fyrel {

namespace {

constexpr GlEnum kGlInvalidFramebufferOperation = 0x0506;
constexpr GlSizei kLogSize = 256;

}  // namespace

std::string glErrorText(GlEnum error)
{
    switch (error) {
    case GL_NO_ERROR: return "No Error\n";
    case GL_INVALID_ENUM: return "OpenGL: Invalid Enum\n";
    case GL_INVALID_VALUE: return "OpenGL: Invalid Value\n";
    case GL_INVALID_OPERATION: return "OpenGL: Invalid Operation\n";
    case GL_STACK_OVERFLOW: return "OpenGL: Stack Overflow\n";
    case GL_STACK_UNDERFLOW: return "OpenGL: Stack Underflow\n";
    case GL_OUT_OF_MEMORY: return "OpenGL: Out of Memory";
    case kGlInvalidFramebufferOperation: return "OpenGL: Invalid Framebuffer Operation\n";
    default: return "Unkown Error";
    }
}

void checkGlError()
{
    debugOutput(glErrorText(glGetError()));
}

void printShaderLog(const GlFunctions& gl, GlUint shader)
{
    if (!gl.getShaderInfoLog) {
        return;
    }
    char log[kLogSize] = {};
    gl.getShaderInfoLog(shader, kLogSize, nullptr, log);
    log[kLogSize - 1] = '\0';
    debugOutput(std::string("Shader Info Log:\n") + log + "\n");
}

void printProgramLog(const GlFunctions& gl, GlUint program)
{
    if (!gl.getProgramInfoLog) {
        return;
    }
    char log[kLogSize] = {};
    gl.getProgramInfoLog(program, kLogSize, nullptr, log);
    log[kLogSize - 1] = '\0';
    debugOutput(std::string("Program Info Log:\n") + log + "\n");
}

}  // namespace fyrel
