#include "images/texture_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <squish.h>

namespace fyrel::stb_budget {

// Every allocation stb_image makes goes through these, against a budget set
// for each decode: a damaged stream cannot make it grow a buffer without
// end (its inflate reads zeros past the end of the data and doubles its
// output up to 2 GiB before it gives up). A refused allocation makes
// stb_image fail with "out of memory".
//
// Blocks come zeroed: stb_image reads parts of its decoder state that a
// damaged file never set (a JPEG scan may use a Huffman table no segment
// defined, whose code sizes are then whatever the heap held, and shift by
// them). Zeros make such a file decode to some defined picture instead.
thread_local std::size_t left = 0;
constexpr std::size_t kHeader = 16;  // keeps the block's size, and malloc's alignment

void* allocate(std::size_t n)
{
    if (n > left || left - n < kHeader) {
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::calloc(1, n + kHeader));
    if (!block) {
        return nullptr;
    }
    left -= n + kHeader;
    std::memcpy(block, &n, sizeof n);
    return block + kHeader;
}

void release(void* p)
{
    if (p) {
        unsigned char* block = static_cast<unsigned char*>(p) - kHeader;
        std::size_t n = 0;
        std::memcpy(&n, block, sizeof n);
        left += n + kHeader;
        std::free(block);
    }
}

void* reallocate(void* p, std::size_t n)
{
    if (!p) {
        return allocate(n);
    }
    std::size_t old = 0;
    std::memcpy(&old, static_cast<unsigned char*>(p) - kHeader, sizeof old);
    void* grown = allocate(n);
    if (grown) {
        std::memcpy(grown, p, old < n ? old : n);
        release(p);
    }
    return grown;
}

}  // namespace fyrel::stb_budget

// stb_image's functions stay private to this file, allocate within the
// budget above, and refuse any image side above our limit.
#define STBI_MALLOC(n) fyrel::stb_budget::allocate(n)
#define STBI_REALLOC(p, n) fyrel::stb_budget::reallocate(p, n)
#define STBI_FREE(p) fyrel::stb_budget::release(p)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#define STBI_MAX_DIMENSIONS 16384
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

// stb_image_write's PNG encoder, private to this file; it writes through a
// callback into memory, never to a file of its own.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wtype-limits"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace fyrel {

