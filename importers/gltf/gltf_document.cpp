#include "importers/gltf/gltf_document.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include <fyrel_tinygltf.h>

#include "importers/byte_reader.h"
#include "importers/gltf/gltf_importer.h"
#include "importers/import_error.h"
#include "math/cpu_features.h"

#if FYREL_X86
#include <immintrin.h>
#endif

namespace fyrel {
namespace {

namespace fs = std::filesystem;

// What the file callbacks may read: files under folder, up to budget bytes in all.
struct Fence {
    fs::path folder;  // canonical; empty: no external file at all
    std::size_t budget = kMaxGltfExternalBytes;
};

std::string printable(const std::string& text)
{
    std::string out = text;
    std::replace_if(
        out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }, '?');
    return out;
}

// True when path, resolved, lies inside the fence's folder.
bool insideFence(const Fence& fence, const std::string& path)
{
    if (fence.folder.empty()) {
        return false;
    }
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::path(path), error);
    if (error) {
        return false;
    }
    const auto [fenceEnd, pathAt] =
        std::mismatch(fence.folder.begin(), fence.folder.end(), resolved.begin(), resolved.end());
    return fenceEnd == fence.folder.end() && pathAt != resolved.end();
}

bool fileExists(const std::string& path, void* user)
{
    const Fence& fence = *static_cast<const Fence*>(user);
    std::error_code error;
    return insideFence(fence, path) && fs::is_regular_file(path, error);
}

std::string expandFilePath(const std::string& path, void*)
{
    return path;  // no ~ or $VARIABLE expansion: a URI names a file beside the model
}

bool readWholeFile(std::vector<unsigned char>* out, std::string* err, const std::string& path, void* user)
{
    Fence& fence = *static_cast<Fence*>(user);
    if (!insideFence(fence, path)) {
        *err = "outside the model's folder";
        return false;
    }
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error || !fs::is_regular_file(path, error)) {
        *err = "not a regular file";
        return false;
    }
    if (size > kMaxGltfFileSize || size > fence.budget) {
        *err = "larger than the program reads";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    out->resize(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(out->data()), static_cast<std::streamsize>(size))) {
        *err = "cannot be read";
        return false;
    }
    fence.budget -= static_cast<std::size_t>(size);
    return true;
}

bool writeWholeFile(std::string* err, const std::string&, const std::vector<unsigned char>&, void*)
{
    *err = "loading writes nothing";
    return false;
}

// Images are decoded where they are drawn: the loader keeps the bytes of
// an image file or data: URI (read through the fence like any external
// file). An image in a buffer view is not taken from here: tinygltf hands
// over the view's range of its buffer without checking that it lies inside
// it, so the conversion reads it through a checked slice instead.
bool keepImageUndecoded(tinygltf::Image* image, const int, std::string*, std::string*, int, int,
                        const unsigned char* bytes, int size, void*)
{
    if (image && image->bufferView < 0 && bytes && size > 0) {
        image->image.assign(bytes, bytes + size);
    }
    return true;
}

bool isBinary(const std::uint8_t* data, std::size_t size)
{
    return size >= 4 && data[0] == 'g' && data[1] == 'l' && data[2] == 'T' && data[3] == 'F';
}

// The JSON text of a document: all of a .gltf file, the first chunk of a
// .glb container when that is its JSON chunk (anything else is left to the
// loader to refuse).
std::pair<const char*, std::size_t> jsonText(const std::uint8_t* data, std::size_t size)
{
    if (!isBinary(data, size)) {
        return {reinterpret_cast<const char*>(data), size};
    }
    constexpr std::uint32_t kJsonChunk = 0x4E4F534A;  // "JSON"
    if (size < 20 || loadU32(data + 16) != kJsonChunk) {
        return {nullptr, 0};
    }
    return {reinterpret_cast<const char*>(data) + 20, std::min<std::size_t>(loadU32(data + 12), size - 20)};
}

// Where a scan of JSON text stands between two bytes.
struct Nesting {
    int depth = 0;
    bool inString = false;
    bool escaped = false;  // the next byte is escaped by a backslash
};

// Steps through bytes one at a time; false once the depth passes limit.
bool stepBytes(const char* text, std::size_t size, int limit, Nesting& n)
{
    for (std::size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (n.escaped) {
            n.escaped = false;
        } else if (n.inString) {
            if (c == '\\') {
                n.escaped = true;
            } else if (c == '"') {
                n.inString = false;
            }
        } else if (c == '"') {
            n.inString = true;
        } else if (c == '[' || c == '{') {
            if (++n.depth > limit) {
                return false;
            }
        } else if (c == ']' || c == '}') {
            --n.depth;
        }
    }
    return true;
}

// The bits of the 64 bytes at text that equal c.
std::uint64_t bytesEqual(const char* text, char c)
{
#if FYREL_X86
    const __m128i wanted = _mm_set1_epi8(c);
    std::uint64_t bits = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16 * k));
        bits |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, wanted))))
                << (16 * k);
    }
    return bits;
