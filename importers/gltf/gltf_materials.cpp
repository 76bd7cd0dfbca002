#include "importers/gltf/gltf_materials.h"

#include <memory>

#include "images/texture_image.h"

namespace fyrel {
namespace {

using ImageBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

TextureWrap wrapOf(int glTF)
{
    return glTF == TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE     ? TextureWrap::ClampToEdge
           : glTF == TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT ? TextureWrap::MirroredRepeat
                                                           : TextureWrap::Repeat;
}

// The coordinates a texture reads: the TEXCOORD_n set, and where
// KHR_texture_transform moves them: scaled, then turned by the angle
// (counter-clockwise with t pointing down), then offset. Values that are
// missing or not numbers keep their defaults; the extension's texCoord,
// when given, names the set instead.
GltfTexCoords texCoordsOf(const tinygltf::TextureInfo& info)
{
    GltfTexCoords out;
    out.set = info.texCoord >= 0 && info.texCoord < 8 ? info.texCoord : 0;
    const auto found = info.extensions.find("KHR_texture_transform");
    if (found == info.extensions.end() || !found->second.IsObject()) {
        return out;
    }
    const tinygltf::Value& e = found->second;
    const auto number = [](const tinygltf::Value& v, double otherwise) {
        return v.IsNumber() && std::isfinite(v.GetNumberAsDouble()) ? v.GetNumberAsDouble() : otherwise;
    };
    const auto pair = [&](const char* key, double otherwise, double (&to)[2]) {
        const tinygltf::Value& v = e.Get(key);
        for (int k = 0; k < 2; ++k) {
            to[k] = v.IsArray() && v.ArrayLen() == 2 ? number(v.Get(k), otherwise) : otherwise;
        }
    };
    double offset[2], scale[2];
    pair("offset", 0.0, offset);
    pair("scale", 1.0, scale);
    const double angle = number(e.Get("rotation"), 0.0), c = std::cos(angle), s = std::sin(angle);
    out.m[0][0] = static_cast<float>(c * scale[0]), out.m[0][1] = static_cast<float>(s * scale[1]);
    out.m[1][0] = static_cast<float>(-s * scale[0]), out.m[1][1] = static_cast<float>(c * scale[1]);
    out.m[0][2] = static_cast<float>(offset[0]), out.m[1][2] = static_cast<float>(offset[1]);
    out.moves = true;
    const tinygltf::Value& set = e.Get("texCoord");
    if (set.IsInt() && set.GetNumberAsInt() >= 0 && set.GetNumberAsInt() < 8) {
        out.set = set.GetNumberAsInt();
    }
    return out;
}

// The encoded bytes of an image: those the loader kept, or its buffer
// view's, when the view lies inside its buffer; null when there are none.
ImageBytes imageBytes(GltfConversion& c, const tinygltf::Image& picture)
{
    const tinygltf::Model& doc = c.doc;
    const std::uint8_t* first = picture.image.data();
    std::size_t size = picture.image.size();
    if (picture.bufferView >= 0) {
        size = 0;
        if (static_cast<std::size_t>(picture.bufferView) < doc.bufferViews.size()) {
            const tinygltf::BufferView& view = doc.bufferViews[static_cast<std::size_t>(picture.bufferView)];
            if (view.buffer >= 0 && static_cast<std::size_t>(view.buffer) < doc.buffers.size()) {
                const std::vector<unsigned char>& data = doc.buffers[static_cast<std::size_t>(view.buffer)].data;
                if (view.byteOffset <= data.size() && view.byteLength <= data.size() - view.byteOffset) {
                    first = data.data() + view.byteOffset;
                    size = view.byteLength;
                }
            }
        }
    }
    if (size == 0) {
        return nullptr;
    }
    spendGltf(c, size);
    return std::make_shared<const std::vector<std::uint8_t>>(first, first + size);
}

// Base colour factor of the metallic-roughness model, alpha mode and
// emissive factor.
void readColours(const tinygltf::Material& source, Material& material)
{
    const std::vector<double>& factor = source.pbrMetallicRoughness.baseColorFactor;
    if (factor.size() == 4 && allFinite(factor)) {
        for (int k = 0; k < 4; ++k) {
            material.diffuse[k] = std::clamp(static_cast<float>(factor[static_cast<std::size_t>(k)]), 0.0f, 1.0f);
            material.ambient[k] = k < 3 ? 0.2f * material.diffuse[k] : 1.0f;
        }
    }
    if (source.alphaMode != "BLEND") {
        material.diffuse[3] = 1.0f;
    }
    if (source.alphaMode == "MASK") {
        material.alphaCutoff = source.alphaCutoff > 0 && source.alphaCutoff <= 1
                                   ? static_cast<float>(source.alphaCutoff)
                                   : source.alphaCutoff > 1 ? 1.0f : 0.5f;
    }
    if (source.emissiveFactor.size() == 3 && allFinite(source.emissiveFactor)) {
        for (int k = 0; k < 3; ++k) {
            material.emissive[k] =
                std::clamp(static_cast<float>(source.emissiveFactor[static_cast<std::size_t>(k)]), 0.0f, 1.0f);
        }
    }
}

// The image of a base colour texture: its name, and the file beside the
// model or else the bytes the document carries (read once per image).
void readImage(GltfConversion& c, int image, Material& material, std::vector<ImageBytes>& images)
{
    const tinygltf::Image& picture = c.doc.images[static_cast<std::size_t>(image)];
    material.texture = !picture.uri.empty() && picture.uri.rfind("data:", 0) != 0 ? picture.uri
                       : !picture.name.empty() ? picture.name
                                               : "image " + std::to_string(image);
    const bool external = !picture.uri.empty() && picture.uri.rfind("data:", 0) != 0;
    if (external && !c.folder.empty()) {
        material.texturePath = findTextureFile(picture.uri, c.folder);
    }
    ImageBytes& bytes = images[static_cast<std::size_t>(image)];
    if (material.texturePath.empty() && !bytes) {
        bytes = imageBytes(c, picture);
    }
    if (material.texturePath.empty()) {
        material.embeddedTexture = bytes;
    }
}

void readTexture(GltfConversion& c, const tinygltf::TextureInfo& base, Material& material,
                 std::vector<ImageBytes>& images)
{
    const tinygltf::Model& doc = c.doc;
    if (base.index < 0 || static_cast<std::size_t>(base.index) >= doc.textures.size()) {
        return;
    }
    const tinygltf::Texture& texture = doc.textures[static_cast<std::size_t>(base.index)];
    if (texture.sampler >= 0 && static_cast<std::size_t>(texture.sampler) < doc.samplers.size()) {
        const tinygltf::Sampler& sampler = doc.samplers[static_cast<std::size_t>(texture.sampler)];
        material.wrapS = wrapOf(sampler.wrapS);
        material.wrapT = wrapOf(sampler.wrapT);
    }
    const int image = texture.source;
    if (image >= 0 && static_cast<std::size_t>(image) < doc.images.size()) {
        readImage(c, image, material, images);
    }
}

}  // namespace

void addGltfMaterials(GltfConversion& c)
{
    std::vector<ImageBytes> images(c.doc.images.size());
    for (std::size_t m = 0; m < c.doc.materials.size(); ++m) {
        const tinygltf::Material& source = c.doc.materials[m];
        Material material;
        material.name = source.name.empty() ? "material " + std::to_string(m) : source.name;
        readColours(source, material);
        const tinygltf::TextureInfo& base = source.pbrMetallicRoughness.baseColorTexture;
        c.texCoordsOf.push_back(texCoordsOf(base));
        readTexture(c, base, material, images);
        c.model.materials.push_back(std::move(material));
    }
}

}  // namespace fyrel
