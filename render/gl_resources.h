#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "render/gl_functions.h"

// The GL objects that every view shares: the two display lists and the
// shader program. All functions require a current context.

namespace fyrel {

// Shader sources larger than this are refused as unreadable.
inline constexpr std::size_t kMaxShaderSourceSize = std::size_t{1} << 20;

// The whole file; none when it cannot be opened or read, or is larger than
// maxSize.
std::optional<std::string> readTextFile(const std::string& path, std::size_t maxSize = kMaxShaderSourceSize);

// The path of name in the first of dirs that holds it as a regular file;
// empty when none does. An empty dir stands for the current directory.
std::string findDataFile(const std::string& name, const std::vector<std::string>& dirs);

// The source of a shader file looked up in dirs. A file that is missing or
// unreadable is reported on the debug output and gives an empty source, so
// that start-up goes on (the program then fails to link and the views draw
// with the fixed-function pipeline).
std::string loadShaderSource(const std::string& name, const std::vector<std::string>& dirs);

// Creates both shaders, hands them their sources, compiles them, creates the
// program, attaches and links; each GL step is followed by checkGlError, the
// compiles by both shader logs and the link by the program log. No status is
// read: a program that failed to link is kept and refused by glUseProgram,
// which leaves the fixed-function pipeline in charge. When the table lacks a
// shader entry point nothing is created and the names stay 0.
void createShaderProgram(const GlFunctions& gl, const std::string& vertexSource, const std::string& fragmentSource,
                         GlUint& vertexShader, GlUint& fragmentShader, GlUint& shaderProgram);

// Two fresh display-list names.
void genDisplayLists(GlUint& axesList, GlUint& groundList);

// The unit axes tripod: red X, green Y, blue Z; blue stays the current colour.
void compileAxesList(GlUint list);

// The 200 x 200 ground quad one hundredth below z = 0, facing +Z, with its
// own colour and material.
void compileGroundList(GlUint list);

// Deletes the lists that exist and sets their names to 0.
void deleteDisplayLists(GlUint& axesList, GlUint& groundList);

}  // namespace fyrel
