#include "importers/x/x_texture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

// stb_image's functions stay private to this file (STB_IMAGE_STATIC), so its
// implementation cannot clash with another part of the program that uses it.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO  // files are read through callbacks (checkImageFile)
#define STBI_FAILURE_USERMSG
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wtype-limits"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

#include "importers/byte_reader.h"

namespace fyrel {

namespace {

constexpr std::uint32_t kMaxSide = 1u << 16;

// Bytes of a texture file read before anything else: enough for every header
// the checks below look at. Larger files are then read only as far as
// stb_image needs, so naming a large file that is no image costs nothing.
constexpr std::size_t kHeadBytes = 4096;

// What the header checks see of a file: its first bytes and its size.
struct Head {
    const std::uint8_t* data;
    std::size_t available;  // bytes at data
    std::uint64_t size;     // of the whole file
};

bool fail(std::string& reason, const char* why)
{
    reason = why;
    return false;
}

bool checkDds(const Head& head, TextureInfo& info, std::string& reason)
{
    constexpr std::size_t kHeader = 128;
    constexpr std::uint32_t kFourCc = 0x4;
    const std::uint8_t* data = head.data;
    if (head.available < kHeader) {
        return fail(reason, "a DDS header cut off");
    }
    if (loadU32(data + 4) != 124 || loadU32(data + 76) != 32) {
        return fail(reason, "a DDS header of the wrong size");
    }
    std::uint32_t height = loadU32(data + 12);
    std::uint32_t width = loadU32(data + 16);
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
        return fail(reason, "a DDS image of impossible size");
    }
    std::uint32_t flags = loadU32(data + 80);
    std::uint64_t need = 0;
    if (flags & kFourCc) {
        const std::uint8_t* code = data + 84;
        std::uint64_t blocks = std::uint64_t{(width + 3) / 4} * ((height + 3) / 4);
        if (std::memcmp(code, "DXT1", 4) == 0) {
            need = blocks * 8;
        } else if (std::memcmp(code, "DXT2", 4) == 0 || std::memcmp(code, "DXT3", 4) == 0 ||
                   std::memcmp(code, "DXT4", 4) == 0 || std::memcmp(code, "DXT5", 4) == 0) {
            need = blocks * 16;
        } else if (std::memcmp(code, "DX10", 4) == 0) {
            return fail(reason, "a DDS file with the DX10 header, which Direct3D 9 does not read");
        } else {
            need = 1;  // another Direct3D format code: at least some data must follow
        }
    } else {
        std::uint32_t bits = loadU32(data + 88);
        if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
            return fail(reason, "a DDS pixel format of unknown size");
        }
        need = std::uint64_t{width} * height * (bits / 8);
    }
    if (need > head.size - kHeader) {
        return fail(reason, "a DDS file whose pixel data is cut off");
    }
    info.width = static_cast<int>(width);
    info.height = static_cast<int>(height);
    return true;
}

bool checkBmp(const Head& head, TextureInfo& info, std::string& reason)
{
    const std::uint8_t* data = head.data;
    const std::uint64_t size = head.size;
    if (head.available < 26) {
        return fail(reason, "a BMP header cut off");
    }
    std::uint32_t dataOffset = loadU32(data + 10);
    std::uint32_t headerSize = loadU32(data + 14);
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t planes = 0;
    std::uint32_t bits = 0;
    std::uint32_t compression = 0;
    if (headerSize == 12) {
        width = loadU16(data + 18);
        height = loadU16(data + 20);
        planes = loadU16(data + 22);
        bits = loadU16(data + 24);
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 ||
               headerSize == 108 || headerSize == 124) {
        if (head.available < 14 + std::size_t{headerSize}) {
            return fail(reason, "a BMP header cut off");
        }
        width = static_cast<std::int32_t>(loadU32(data + 18));
        height = static_cast<std::int32_t>(loadU32(data + 22));
        planes = loadU16(data + 26);
        bits = loadU16(data + 28);
        compression = loadU32(data + 30);
    } else {
        return fail(reason, "a BMP header of unknown size");
    }
    std::int64_t rows = height < 0 ? -height : height;
    if (planes != 1 || width <= 0 || rows == 0 || width > kMaxSide || rows > kMaxSide) {
        return fail(reason, "a BMP image of impossible size");
    }
    bool bitsOk = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    bool compressionOk = compression == 0 || (compression == 1 && bits == 8) || (compression == 2 && bits == 4) ||
                         (compression == 3 && (bits == 16 || bits == 32));
    if (!bitsOk || !compressionOk) {
        return fail(reason, "a BMP pixel format that does not exist");
    }
    if (dataOffset < 14 + headerSize || dataOffset >= size) {
        return fail(reason, "a BMP file whose pixel data is missing");
    }
    if (compression == 0 || compression == 3) {
        std::uint64_t rowBytes = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
        if (rowBytes * static_cast<std::uint64_t>(rows) > size - dataOffset) {
            return fail(reason, "a BMP file whose pixel data is cut off");
        }
    }
    info.width = static_cast<int>(width);
    info.height = static_cast<int>(rows);
    return true;
}

