// fyrel-soak: the real program left running, the way a workbench is left
// open for hours. Under a display (xvfb-run), in cycles: 10 model files of
// every format opened through File > Open, four views and a Path Window,
// paths drawn with the mouse and bound, an IK controller chosen in its
// dialog, its target placed and its clip generated and played, the
// transport and the cameras used, frames run by the frame loop itself; then
// every model and path removed, and again.
//
// Every interval (a minute by default) it prints resident memory, the frame
// rate, GL errors and the scene's counts, sampled at the same point of a
// cycle (everything loaded) so that the figures compare. It fails (exit 1)
// when resident memory after the warm-up rises more than 5 % over its first
// reading after the warm-up, on any GL error, and (through the watchdog,
// exit 3) when the event loop stops making progress; a crash prints the
// seed and the last actions.
//
//   fyrel-soak [--seed S] [--minutes M | --seconds T] [--interval SECONDS]
//              [--warmup SECONDS] [--hang-seconds H] [--trace]

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "app/commands.h"
#include "app/frame_loop.h"
#include "diagnostics/debug_output.h"
#include "platform/dialogs.h"
#include "platform/qt_access.h"
#include "platform/window.h"
#include "tools/drive/drive.h"
#include "ui/path_window.h"
#include "ui/resources.h"

using namespace fyrel;
using namespace fyrel::drive;

namespace {

constexpr int kModelsPerFormat = 10;
constexpr double kGrowthLimit = 0.05;
constexpr std::uintmax_t kLargestFile = 1u << 20;  // keeps a cycle a few seconds long in software GL

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Soak {
    Options options;
    Session& session;
    std::mt19937_64 random;
    Watchdog watchdog;
    FrameLoopState loop;
    std::vector<std::string> files;       // the models a cycle opens
    std::string answerPath;               // what the next file dialog answers
    std::vector<std::string> boxes;       // message boxes shown since the last sample
    long step = 0;
    long frames = 0;                      // frame loop turns since the last sample
    std::vector<std::string> glFailures;

    Soak(const Options& o, Session& s) : options(o), session(s), random(o.seed), watchdog(o.hangSeconds) {}

    Application& app() { return *session.app; }

    void act(const std::string& what)
    {
        ActionLog::instance().record(++step, what);
        watchdog.beat();
    }

    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

    // Turns of the program's own frame loop, its GL state checked after each.
    void turns(int count)
    {
        for (int i = 0; i < count; ++i) {
            int exitCode = 0;
            if (runFrameTurn(app(), loop, exitCode)) {
                throw std::runtime_error("the program quit on its own");
            }
            ++frames;
            for (std::string& error : glErrors(app())) {
                glFailures.push_back("step " + std::to_string(step) + ": " + error);
            }
            watchdog.beat();
        }
    }

    void runFor(double seconds)
    {
        const Clock::time_point start = Clock::now();
        while (secondsSince(start) < seconds) {
            turns(1);
        }
    }

    PathWindow* pathWindow()
    {
        for (const auto& view : app().childWindows) {
            if (auto* p = dynamic_cast<PathWindow*>(view.get())) {
                return p;
            }
        }
        return nullptr;
    }

    QPoint somewhere(QWidget* w)
    {
        return {uniform(w->width() / 8, w->width() * 7 / 8), uniform(w->height() / 8, w->height() * 7 / 8)};
    }

    void setUp()
    {
        for (int i = 0; i < 3; ++i) {
            act("View > Open GlWindow");
            choose(app(), kCommandOpenGlWindow);
        }
        act("View > Open Path Window");
        choose(app(), kCommandOpenPathWindow);
        act("Window > Tile");
        choose(app(), kCommandTile);
        turns(2);
    }

    void openModels()
    {
        std::shuffle(files.begin(), files.end(), random);
        for (const std::string& file : files) {
            act("File > Open " + file);
            answerPath = file;
            choose(app(), kCommandOpen);
            turns(1);
        }
    }

    void drawPaths()
    {
        PathWindow* paths = pathWindow();
        QWidget* surface = paths ? glSurface(paths->windowHandle) : nullptr;
        if (!surface) {
            throw std::runtime_error("the Path Window is gone");
        }
        for (int p = 0; p < 2; ++p) {
            act("Path Window: right click starts a path");
            click(surface, somewhere(surface), Qt::RightButton);
            for (int i = 0; i < 4; ++i) {
                act("Path Window: left click adds a point");
                click(surface, somewhere(surface), Qt::LeftButton);
            }
            turns(1);
            act("Edit > Bind to Path");
            choose(app(), kCommandBindToPath);
        }
    }

    void addIkController()
    {
        act("IK > Add IK Controller");
        choose(app(), kCommandAddIkController);
        const std::vector<QWidget*> dialogs = modelessDialogs(app());
        QTreeWidget* tree = dialogs.empty() ? nullptr : dialogs.back()->findChild<QTreeWidget*>();
        if (!tree) {
            throw std::runtime_error("no End Effector Selector opened");
        }
        tree->expandAll();
        std::vector<QTreeWidgetItem*> items;
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
            items.push_back(*it);
        }
        if (!items.empty()) {
            QTreeWidgetItem* item = items[static_cast<std::size_t>(uniform(0, static_cast<int>(items.size()) - 1))];
            act("End Effector Selector: choose " + item->text(0).toStdString());
            tree->scrollToItem(item);
            drain();
            click(tree->viewport(), tree->visualItemRect(item).center(), Qt::LeftButton);
        }
        for (QPushButton* button : dialogs.back()->findChildren<QPushButton*>()) {
            if (button->text() == "OK") {
                act("End Effector Selector: OK");
                click(button, button->rect().center(), Qt::LeftButton);
                break;
            }
        }
        drain();
        QWidget* surface = glSurface(pathWindow()->windowHandle);
        act("Path Window: Ctrl+click places the target");
        click(surface, somewhere(surface), Qt::LeftButton, Qt::ControlModifier);
        turns(1);
        act("IK > Generate IK Animation");
        choose(app(), kCommandGenerateIkAnimation);
        turns(3);
        act("IK > Play IK Animation");
        choose(app(), kCommandPlayIkAnimation);
    }

