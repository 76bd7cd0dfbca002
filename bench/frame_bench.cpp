// Whole frames of the program: 20 demo characters (textured), animated, in two views,
// as the frame loop runs them (scene update, then every view draws and
// presents, then pending events). Needs a display: run it under
// xvfb-run -a -s "-screen 0 1600x1200x24" with LIBGL_ALWAYS_SOFTWARE=1.
//
// Reports frames per second and how the frame divides between the scene
// update (bindings, animation, pose, skinning, buffer upload) and drawing.
// Then, with every view closed, the CPU time the frame loop takes per second
// of wall time while nothing is to be drawn (it should wait, not spin).
//
// The program's settings go to a scratch folder, not the user's.

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/application.h"
#include "app/commands.h"
#include "app/frame_loop.h"
#include "platform/window.h"
#include "platform/platform.h"
#include "render/scene_render.h"

using namespace fyrel;

namespace {

constexpr int kCharacters = 20;
constexpr float kFrameDt = 1.0f / 60.0f;

Application* theApp = nullptr;

void Frame(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    Application& app = *theApp;
    double updateSeconds = 0.0, frameSeconds = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        app.makeGlCurrent();
        app.updateScene(kFrameDt);
        flushGl();
        const auto t1 = Clock::now();
        for (std::size_t i = 0; i < app.childWindows.size(); ++i) {
            app.childWindows[i]->frame(kFrameDt);
        }
        int exitCode = 0;
        drainEvents(exitCode);
        const auto t2 = Clock::now();
        updateSeconds += std::chrono::duration<double>(t1 - t0).count();
        frameSeconds += std::chrono::duration<double>(t2 - t0).count();
    }
    const double frames = static_cast<double>(state.iterations());
    std::size_t vertices = 0;
    for (const Model& m : app.models) {
        vertices += m.vertices.size();
    }
    state.counters["fps"] = frames / frameSeconds;
    state.counters["update_ms"] = updateSeconds / frames * 1e3;
    state.counters["draw_ms"] = (frameSeconds - updateSeconds) / frames * 1e3;
    state.counters["update_share_%"] = 100.0 * updateSeconds / frameSeconds;
    state.SetLabel(std::to_string(app.models.size()) + " characters (" + std::to_string(vertices) +
                   " vertices) in " + std::to_string(app.childWindows.size()) + " views");
}

// The same frames with the characters' texture taken away (their buffers
// made again without it): drawing the image should cost next to nothing.
void FrameWithoutTextures(benchmark::State& state)
{
    static const bool stripped = [] {
        theApp->makeGlCurrent();
        for (Model& model : theApp->models) {
            for (Material& material : model.materials) {
                material.texturePath.clear();
                material.embeddedTexture.reset();
            }
            model.buffers.reset();
        }
        return true;
    }();
    (void)stripped;
    Frame(state);
}

// Whole turns of the frame loop with no view open, each iteration two
// seconds of wall time.
void IdleLoop(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    Application& app = *theApp;
    while (!app.childWindows.empty()) {
        destroyWindow(app.childWindows.back()->windowHandle);
    }
    double cpuSeconds = 0.0, wallSeconds = 0.0, turns = 0.0;
    FrameLoopState loop;
    loop.start = Clock::now();
    int exitCode = 0;
    for (auto _ : state) {
        const std::clock_t cpu0 = std::clock();
        const auto t0 = Clock::now();
        while (Clock::now() - t0 < std::chrono::seconds(2)) {
            runFrameTurn(app, loop, exitCode);
            turns += 1.0;
        }
        cpuSeconds += static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
        wallSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    state.counters["cpu_%"] = 100.0 * cpuSeconds / wallSeconds;
    state.counters["turns_per_s"] = turns / wallSeconds;
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "frame_bench needs a display: run it under xvfb-run\n");
        return 1;
    }
    const std::filesystem::path settings = std::filesystem::temp_directory_path() / "fyrel-frame-bench-settings";
    ::setenv("XDG_CONFIG_HOME", settings.c_str(), 1);
    Platform platform(argc, argv);
    Application app;
    commandOpenGlWindow(app);
    const std::string demo = std::string(FYREL_SOURCE_DIR) + "/resources/demo/walker.ms3d";
    for (int i = 0; i < kCharacters; ++i) {
        importFileByName(app, demo);
    }
    if (app.models.size() != static_cast<std::size_t>(kCharacters) || app.childWindows.size() != 2) {
        std::fprintf(stderr, "frame_bench: could not import %s into two views\n", demo.c_str());
        return 1;
    }
    // A 5 x 4 grid around the origin, in front of the views' cameras, each
    // character at a different point of its walk.
    for (int i = 0; i < kCharacters; ++i) {
        Model& model = app.models[static_cast<std::size_t>(i)];
        model.position = Vector3{static_cast<float>(i % 5 - 2) * 2.0f, static_cast<float>(i / 5) * 2.0f - 3.0f, 0.0f};
        model.animator.time = 0.05f * static_cast<float>(i);
    }
    theApp = &app;
    benchmark::RegisterBenchmark("Frame", Frame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
    benchmark::RegisterBenchmark("FrameWithoutTextures", FrameWithoutTextures)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(3.0);
    benchmark::RegisterBenchmark("IdleLoop", IdleLoop)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theApp = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(settings, ignored);
    return 0;
}
