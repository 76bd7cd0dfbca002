#include "importers/three_ds_importer.h"

#include <lib3ds/file.h>
#include <lib3ds/io.h>
#include <lib3ds/mesh.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <unordered_map>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "images/texture_image.h"
#include "importers/byte_reader.h"
#include "importers/import_error.h"
#include "importers/three_ds_chunks.h"

namespace fyrel {
namespace {

const char* const kLoadFailed = "Unable to load 3ds file";

// A read-only byte range behind lib3ds's stream callbacks. A read or seek
// outside the range marks the stream as failed (lib3ds asks through the error
// callback), and the part of a short read that has no bytes is zero-filled
// rather than left as whatever lib3ds's buffer held.
struct MemoryStream {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
    bool failed = false;
};

MemoryStream& streamOf(void* self)
{
    return *static_cast<MemoryStream*>(self);
}

Lib3dsBool streamError(void* self)
{
    return streamOf(self).failed ? LIB3DS_TRUE : LIB3DS_FALSE;
}

long streamSeek(void* self, long offset, Lib3dsIoSeek origin)
{
    MemoryStream& s = streamOf(self);
    long base = 0;
    if (origin == LIB3DS_SEEK_CUR) {
        base = static_cast<long>(s.position);
    } else if (origin == LIB3DS_SEEK_END) {
        base = static_cast<long>(s.size);
    }
    if ((offset < 0 && -offset > base) || (offset > 0 && offset > static_cast<long>(s.size) - base)) {
        s.failed = true;
        return -1;
    }
    s.position = static_cast<std::size_t>(base + offset);
    return 0;
}

long streamTell(void* self)
{
    return static_cast<long>(streamOf(self).position);
}

std::size_t streamRead(void* self, void* buffer, std::size_t size)
{
    MemoryStream& s = streamOf(self);
    const std::size_t available = s.size - s.position;
    const std::size_t n = size < available ? size : available;
    std::memcpy(buffer, s.data + s.position, n);
    if (n < size) {
        std::memset(static_cast<std::uint8_t*>(buffer) + n, 0, size - n);
        s.failed = true;
    }
    s.position += n;
    return n;
}

std::size_t streamWrite(void* self, const void*, std::size_t)
{
    streamOf(self).failed = true;
    return 0;
}

struct FileDeleter {
    void operator()(Lib3dsFile* file) const { lib3ds_file_free(file); }
};
struct IoDeleter {
    void operator()(Lib3dsIo* io) const { lib3ds_io_free(io); }
};
using FilePointer = std::unique_ptr<Lib3dsFile, FileDeleter>;

// lib3ds's reading of a byte range; null when it fails.
FilePointer readWithLib3ds(const std::vector<std::uint8_t>& bytes)
{
    MemoryStream stream{bytes.data(), bytes.size(), 0, false};
    const std::unique_ptr<Lib3dsIo, IoDeleter> io(
        lib3ds_io_new(&stream, streamError, streamSeek, streamTell, streamRead, streamWrite));
    FilePointer file(lib3ds_file_new());
    if (!io || !file || !lib3ds_file_read(file.get(), io.get()) || stream.failed) {
        return nullptr;
    }
    return file;
}

Material materialFrom(const ThreeDsMaterial& m, const std::string& folder)
{
    Material material;
    material.name = m.name;
    std::copy(std::begin(m.ambient), std::end(m.ambient), material.ambient);
    std::copy(std::begin(m.diffuse), std::end(m.diffuse), material.diffuse);
    std::copy(std::begin(m.specular), std::end(m.specular), material.specular);
    material.diffuse[3] = 1.0f - m.transparency;
    // 3ds keeps the highlight's sharpness as a percentage of the largest
    // exponent fixed-function lighting offers.
    material.shininess = std::max(1.0f, 128.0f * m.shininess);
    material.texture = m.texture;
    if (!m.texture.empty()) {
        material.texturePath = findTextureFile(m.texture, folder);
    }
    return material;
}

// Materials, face groups and texture coordinates come from the checked scan,
// not through lib3ds: its meshes are the scan's meshes that have vertices,
// in the same order (write3dsMeshes names them so).
void addMaterials(const ThreeDsScene& scene, const std::string& folder, Model& model)
{
    std::unordered_map<std::string, std::uint32_t> byName;
    for (const ThreeDsMaterial& m : scene.materials) {
        byName.try_emplace(m.name, static_cast<std::uint32_t>(model.materials.size()));
        model.materials.push_back(materialFrom(m, folder));
    }
    model.texCoords.assign(model.vertices.size(), TexCoord{});
    std::size_t vertexBase = 0;
    std::size_t triangleBase = 0;
    for (const ThreeDsMeshChunks& mesh : scene.meshes) {
        if (mesh.pointCount == 0) {
            continue;
        }
        if (vertexBase + mesh.pointCount > model.vertices.size() ||
            triangleBase + mesh.faceCount > model.triangles.size()) {
            break;  // cannot happen while lib3ds reads what was written for it
        }
        for (std::size_t v = 0; v < std::min(mesh.pointCount, mesh.texelCount); ++v) {
            // 3ds counts v upwards from the image's bottom.
            const float s = loadF32(mesh.texels + 8 * v);
            const float t = loadF32(mesh.texels + 8 * v + 4);
            model.texCoords[vertexBase + v] =
                TexCoord{std::isfinite(s) ? s : 0.0f, std::isfinite(t) ? 1.0f - t : 0.0f};
        }
        for (std::size_t f = 0; f < mesh.faceCount; ++f) {
            model.triangles[triangleBase + f].material = UINT32_MAX;
        }
        for (const ThreeDsFaceGroup& group : mesh.groups) {
            const auto found = byName.find(group.material);
            const std::uint32_t index = found == byName.end() ? UINT32_MAX : found->second;
            for (std::size_t i = 0; i < group.count; ++i) {
                model.triangles[triangleBase + loadU16(group.faces + 2 * i)].material = index;
            }
        }
        vertexBase += mesh.pointCount;
        triangleBase += mesh.faceCount;
    }
}

Model importBytes(const std::uint8_t* data, std::size_t size, const std::string& source, const std::string& folder)
{
    FilePointer file;
    try {
        // The checked copy only views data, so the check and the copy happen
        // before lib3ds sees a byte.
        const ThreeDsScene scene = scan3dsScene(data, size);
        file = readWithLib3ds(write3dsMeshes(scene.meshes));
        if (file) {
            Model model = convert3dsFile(*file);
            addMaterials(scene, folder, model);
            return model;
        }
    } catch (const ImportError& problem) {
        throw ImportError(kLoadFailed + source + ": " + problem.what());
    }
    throw ImportError(kLoadFailed + source);
}

// The file's main chunk: its header says how long it is, and the bytes after
// it are not part of the scene, so they are not read. A path that is not a
// regular file (a device, a pipe) is refused before it is opened: reading it
// could block, or never end.
std::vector<std::uint8_t> readMainChunk(const std::string& path, const std::string& source)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!error && fs::exists(status) && !fs::is_regular_file(status)) {
        throw ImportError(kLoadFailed + source + ": it is not a regular file");
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) {
        throw ImportError(kLoadFailed + source + ": the file cannot be opened");
    }
    std::vector<std::uint8_t> bytes(6);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f.get()));
    if (bytes.size() == 6) {
        const std::uint64_t length = std::uint64_t{bytes[2]} | (std::uint64_t{bytes[3]} << 8) |
                                     (std::uint64_t{bytes[4]} << 16) | (std::uint64_t{bytes[5]} << 24);
        const std::uintmax_t fileSize = fs::file_size(path, error);
        if (!error) {
            bytes.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(length, fileSize)));
        }
        std::uint8_t block[65536];
        while (bytes.size() < length) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, length - bytes.size()));
            const std::size_t n = std::fread(block, 1, want, f.get());
            bytes.insert(bytes.end(), block, block + n);
            if (n < want) {
                break;
            }
        }
    }
    if (std::ferror(f.get())) {
        throw ImportError(kLoadFailed + source + ": the file cannot be read");
    }
    return bytes;
}

}  // namespace

