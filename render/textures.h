#pragma once

#include <memory>

#include "render/gl_functions.h"
#include "scene/material.h"

// Texture objects of materials. The image a material names (a file, or
// bytes the model file carries) is decoded and uploaded once, however many
// models use it, and deleted when the last model that draws with it lets it
// go. Compressed DDS blocks are uploaded as they are where the GL reads S3TC,
// and expanded otherwise. Every call needs a current context of the share
// group the views draw with.

namespace fyrel {

struct GlTexture {
    GlUint name = 0;

    GlTexture() = default;
    GlTexture(const GlTexture&) = delete;
    GlTexture& operator=(const GlTexture&) = delete;
    ~GlTexture();
};

// The material's texture, shared with every other material that names the
// same image; null when it has none, or when its image cannot be read or
// decoded: then one line on the debug output says why, and the material
// draws with its colours alone.
std::shared_ptr<GlTexture> acquireTexture(const GlFunctions& gl, const Material& material);

// A 1×1 white texture, bound for what has no image of its own so that one
// shader draws both; made on first use.
GlUint whiteTexture();

// Lets go of a texture without a GL call, for when no context is left to
// delete it in.
void forgetTexture(GlTexture& texture);

}  // namespace fyrel