    void useTransportAndCameras()
    {
        QWidget* main = windowWidget(app().mainWindow);
        for (int command : {kCommandPlayPause, kCommandStepForward, kCommandStepForward, kCommandStepBack,
                            kCommandPlayPause, kCommandFrameAll}) {
            act("transport / view command " + std::to_string(command));
            choose(app(), command);
            turns(1);
        }
        // The tool bar's choosers, speed and slider, by the keys a user would press.
        for (QComboBox* chooser : main->findChildren<QComboBox*>()) {
            act("tool bar chooser: down");
            key(chooser, uniform(0, 1) ? Qt::Key_Down : Qt::Key_Up);
            turns(1);
        }
        for (QAbstractSpinBox* speed : main->findChildren<QAbstractSpinBox*>()) {
            act("tool bar speed");
            key(speed, uniform(0, 1) ? Qt::Key_Up : Qt::Key_Down);
        }
        for (QSlider* slider : main->findChildren<QSlider*>()) {
            act("tool bar time slider");
            key(slider, uniform(0, 1) ? Qt::Key_PageUp : Qt::Key_PageDown);
        }
        turns(1);
        const std::vector<QWidget*> surfaces = viewSurfaces(app());
        for (std::size_t i = 0; i + 1 < surfaces.size(); ++i) {
            act("view " + std::to_string(i) + ": drag turns the camera, keys move it");
            drag(surfaces[i], somewhere(surfaces[i]), somewhere(surfaces[i]), Qt::LeftButton, 4);
            for (int k : {Qt::Key_W, Qt::Key_A, Qt::Key_S, Qt::Key_D}) {
                key(surfaces[i], k);
            }
            turns(1);
        }
        const bool cascade = uniform(0, 1) == 1;
        act(cascade ? "Window > Cascade" : "Window > Next");
        choose(app(), cascade ? kCommandCascade : kCommandNextWindow);
        act("Window > Tile");
        choose(app(), kCommandTile);
    }

    void removeAll()
    {
        act("Scene > Remove All Paths");
        choose(app(), kCommandRemoveAllPaths);
        act("Scene > Remove All Models");
        choose(app(), kCommandRemoveAllModels);
        turns(2);
    }

