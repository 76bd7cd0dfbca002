#include "importers/three_ds_chunks.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "importers/byte_reader.h"
#include "importers/import_error.h"

namespace fyrel {
namespace {

// Chunk identifiers of the 3D Studio format.
constexpr std::uint16_t kMainChunk = 0x4D4D;        // M3DMAGIC: a scene file
constexpr std::uint16_t kMaterialLibrary = 0x3DAA;  // MLIBMAGIC
constexpr std::uint16_t kProjectFile = 0xC23D;      // CMAGIC
constexpr std::uint16_t kSceneData = 0x3D3D;        // MDATA: the editor's objects
constexpr std::uint16_t kNamedObject = 0x4000;
constexpr std::uint16_t kTriangleMesh = 0x4100;  // N_TRI_OBJECT
constexpr std::uint16_t kPointArray = 0x4110;
constexpr std::uint16_t kPointFlagArray = 0x4111;
constexpr std::uint16_t kFaceArray = 0x4120;
constexpr std::uint16_t kMaterialGroup = 0x4130;  // MSH_MAT_GROUP
constexpr std::uint16_t kTextureCoordinates = 0x4140;
constexpr std::uint16_t kSmoothingGroups = 0x4150;
constexpr std::uint16_t kMeshMatrix = 0x4160;
constexpr std::uint16_t kMaterialEntry = 0xAFFF;
constexpr std::uint16_t kMaterialName = 0xA000;
constexpr std::uint16_t kMaterialAmbient = 0xA010;
constexpr std::uint16_t kMaterialDiffuse = 0xA020;
constexpr std::uint16_t kMaterialSpecular = 0xA030;
constexpr std::uint16_t kMaterialShininess = 0xA040;
constexpr std::uint16_t kMaterialTransparency = 0xA050;
constexpr std::uint16_t kTextureMap = 0xA200;
constexpr std::uint16_t kMapFileName = 0xA300;
constexpr std::uint16_t kColourFloat = 0x0010;
constexpr std::uint16_t kColourBytes = 0x0011;
constexpr std::uint16_t kLinearColourBytes = 0x0012;
constexpr std::uint16_t kLinearColourFloat = 0x0013;
constexpr std::uint16_t kPercentWord = 0x0030;
constexpr std::uint16_t kPercentFloat = 0x0031;

constexpr std::size_t kHeaderSize = 6;  // identifier (16 bits) and length (32 bits)
constexpr std::size_t kPointSize = 12;
constexpr std::size_t kFaceSize = 8;
constexpr std::size_t kTexelSize = 8;
constexpr std::size_t kPointFlagSize = 2;
constexpr std::size_t kMatrixSize = 48;
constexpr std::size_t kNameDigits = 10;  // of the object names write3dsMeshes gives

std::string hex(std::uint16_t id)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(id));
    return text;
}

