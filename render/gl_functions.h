#pragma once

#include <cstddef>

// The table of OpenGL entry points that are fetched by name at run time. The
// core declares it with plain C types so that it needs no GL header: the
// renderer fills it, and models keep a pointer to it once their buffers exist.

namespace fyrel {

using GlEnum = unsigned int;
using GlUint = unsigned int;
using GlInt = int;
using GlSizei = int;
using GlSizeiptr = std::ptrdiff_t;
using GlIntptr = std::ptrdiff_t;

inline constexpr GlEnum kGlArrayBuffer = 0x8892;
inline constexpr GlEnum kGlElementArrayBuffer = 0x8893;
inline constexpr GlEnum kGlStreamDraw = 0x88E0;
inline constexpr GlEnum kGlStaticDraw = 0x88E4;

// Fifteen slots, in the order of kGlFunctionNames. Slot 1 is fetched as
// "glBindBufferARB" and used as glBindBuffer. A slot the driver does not offer
// stays null.
struct GlFunctions {
    void (*genBuffers)(GlSizei n, GlUint* buffers) = nullptr;
    void (*bindBuffer)(GlEnum target, GlUint buffer) = nullptr;
    void (*bufferData)(GlEnum target, GlSizeiptr size, const void* data, GlEnum usage) = nullptr;
    void (*bufferSubData)(GlEnum target, GlIntptr offset, GlSizeiptr size, const void* data) = nullptr;
    void (*deleteBuffers)(GlSizei n, const GlUint* buffers) = nullptr;
    GlUint (*createShader)(GlEnum type) = nullptr;
    void (*shaderSource)(GlUint shader, GlSizei count, const char* const* strings, const GlInt* lengths) = nullptr;
    void (*compileShader)(GlUint shader) = nullptr;
    GlUint (*createProgram)() = nullptr;
    void (*attachShader)(GlUint program, GlUint shader) = nullptr;
    void (*linkProgram)(GlUint program) = nullptr;
    void (*useProgram)(GlUint program) = nullptr;
    void (*getShaderInfoLog)(GlUint shader, GlSizei bufSize, GlSizei* length, char* log) = nullptr;
    void (*getProgramInfoLog)(GlUint program, GlSizei bufSize, GlSizei* length, char* log) = nullptr;
    void (*compressedTexImage2D)(GlEnum target, GlInt level, GlEnum internalFormat, GlSizei width, GlSizei height,
                                 GlInt border, GlSizei imageSize, const void* data) = nullptr;
};

inline constexpr int kGlFunctionCount = 15;
extern const char* const kGlFunctionNames[kGlFunctionCount];

// Looks an entry point up by name; returns null when the driver has none.
using GlProcLoader = void* (*)(const char* name, void* context);

// Fills every slot in slot order through the loader.
void loadGlFunctions(GlFunctions& table, GlProcLoader loader, void* context);

// The four entries that the model buffer operations need.
bool hasBufferFunctions(const GlFunctions& table);

}  // namespace fyrel
