// libFuzzer target: any bytes handed to the .X importer (text, binary or
// compressed) either load or fail with an ImportError; anything else (a
// crash, a sanitizer report, a hang, a leak, an exception of another kind, a
// broken model invariant, a refusal that took more than 100 times the input's
// size in memory) is a finding. A model that loads is also copied and posed
// the way the import command does it.
//
// Seeds (seeds/x): small skinned and multi-frame files in every encoding,
// written with the tests' .X writers (tests/importers/x_test_files.h).
// x.dict holds the format's keywords, template names and binary token codes:
//   x_fuzz -dict=fuzz/x.dict corpus fuzz/seeds/x
#include <cstddef>
#include <cstdint>
#include <string>

#include "heap_meter.h"
#include "importers/import_error.h"
#include "importers/x_importer.h"
#include "scene/debug_output.h"

namespace {

using namespace fyrel;

void require(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

void checkBones(const Bone& bone, std::size_t vertexCount, int depth)
{
    require(depth <= kMaxBoneDepth);
    for (const VertexWeight& w : bone.weights) {
        require(w.vertex >= 0 && static_cast<std::size_t>(w.vertex) < vertexCount);
    }
    for (const Bone& child : bone.children) {
        checkBones(child, vertexCount, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = [] {
        setDebugSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    const fyrel::test::HeapMeasure heap;
    try {
        // A folder that does not exist: relative texture names find nothing.
        XImporter importer;
        const Model imported = importer.importXFromMemory(data, size, "/nonexistent-fyrel-fuzz/fuzz.x");
        require(imported.vertices.size() == importer.vertexTotal);
        require(imported.triangles.size() == importer.triangleTotal);
        for (const Triangle& t : imported.triangles) {
            for (std::uint32_t index : t.indices) {
                require(index < imported.vertices.size());
            }
        }
        checkBones(imported.rootBone, imported.vertices.size(), 1);
        Model m(imported);
        m.animator.update(1.0f);
        m.updatePose();
    } catch (const ImportError&) {
        // Refusing a file takes at most 100 times its size (plus 1 MiB of
        // tables that do not grow with it).
        if (heap.peakAbove() > 100 * size + (std::size_t{1} << 20)) {
            __builtin_trap();
        }
    }
    return 0;
}
