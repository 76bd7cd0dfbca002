// libFuzzer target: any bytes handed to the .3ds importer either load or fail
// with an ImportError; anything else (a crash, a sanitizer report, a hang, a
// leak, an exception of another kind, a refusal that took more than 100 times
// the input's size in memory) is a finding.
#include <cstddef>
#include <cstdint>

#include "heap_meter.h"
#include "importers/import_error.h"
#include "importers/three_ds_importer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fyrel::test::HeapMeasure heap;
    try {
        const fyrel::Model model = fyrel::import3dsFromMemory(data, size);
        // Every index the importer hands out must name a vertex.
        for (const fyrel::Triangle& t : model.triangles) {
            for (std::uint32_t index : t.indices) {
                if (index >= model.vertices.size()) {
                    __builtin_trap();
                }
            }
        }
    } catch (const fyrel::ImportError&) {
        // Refusing a file takes at most 100 times its size (plus 1 MiB of
        // tables that do not grow with it).
        if (heap.peakAbove() > 100 * size + (std::size_t{1} << 20)) {
            __builtin_trap();
        }
    }
    return 0;
}
