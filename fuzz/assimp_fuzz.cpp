// libFuzzer target: the import worker's side of one format family (the
// ending FYREL_FUZZ_ENDING, one program per family): Assimp reads the bytes,
// the conversion makes a model, the wire carries it and the program's reader
// checks it. Either a model comes out, which must keep the invariants and
// survive being played, or an ImportError (Assimp's refusal or ours). A
// crash, a sanitizer report or a hang in our conversion or reader is a
// finding; so is one inside Assimp, which the program survives (the worker
// dies, the import fails), but which is recorded (fuzz/README.md).
// Assimp is Debian's build: only our code is instrumented.
//
// Seeds: the files of the family in assimp-testmodels (fuzz/README.md),
// fuzz/seeds/bvh for BVH (the motions cut to a few frames).
#include <cstddef>
#include <cstdint>
#include <new>

#include "importers/assimp/assimp_conversion.h"
#include "importers/assimp/model_wire.h"
#include "model_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = [] {
        fyrel::setDebugSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    try {
        const std::vector<std::uint8_t> wire = fyrel::readWithAssimpFromMemory(data, size, FYREL_FUZZ_ENDING);
        const fyrel::WireModel read = fyrel::readModelWire(wire.data(), wire.size(), "fuzz." FYREL_FUZZ_ENDING);
        fyrel::fuzz::checkModel(read.model);
        fyrel::fuzz::playCopy(read.model);
        fyrel::fuzz::decodeTextures(read.model);
    } catch (const fyrel::ImportError&) {
    } catch (const std::bad_alloc&) {
        // The worker's memory limit: a refusal in the program.
    }
    return 0;
}