// A name from a file, fit for a message: printable ASCII only, not too long.
std::string printable(const std::string& name)
{
    std::string out;
    for (char c : name.substr(0, 64)) {
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return out;
}

struct Chunk {
    std::uint16_t id = 0;
    std::size_t offset = 0;              // of its header, from the start of the file
    const std::uint8_t* body = nullptr;  // first byte after the header
    const std::uint8_t* end = nullptr;   // one past its last byte

    std::size_t bodySize() const { return static_cast<std::size_t>(end - body); }
};

struct Scan {
    const std::uint8_t* file = nullptr;
    std::vector<ThreeDsMeshChunks> meshes;
    std::vector<ThreeDsMaterial> materials;

    std::size_t offsetOf(const std::uint8_t* p) const { return static_cast<std::size_t>(p - file); }
};

// Calls visit for each chunk of [first, last), which must be filled with whole
// chunks back to back, each at least a header long.
template <class Visit>
void forEachChunk(const Scan& scan, const Chunk& parent, const std::uint8_t* first, Visit visit)
{
    ByteReader in(first, static_cast<std::size_t>(parent.end - first));
    while (in.remaining() > 0) {
        const std::uint8_t* p = in.here();
        const std::size_t left = in.remaining();
        if (!in.fits(1, kHeaderSize)) {
            throw ImportError("the last " + std::to_string(left) + " bytes of chunk " + hex(parent.id) + " at byte " +
                              std::to_string(parent.offset) + " are too few for a chunk");
        }
        Chunk child;
        child.id = in.u16();
        child.offset = scan.offsetOf(p);
        const std::uint32_t length = in.u32();
        if (length < kHeaderSize) {
            throw ImportError("chunk " + hex(child.id) + " at byte " + std::to_string(child.offset) +
                              " has an impossible length of " + std::to_string(length));
        }
        if (length > left) {
            throw ImportError("chunk " + hex(child.id) + " at byte " + std::to_string(child.offset) + " claims " +
                              std::to_string(length) + " bytes, but only " + std::to_string(left) +
                              " are left in chunk " + hex(parent.id) + " (the file is truncated or damaged)");
        }
        child.body = in.here();
        child.end = p + length;
        in.skip(length - kHeaderSize);
        visit(child);
    }
}

std::string meshLabel(std::size_t number, const std::string& name)
{
    return "mesh " + std::to_string(number) + " (\"" + printable(name) + "\")";
}

// A word count followed by count records of recordSize bytes; returns the
// count after checking that the records fit the chunk.
std::uint16_t countedArray(const Chunk& c, std::size_t recordSize, const std::string& what, const std::string& mesh)
{
    ByteReader in(c.body, c.bodySize());
    if (!in.fits(1, 2)) {
        throw ImportError("the " + what + " of " + mesh + " at byte " + std::to_string(c.offset) + " has no count");
    }
    const std::uint16_t count = in.u16();
    if (!in.fits(count, recordSize)) {
        throw ImportError("the " + what + " of " + mesh + " at byte " + std::to_string(c.offset) + " counts " +
                          std::to_string(count) + " entries, but its chunk holds only " +
                          std::to_string((c.bodySize() - 2) / recordSize));
    }
    return count;
}

ThreeDsFaceGroup checkMaterialGroup(const Chunk& c, std::uint16_t faceCount, const std::string& mesh)
{
    const void* nul = std::memchr(c.body, 0, c.bodySize());
    if (nul == nullptr) {
        throw ImportError("the material name of a face group of " + mesh + " at byte " + std::to_string(c.offset) +
                          " is not terminated");
    }
    const Chunk list{c.id, c.offset, static_cast<const std::uint8_t*>(nul) + 1, c.end};
    const std::uint16_t count = countedArray(list, 2, "face group", mesh);
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint16_t face = loadU16(list.body + 2 + 2 * std::size_t{i});
        if (face >= faceCount) {
            throw ImportError("a material group of " + mesh + " names face " + std::to_string(face + 1) +
                              ", but the mesh has " + std::to_string(faceCount) + " faces");
        }
    }
    const auto* name = reinterpret_cast<const char*>(c.body);
    return ThreeDsFaceGroup{std::string(name, static_cast<const char*>(nul)), list.body + 2, count};
}

void scanFaceArray(const Scan& scan, const Chunk& c, ThreeDsMeshChunks& mesh, const std::string& label)
{
    mesh.faceCount = countedArray(c, kFaceSize, "face array", label);
    mesh.faces = c.body + 2;
    // Face groups and smoothing groups follow the faces as sub-chunks; they
    // refer to faces of this array.
    forEachChunk(scan, c, mesh.faces + kFaceSize * mesh.faceCount, [&](const Chunk& sub) {
        if (sub.id == kMaterialGroup) {
            mesh.groups.push_back(checkMaterialGroup(sub, mesh.faceCount, label));
        } else if (sub.id == kSmoothingGroups && sub.bodySize() / 4 < mesh.faceCount) {
            throw ImportError("the smoothing groups of " + label + " at byte " + std::to_string(sub.offset) +
                              " cover fewer than its " + std::to_string(mesh.faceCount) + " faces");
        }
    });
}

