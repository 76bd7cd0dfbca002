// Whole frames of the program: demo characters (textured), animated, in
// views of 640 x 480 cascaded in the main window (as View > Open GlWindow
// opens them), as the frame loop runs them (scene update,
// then every view draws and presents, then pending events): 1 character in
// 1 view, 10 in 4 and 20 in 2, also with every camera turning (each frame a
// new picture of the ground). Needs a display: run it under
// xvfb-run -a -s "-screen 0 1600x1200x24" with LIBGL_ALWAYS_SOFTWARE=1.
//
// Reports frames per second and how the frame divides between the scene
// update (bindings, animation, pose, skinning, buffer upload), the views'
// render passes and the presentation (the events that follow, in which the
// views are composed into the window), and what each view costs.
// Then the frame loop on its own, paused, playing a still scene, playing paced
// or as fast as it can, and with no view: frames drawn and CPU time per second
// of wall time (a still program should draw nothing and wait, not spin).
//
// The program's settings go to a scratch folder, not the user's.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/application.h"
#include "app/commands.h"
#include "app/frame_loop.h"
#include "app/transport.h"
#include "importers/model_formats.h"
#include "platform/window.h"
#include "platform/platform.h"
#include "render/scene_render.h"
#include "ui/gl_window.h"

using namespace fyrel;