namespace {

static_assert(kMaxImageSide == STBI_MAX_DIMENSIONS);

namespace fs = std::filesystem;

// The first eight bytes of every PNG file.
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t loadU32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

bool fail(std::string& reason, const char* why)
{
    reason = why;
    return false;
}

bool sizeAllowed(std::uint32_t width, std::uint32_t height)
{
    return width > 0 && height > 0 && width <= static_cast<std::uint32_t>(kMaxImageSide) &&
           height <= static_cast<std::uint32_t>(kMaxImageSide) && std::uint64_t{width} * height <= kMaxImagePixels;
}

// One colour channel of an uncompressed DDS pixel, widened to 8 bits.
std::uint8_t channel(std::uint32_t pixel, std::uint32_t mask)
{
    if (mask == 0) {
        return 255;
    }
    int shift = 0;
    while (!((mask >> shift) & 1u)) {
        ++shift;
    }
    const std::uint32_t max = mask >> shift;
    return static_cast<std::uint8_t>(((pixel & mask) >> shift) * 255u / max);
}

// DDS: "DDS ", a 124-byte header with a 32-byte pixel format at offset 76,
// then the top level's data.
bool decodeDds(const std::uint8_t* bytes, std::size_t size, Image& out, std::string& reason)
{
    constexpr std::size_t kHeader = 128;
    constexpr std::uint32_t kFourCc = 0x4;
    constexpr std::uint32_t kAlphaPixels = 0x1;
    if (size < kHeader) {
        return fail(reason, "a DDS header cut off");
    }
    if (loadU32(bytes + 4) != 124 || loadU32(bytes + 76) != 32) {
        return fail(reason, "a DDS header of the wrong size");
    }
    const std::uint32_t height = loadU32(bytes + 12);
    const std::uint32_t width = loadU32(bytes + 16);
    if (!sizeAllowed(width, height)) {
        return fail(reason, "a DDS image of impossible size");
    }
    const std::uint32_t flags = loadU32(bytes + 80);
    const std::uint8_t* pixels = bytes + kHeader;
    const std::size_t available = size - kHeader;
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    if (flags & kFourCc) {
        const std::uint8_t* code = bytes + 84;
        const std::uint64_t blocks = std::uint64_t{(width + 3) / 4} * ((height + 3) / 4);
        std::uint64_t blockSize = 16;
        if (std::memcmp(code, "DXT1", 4) == 0) {
            out.format = ImageFormat::Dxt1;
            blockSize = 8;
        } else if (std::memcmp(code, "DXT2", 4) == 0 || std::memcmp(code, "DXT3", 4) == 0) {
            out.format = ImageFormat::Dxt3;
        } else if (std::memcmp(code, "DXT4", 4) == 0 || std::memcmp(code, "DXT5", 4) == 0) {
            out.format = ImageFormat::Dxt5;
        } else {
            return fail(reason, "a DDS pixel format other than DXT1, DXT3, DXT5 or RGB(A)");
        }
        if (blocks * blockSize > available) {
            return fail(reason, "a DDS file whose pixel data is cut off");
        }
        out.data.assign(pixels, pixels + blocks * blockSize);
        return true;
    }
    const std::uint32_t bits = loadU32(bytes + 88);
    if (bits != 16 && bits != 24 && bits != 32) {
        return fail(reason, "a DDS pixel format of unknown size");
    }
    const std::uint64_t pixelBytes = bits / 8;
    const std::uint64_t count = std::uint64_t{width} * height;
    if (count * pixelBytes > available) {
        return fail(reason, "a DDS file whose pixel data is cut off");
    }
    const std::uint32_t masks[4] = {loadU32(bytes + 92), loadU32(bytes + 96), loadU32(bytes + 100),
                                    (flags & kAlphaPixels) ? loadU32(bytes + 104) : 0};
    out.format = ImageFormat::Rgba8;
    out.data.resize(count * 4);
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t pixel = 0;
        for (std::uint64_t b = 0; b < pixelBytes; ++b) {
            pixel |= std::uint32_t{pixels[i * pixelBytes + b]} << (8 * b);
        }
        for (int c = 0; c < 4; ++c) {
            out.data[i * 4 + c] = channel(pixel, masks[c]);
        }
    }
    return true;
}

// stb_image builds each JPEG Huffman table into arrays of 257 entries
// without checking that the table's 16 code counts add up to at most 256:
// a damaged table writes past them. So every table is checked first:
// every FF C4 (define Huffman tables) in the file, wherever stb_image's own
// walk over a damaged file might take it, is read as such a segment, the
// way stb_image reads one.
// (Entropy-coded data stuffs a zero after each FF, so only a marker or the
// inside of another segment can hold FF C4.) False when a table is damaged.
bool jpegHuffmanTablesFit(const std::uint8_t* bytes, std::size_t size)
{
    for (std::size_t p = 2; p + 4 <= size; ++p) {
        if (bytes[p] != 0xFF || bytes[p + 1] != 0xC4) {
            continue;
        }
        // As stb_image reads it: tables while any of the segment's length is
        // left, each read whole even where it runs past the segment, bytes
        // past the file's end as zeros.
        const std::size_t length = std::size_t{bytes[p + 2]} << 8 | bytes[p + 3];
        const std::size_t end = p + 2 + length;
        for (std::size_t q = p + 4; q < end && q < size;) {
            std::size_t codes = 0;
            for (std::size_t i = 1; i <= 16 && q + i < size; ++i) {
                codes += bytes[q + i];
            }
            if (codes > 256) {
                return false;
            }
            q += 17 + codes;
        }
    }
    return true;
}

