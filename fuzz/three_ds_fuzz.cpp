// libFuzzer target: any bytes handed to the .3ds importer either load or fail
// with an ImportError; anything else (a crash, a sanitizer report, a hang, a
// leak, an exception of another kind, a broken model invariant, a refusal
// that took more than 100 times the input's size in memory) is a finding.
// A model that loads is also copied and posed the way the import command
// does it.
#include <cstddef>
#include <cstdint>

#include "importers/three_ds_importer.h"
#include "model_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fyrel::fuzz::fuzzImport(data, size, [](const std::uint8_t* bytes, std::size_t length) {
        return fyrel::import3dsFromMemory(bytes, length);
    });
}