namespace {

constexpr float kFrameDt = 1.0f / 60.0f;

Application* theApp = nullptr;
std::string demoPath;

// characters demo characters in views views; false when the scene could
// not be made.
bool arrange(Application& app, int characters, int views)
{
    commandRemoveAllModels(app);
    while (app.childWindows.size() > static_cast<std::size_t>(views)) {
        destroyWindow(app.childWindows.back()->windowHandle);
    }
    while (app.childWindows.size() < static_cast<std::size_t>(views)) {
        commandOpenGlWindow(app);
    }
    for (int i = 0; i < characters; ++i) {
        importFileByName(app, demoPath);
    }
    if (app.models.size() != static_cast<std::size_t>(characters) ||
        app.childWindows.size() != static_cast<std::size_t>(views)) {
        return false;
    }
    // Rows of five around the origin, in front of the views' cameras, each
    // character at a different point of its walk.
    for (int i = 0; i < characters; ++i) {
        Model& model = app.models[static_cast<std::size_t>(i)];
        model.position = Vector3{static_cast<float>(i % 5 - 2) * 2.0f, static_cast<float>(i / 5) * 2.0f - 3.0f, 0.0f};
        model.animator.time = 0.05f * static_cast<float>(i);
    }
    commandFrameAll(app);
    int exitCode = 0;
    drainEvents(exitCode);
    return true;
}

void stripTextures(Application& app);

// Processor time of the whole program, its rasterizer threads included:
// what the frame costs the machine, which other processes sharing it do
// not inflate as they do the wall time.
double processSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Every view's camera turned a little about the world z axis, as while the
// user drags: nothing a view kept from the last frame can be shown again.
void turnCameras(Application& app)
{
    for (const auto& window : app.childWindows) {
        EulerCameraFov& camera = static_cast<GlWindow&>(*window).camera;
        camera.angles.z += 0.002f;
        camera.updateView();
    }
}

// range(0) characters in range(1) views.
void frames(benchmark::State& state, bool withoutTextures, bool turning = false)
{
    using Clock = std::chrono::steady_clock;
    Application& app = *theApp;
    const auto characters = static_cast<int>(state.range(0));
    const auto views = static_cast<int>(state.range(1));
    if (!arrange(app, characters, views)) {
        state.SkipWithError("could not import the demo character into the views");
        return;
    }
    if (withoutTextures) {
        stripTextures(app);
    }
    double updateSeconds = 0.0, renderSeconds = 0.0, frameSeconds = 0.0;
    const double cpu0 = processSeconds();
    for (auto _ : state) {
        if (turning) {
            turnCameras(app);
        }
        const auto t0 = Clock::now();
        app.makeGlCurrent();
        app.updateScene(kFrameDt);
        flushGl();
        const auto t1 = Clock::now();
        for (std::size_t i = 0; i < app.childWindows.size(); ++i) {
            app.childWindows[i]->frame(kFrameDt);
        }
        refreshTransport(app, kFrameDt);
        const auto t2 = Clock::now();
        int exitCode = 0;
        drainEvents(exitCode);
        const auto t3 = Clock::now();
        updateSeconds += std::chrono::duration<double>(t1 - t0).count();
        renderSeconds += std::chrono::duration<double>(t2 - t1).count();
        frameSeconds += std::chrono::duration<double>(t3 - t0).count();
    }
    const double cpuSeconds = processSeconds() - cpu0;
    const double frames = static_cast<double>(state.iterations());
    std::size_t vertices = 0;
    for (const Model& m : app.models) {
        vertices += m.vertices.size();
    }
    const double drawSeconds = frameSeconds - updateSeconds;
    state.counters["fps"] = frames / frameSeconds;
    state.counters["update_ms"] = updateSeconds / frames * 1e3;
    state.counters["render_ms"] = renderSeconds / frames * 1e3;
    state.counters["present_ms"] = (drawSeconds - renderSeconds) / frames * 1e3;
    state.counters["per_view_ms"] = drawSeconds / frames * 1e3 / views;
    state.counters["cpu_ms"] = cpuSeconds / frames * 1e3;
    state.SetLabel(std::to_string(app.models.size()) + " characters (" + std::to_string(vertices) +
                   " vertices) in " + std::to_string(app.childWindows.size()) + " views");
}

// The characters' texture taken away (their buffers made again without
// it): drawing the image should cost next to nothing.
void stripTextures(Application& app)
{
    app.makeGlCurrent();
    for (Model& model : app.models) {
        for (Material& material : model.materials) {
            material.texturePath.clear();
            material.embeddedTexture.reset();
        }
        model.buffers.reset();
    }
}

void Frame(benchmark::State& state)
{
    frames(state, false);
}

void FrameWithoutTextures(benchmark::State& state)
{
    frames(state, true);
}

void FrameTurning(benchmark::State& state)
{
    frames(state, false, true);
}

// Whole turns of the frame loop, each iteration two seconds of wall time,
// with one demo character in one view: range(0) = 0 paused, 1 playing a
// scene in which nothing moves (the character's clip unselected), 2 playing
// paced to the display (the default), 3 playing as fast as it can (Sync to
// Display off), 4 playing with no view open. No input arrives: frames_per_s
// is pictures that reached the screen per second of wall time, cpu_% the
// program's processor time (rasterizer threads included) per wall time.
void FrameLoop(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    static const char* const kStates[] = {"paused", "playing nothing", "playing, paced",
                                          "playing, as fast as it can", "playing, no view"};
    const auto which = static_cast<int>(state.range(0));
    Application& app = *theApp;
    if (!arrange(app, 1, which == 4 ? 0 : 1)) {
        state.SkipWithError("could not import the demo character into the view");
        return;
    }
    app.playback.playing = which != 0;
    app.syncToDisplay = which != 3;
    if (which == 1) {
        app.models[0].animator.current = -1;
    }
    double cpuSeconds = 0.0, wallSeconds = 0.0, drawn = 0.0;
    FrameLoopState loop;
    loop.start = Clock::now();
    int exitCode = 0;
    // The pictures the import and the arrangement asked for, before measuring.
    for (const auto settle = Clock::now(); Clock::now() - settle < std::chrono::milliseconds(500);) {
        runFrameTurn(app, loop, exitCode);
    }
    for (auto _ : state) {
        const double cpu0 = processSeconds();
        const std::uint64_t drawn0 = loop.turnsDrawn;
        const auto t0 = Clock::now();
        while (Clock::now() - t0 < std::chrono::seconds(2)) {
            runFrameTurn(app, loop, exitCode);
        }
        cpuSeconds += processSeconds() - cpu0;
        wallSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
        drawn += static_cast<double>(loop.turnsDrawn - drawn0);
    }
    state.counters["cpu_%"] = 100.0 * cpuSeconds / wallSeconds;
    state.counters["frames_per_s"] = drawn / wallSeconds;
    state.SetLabel(kStates[which]);
    app.playback.playing = true;
    app.syncToDisplay = true;
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
    keepFreedMemoryForReuse();  // the allocator as the program's main sets it
    Platform platform(argc, argv);
    Application app;
    demoPath = std::string(FYREL_SOURCE_DIR) + "/resources/demo/walker.ms3d";
    theApp = &app;
    for (auto* b : {benchmark::RegisterBenchmark("Frame", Frame),
                    benchmark::RegisterBenchmark("FrameWithoutTextures", FrameWithoutTextures),
                    benchmark::RegisterBenchmark("FrameTurning", FrameTurning)}) {
        b->Args({1, 1})->Args({10, 4})->Args({20, 2})->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
    }
    benchmark::RegisterBenchmark("FrameLoop", FrameLoop)->DenseRange(0, 4)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theApp = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(settings, ignored);
    return 0;
}