// stb_image copies each PNG IDAT chunk into a buffer it makes at the first
// one with data: an empty IDAT before that copies nothing to a null pointer,
// which C leaves undefined (a compiler may then take the pointer for set and
// drop stb_image's later check for a PNG without any data). Empty IDATs hold
// nothing, so a PNG that has one is decoded from a copy without them. Empty
// when the file needs no such copy (or is no PNG, or its chunks do not
// follow each other to its end: stb_image refuses those itself).
std::vector<std::uint8_t> pngWithoutEmptyData(const std::uint8_t* bytes, std::size_t size)
{
    std::vector<std::uint8_t> out;
    if (size < sizeof kPngSignature || std::memcmp(bytes, kPngSignature, sizeof kPngSignature) != 0) {
        return out;
    }
    // An empty IDAT's header at `at`, whole or cut off before its CRC (which
    // stb_image would read as zeros).
    const auto emptyData = [&](std::size_t at) {
        return size - at >= 8 && bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 0 && bytes[at + 3] == 0 &&
               std::memcmp(bytes + at + 4, "IDAT", 4) == 0;
    };
    // Chunks: a big-endian length, the type, the data, a CRC. The end of the
    // chunk at `at`, or 0 when the file's end cuts it off.
    const auto chunkEnd = [&](std::size_t at) -> std::size_t {
        if (size - at < 12) {
            return 0;
        }
        const std::uint32_t length = std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
                                     std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
        return length > size - at - 12 ? 0 : at + 12 + length;
    };
    bool any = false;
    for (std::size_t at = 8; at < size && !any;) {
        any = emptyData(at);
        const std::size_t end = chunkEnd(at);
        at = end == 0 ? size : end;
    }
    if (!any) {
        return out;
    }
    out.reserve(size);
    out.insert(out.end(), bytes, bytes + 8);
    for (std::size_t at = 8; at < size;) {
        const std::size_t end = chunkEnd(at);
        if (end == 0) {
            if (!emptyData(at)) {
                out.insert(out.end(), bytes + at, bytes + size);  // a cut-off tail is kept for stb_image to refuse
            }
            break;
        }
        if (!emptyData(at)) {
            out.insert(out.end(), bytes + at, bytes + end);
        }
        at = end;
    }
    return out;
}

// The entry of folder whose name equals part without regard to ASCII case.
fs::path matchIgnoringCase(const fs::path& folder, const std::string& part)
{
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return s;
    };
    const std::string wanted = lower(part);
    std::error_code ec;
    // A folder with very many entries is not searched to the end.
    int budget = 100000;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end && budget-- > 0; it.increment(ec)) {
        if (lower(it->path().filename().string()) == wanted) {
            return it->path();
        }
    }
    return {};
}

bool isFile(const fs::path& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

}  // namespace

bool decodeImage(const std::uint8_t* bytes, std::size_t size, Image& out, std::string& reason)
{
    out = Image{};
    if (size == 0) {
        return fail(reason, "an empty file");
    }
    if (size > kMaxImageFileSize) {
        return fail(reason, "a file too large to be a texture");
    }
    if (size >= 4 && std::memcmp(bytes, "DDS ", 4) == 0) {
        const bool ok = decodeDds(bytes, size, out, reason);
        if (!ok) {
            out = Image{};
        }
        return ok;
    }
    const std::vector<std::uint8_t> mended = pngWithoutEmptyData(bytes, size);
    if (!mended.empty()) {
        bytes = mended.data();
        size = mended.size();
    }
    const int length = static_cast<int>(size);
    int width = 0;
    int height = 0;
    int channels = 0;
    // Before stb_image reads a byte: its header reading builds the tables too.
    if (bytes[0] == 0xFF && !jpegHuffmanTablesFit(bytes, size)) {  // stb_image takes FF FF… D8 as a start too
        return fail(reason, "a JPEG whose Huffman table holds more than 256 codes");
    }
    stb_budget::left = static_cast<std::size_t>(kMaxImageDecodeCost / 2 * size) + (std::size_t{1} << 19);
    if (!stbi_info_from_memory(bytes, length, &width, &height, &channels)) {
        return fail(reason, "not an image of a known format (PNG, JPEG, BMP, TGA, GIF, PSD, HDR, PNM, DDS)");
    }
    if (!sizeAllowed(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height))) {
        return fail(reason, "an image of impossible size");
    }
    if (4 * std::uint64_t{static_cast<std::uint32_t>(width)} * static_cast<std::uint32_t>(height) >
        kMaxImageExpansion * size + (1u << 16)) {
        return fail(reason, "an image larger than its file can hold");
    }
    stbi_uc* pixels = stbi_load_from_memory(bytes, length, &width, &height, &channels, 4);
    if (!pixels) {
        reason = std::string("an image that does not decode (") + stbi_failure_reason() + ")";
        return false;
    }
    out.width = width;
    out.height = height;
    out.data.assign(pixels, pixels + std::size_t{4} * static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    stbi_image_free(pixels);
    return true;
}

