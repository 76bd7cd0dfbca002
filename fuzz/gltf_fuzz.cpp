// libFuzzer target: any bytes handed to the glTF importer (JSON or GLB, by
// the first four bytes) either load or fail with an ImportError; anything
// else (a crash, a sanitizer report, a hang, a leak, an exception of another
// kind, a broken model invariant, a refusal that took more than 100 times the
// input's size in memory) is a finding. Models that load are copied and
// posed as the program does. External files are never read from memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "importers/gltf/gltf_importer.h"
#include "importers/import_error.h"
#include "model_checks.h"
#include "scene/debug_output.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = [] {
        fyrel::setDebugSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    const fyrel::test::HeapMeasure heap;
    try {
        const fyrel::Model imported = fyrel::importGltfFromMemory(data, size, "fuzz.gltf");
        fyrel::fuzz::checkModel(imported);
        fyrel::fuzz::playCopy(imported);
    } catch (const fyrel::ImportError&) {
        fyrel::fuzz::checkRefusalCost(heap, size);
    }
    return 0;
}
