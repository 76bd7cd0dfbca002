#pragma once

namespace fyrel {

// The colours of a model's one material, red green blue alpha each.
struct Material {
    float ambient[4] = {0.1f, 0.1f, 0.1f, 1.0f};
    float diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    float specular[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    float emissive[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float shininess = 1.0f;
};

}  // namespace fyrel