bool checkPfm(const Head& head, TextureInfo& info, std::string& reason)
{
    const std::uint8_t* data = head.data;
    const std::size_t size = head.available;
    std::size_t p = 2;
    auto space = [&] { return p < size && (data[p] == ' ' || data[p] == '\t' || data[p] == '\r' || data[p] == '\n'); };
    auto skipSpace = [&] {
        while (space()) ++p;
    };
    auto readWord = [&] {
        skipSpace();
        std::string w;
        while (p < size && !space() && w.size() < 32) {
            w += static_cast<char>(data[p++]);
        }
        return w;
    };
    std::string ws = readWord();
    std::string hs = readWord();
    std::string ss = readWord();
    char* end = nullptr;
    long width = std::strtol(ws.c_str(), &end, 10);
    bool ok = !ws.empty() && *end == 0;
    long height = std::strtol(hs.c_str(), &end, 10);
    ok = ok && !hs.empty() && *end == 0;
    double scale = std::strtod(ss.c_str(), &end);
    ok = ok && !ss.empty() && *end == 0 && scale != 0 && std::isfinite(scale);
    if (!ok || width <= 0 || height <= 0 || width > static_cast<long>(kMaxSide) || height > static_cast<long>(kMaxSide) ||
        !space()) {
        return fail(reason, "a PFM header that does not read");
    }
    ++p;  // the single whitespace before the pixels
    std::uint64_t channels = data[1] == 'F' ? 3 : 1;
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * channels * 4 > head.size - p) {
        return fail(reason, "a PFM file whose pixel data is cut off");
    }
    info.width = static_cast<int>(width);
    info.height = static_cast<int>(height);
    return true;
}

// The formats stb_image does not read, told apart by their first bytes.
bool checkOtherFormats(const Head& head, TextureInfo& info, std::string& reason)
{
    const std::uint8_t* data = head.data;
    const std::size_t n = head.available;
    if (n >= 4 && std::memcmp(data, "DDS ", 4) == 0) {
        return checkDds(head, info, reason);
    }
    if (n >= 2 && data[0] == 'B' && data[1] == 'M') {
        return checkBmp(head, info, reason);
    }
    if (n >= 3 && data[0] == 'P' && (data[1] == 'F' || data[1] == 'f')) {
        return checkPfm(head, info, reason);
    }
    return fail(reason, "not an image (none of PNG, JPEG, TGA, BMP, DIB, DDS, PFM, HDR, PNM, GIF, PSD)");
}

bool fewEnoughPixels(int width, int height)
{
    return std::uint64_t{static_cast<std::uint32_t>(width)} * static_cast<std::uint32_t>(height) <=
           kMaxDecodedTexturePixels;
}

// stb_image reading straight from an open file.
int readFile(void* file, char* out, int bytes)
{
    return static_cast<int>(std::fread(out, 1, static_cast<std::size_t>(bytes), static_cast<std::FILE*>(file)));
}

void skipInFile(void* file, int bytes)
{
    std::fseek(static_cast<std::FILE*>(file), bytes, SEEK_CUR);
}

int endOfFile(void* file)
{
    auto* f = static_cast<std::FILE*>(file);
    return std::feof(f) || std::ferror(f);
}

const stbi_io_callbacks kFileCallbacks = {readFile, skipInFile, endOfFile};

}  // namespace

bool checkImageData(const std::uint8_t* data, std::size_t size, TextureInfo& info, std::string& reason)
{
    if (size == 0) {
        return fail(reason, "an empty file");
    }
    if (size > kMaxTextureFileSize) {
        return fail(reason, "a file too large to be a texture");
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    int length = static_cast<int>(size);
    if (stbi_info_from_memory(data, length, &width, &height, &channels)) {
        if (fewEnoughPixels(width, height)) {
            stbi_uc* pixels = stbi_load_from_memory(data, length, &width, &height, &channels, 0);
            if (!pixels) {
                reason = std::string("an image that does not decode (") + stbi_failure_reason() + ")";
                return false;
            }
            stbi_image_free(pixels);
        }
        info.width = width;
        info.height = height;
        return true;
    }
    return checkOtherFormats(Head{data, size, size}, info, reason);
}

bool checkImageFile(const std::string& path, TextureInfo& info, std::string& reason)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        return fail(reason, "not a regular file");
    }
    std::uintmax_t bytes = fs::file_size(path, ec);
    if (ec || bytes > kMaxTextureFileSize) {
        return fail(reason, ec ? "a file whose size cannot be read" : "a file too large to be a texture");
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uintmax_t>(bytes, kHeadBytes)));
    if (!file || std::fread(head.data(), 1, head.size(), file.get()) != head.size()) {
        return fail(reason, "a file that cannot be read");
    }
    if (head.size() == bytes) {
        return checkImageData(head.data(), head.size(), info, reason);
    }
    // A larger file: stb_image reads what it needs of it, the other formats
    // are judged by their header and the file's size.
    int width = 0;
    int height = 0;
    int channels = 0;
    std::rewind(file.get());
    if (stbi_info_from_callbacks(&kFileCallbacks, file.get(), &width, &height, &channels)) {
        if (fewEnoughPixels(width, height)) {
            std::rewind(file.get());
            stbi_uc* pixels = stbi_load_from_callbacks(&kFileCallbacks, file.get(), &width, &height, &channels, 0);
            if (!pixels) {
                reason = std::string("an image that does not decode (") + stbi_failure_reason() + ")";
                return false;
            }
            stbi_image_free(pixels);
        }
        info.width = width;
        info.height = height;
        return true;
    }
    return checkOtherFormats(Head{head.data(), head.size(), bytes}, info, reason);
}

}  // namespace fyrel