void checkFacesAndPoints(const ThreeDsMeshChunks& mesh, std::size_t number)
{
    for (std::size_t f = 0; f < mesh.faceCount; ++f) {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint16_t vertex = loadU16(mesh.faces + f * kFaceSize + 2 * k);
            if (vertex >= mesh.pointCount) {
                throw ImportError(threeDsFaceIndexProblem(f + 1, number, mesh.name, vertex, mesh.pointCount));
            }
        }
    }
    for (std::size_t v = 0; v < mesh.pointCount; ++v) {
        for (std::size_t k = 0; k < 3; ++k) {
            if (!std::isfinite(loadF32(mesh.points + v * kPointSize + 4 * k))) {
                throw ImportError("vertex " + std::to_string(v + 1) + " of " + meshLabel(number, mesh.name) +
                                  " has a coordinate that is not a finite number");
            }
        }
    }
}

void scanTriangleMesh(Scan& scan, const Chunk& c, const std::string& name)
{
    ThreeDsMeshChunks mesh;
    mesh.name = name;
    const std::size_t number = scan.meshes.size() + 1;
    const std::string label = meshLabel(number, name);
    forEachChunk(scan, c, c.body, [&](const Chunk& sub) {
        switch (sub.id) {
        case kPointArray:
            mesh.pointCount = countedArray(sub, kPointSize, "point array", label);
            mesh.points = sub.body + 2;
            break;
        case kFaceArray:
            scanFaceArray(scan, sub, mesh, label);
            break;
        case kTextureCoordinates:
            mesh.texelCount = countedArray(sub, kTexelSize, "texture coordinates", label);
            mesh.texels = sub.body + 2;
            break;
        case kPointFlagArray:
            countedArray(sub, kPointFlagSize, "point flags", label);
            break;
        case kMeshMatrix:
            if (sub.bodySize() != kMatrixSize) {
                throw ImportError("the matrix of " + label + " at byte " + std::to_string(sub.offset) + " holds " +
                                  std::to_string(sub.bodySize()) + " bytes instead of 48");
            }
            break;
        default:
            break;  // colour, texture mapping and the like: not used
        }
    });
    checkFacesAndPoints(mesh, number);
    scan.meshes.push_back(mesh);
}

void scanNamedObject(Scan& scan, const Chunk& c)
{
    const void* nul = std::memchr(c.body, 0, c.bodySize());
    if (nul == nullptr) {
        throw ImportError("the name of the object at byte " + std::to_string(c.offset) + " is not terminated");
    }
    const std::uint8_t* nameEnd = static_cast<const std::uint8_t*>(nul);
    const std::string name(reinterpret_cast<const char*>(c.body), static_cast<std::size_t>(nameEnd - c.body));
    forEachChunk(scan, c, nameEnd + 1, [&](const Chunk& sub) {
        if (sub.id == kTriangleMesh) {
            scanTriangleMesh(scan, sub, name);
        }
    });
}

// A terminated name filling the chunk's body, or none.
bool readName(const Chunk& c, std::string& out)
{
    const void* nul = std::memchr(c.body, 0, c.bodySize());
    if (nul == nullptr) {
        return false;
    }
    out.assign(reinterpret_cast<const char*>(c.body), static_cast<const char*>(nul));
    return true;
}

