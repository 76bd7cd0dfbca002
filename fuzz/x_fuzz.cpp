// libFuzzer target: any bytes handed to the .X importer (text, binary or
// compressed) either load or fail with an ImportError; anything else (a
// crash, a sanitizer report, a hang, a leak, an exception of another kind, a
// broken model invariant, a refusal that took more than 100 times the input's
// size in memory) is a finding. A model that loads is also copied and posed
// the way the import command does it.
//
// Seeds (seeds/x): small skinned and multi-frame files in every encoding,
// written once with .X writers the tests have since dropped (they are files now), and
// animated ones (animated_*: matrix and rotation keys, from
// tests/data/x/animated).
// x.dict holds the format's keywords, template names and binary token codes:
//   x_fuzz -dict=fuzz/x.dict corpus fuzz/seeds/x
#include <cstddef>
#include <cstdint>

#include "importers/x/x_importer.h"
#include "model_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fyrel::fuzz::fuzzImport(data, size, [](const std::uint8_t* bytes, std::size_t length) {
        // A folder that does not exist: relative texture names find nothing.
        fyrel::XImporter importer;
        fyrel::Model imported = importer.loadFromMemory(bytes, length, "/nonexistent-fyrel-fuzz/fuzz.x");
        fyrel::fuzz::require(imported.vertices.size() == importer.vertexTotal);
        fyrel::fuzz::require(imported.triangles.size() == importer.triangleTotal);
        return imported;
    });
}
