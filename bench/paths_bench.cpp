// Arc-length table building and per-frame path binding.
//
// BuildTable: the table of a 100-point path spread over 100 x 100 units,
// rebuilt from scratch each iteration; reports rows built per second.
// Advance: 10,000 consecutive frames of 1/60 s of a plain binding on that
// path; reports advances per second and the table rows the lookup visits per
// advance: with the search hint, the rows the eased distance passes in one
// frame plus one.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "paths/path_binding.h"

using namespace fyrel;

namespace {

// A fixed pseudo-random walk through the square, so every run builds the same
// curve.
Path scatteredPath()
{
    Path path;
    std::uint32_t state = 2024;
    auto coordinate = [&state]() {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / static_cast<float>(1u << 24) * 100.0f;
    };
    for (int i = 0; i < 100; ++i) {
        const float x = coordinate();
        const float y = coordinate();
        path.addControlPoint({x, y, 0.0f});
    }
    path.buildCurve();
    path.buildArcLengthTable();
    return path;
}

void BuildTable(benchmark::State& state)
{
    Path path = scatteredPath();
    std::int64_t rows = 0;
    for (auto _ : state) {
        path.buildArcLengthTable();
        rows += static_cast<std::int64_t>(path.table.size());
        benchmark::DoNotOptimize(path.totalLength);
    }
    state.counters["rows"] = static_cast<double>(path.table.size());
    state.counters["rows_per_s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}
BENCHMARK(BuildTable)->Unit(benchmark::kMillisecond);

// The rows the lookup visits per advance over one run of kFrames frames,
// measured outside the timed loop with the same searches the binding makes.
// 10,000 frames are 1.67 laps; at the wrap the walk goes back from the last
// row to the first once, so the average is also given without that lookup.
constexpr int kFrames = 10000;

struct StepCount {
    double perAdvance = 0.0;
    double perAdvanceBesideWrap = 0.0;
    unsigned atWrap = 0;
};

StepCount countSteps(Path& path)
{
    Model model;
    PathBinding binding{nullptr, &path, &model};
    std::uint64_t steps = 0;
    unsigned most = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        const unsigned hint = binding.searchHint;
        binding.advance(1.0f / 60.0f);
        unsigned visited = 0;
        path.findByDistance(hint, easeDistance(binding.parameter) * path.totalLength, &visited);
        steps += visited;
        most = visited > most ? visited : most;
    }
    return {static_cast<double>(steps) / kFrames, static_cast<double>(steps - most) / (kFrames - 1), most};
}

void Advance(benchmark::State& state)
{
    Path path = scatteredPath();
    Model model;
    std::int64_t advances = 0;
    for (auto _ : state) {
        PathBinding binding{nullptr, &path, &model};
        for (int frame = 0; frame < kFrames; ++frame)
            binding.advance(1.0f / 60.0f);
        advances += kFrames;
        benchmark::DoNotOptimize(model.position);
    }
    state.counters["advances_per_s"] = benchmark::Counter(static_cast<double>(advances), benchmark::Counter::kIsRate);
    const StepCount steps = countSteps(path);
    state.counters["steps_per_advance"] = steps.perAdvance;
    state.counters["steps_beside_wrap"] = steps.perAdvanceBesideWrap;
    state.counters["steps_at_wrap"] = steps.atWrap;
}
BENCHMARK(Advance)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
