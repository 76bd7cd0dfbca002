// libFuzzer target: any bytes handed to the .3ds importer either load or fail
// with an ImportError; anything else (a crash, a sanitizer report, a hang, a
// leak, an exception of another kind) is a finding.
#include <cstddef>
#include <cstdint>

#include "importers/import_error.h"
#include "importers/three_ds_importer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
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
    }
    return 0;
}
