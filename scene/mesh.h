#pragma once

#include <cstdint>

#include "math/vector.h"

// The elements of a model's triangle mesh.

namespace fyrel {

struct Vertex {
    Vector3 position;
    Vector3 normal;
};

struct Triangle {
    std::uint32_t indices[3] = {0, 0, 0};
    Vector3 normal;  // unit face normal, set by computeNormals
};

}  // namespace fyrel
