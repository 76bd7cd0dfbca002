// libFuzzer target: any bytes handed to the .ms3d importer either load or fail
// with an ImportError; anything else (a crash, a sanitizer report, a hang, a
// leak, an exception of another kind, a broken model invariant, a refusal
// that took more than 100 times the input's size in memory) is a finding.
// A model that loads is also copied, played and posed the way the import
// command does it, so that what the importer builds is exercised downstream.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "heap_meter.h"
#include "importers/import_error.h"
#include "importers/ms3d_importer.h"
#include "scene/debug_output.h"

namespace {

using namespace fyrel;

void require(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

// Every weight names a vertex; the tree is no deeper than allowed.
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

void checkModel(const Model& m)
{
    for (const Triangle& t : m.triangles) {
        for (std::uint32_t index : t.indices) {
            require(index < m.vertices.size());
        }
    }
    checkBones(m.rootBone, m.vertices.size(), 1);
    for (const Animation& a : m.animator.animations) {
        for (const std::vector<KeyFrame>& track : a.tracks) {
            require(!track.empty());
            for (std::size_t k = 0; k < track.size(); ++k) {
                require(track[k].bone == track[0].bone);
                require(k == 0 || !(track[k].time < track[k - 1].time));
                require(track[k].time <= a.length);
            }
        }
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
        const Model imported = importMs3dFromMemory(data, size, "fuzz.ms3d");
        checkModel(imported);
        Model m(imported);
        for (float dt : {1.0f, 0.37f, 5.0f}) {
            m.animator.update(dt);
            m.updatePose();
        }
    } catch (const ImportError&) {
        // Refusing a file takes at most 100 times its size (plus 1 MiB of
        // tables that do not grow with it).
        if (heap.peakAbove() > 100 * size + (std::size_t{1} << 20)) {
            __builtin_trap();
        }
    }
    return 0;
}
