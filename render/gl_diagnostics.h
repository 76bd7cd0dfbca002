#pragma once

#include <string>

#include "render/gl_functions.h"

// GL error texts and shader logs on the debug output (diagnostics/debug_output.h).

namespace fyrel {

// The text for a glGetError value, exactly as written to the debug output.
std::string glErrorText(GlEnum error);

// Reads glGetError once and writes its text, "No Error\n" included.
void checkGlError();

// "Shader Info Log:\n" or "Program Info Log:\n", the object's log (at most
// 255 characters) and a newline, as one message. Writes nothing when the
// table lacks the entry.
void printShaderLog(const GlFunctions& gl, GlUint shader);
void printProgramLog(const GlFunctions& gl, GlUint program);

}  // namespace fyrel
