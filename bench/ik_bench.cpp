// Solves per second and steps per solve of the IK chain solver, for a 6-bone
// and a 20-bone chain, each solve starting from the same bent start pose and
// aiming at one of a fixed set of reachable targets.

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "ik/ik_controller.h"
#include "tests/animation/test_scenes.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

void solveReachable(benchmark::State& state)
{
    const int bones = static_cast<int>(state.range(0));
    std::mt19937 rng(1234u);
    Model model = makeRig(Shape::Line, bones, Placement::Moved, rng);
    const std::string effector = "b" + std::to_string(bones - 1);

    std::vector<Vector3> targets;
    for (int i = 0; i < 64; ++i) {
        randomizeInnerBones(model, bones, rng);
        targets.push_back(evaluatedOrigin(model, effector));
    }
    randomizeInnerBones(model, bones, rng);

    Matrix4 placement;
    model.worldTransform(placement);
    IkController ik(effector, Vector3{}, &model);
    ik.buildChain(model.rootBone);
    std::vector<Quaternion> start;
    for (const Bone* b : ik.chain) {
        start.push_back(b->rotation);
    }

    std::size_t next = 0;
    std::int64_t steps = 0, reached = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < start.size(); ++i) {
            ik.chain[i]->rotation = start[i];
        }
        ik.target = targets[next];
        next = (next + 1) % targets.size();
        const int n = ik.solve();
        steps += n;
        Vector3 miss;
        reached += length(difference(ik.target, ik.chainEffector(placement, 0), miss)) < kEpsilon ? 1 : 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["steps/solve"] = benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kAvgIterations);
    state.counters["reached"] = benchmark::Counter(static_cast<double>(reached), benchmark::Counter::kAvgIterations);
}

}  // namespace

BENCHMARK(solveReachable)->Arg(6)->Arg(20)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
