// Per-frame animation cost on synthetic characters (64 bones):
//  - Frame: Animator::update + Model::updatePose + uploadSkinned (staging copy,
//    GL calls that do nothing), 10k and 100k vertices, 1 and 4 weights.
//  - UpdatePose: pose evaluation and skinning alone, 100k and 1M vertices,
//    with a memcpy of the same number of bytes timed in the same run.
//  Processor time of this thread is what counts (the items/s column), so that
//  other processes on a shared machine weigh less.
//  - AnimatorUpdate: key-frame sampling of 64 tracks of 61 keys.
// Weighted vertices/s and bone samples/s are the items/s column.

#include <benchmark/benchmark.h>

#include <time.h>

#include <cstring>
#include <vector>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "render/model_buffers.h"
#include "scene/model.h"
#include "tests/animation/test_scenes.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

constexpr float kFrameDt = 1.0f / 60.0f;
constexpr float kKeySpacing = 1.0f / 30.0f;  // a key boundary every other frame at rate 1
constexpr std::size_t kKeys = 61;
constexpr std::size_t kBones = 64;

// GL entry points that accept everything and do nothing, so the frame
// measures the CPU side of the upload only.
void noGen(GlSizei n, GlUint* names)
{
    for (GlSizei i = 0; i < n; ++i) {
        names[i] = static_cast<GlUint>(i + 1);
    }
}
void noBind(GlEnum, GlUint) {}
void noData(GlEnum, GlSizeiptr, const void* data, GlEnum) { benchmark::DoNotOptimize(data); }
void noDelete(GlSizei, const GlUint*) {}

const GlFunctions& noGl()
{
    static const GlFunctions table = [] {
        GlFunctions t;
        t.genBuffers = noGen;
        t.bindBuffer = noBind;
        t.bufferData = noData;
        t.deleteBuffers = noDelete;
        return t;
    }();
    return table;
}

Model character(std::size_t vertices, int weights)
{
    CharacterShape shape;
    shape.vertexCount = vertices;
    shape.boneCount = kBones;
    shape.weightsPerVertex = weights;
    Model model = makeCharacter(shape);
    addClip(model, kKeys, kKeySpacing, 7);
    model.animator.rate = 1.0f;
    return model;
}

std::size_t weightBytes(const Bone& bone)
{
    std::size_t bytes = bone.weights.size() * sizeof(VertexWeight);
    for (const Bone& child : bone.children) {
        bytes += weightBytes(child);
    }
    return bytes;
}

void Frame(benchmark::State& state)
{
    const auto vertices = static_cast<std::size_t>(state.range(0));
    const int weights = static_cast<int>(state.range(1));
    Model model = character(vertices, weights);
    createBuffers(model, &noGl());
    for (auto _ : state) {
        updateAnimator(model.animator, kFrameDt);
        updatePose(model);
        uploadSkinned(model);
        benchmark::DoNotOptimize(modelBuffers(model)->positions.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(vertices));
    state.SetLabel("weighted vertices/s");
}

// This thread's processor time in seconds: other processes sharing the
// machine do not count against the step or the memcpy.
double threadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Bytes updatePose must move: it reads the bind-pose vertices and every
// weight as the bones list them, and writes skinnedVertices. After the timed
// loop, memcpy copies that many bytes as many times, timed the same way
// (this thread's processor time, warm caches as for the pose); ratio = memcpy
// time / pose time, so 1.0 means the pose moves its bytes as fast as memcpy
// copies as many.
void UpdatePose(benchmark::State& state)
{
    const auto vertices = static_cast<std::size_t>(state.range(0));
    const int weights = static_cast<int>(state.range(1));
    Model model = character(vertices, weights);
    randomPose(model, 3);
    updatePose(model);

    const double started = threadSeconds();
    for (auto _ : state) {
        updatePose(model);
        benchmark::DoNotOptimize(model.skinnedVertices.data());
        benchmark::ClobberMemory();
    }
    const double poseSeconds = threadSeconds() - started;

    const std::size_t bytes = vertices * sizeof(Vertex) * 2 + weightBytes(model.rootBone);
    std::vector<unsigned char> from(bytes, 1), to(bytes, 2);
    std::memcpy(to.data(), from.data(), bytes);
    const double copyStarted = threadSeconds();
    for (std::int64_t i = 0; i < state.iterations(); ++i) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    const double copySeconds = threadSeconds() - copyStarted;

    const double n = static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(vertices));
    state.counters["pose_GB/s"] = static_cast<double>(bytes) * n / poseSeconds * 1e-9;
    state.counters["memcpy_GB/s"] = static_cast<double>(bytes) * n / copySeconds * 1e-9;
    state.counters["ratio"] = copySeconds / poseSeconds;
    state.SetLabel("weighted vertices/s; " + std::to_string(bytes / 1000000) + " MB moved");
}

void AnimatorUpdate(benchmark::State& state)
{
    Model model = character(1000, 1);
    const std::int64_t tracks = static_cast<std::int64_t>(model.animator.animations[0].tracks.size());
    for (auto _ : state) {
        updateAnimator(model.animator, kFrameDt);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * tracks);
    state.SetLabel("bone samples/s, " + std::to_string(tracks) + " tracks of " + std::to_string(kKeys) + " keys");
}

}  // namespace

BENCHMARK(Frame)->ArgsProduct({{10000, 100000}, {1, 4}})->Unit(benchmark::kMicrosecond);
BENCHMARK(UpdatePose)->ArgsProduct({{100000, 1000000}, {1, 4}})->Unit(benchmark::kMicrosecond);
BENCHMARK(AnimatorUpdate)->Unit(benchmark::kNanosecond);

BENCHMARK_MAIN();
