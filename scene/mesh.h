#pragma once

#include <cstdint>

#include "math/vector.h"

// The elements of a model's triangle mesh.

namespace fyrel {

struct Vertex {
    Vector3 position;
    Vector3 normal;
};

// A point of a texture image: s to the right, t downwards from the image's
// top-left corner (the image's first row is t = 0), one unit the whole side.
struct TexCoord {
    float s = 0.0f;
    float t = 0.0f;
};

struct Triangle {
    std::uint32_t indices[3] = {0, 0, 0};
    Vector3 normal;             // unit face normal, set by computeNormals
    std::uint32_t material = 0;  // index into the model's materials
};

}  // namespace fyrel
