// libFuzzer target: any bytes handed to the glTF importer (JSON or GLB, by
// the first four bytes) either load or fail with an ImportError; anything
// else (a crash, a sanitizer report, a hang, a leak, an exception of another
// kind, a broken model invariant, a refusal that took more than 100 times the
// input's size in memory) is a finding. Models that load are copied and
// posed as the program does. From memory no external file is ever read.
#include <cstddef>
#include <cstdint>

#include "importers/gltf/gltf_importer.h"
#include "model_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fyrel::fuzz::fuzzImport(data, size, [](const std::uint8_t* bytes, std::size_t length) {
        return fyrel::importGltfFromMemory(bytes, length, "fuzz.gltf");
    });
}
