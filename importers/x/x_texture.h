#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "images/texture_image.h"  // findTextureFile

// Checking that a texture file an .X material names is an image. Nothing is
// kept but its size: the model does not carry textures.
//
// A file is an image when stb_image decodes it (PNG, JPEG, TGA, BMP, GIF,
// PSD, HDR, PIC, PNM) or when it has a sound header of a format Direct3D
// reads and stb_image does not: DDS (DXT1 to DXT5 or uncompressed, the top
// level's data present), DIB/BMP variants stb_image leaves out (run-length
// encoded ones) and PFM (the pixel data present).

namespace fyrel {

// Texture files larger than this are not read; they count as not loadable.
inline constexpr std::size_t kMaxTextureFileSize = std::size_t{256} * 1024 * 1024;

// Images with more pixels than this are checked by their header only, not
// decoded, so a small file cannot make the check allocate gigabytes.
inline constexpr std::uint64_t kMaxDecodedTexturePixels = std::uint64_t{1} << 24;

struct TextureInfo {
    int width = 0;
    int height = 0;
};

// True when the bytes are an image (see above); info gets its size. On false,
// reason says why not.
bool checkImageData(const std::uint8_t* data, std::size_t size, TextureInfo& info, std::string& reason);

// The same for a file: it must be a regular file no larger than
// kMaxTextureFileSize. Only its first 4 KiB are read up front; of a larger
// file stb_image reads what it needs (an image is decoded from the file), and
// DDS, DIB and PFM files are judged by their header and the file's size, so
// naming a large file that is no image costs next to nothing.
bool checkImageFile(const std::string& path, TextureInfo& info, std::string& reason);

}  // namespace fyrel
