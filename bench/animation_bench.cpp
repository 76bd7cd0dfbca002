// Per-frame animation cost on synthetic characters (64 bones):
//  - Frame: Animator::update + Model::updatePose + uploadSkinned (staging copy,
//    GL calls that do nothing), 10k and 100k vertices, 1 and 4 weights.
//  - UpdatePose: pose evaluation and skinning alone, 100k and 1M vertices,
//    with a memcpy of the same number of bytes timed in the same run.
//  Processor time of this thread is what counts (the items/s column), so that
//  other processes on a shared machine weigh less.
//  - AnimatorUpdate: key-frame sampling of 64 tracks of 61 keys.
//  - Pose: pose evaluation alone (the world matrices of 65 bones, or those
//    and the skinning palette), and sampling followed by it, over the
//    flattened skeleton, with the bone-by-bone walk timed the same way in the
//    same run.
// Weighted vertices/s and bone samples/s are the items/s column.
//
// Built with FYREL_OZZ_SOURCE (bench/README.md), ozz-animation does the same
// work on the same character in the same run after each of our timed loops,
// as many times and timed the same way: ozz_ratio = ozz's time / ours (above
// 1: we are faster). animation_bench meets ozz's default (SSE2) build with
// our SSE2 path, animation_bench_native its -march=native build with our
// widest path.

#include <benchmark/benchmark.h>

#include <time.h>

#include <cstring>
#include <vector>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "animation/skinning.h"
#include "math/cpu_features.h"
#include "render/model_buffers.h"
#include "scene/model.h"
#include "tests/animation/test_scenes.h"

#ifdef FYREL_OZZ_PEER
#include <string_view>

#include "bench/ozz_peer.h"
#endif

using namespace fyrel;
using namespace fyrel::test;

