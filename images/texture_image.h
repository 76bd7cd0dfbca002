#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Texture images: finding the file a model names, decoding it into pixels a
// renderer can upload, and encoding pixels as PNG for files that carry them. Everything here is bounded: a file's size
// and an image's dimensions are checked before anything is allocated for
// them, so a hostile file costs no more than its own size and a refusal.
//
// stb_image decodes PNG, JPEG, BMP, TGA, GIF, PSD, HDR, PIC and PNM; DDS
// files (DXT1, DXT3, DXT5 or uncompressed RGB(A), top level only) are read
// here and keep their compressed blocks, which toRgba expands.

namespace fyrel {

inline constexpr std::size_t kMaxImageFileSize = std::size_t{256} * 1024 * 1024;
inline constexpr int kMaxImageSide = 16384;
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 26;  // 256 MiB as RGBA
// No compressed image format holds more than this many bytes of pixels per
// byte of file (deflate, PNG's compression, tops out near 1032): an image
// whose header claims more is refused before its pixels are allocated.
// While it decodes, stb_image holds the inflated rows (up to 16 bits a
// channel) beside the pixels it returns, so decoding a damaged file costs at
// most kMaxImageDecodeCost times its size.
inline constexpr std::uint64_t kMaxImageExpansion = 4096;
inline constexpr std::uint64_t kMaxImageDecodeCost = 4 * kMaxImageExpansion;

enum class ImageFormat { Rgba8, Dxt1, Dxt3, Dxt5 };

// Rows top first. Rgba8: 4 bytes a pixel. Dxt*: 4×4 blocks, row by row, of
// 8 (Dxt1) or 16 bytes.
struct Image {
    int width = 0;
    int height = 0;
    ImageFormat format = ImageFormat::Rgba8;
    std::vector<std::uint8_t> data;
};

// Decodes an image held in memory. On failure returns false and says why in
// reason ("a DDS file whose pixel data is cut off", ...); out is then empty.
bool decodeImage(const std::uint8_t* bytes, std::size_t size, Image& out, std::string& reason);

// The same for a file, which must be a regular file of at most
// kMaxImageFileSize bytes.
bool decodeImageFile(const std::string& path, Image& out, std::string& reason);

// The image with its blocks expanded to RGBA (an Rgba8 image is copied).
Image toRgba(const Image& image);

// The bytes of an image file, which must be a regular file of at most
// kMaxImageFileSize bytes; on failure false, with the reason.
bool readImageFile(const std::string& path, std::vector<std::uint8_t>& out, std::string& reason);

// "image/png" or "image/jpeg" when the bytes begin as those formats' files
// do (the two that glTF carries as they are); null for anything else.
const char* pngOrJpegType(const std::uint8_t* bytes, std::size_t size);

// An RGBA8 image as the bytes of a PNG file; empty when the image is not
// RGBA8 or holds fewer bytes than its size says.
std::vector<std::uint8_t> encodePng(const Image& rgba);

// The file a model's texture name refers to, looked up in the model's
// folder: backslashes count as separators (names written on Windows); the
// name as stored is tried first, then each part of it matched without regard
// to case, then its last part alone beside the model (exporters that stored
// the path on the author's disk). Empty when none of these is a regular file.
std::string findTextureFile(const std::string& storedName, const std::string& modelFolder);

}  // namespace fyrel
