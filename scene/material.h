#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fyrel {

// What a texture coordinate outside [0, 1] reads: the image again, its
// edge, or the image mirrored every other time.
enum class TextureWrap : std::uint8_t { Repeat, ClampToEdge, MirroredRepeat };

// How a set of triangles looks: colours (red green blue alpha each; the
// diffuse alpha is the opacity), the highlight's exponent, and an optional
// diffuse image that the lit colour is multiplied with.
struct Material {
    std::string name;
    float ambient[4] = {0.1f, 0.1f, 0.1f, 1.0f};
    float diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    float specular[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    float emissive[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float shininess = 1.0f;
    std::string texture;      // the image's name as the file stores it; empty for none
    std::string texturePath;  // where it was found beside the model; empty when it was not
    // An image the model file carries inside it (encoded, e.g. PNG), used
    // instead of a file. Shared by the copies of a model.
    std::shared_ptr<const std::vector<std::uint8_t>> embeddedTexture;
    TextureWrap wrapS = TextureWrap::Repeat;  // across, and down the image
    TextureWrap wrapT = TextureWrap::Repeat;
    // A cut-out: drawn only where the image's alpha (times the diffuse
    // alpha) reaches this, opaque there; 0 draws everywhere.
    float alphaCutoff = 0.0f;

    bool transparent() const { return diffuse[3] < 1.0f; }
    bool hasTexture() const { return !texturePath.empty() || embeddedTexture; }
};

}  // namespace fyrel
