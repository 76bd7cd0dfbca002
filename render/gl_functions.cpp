#include "render/gl_functions.h"

namespace fyrel {

const char* const kGlFunctionNames[kGlFunctionCount] = {
    "glGenBuffers",    "glBindBufferARB", "glBufferData",     "glBufferSubData",    "glDeleteBuffers",
    "glCreateShader",  "glShaderSource",  "glCompileShader",  "glCreateProgram",    "glAttachShader",
    "glLinkProgram",   "glUseProgram",    "glGetShaderInfoLog", "glGetProgramInfoLog", "glCompressedTexImage2D",
};

namespace {

template <typename Fn>
void fetch(Fn& slot, int index, GlProcLoader loader, void* context)
{
    slot = reinterpret_cast<Fn>(loader(kGlFunctionNames[index], context));
}

}  // namespace

void loadGlFunctions(GlFunctions& t, GlProcLoader loader, void* context)
{
    fetch(t.genBuffers, 0, loader, context);
    fetch(t.bindBuffer, 1, loader, context);
    fetch(t.bufferData, 2, loader, context);
    fetch(t.bufferSubData, 3, loader, context);
    fetch(t.deleteBuffers, 4, loader, context);
    fetch(t.createShader, 5, loader, context);
    fetch(t.shaderSource, 6, loader, context);
    fetch(t.compileShader, 7, loader, context);
    fetch(t.createProgram, 8, loader, context);
    fetch(t.attachShader, 9, loader, context);
    fetch(t.linkProgram, 10, loader, context);
    fetch(t.useProgram, 11, loader, context);
    fetch(t.getShaderInfoLog, 12, loader, context);
    fetch(t.getProgramInfoLog, 13, loader, context);
    fetch(t.compressedTexImage2D, 14, loader, context);
}

bool hasBufferFunctions(const GlFunctions& t)
{
    return t.genBuffers && t.bindBuffer && t.bufferData && t.deleteBuffers;
}

}  // namespace fyrel