namespace {

constexpr float kFrameDt = 1.0f / 60.0f;
constexpr float kKeySpacing = 1.0f / 30.0f;  // a key boundary every other frame at rate 1
constexpr std::size_t kKeys = 61;
constexpr std::size_t kBones = 64;

#ifdef FYREL_OZZ_PEER
constexpr bool kPeerIsSse2 = std::string_view(FYREL_OZZ_PEER) == "ozz SSE2";
#else
constexpr bool kPeerIsSse2 = false;
#endif

// The vector path of ours that the rows measure: SSE2 against ozz's default
// build, else the widest this processor runs.
VectorBackend measuredBackend(VectorBackend widest)
{
    return kPeerIsSse2 ? VectorBackend::Sse2 : widest;
}

// Sets the measured backend for the life of a row and restores the one before.
struct BackendForRow {
    VectorBackend saved = activeVectorBackend();
    BackendForRow() { useVectorBackend(measuredBackend(saved)); }
    ~BackendForRow() { useVectorBackend(saved); }
};

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
    const BackendForRow backend;
    Model model = character(vertices, weights);
    createBuffers(model, &silentGl());
    for (auto _ : state) {
        updateAnimator(model, kFrameDt);
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

// Times reps calls of step with this thread's processor time.
template <typename Step>
double timed(std::int64_t reps, Step step)
{
    const double started = threadSeconds();
    for (std::int64_t i = 0; i < reps; ++i) {
        step();
        benchmark::ClobberMemory();
    }
    return threadSeconds() - started;
}

// Bytes updatePose must move: it reads the bind-pose vertices and every
// weight as the bones list them, and writes skinnedVertices. After the timed
// loop, memcpy copies that many bytes as many times, and the portable
// (scalar) kernel skins as many times, timed the same way (this thread's
// processor time, warm caches as for the pose): ratio = memcpy time / pose
// time, so 1.0 means the pose moves its bytes as fast as memcpy copies as
// many; scalar_ratio = portable kernel's time / the widest kernel's, the
// same-run reference that machine drift does not move; ozz_ratio = ozz's
// time for LocalToModel, the palette and SkinningJob (positions and normals)
// / ours.
void UpdatePose(benchmark::State& state)
{
    const auto vertices = static_cast<std::size_t>(state.range(0));
    const int weights = static_cast<int>(state.range(1));
    const BackendForRow backend;
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
    const double copySeconds = timed(state.iterations(), [&] {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
    });
    const VectorBackend widest = activeVectorBackend();
    useVectorBackend(VectorBackend::Portable);
    updatePose(model);
    const double scalarSeconds = timed(state.iterations(), [&] {
        updatePose(model);
        benchmark::DoNotOptimize(model.skinnedVertices.data());
    });
    useVectorBackend(widest);
#ifdef FYREL_OZZ_PEER
    bench::OzzPeer ozz(model);
    ozz.takePose(model);
    const double ozzSeconds = timed(state.iterations(), [&] {
        ozz.localToModel();
        ozz.palette();
        ozz.skin();
        benchmark::DoNotOptimize(ozz.skinned());
    });
    state.counters["ozz_ratio"] = ozzSeconds / poseSeconds;
    state.counters["ozz_vertices/s"] = static_cast<double>(vertices) * static_cast<double>(state.iterations()) / ozzSeconds;
#endif

    const double n = static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(vertices));
    state.counters["pose_GB/s"] = static_cast<double>(bytes) * n / poseSeconds * 1e-9;
    state.counters["memcpy_GB/s"] = static_cast<double>(bytes) * n / copySeconds * 1e-9;
    state.counters["ratio"] = copySeconds / poseSeconds;
    state.counters["scalar_ratio"] = scalarSeconds / poseSeconds;
    state.SetLabel("weighted vertices/s; " + std::to_string(bytes / 1000000) + " MB moved");
}

// ozz_ratio = SamplingJob's time / ours, on the same clip.
void AnimatorUpdate(benchmark::State& state)
{
    const BackendForRow backend;
    Model model = character(1000, 1);
    const std::int64_t tracks = static_cast<std::int64_t>(model.animator.animations[0].tracks.size());
    const double started = threadSeconds();
    for (auto _ : state) {
        updateAnimator(model, kFrameDt);
        benchmark::ClobberMemory();
    }
    const double ourSeconds = threadSeconds() - started;
#ifdef FYREL_OZZ_PEER
    bench::OzzPeer ozz(model);
    const double ozzSeconds = timed(state.iterations(), [&] { ozz.sample(kFrameDt); });
    state.counters["ozz_ratio"] = ozzSeconds / ourSeconds;
#endif
    state.counters["us"] = ourSeconds / static_cast<double>(state.iterations()) * 1e6;
    state.SetItemsProcessed(state.iterations() * tracks);
    state.SetLabel("bone samples/s, " + std::to_string(tracks) + " tracks of " + std::to_string(kKeys) + " keys");
}

// Pose evaluation of a 65-bone skeleton, with the widest instruction set
// (range 1 = 0) or SSE2 (range 1 = 1): the world matrices alone, what
// LocalToModel makes (range 2 = 0: the model has no vertices), or with the
// skinning matrices of a model that has one vertex to skin (range 2 = 1);
// after sampling its 64 tracks (range 0 = 1) or not. The timed loop is the
// flat evaluation; the walk of the bones runs as many times after it.
// walk_ratio = walk time / flat time; ozz_ratio = ozz's time / ours
// (LocalToModel for the world matrices, with the palette when we make one,
// after SamplingJob with sampling), where our path is the one that meets
// this build of ozz; above 1 means faster.
void Pose(benchmark::State& state)
{
    const bool sampling = state.range(0) != 0;
    const bool skinning = state.range(2) != 0;
    const VectorBackend saved = activeVectorBackend();
    useVectorBackend(state.range(1) != 0 ? VectorBackend::Sse2 : VectorBackend::Avx2);
    Model model = character(skinning ? 1 : 0, 1);
    randomPose(model, 3);
    const std::int64_t joints = static_cast<std::int64_t>(kBones) + 1;
    auto step = [&] {
        if (sampling) {
            updateAnimator(model, kFrameDt);
        }
        updatePose(model);
        benchmark::DoNotOptimize(model.rootBone.children.back().worldMatrix.m[3]);
    };
    usePoseEvaluation(PoseEvaluation::Flat);
    step();
    const double started = threadSeconds();
    for (auto _ : state) {
        step();
        benchmark::ClobberMemory();
    }
    const double flatSeconds = threadSeconds() - started;
    usePoseEvaluation(PoseEvaluation::Walk);
    step();
    const double walkSeconds = timed(state.iterations(), step);
    usePoseEvaluation(PoseEvaluation::Flat);
#ifdef FYREL_OZZ_PEER
    if ((state.range(1) != 0) == kPeerIsSse2) {
        bench::OzzPeer ozz(model);
        ozz.takePose(model);
        const double ozzSeconds = timed(state.iterations(), [&] {
            if (sampling) {
                ozz.sample(kFrameDt);
            }
            ozz.localToModel();
            if (skinning) {
                ozz.palette();
            }
        });
        state.counters["ozz_ratio"] = ozzSeconds / flatSeconds;
    }
#endif

    const double n = static_cast<double>(state.iterations());
    const double flatUs = flatSeconds / n * 1e6;
    state.counters["flat_us"] = flatUs;
    state.counters["walk_us"] = walkSeconds / n * 1e6;
    state.counters["walk_ratio"] = walkSeconds / flatSeconds;
    useVectorBackend(saved);
    state.SetItemsProcessed(state.iterations() * joints);
    state.SetLabel(std::string(sampling ? "sampling + " : "") +
                   (skinning ? "world and skinning matrices" : "world matrices") + ", joints/s, " +
                   std::to_string(joints) + " joints, " + (state.range(1) != 0 ? "SSE2" : "widest"));
}

}  // namespace

BENCHMARK(Pose)->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})->Unit(benchmark::kNanosecond);
BENCHMARK(Frame)->ArgsProduct({{10000, 100000}, {1, 4}})->Unit(benchmark::kMicrosecond);
BENCHMARK(UpdatePose)->ArgsProduct({{100000, 1000000}, {1, 4}})->Unit(benchmark::kMicrosecond);
BENCHMARK(AnimatorUpdate)->Unit(benchmark::kNanosecond);

BENCHMARK_MAIN();
