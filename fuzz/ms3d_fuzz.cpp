// libFuzzer target: any bytes handed to the .ms3d importer either load or fail
// with an ImportError; anything else (a crash, a sanitizer report, a hang, a
// leak, an exception of another kind, a broken model invariant, a refusal
// that took more than 100 times the input's size in memory) is a finding.
// A model that loads is also copied, played and posed the way the import
// command does it, so that what the importer builds is exercised downstream.
#include <cstddef>
#include <cstdint>
#include <string>

#include "importers/import_error.h"
#include "importers/ms3d_importer.h"
#include "model_checks.h"
#include "diagnostics/debug_output.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = [] {
        fyrel::setDebugSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    const fyrel::test::HeapMeasure heap;
    try {
        const fyrel::Model imported = fyrel::importMs3dFromMemory(data, size, "fuzz.ms3d");
        fyrel::fuzz::checkModel(imported);
        fyrel::fuzz::playCopy(imported);
    } catch (const fyrel::ImportError&) {
        fyrel::fuzz::checkRefusalCost(heap, size);
    }
    return 0;
}