bool readImageFile(const std::string& path, std::vector<std::uint8_t>& out, std::string& reason)
{
    out.clear();
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        return fail(reason, "not a regular file");
    }
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        return fail(reason, "a file whose size cannot be read");
    }
    if (size > kMaxImageFileSize) {
        return fail(reason, "a file too large to be a texture");
    }
    out.resize(static_cast<std::size_t>(size));
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()))) {
        out.clear();
        return fail(reason, "a file that cannot be read");
    }
    return true;
}

bool decodeImageFile(const std::string& path, Image& out, std::string& reason)
{
    out = Image{};
    std::vector<std::uint8_t> bytes;
    return readImageFile(path, bytes, reason) && decodeImage(bytes.data(), bytes.size(), out, reason);
}

const char* pngOrJpegType(const std::uint8_t* bytes, std::size_t size)
{
    if (size >= sizeof kPngSignature && std::memcmp(bytes, kPngSignature, sizeof kPngSignature) == 0) {
        return "image/png";
    }
    if (size >= 3 && bytes[0] == 0xff && bytes[1] == 0xd8 && bytes[2] == 0xff) {
        return "image/jpeg";
    }
    return nullptr;
}

std::vector<std::uint8_t> encodePng(const Image& rgba)
{
    std::vector<std::uint8_t> out;
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(std::max(rgba.width, 0));
    if (rgba.format != ImageFormat::Rgba8 || rgba.width <= 0 || rgba.height <= 0 ||
        rgba.data.size() / rowBytes < static_cast<std::size_t>(rgba.height)) {
        return out;
    }
    const auto append = [](void* context, void* data, int size) {
        auto& bytes = *static_cast<std::vector<std::uint8_t>*>(context);
        bytes.insert(bytes.end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
    };
    if (!stbi_write_png_to_func(append, &out, rgba.width, rgba.height, 4, rgba.data.data(),
                                static_cast<int>(rowBytes))) {
        out.clear();
    }
    return out;
}

Image toRgba(const Image& image)
{
    if (image.format == ImageFormat::Rgba8) {
        return image;
    }
    Image rgba;
    rgba.width = image.width;
    rgba.height = image.height;
    rgba.data.resize(std::size_t{4} * static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height));
    const int flags = image.format == ImageFormat::Dxt1 ? squish::kDxt1
                      : image.format == ImageFormat::Dxt3 ? squish::kDxt3
                                                          : squish::kDxt5;
    squish::DecompressImage(rgba.data.data(), image.width, image.height, image.data.data(), flags);
    return rgba;
}

std::string findTextureFile(const std::string& storedName, const std::string& modelFolder)
{
    std::string name = storedName.substr(0, storedName.find('\0'));
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty()) {
        return {};
    }
    const fs::path stored(name);
    const fs::path folder = modelFolder.empty() ? fs::path(".") : fs::path(modelFolder);
    const fs::path asStored = stored.is_absolute() ? stored : folder / stored;
    if (isFile(asStored)) {
        return asStored.lexically_normal().string();
    }
    if (stored.is_relative()) {
        fs::path found = folder;
        for (const fs::path& part : stored) {
            found = part == "." || part == ".." ? found / part : matchIgnoringCase(found, part.string());
            if (found.empty()) {
                break;
            }
        }
        if (!found.empty() && isFile(found)) {
            return found.lexically_normal().string();
        }
    }
    if (stored.has_filename()) {
        const fs::path beside = folder / stored.filename();
        if (isFile(beside)) {
            return beside.string();
        }
        const fs::path matched = matchIgnoringCase(folder, stored.filename().string());
        if (!matched.empty() && isFile(matched)) {
            return matched.string();
        }
    }
    return {};
}

}  // namespace fyrel