// The first colour sub-chunk of a colour chunk; the gamma-corrected byte
// form and the linear float form count alike.
void readColour(const Scan& scan, const Chunk& c, float* rgb)
{
    bool done = false;
    forEachChunk(scan, c, c.body, [&](const Chunk& sub) {
        if (done) {
            return;
        }
        if ((sub.id == kColourFloat || sub.id == kLinearColourFloat) && sub.bodySize() >= 12) {
            float v[3];
            for (int k = 0; k < 3; ++k) {
                v[k] = loadF32(sub.body + 4 * k);
            }
            if (std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2])) {
                for (int k = 0; k < 3; ++k) {
                    rgb[k] = std::clamp(v[k], 0.0f, 1.0f);
                }
                done = true;
            }
        } else if ((sub.id == kColourBytes || sub.id == kLinearColourBytes) && sub.bodySize() >= 3) {
            for (int k = 0; k < 3; ++k) {
                rgb[k] = static_cast<float>(sub.body[k]) / 255.0f;
            }
            done = true;
        }
    });
}

void readPercentage(const Scan& scan, const Chunk& c, float& out)
{
    forEachChunk(scan, c, c.body, [&](const Chunk& sub) {
        if (sub.id == kPercentWord && sub.bodySize() >= 2) {
            out = std::min(static_cast<float>(loadU16(sub.body)), 100.0f) / 100.0f;
        } else if (sub.id == kPercentFloat && sub.bodySize() >= 4 && std::isfinite(loadF32(sub.body))) {
            out = std::clamp(loadF32(sub.body), 0.0f, 100.0f) / 100.0f;
        }
    });
}

void scanMaterial(Scan& scan, const Chunk& c)
{
    ThreeDsMaterial m;
    forEachChunk(scan, c, c.body, [&](const Chunk& sub) {
        switch (sub.id) {
        case kMaterialName:
            readName(sub, m.name);
            break;
        case kMaterialAmbient:
            readColour(scan, sub, m.ambient);
            break;
        case kMaterialDiffuse:
            readColour(scan, sub, m.diffuse);
            break;
        case kMaterialSpecular:
            readColour(scan, sub, m.specular);
            break;
        case kMaterialShininess:
            readPercentage(scan, sub, m.shininess);
            break;
        case kMaterialTransparency:
            readPercentage(scan, sub, m.transparency);
            break;
        case kTextureMap:
            forEachChunk(scan, sub, sub.body, [&](const Chunk& map) {
                if (map.id == kMapFileName) {
                    readName(map, m.texture);
                }
            });
            break;
        default:
            break;
        }
    });
    scan.materials.push_back(std::move(m));
}

void scanSceneData(Scan& scan, const Chunk& c)
{
    forEachChunk(scan, c, c.body, [&](const Chunk& sub) {
        if (sub.id == kNamedObject) {
            scanNamedObject(scan, sub);
        } else if (sub.id == kMaterialEntry) {
            // A damaged material costs its looks, not the model.
            try {
                scanMaterial(scan, sub);
            } catch (const ImportError&) {
            }
        }
    });
}

// Little-endian output into a buffer sized beforehand.
struct Writer {
    std::vector<std::uint8_t> bytes;

    void u16(std::uint16_t v)
    {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v)
    {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void header(std::uint16_t id, std::uint64_t length)
    {
        u16(id);
        u32(static_cast<std::uint32_t>(length));
    }
    void raw(const std::uint8_t* p, std::size_t n) { bytes.insert(bytes.end(), p, p + n); }
    // Ten decimal digits and the terminator: names of equal length sort as
    // their numbers do. (A file of at most 4 GiB cannot hold 10^10 meshes.)
    void objectName(std::size_t index)
    {
        std::uint8_t digits[kNameDigits + 1];
        for (std::size_t k = kNameDigits; k-- > 0; index /= 10) {
            digits[k] = static_cast<std::uint8_t>('0' + index % 10);
        }
        digits[kNameDigits] = 0;
        raw(digits, sizeof digits);
    }
};

std::uint64_t pointArrayLength(const ThreeDsMeshChunks& m)
{
    return kHeaderSize + 2 + kPointSize * std::uint64_t{m.pointCount};
}

std::uint64_t faceArrayLength(const ThreeDsMeshChunks& m)
{
    return m.faceCount == 0 ? 0 : kHeaderSize + 2 + kFaceSize * std::uint64_t{m.faceCount};
}

std::uint64_t triangleMeshLength(const ThreeDsMeshChunks& m)
{
    return kHeaderSize + pointArrayLength(m) + faceArrayLength(m);
}

std::uint64_t namedObjectLength(const ThreeDsMeshChunks& m)
{
    return kHeaderSize + kNameDigits + 1 + triangleMeshLength(m);
}

}  // namespace

