#include "importers/gltf/gltf_importer.h"

#include <filesystem>

#include "importers/gltf/gltf_clips.h"
#include "importers/gltf/gltf_conversion.h"
#include "importers/gltf/gltf_document.h"
#include "importers/gltf/gltf_materials.h"
#include "importers/gltf/gltf_meshes.h"
#include "importers/gltf/gltf_nodes.h"
#include "importers/gltf/gltf_skeleton.h"

namespace fyrel {
namespace {

std::size_t inputBytes(const tinygltf::Model& document, std::size_t fileSize)
{
    std::size_t total = fileSize;
    for (const tinygltf::Buffer& buffer : document.buffers) {
        total += buffer.data.size();
    }
    return total;
}

// The diagonal of the vertices' box: what "close" means for this model.
float modelSize(const Model& model)
{
    Vector3 lo = model.vertices[0].position, hi = lo;
    for (const Vertex& v : model.vertices) {
        lo = {std::min(lo.x, v.position.x), std::min(lo.y, v.position.y), std::min(lo.z, v.position.z)};
        hi = {std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z)};
    }
    const float d = std::sqrt((hi.x - lo.x) * (hi.x - lo.x) + (hi.y - lo.y) * (hi.y - lo.y) +
                              (hi.z - lo.z) * (hi.z - lo.z));
    return d > 0 && std::isfinite(d) ? d : 1.0f;
}


// folder: where the model file lies, for its image files; empty for a
// document from memory.
Model convert(const tinygltf::Model& document, const std::string& fileName, std::size_t bytes,
              const std::string& folder)
{
    GltfConversion c(document, fileName, folder, bytes);
    addGltfMaterials(c);
    walkGltfScene(c);
    markGltfBones(c);
    reserveGltfMeshes(c);
    addGltfMeshes(c);
    if (c.model.triangles.empty()) {
        failGltf(c, "its scene holds no triangles to show");
    }
    if (!document.animations.empty()) {
        c.modelSize = modelSize(c.model);  // what the clips' tolerance is measured against
    }
    buildGltfSkeleton(c);
    addGltfClips(c);
    if (c.skippedPrimitives > 0) {
        noteGltf(c, std::to_string(c.skippedPrimitives) + " primitives of points or lines are not drawn");
    }
    completeGltfNormals(c);
    // The origin stays where the file has it (glTF models stand on it), so a
    // model written by fyrel-convert comes back where it stood.
    yUpToZUpMatrix(c.model.baseTransform);
    c.model.animator.rate = 1.0f;  // key times are seconds
    return std::move(c.model);
}

}  // namespace

Model importGltf(const std::string& path)
{
    const tinygltf::Model document = loadGltfDocument(path);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return convert(document, path, inputBytes(document, error ? 0 : static_cast<std::size_t>(size)),
                   std::filesystem::path(path).parent_path().string());
}

Model importGltfFromMemory(const std::uint8_t* data, std::size_t size, const std::string& fileName)
{
    const tinygltf::Model document = loadGltfDocumentFromMemory(data, size, fileName);
    return convert(document, fileName, inputBytes(document, size), {});
}

}  // namespace fyrel
