// libFuzzer target: any bytes handed to the .3ds importer either load or fail
// with an ImportError; anything else (a crash, a sanitizer report, a hang, a
// leak, an exception of another kind, a broken model invariant, a refusal
// that took more than 100 times the input's size in memory) is a finding.
// A model that loads is also copied and posed the way the import command
// does it.
#include <cstddef>
#include <cstdint>

#include "importers/import_error.h"
#include "importers/three_ds_importer.h"
#include "model_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fyrel::test::HeapMeasure heap;
    try {
        const fyrel::Model imported = fyrel::import3dsFromMemory(data, size);
        fyrel::fuzz::checkModel(imported);
        fyrel::fuzz::playCopy(imported);
    } catch (const fyrel::ImportError&) {
        fyrel::fuzz::checkRefusalCost(heap, size);
    }
    return 0;
}
