#include "render/textures.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "diagnostics/debug_output.h"
#include "images/texture_image.h"

namespace fyrel {

namespace {

// Live textures by how they wrap and what they were made from: the file's
// path, or the address of the bytes a model file carries (alive as long as
// a model holding them is, and so as long as its texture is).
std::map<std::string, std::weak_ptr<GlTexture>>& liveTextures()
{
    static std::map<std::string, std::weak_ptr<GlTexture>> textures;
    return textures;
}

std::string keyOf(const Material& material)
{
    char wraps[48];
    std::snprintf(wraps, sizeof wraps, "wrap %d %d:", static_cast<int>(material.wrapS), static_cast<int>(material.wrapT));
    if (material.embeddedTexture) {
        char address[32];
        std::snprintf(address, sizeof address, "embedded:%p", static_cast<const void*>(material.embeddedTexture.get()));
        return wraps + std::string(address);
    }
    return wraps + material.texturePath;
}

GLint glWrap(TextureWrap wrap)
{
    return wrap == TextureWrap::ClampToEdge      ? GL_CLAMP_TO_EDGE
           : wrap == TextureWrap::MirroredRepeat ? GL_MIRRORED_REPEAT
                                                 : GL_REPEAT;
}

bool offersS3tc()
{
    const auto* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    return extensions && std::strstr(extensions, "GL_EXT_texture_compression_s3tc");
}

GLenum compressedFormat(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Dxt1:
        return GL_COMPRESSED_RGBA_S3TC_DXT1_EXT;
    case ImageFormat::Dxt3:
        return GL_COMPRESSED_RGBA_S3TC_DXT3_EXT;
    default:
        return GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;
    }
}

void upload(const GlFunctions& gl, const Image& image, const Material& material)
{
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, glWrap(material.wrapS));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, glWrap(material.wrapT));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (image.format != ImageFormat::Rgba8 && gl.compressedTexImage2D && offersS3tc()) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl.compressedTexImage2D(GL_TEXTURE_2D, 0, compressedFormat(image.format), image.width, image.height, 0,
                                static_cast<GlSizei>(image.data.size()), image.data.data());
        return;
    }
    const Image rgba = toRgba(image);
    // Mipmaps made by the GL keep minified textures from shimmering.
    glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, rgba.width, rgba.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data.data());
}

}  // namespace

GlTexture::~GlTexture()
{
    if (name != 0) {
        glDeleteTextures(1, &name);
    }
}

std::shared_ptr<GlTexture> acquireTexture(const GlFunctions& gl, const Material& material)
{
    if (!material.hasTexture()) {
        if (!material.texture.empty()) {
            debugOutput("Texture \"" + material.texture + "\" of material \"" + material.name +
                        "\" not found beside the model\n");
        }
        return nullptr;
    }
    std::map<std::string, std::weak_ptr<GlTexture>>& live = liveTextures();
    std::erase_if(live, [](const auto& entry) { return entry.second.expired(); });
    const std::string key = keyOf(material);
    std::weak_ptr<GlTexture>& slot = live[key];
    if (std::shared_ptr<GlTexture> shared = slot.lock()) {
        return shared;
    }
    Image image;
    std::string reason;
    const bool decoded = material.embeddedTexture
                             ? decodeImage(material.embeddedTexture->data(), material.embeddedTexture->size(), image,
                                           reason)
                             : decodeImageFile(material.texturePath, image, reason);
    if (!decoded) {
        debugOutput("Texture \"" + material.texture + "\" of material \"" + material.name + "\" not used: " +
                    reason + "\n");
        live.erase(key);
        return nullptr;
    }
    auto texture = std::make_shared<GlTexture>();
    glGenTextures(1, &texture->name);
    glBindTexture(GL_TEXTURE_2D, texture->name);
    upload(gl, image, material);
    glBindTexture(GL_TEXTURE_2D, 0);
    slot = texture;
    return texture;
}

GlUint whiteTexture()
{
    static GLuint name = 0;
    if (name == 0 || !glIsTexture(name)) {
        const std::uint8_t white[4] = {255, 255, 255, 255};
        glGenTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    return name;
}

void forgetTexture(GlTexture& texture)
{
    texture.name = 0;
}

}  // namespace fyrel