#else
    std::uint64_t bits = 0;
    for (int k = 0; k < 64; ++k) {
        bits |= static_cast<std::uint64_t>(text[k] == c) << k;
    }
    return bits;
#endif
}

// Each bit the parity of the bits up to and including it: with the quotes
// in, which bytes lie inside strings (from the opening quote on).
std::uint64_t prefixParity(std::uint64_t x)
{
    for (int shift = 1; shift < 64; shift *= 2) {
        x ^= x << shift;
    }
    return x;
}

// Whether the arrays and objects of a JSON text nest at most limit deep;
// brackets inside strings do not count. 64 bytes at a time: a block without
// backslashes has its strings told by the parity of its quotes, and its
// brackets need looking at one by one only when the depth it starts at plus
// its opening brackets would pass the limit; any other block is stepped
// through byte by byte.
bool nestsWithin(const char* text, std::size_t size, int limit)
{
    Nesting n;
    std::size_t i = 0;
    for (; i + 64 <= size; i += 64) {
        const char* block = text + i;
        const std::uint64_t backslashes = bytesEqual(block, '\\');
        const std::uint64_t opening = bytesEqual(block, '[') | bytesEqual(block, '{');
        if (backslashes != 0 || n.escaped || n.depth + std::popcount(opening) > limit) {
            if (!stepBytes(block, 64, limit, n)) {
                return false;
            }
            continue;
        }
        const std::uint64_t inside = prefixParity(bytesEqual(block, '"')) ^ (n.inString ? ~std::uint64_t{0} : 0);
        const std::uint64_t closing = bytesEqual(block, ']') | bytesEqual(block, '}');
        n.depth += std::popcount(opening & ~inside) - std::popcount(closing & ~inside);
        n.inString = (inside >> 63) != 0;
    }
    return stepBytes(text + i, size - i, limit, n);
}

// tinygltf's error text on one line (it ends every line with '\n').
std::string firstLines(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text.empty() ? "the file is not glTF 2.0" : text;
}

tinygltf::Model load(const std::uint8_t* data, std::size_t size, const std::string& fileName, Fence& fence)
{
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(keepImageUndecoded, nullptr);
    loader.SetFsCallbacks({fileExists, expandFilePath, readWholeFile, writeWholeFile, &fence});
    tinygltf::Model model;
    std::string err, warn;
    const std::string folder = fence.folder.string();
    bool loaded = false;
    if (isBinary(data, size) && size >= 8 && loadU32(data + 4) == 1) {
        throw GltfVersionOneError(gltfMessage(fileName, "it is binary glTF 1.0, which this reader does not read"));
    }
    const auto [json, jsonSize] = jsonText(data, size);
    const std::lock_guard lock(tinygltfLock());
    if (size > std::numeric_limits<unsigned int>::max()) {
        err = "the file is too large";
    } else if (!nestsWithin(json, jsonSize, kMaxGltfJsonDepth)) {
        err = "its JSON nests deeper than " + std::to_string(kMaxGltfJsonDepth) + " levels";
    } else if (isBinary(data, size)) {
        loaded = loader.LoadBinaryFromMemory(&model, &err, &warn, data, static_cast<unsigned int>(size), folder);
    } else {
        loaded = loader.LoadASCIIFromString(&model, &err, &warn, reinterpret_cast<const char*>(data),
                                            static_cast<unsigned int>(size), folder);
    }
    if (!loaded || !err.empty()) {
        throw ImportError(gltfMessage(fileName, firstLines(err.empty() ? warn : err)));
    }
    if (model.asset.version.starts_with("1.")) {
        throw GltfVersionOneError(gltfMessage(fileName, "it is glTF " + model.asset.version +
                                                            ", which this reader does not read"));
    }
    return model;
}

}  // namespace

std::string gltfMessage(const std::string& fileName, const std::string& what)
{
    return "Unable to load glTF file \"" + printable(fileName) + "\": " + printable(what);
}

tinygltf::Model loadGltfDocument(const std::string& path)
{
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        throw ImportError(gltfMessage(path, "not a file that can be read"));
    }
    const std::uintmax_t size = fs::file_size(path, error);
    if (error || size > kMaxGltfFileSize) {
        throw ImportError(gltfMessage(path, error ? "cannot be read" : "the file is larger than the program reads"));
    }
    // Not cleared first: every byte is read over.
    const auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(size));
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(bytes.get()), static_cast<std::streamsize>(size))) {
        throw ImportError(gltfMessage(path, "cannot be read"));
    }
    Fence fence;
    fence.folder = fs::weakly_canonical(fs::absolute(fs::path(path)).parent_path(), error);
    if (error) {
        fence.folder.clear();
    }
    return load(bytes.get(), static_cast<std::size_t>(size), path, fence);
}

tinygltf::Model loadGltfDocumentFromMemory(const std::uint8_t* data, std::size_t size, const std::string& fileName)
{
    Fence fence;  // no folder: data: URIs only
    return load(data, size, fileName, fence);
}

}  // namespace fyrel
