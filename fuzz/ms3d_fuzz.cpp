// libFuzzer target: any bytes handed to the .ms3d importer either load or fail
// with an ImportError; anything else (a crash, a sanitizer report, a hang, a
// leak, an exception of another kind, a broken model invariant, a refusal
// that took more than 100 times the input's size in memory) is a finding.
// A model that loads is also copied, played and posed the way the import
// command does it, so that what the importer builds is exercised downstream.
#include <cstddef>
#include <cstdint>

#include "importers/ms3d_importer.h"
#include "model_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fyrel::fuzz::fuzzImport(data, size, [](const std::uint8_t* bytes, std::size_t length) {
        return fyrel::importMs3dFromMemory(bytes, length, "fuzz.ms3d");
    });
}