    std::size_t clips()
    {
        std::size_t count = 0;
        for (const Model& m : app().models) {
            count += m.animator.animations.size();
        }
        return count;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    const Options options = parseOptions(
        argc, argv,
        "[--seed S] [--minutes M | --seconds T] [--interval SECONDS] [--warmup SECONDS] [--hang-seconds H] [--trace]");
    double interval = 60.0, warmup = -1.0;
    for (std::size_t i = 0; i < options.rest.size(); ++i) {
        const std::string& arg = options.rest[i];
        if ((arg == "--interval" || arg == "--warmup") && i + 1 < options.rest.size()) {
            (arg == "--interval" ? interval : warmup) = std::atof(options.rest[++i].c_str());
        } else {
            std::fprintf(stderr, "fyrel-soak: unknown option %s\n", arg.c_str());
            return 2;
        }
    }
    if (interval <= 0.0) {
        std::fprintf(stderr, "fyrel-soak: the interval must be positive\n");
        return 2;
    }
    if (warmup < 0.0) {
        warmup = 2.0 * interval;
    }
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "fyrel-soak needs a display: run it under xvfb-run\n");
        return 2;
    }
    // Mesa's software rasteriser on one thread: the soak shares the machine.
    ::setenv("LP_NUM_THREADS", "1", 0);
    ActionLog::instance().start("fyrel-soak", options.seed, options.trace);
    installCrashReport();

    Session session(argc, argv, "fyrel-soak");
    // Import summaries, thousands of them (after the session: the platform
    // sends them to standard error).
    setDebugSink([](const std::string&) {});
    const ModelFiles loadable = loadableModelFiles(kLargestFile);
    std::printf("fyrel-soak: seed %llu, %.0f s, sample every %.0f s, warm-up %.0f s\n",
                static_cast<unsigned long long>(options.seed), options.seconds, interval, warmup);
    Soak soak(options, session);
    for (std::size_t f = 0; f < loadable.format.size(); ++f) {
        std::vector<std::string> pool = loadable.files[f];
        std::shuffle(pool.begin(), pool.end(), soak.random);
        for (int i = 0; i < kModelsPerFormat; ++i) {
            soak.files.push_back(pool[static_cast<std::size_t>(i) % pool.size()]);
        }
        std::printf("fyrel-soak: %d %s models from %zu files\n", kModelsPerFormat, loadable.format[f].c_str(),
                    pool.size());
    }
    if (loadable.format.size() < 4) {
        std::fprintf(stderr, "fyrel-soak: model files of only %zu formats found (is assimp-testmodels installed?)\n",
                     loadable.format.size());
        return 2;
    }
    setDialogResponder([&soak](const DialogRequest& request) {
        DialogAnswer answer;
        if (request.kind == DialogKind::OpenFile) {
            answer.path = soak.answerPath;
        } else if (request.kind == DialogKind::MessageBox) {
            soak.boxes.push_back(request.caption + ": " + request.text);
        }
        return answer;
    });

    int status = 0;
    std::printf("%8s %6s %9s %7s %9s %6s %5s %8s %11s %5s %5s %6s\n", "minute", "cycle", "rss_kib", "fps",
                "gl_errors", "models", "paths", "bindings", "controllers", "clips", "views", "boxes");
    const Clock::time_point start = Clock::now();
    Clock::time_point lastSample = start;
    long baseline = 0, highest = 0;
    int cycle = 0;
    try {
        soak.setUp();
        soak.loop.start = Clock::now();
        while (options.steps < 0 ? secondsSince(start) < options.seconds : soak.step < options.steps) {
            ++cycle;
            soak.openModels();
            soak.drawPaths();
            soak.addIkController();
            soak.useTransportAndCameras();
            soak.runFor(3.0);
            if (secondsSince(lastSample) >= interval || secondsSince(start) >= options.seconds) {
                const double elapsed = secondsSince(lastSample);
                const long rss = residentKiB();
                const Application& app = *session.app;
                std::printf("%8.1f %6d %9ld %7.1f %9zu %6zu %5zu %8zu %11zu %5zu %5zu %6zu\n",
                            secondsSince(start) / 60.0, cycle, rss, static_cast<double>(soak.frames) / elapsed,
                            soak.glFailures.size(), app.models.size(), app.paths.size(), app.bindings.size(),
                            app.ikControllers.size(), soak.clips(), app.childWindows.size(), soak.boxes.size());
                std::fflush(stdout);
                for (const std::string& box : soak.boxes) {
                    std::printf("  message box: %s\n", box.c_str());
                }
                soak.boxes.clear();
                soak.frames = 0;
                lastSample = Clock::now();
                if (!soak.glFailures.empty()) {
                    for (const std::string& failure : soak.glFailures) {
                        std::fprintf(stderr, "fyrel-soak: GL error at %s\n", failure.c_str());
                    }
                    ActionLog::instance().dump("GL error");
                    status = 1;
                    break;
                }
                if (secondsSince(start) >= warmup) {
                    if (baseline == 0) {
                        baseline = rss;
                    }
                    highest = std::max(highest, rss);
                    if (static_cast<double>(rss) > static_cast<double>(baseline) * (1.0 + kGrowthLimit)) {
                        std::fprintf(stderr, "fyrel-soak: resident memory grew from %ld KiB to %ld KiB (over 5 %%)\n",
                                     baseline, rss);
                        status = 1;
                        break;
                    }
                }
            }
            soak.removeAll();
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fyrel-soak: %s\n", error.what());
        ActionLog::instance().dump("failure");
        status = 1;
    }
    if (status == 0 && baseline == 0) {
        std::fprintf(stderr, "fyrel-soak: the run ended before the warm-up did: nothing to compare\n");
        status = 1;
    }
    std::printf("fyrel-soak: %s after %.1f minutes, %d cycles; resident memory after warm-up %ld KiB, highest %ld "
                "KiB (%+.1f %%)\n",
                status ? "FAILED" : "passed", secondsSince(start) / 60.0, cycle, baseline, highest,
                baseline ? 100.0 * static_cast<double>(highest - baseline) / static_cast<double>(baseline) : 0.0);
    setDialogResponder({});
    return status;
}