Model convert3dsFile(const Lib3dsFile& file)
{
    // Sized once for all meshes: a file can hold tens of thousands of them.
    std::uint64_t vertexTotal = 0;
    std::uint64_t faceTotal = 0;
    for (const Lib3dsMesh* mesh = file.meshes; mesh != nullptr; mesh = mesh->next) {
        vertexTotal += mesh->points;
        faceTotal += mesh->faces;
    }
    if (vertexTotal > std::numeric_limits<std::uint32_t>::max()) {
        throw ImportError("the meshes hold more vertices than a model can");
    }
    Model model;
    model.vertices.reserve(static_cast<std::size_t>(vertexTotal));
    model.triangles.reserve(static_cast<std::size_t>(faceTotal));

    std::size_t meshNumber = 0;
    for (const Lib3dsMesh* mesh = file.meshes; mesh != nullptr; mesh = mesh->next) {
        ++meshNumber;
        const std::size_t base = model.vertices.size();
        const std::string name(mesh->name, strnlen(mesh->name, sizeof mesh->name));
        for (std::uint32_t v = 0; v < mesh->points; ++v) {
            Vertex vertex;
            vertex.position = Vector3{mesh->pointL[v].pos[0], mesh->pointL[v].pos[1], mesh->pointL[v].pos[2]};
            model.vertices.push_back(vertex);
        }
        for (std::uint32_t f = 0; f < mesh->faces; ++f) {
            Triangle triangle;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t index = mesh->faceL[f].points[k];
                if (index >= mesh->points) {
                    throw ImportError(
                        threeDsFaceIndexProblem(f + std::size_t{1}, meshNumber, name, index, mesh->points));
                }
                triangle.indices[k] = static_cast<std::uint32_t>(base) + index;
            }
            model.triangles.push_back(triangle);
        }
    }
    model.computeNormals();
    return model;
}

Model import3dsFromMemory(const std::uint8_t* data, std::size_t size, const std::string& textureFolder)
{
    return importBytes(data, size, "", textureFolder);
}

Model import3ds(const std::string& path)
{
    const std::string source = " \"" + path + "\"";
    const std::vector<std::uint8_t> bytes = readMainChunk(path, source);
    return importBytes(bytes.data(), bytes.size(), source, std::filesystem::path(path).parent_path().string());
}

}  // namespace fyrel