std::string threeDsFaceIndexProblem(std::size_t faceNumber, std::size_t meshNumber, const std::string& meshName,
                                    std::uint32_t vertex, std::uint32_t vertexCount)
{
    return "face " + std::to_string(faceNumber) + " of " + meshLabel(meshNumber, meshName) + " uses vertex " +
           std::to_string(vertex) + ", but the mesh has " + std::to_string(vertexCount) + " vertices";
}

std::vector<ThreeDsMeshChunks> scan3dsMeshes(const std::uint8_t* data, std::size_t size)
{
    return scan3dsScene(data, size).meshes;
}

ThreeDsScene scan3dsScene(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        throw ImportError("the file is empty");
    }
    ByteReader in(data, size);
    if (!in.fits(1, kHeaderSize)) {
        throw ImportError("the file is too short to be a 3ds file");
    }
    Chunk main;
    main.id = in.u16();
    if (main.id != kMainChunk && main.id != kSceneData && main.id != kMaterialLibrary && main.id != kProjectFile) {
        throw ImportError("the file is not a 3ds file (it starts with chunk " + hex(main.id) + ")");
    }
    const std::uint32_t length = in.u32();
    if (length < kHeaderSize) {
        throw ImportError("the main chunk has an impossible length of " + std::to_string(length));
    }
    if (length > size) {
        throw ImportError("the file is truncated: its main chunk claims " + std::to_string(length) +
                          " bytes, but the file holds " + std::to_string(size));
    }
    main.body = data + kHeaderSize;
    main.end = data + length;  // bytes after the main chunk are not part of the scene

    Scan scan;
    scan.file = data;
    if (main.id == kSceneData) {
        scanSceneData(scan, main);
    } else {
        forEachChunk(scan, main, main.body, [&](const Chunk& c) {
            if (c.id == kSceneData) {
                scanSceneData(scan, c);
            }
        });
    }
    return ThreeDsScene{std::move(scan.meshes), std::move(scan.materials)};
}

std::vector<std::uint8_t> write3dsMeshes(const std::vector<ThreeDsMeshChunks>& meshes)
{
    std::uint64_t sceneLength = kHeaderSize;
    for (const ThreeDsMeshChunks& m : meshes) {
        if (m.pointCount > 0) {
            sceneLength += namedObjectLength(m);
        }
    }
    const std::uint64_t fileLength = kHeaderSize + sceneLength;
    if (fileLength > std::numeric_limits<std::uint32_t>::max() ||
        fileLength > std::numeric_limits<std::size_t>::max()) {
        throw ImportError("the file holds more mesh data than a 3ds file can");
    }

    Writer out;
    out.bytes.reserve(static_cast<std::size_t>(fileLength));
    out.header(kMainChunk, fileLength);
    out.header(kSceneData, sceneLength);
    for (std::size_t i = meshes.size(); i-- > 0;) {
        const ThreeDsMeshChunks& m = meshes[i];
        if (m.pointCount == 0) {
            continue;  // no vertices, so no faces either: nothing to add
        }
        out.header(kNamedObject, namedObjectLength(m));
        out.objectName(i);
        out.header(kTriangleMesh, triangleMeshLength(m));
        out.header(kPointArray, pointArrayLength(m));
        out.u16(m.pointCount);
        out.raw(m.points, kPointSize * m.pointCount);
        if (m.faceCount > 0) {
            out.header(kFaceArray, faceArrayLength(m));
            out.u16(m.faceCount);
            out.raw(m.faces, kFaceSize * m.faceCount);
        }
    }
    return std::move(out.bytes);
}

}  // namespace fyrel
