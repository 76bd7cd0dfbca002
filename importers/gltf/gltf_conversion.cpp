#include "importers/gltf/gltf_conversion.h"

#include <limits>

#include "diagnostics/debug_output.h"
#include "importers/gltf/gltf_document.h"
#include "importers/gltf/gltf_importer.h"
#include "importers/import_error.h"

namespace fyrel {

GltfConversion::GltfConversion(const tinygltf::Model& document, const std::string& name, std::string modelFolder,
                               std::size_t inputBytes)
    : doc(document), fileName(name), folder(std::move(modelFolder))
{
    const std::size_t perByte = kGltfMemoryPerInputByte;
    budget = inputBytes > (std::numeric_limits<std::size_t>::max() - (1u << 20)) / perByte
                 ? std::numeric_limits<std::size_t>::max()  // as good as no limit
                 : inputBytes * perByte + (1u << 20);
}

void failGltf(const GltfConversion& c, const std::string& what)
{
    throw ImportError(gltfMessage(c.fileName, what));
}

void noteGltf(const GltfConversion& c, const std::string& what)
{
    debugOutput("glTF: \"" + c.fileName + "\": " + what + "\n");
}

void spendGltf(GltfConversion& c, std::size_t bytes)
{
    if (bytes > c.budget) {
        failGltf(c, "the model would take more memory than a file of this size may claim");
    }
    c.budget -= bytes;
}

}  // namespace fyrel
