#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "render/gl_functions.h"
#include "render/textures.h"
#include "scene/scene_list.h"

// A model's GPU side: three buffers (skinned positions, skinned normals,
// triangle indices), a fourth for texture coordinates when the model has
// them, the staging arrays they are filled from, and the triangles' material
// ranges with their textures, kept in the model's buffers slot. The one place
// that creates, fills and deletes them. Every call needs the context the
// table's entry points belong to current.

namespace fyrel {

struct Model;

// Triangles drawn with one material: indices [first, first + count) of the
// index buffer, in corners.
struct MaterialRange {
    GlSizei first = 0;
    GlSizei count = 0;
    std::uint32_t material = 0;  // as Triangle::material
    bool transparent = false;
    std::shared_ptr<GlTexture> texture;  // null: the material's colours alone
};

struct ModelBuffers {
    const GlFunctions* functions = nullptr;  // set iff names are live
    GlUint names[3] = {0, 0, 0};             // positions, normals, indices
    GlUint texCoordBuffer = 0;               // 0 when the model has no texture coordinates
    std::vector<float> positions;            // staging: 3 floats a vertex
    std::vector<float> normals;              // staging: 3 floats a vertex
    // Opaque ranges first, then transparent ones: the index buffer is sorted
    // by material once, when it is made.
    std::vector<MaterialRange> ranges;
    bool texturesAttached = false;

    ModelBuffers() = default;
    ModelBuffers(const ModelBuffers&) = delete;
    ModelBuffers& operator=(const ModelBuffers&) = delete;
    // Deletes the three buffers through the table that made them.
    ~ModelBuffers();
};

// Creates the three buffers through the table and uploads the bind pose and
// the indices (any earlier buffers of the model are deleted first). Returns
// without change when the table lacks a buffer entry.
void createBuffers(Model& model, const GlFunctions* table);

// Copies skinnedVertices into the staging arrays and re-uploads positions
// and normals. Does nothing for a model without a skeleton or buffers.
void uploadSkinned(Model& model);

// The textures of the model's material ranges (render/textures.h); needs a
// real context, unlike createBuffers, which runs with any table.
void attachTextures(Model& model);

// createBuffers and attachTextures for every model that has no buffers yet.
void createMissingBuffers(SceneList<Model>& models, const GlFunctions* table);

// The model's buffers, or null before createBuffers has made them.
const ModelBuffers* modelBuffers(const Model& model);

// The table the model's buffers were made with, or null when it has none.
const GlFunctions* bufferFunctions(const Model& model);

// Lets go of the model's buffers without a GL call, for when no context is
// left to delete them in: they end with their context.
void forgetBuffers(Model& model);

}  // namespace fyrel
