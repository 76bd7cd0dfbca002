#include "importers/model_formats.h"

#include <algorithm>
#include <cctype>
#include <malloc.h>

#include "importers/assimp/import_worker.h"
#include "importers/gltf/gltf_importer.h"
#include "importers/import_error.h"
#include "importers/ms3d_importer.h"
#include "importers/three_ds_importer.h"
#include "importers/x/x_importer.h"

namespace fyrel {

namespace {

const char* const k3dsNotice =
    "Animation is not supported in .3ds files, use .ms3d (Milkshape3D) files for animation";

// glTF 2.0 by our reader; an asset of glTF 1.0 (2015-2017 exporters) by
// Assimp in the import worker, which still reads it.
Model importGltfAnyVersion(const std::string& path)
{
    try {
        return importGltf(path);
    } catch (const GltfVersionOneError& older) {
        try {
            return importWithAssimp(path);
        } catch (const ImportError& alsoNot) {
            throw ImportError(std::string(older.what()) + "; " + alsoNot.what());
        }
    }
}

// One row per format.
const ModelFormat kFormats[] = {
    {".ms3d", "MS3D", &importMs3d, true, "MS3D File", "Failed to load .MS3D"},
    {".3ds", "3DS", &import3ds, false, "3ds File", "Failed to load .3ds", k3dsNotice, "Animation not supported"},
    {".x", "X", &importX, true, "X File", "Failed to load .X"},
    {".gltf", "glTF", &importGltfAnyVersion, true, "glTF", "Failed to load .glTF", nullptr, nullptr, "*.gltf *.glb"},
    {".glb", "glTF", &importGltfAnyVersion, true, "glTF", "Failed to load .glTF", nullptr, nullptr, "*.gltf *.glb"},
    // Read by Assimp in the import worker (importers/assimp/import_worker.h).
    {".fbx", "FBX", &importWithAssimp, true, "FBX File", "Failed to load .FBX"},
    {".dae", "COLLADA", &importWithAssimp, true, "COLLADA", "Failed to load .DAE", nullptr, nullptr, "*.dae *.zae"},
    {".zae", "COLLADA", &importWithAssimp, true, "COLLADA", "Failed to load .DAE", nullptr, nullptr, "*.dae *.zae"},
    {".bvh", "BVH", &importWithAssimp, true, "BVH Motion", "Failed to load .BVH"},
    {".md5mesh", "MD5", &importWithAssimp, true, "MD5", "Failed to load .MD5", nullptr, nullptr, "*.md5mesh *.md5anim"},
    {".md5anim", "MD5", &importWithAssimp, true, "MD5", "Failed to load .MD5", nullptr, nullptr, "*.md5mesh *.md5anim"},
    {".smd", "SMD", &importWithAssimp, true, "SMD File", "Failed to load .SMD"},
    {".b3d", "B3D", &importWithAssimp, true, "B3D File", "Failed to load .B3D"},
    {".iqm", "IQM", &importWithAssimp, true, "IQM File", "Failed to load .IQM"},
    {".obj", "OBJ", &importWithAssimp, false, "OBJ File", "Failed to load .OBJ"},
    {".ply", "PLY", &importWithAssimp, false, "PLY File", "Failed to load .PLY"},
    {".stl", "STL", &importWithAssimp, false, "STL File", "Failed to load .STL"},
    {".off", "OFF", &importWithAssimp, false, "OFF File", "Failed to load .OFF"},
};

std::string lowerExtension(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return {};
    }
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::string supportedEndings()
{
    std::string list;
    for (const ModelFormat& format : kFormats) {
        if (!list.empty()) {
            list += ", ";
        }
        list += format.ending;
    }
    return list;
}

}  // namespace

std::span<const ModelFormat> modelFormats()
{
    return kFormats;
}

const ModelFormat* findModelFormat(const std::string& path)
{
    const std::string extension = lowerExtension(path);
    for (const ModelFormat& format : kFormats) {
        if (extension == format.ending) {
            return &format;
        }
    }
    return nullptr;
}

std::string unsupportedEndingMessage(const std::string& path)
{
    return "Cannot import \"" + path + "\": Fyrel reads model files ending in " + supportedEndings() + " only.";
}

Model importModelFile(const std::string& path)
{
    const ModelFormat* format = findModelFormat(path);
    if (!format) {
        throw ImportError(unsupportedEndingMessage(path));
    }
    return format->import(path);
}

std::string modelFormatName(const std::string& path)
{
    const ModelFormat* format = findModelFormat(path);
    return format ? format->name : std::string();
}

void keepFreedMemoryForReuse()
{
    // Without these, glibc maps every block above its threshold (128 KiB at
    // first) on its own and unmaps it when freed, and trims the heap's top.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

}  // namespace fyrel
