#include "tools/drive/drive.h"

#include <GL/gl.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>

#include "app/commands.h"
#include "importers/model_formats.h"
#include "platform/qt_access.h"
#include "platform/window.h"
#include "render/gl_diagnostics.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FYREL_DRIVE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define FYREL_DRIVE_ASAN 1
#endif
#ifdef FYREL_DRIVE_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace fyrel::drive {

namespace {

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void writeAll(const char* text)
{
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, left);
        if (n <= 0) {
            return;
        }
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

void onFatalSignal(int signal)
{
    ActionLog::instance().dump(signal == SIGABRT ? "abort" : "fatal signal");
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

#ifdef FYREL_DRIVE_ASAN
void onSanitizerDeath()
{
    ActionLog::instance().dump("sanitizer report");
}
#endif

bool hasModelEnding(const std::filesystem::path& p)
{
    return findModelFormat(p.string()) != nullptr;
}

// assimp-testmodels' folders of the formats Fyrel reads.
std::vector<std::string> assimpFiles()
{
    std::vector<std::string> found;
    const std::filesystem::path top = "/usr/share/assimp/models";
    for (const char* folder : {"MS3D", "3DS", "X", "glTF2"}) {
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(top / folder, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_regular_file() && hasModelEnding(it->path())) {
                found.push_back(it->path().string());
            }
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

Options parseOptions(int argc, char** argv, const char* usage)
{
    Options options;
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "%s: %s\nusage: %s %s\n", argv[0], why.c_str(), argv[0], usage);
        std::exit(2);
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                fail(arg + " needs a value");
            }
            return argv[++i];
        };
        try {
            if (arg == "--seed") {
                options.seed = std::stoull(value());
            } else if (arg == "--seconds") {
                options.seconds = std::stod(value());
            } else if (arg == "--minutes") {
                options.seconds = 60.0 * std::stod(value());
            } else if (arg == "--steps") {
                options.steps = std::stol(value());
            } else if (arg == "--hang-seconds") {
                options.hangSeconds = std::stod(value());
            } else if (arg == "--trace") {
                options.trace = true;
            } else {
                options.rest.push_back(arg);
            }
        } catch (const std::logic_error&) {
            fail("not a number after " + arg);
        }
    }
    if (options.seconds <= 0.0 || options.hangSeconds <= 0.0) {
        fail("times must be positive");
    }
    return options;
}

ActionLog& ActionLog::instance()
{
    static ActionLog log;
    return log;
}

void ActionLog::start(const char* driver, std::uint64_t seed, bool trace)
{
    std::snprintf(driver_, sizeof driver_, "%s", driver);
    seed_ = seed;
    trace_ = trace;
}

void ActionLog::record(long step, const std::string& text)
{
    const long slot = next_.fetch_add(1) % kEntries;
    std::snprintf(entries_[slot], kLength, "  step %ld: %s\n", step, text.c_str());
    step_.store(step);
    if (trace_) {
        std::fputs(entries_[slot], stdout);
        std::fflush(stdout);
    }
}

void ActionLog::dump(const char* why) const
{
    char head[256];
    std::snprintf(head, sizeof head,
                  "\n%s: %s at seed %llu, step %ld (replay: --seed %llu --steps %ld); the last actions:\n", driver_,
                  why, static_cast<unsigned long long>(seed_), step_.load(), static_cast<unsigned long long>(seed_),
                  step_.load() + 1);
    writeAll(head);
    const long end = next_.load();
    for (long i = std::max(0L, end - kEntries); i < end; ++i) {
        writeAll(entries_[i % kEntries]);
    }
}

void installCrashReport()
{
#ifdef FYREL_DRIVE_ASAN
    // AddressSanitizer reports bad accesses itself, then calls this.
    __sanitizer_set_death_callback(onSanitizerDeath);
    std::signal(SIGABRT, onFatalSignal);
#else
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        std::signal(s, onFatalSignal);
    }
#endif
}

Watchdog::Watchdog(double limitSeconds)
    : lastBeat_(nowMs()), limitMs_(static_cast<std::int64_t>(limitSeconds * 1000.0))
{
    thread_ = std::thread([this] {
        while (!stop_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (nowMs() - lastBeat_.load() > limitMs_) {
                ActionLog::instance().dump("hang (no progress for the watchdog's limit)");
                std::_Exit(3);
            }
        }
    });
}

Watchdog::~Watchdog()
{
    stop_.store(true);
    thread_.join();
}

void Watchdog::beat()
{
    lastBeat_.store(nowMs());
}

Session::Session(int& argc, char** argv, const char* name)
{
    config_ = std::filesystem::temp_directory_path() / (std::string(name) + "-config-" + std::to_string(::getpid()));
    std::filesystem::create_directories(config_);
    ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    keepFreedMemoryForReuse();  // the allocator as the program's main sets it
    platform_ = std::make_unique<Platform>(argc, argv);
    app = std::make_unique<Application>();
    drain();
}

Session::~Session()
{
    app.reset();
    drain();
    platform_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(config_, ignored);
}

void Session::restart()
{
    if (isWindow(app->mainWindow)) {
        commandExit(*app);
    }
    drain();
    app.reset();
    drain();
    app = std::make_unique<Application>();
    drain();
}

std::string sourceDir()
{
    return FYREL_SOURCE_DIR;
}

ModelFiles loadableModelFiles(std::uintmax_t maxBytes)
{
    ModelFiles result;
    std::vector<std::string> candidates = assimpFiles();
    candidates.insert(candidates.begin(), sourceDir() + "/resources/demo/walker.ms3d");
    for (const std::string& path : candidates) {
        std::error_code error;
        if (std::filesystem::file_size(path, error) > maxBytes || error) {
            continue;
        }
        try {
            const Model model = importModelFile(path);
            if (model.vertices.empty()) {
                continue;
            }
        } catch (const std::exception&) {
            continue;
        }
        const std::string name = modelFormatName(path);
        auto it = std::find(result.format.begin(), result.format.end(), name);
        if (it == result.format.end()) {
            result.format.push_back(name);
            result.files.emplace_back();
            it = result.format.end() - 1;
        }
        result.files[static_cast<std::size_t>(it - result.format.begin())].push_back(path);
    }
    return result;
}

std::vector<std::string> brokenModelFiles()
{
    std::vector<std::string> found;
    for (const char* folder : {"ms3d", "3ds", "x", "gltf"}) {
        std::error_code error;
        const std::filesystem::path dir = std::filesystem::path(sourceDir()) / "tests/data" / folder;
        for (auto it = std::filesystem::recursive_directory_iterator(dir, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_regular_file() && it->path().filename() != "MANIFEST") {
                found.push_back(it->path().string());
            }
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::string> allCandidateModelFiles()
{
    std::vector<std::string> files = assimpFiles();
    files.push_back(sourceDir() + "/resources/demo/walker.ms3d");
    return files;
}

bool drain()
{
    int exitCode = 0;
    return drainEvents(exitCode);
}

bool frame(Application& app, float dt)
{
    app.frame(dt);
    return drain();
}

QAction* menuAction(Application& app, int command)
{
    auto* window = qobject_cast<QMainWindow*>(windowWidget(app.mainWindow));
    if (!window) {
        return nullptr;
    }
    std::vector<QMenu*> menus;
    for (QAction* top : window->menuBar()->actions()) {
        if (top->menu()) {
            menus.push_back(top->menu());
        }
    }
    while (!menus.empty()) {
        QMenu* menu = menus.back();
        menus.pop_back();
        for (QAction* item : menu->actions()) {
            if (item->menu()) {
                menus.push_back(item->menu());
            } else if (!item->isSeparator() && item->data().toInt() == command) {
                return item;
            }
        }
    }
    return nullptr;
}

bool choose(Application& app, int command)
{
    QAction* action = menuAction(app, command);
    if (!action || !action->isEnabled()) {
        return false;
    }
    action->trigger();
    drain();
    return true;
}

void click(QWidget* target, QPoint at, Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    const QPointF local(at);
    const QPointF global = target->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, button, button, modifiers);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, button, Qt::NoButton, modifiers);
    QApplication::sendEvent(target, &release);
}

void drag(QWidget* target, QPoint from, QPoint to, Qt::MouseButton button, int moves, Qt::KeyboardModifiers modifiers)
{
    QPointer<QWidget> guard(target);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(from), target->mapToGlobal(QPointF(from)), button, button,
                      modifiers);
    QApplication::sendEvent(target, &press);
    for (int i = 1; i <= moves && guard; ++i) {
        const QPointF at(from.x() + (to.x() - from.x()) * i / moves, from.y() + (to.y() - from.y()) * i / moves);
        QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton, button, modifiers);
        QApplication::sendEvent(target, &move);
        drain();
    }
    if (guard) {
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(to), target->mapToGlobal(QPointF(to)), button,
                            Qt::NoButton, modifiers);
        QApplication::sendEvent(target, &release);
    }
}

void key(QWidget* target, int key, Qt::KeyboardModifiers modifiers)
{
    QPointer<QWidget> guard(target);
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    if (guard) {
        QKeyEvent release(QEvent::KeyRelease, key, modifiers);
        QApplication::sendEvent(target, &release);
    }
}

std::vector<QWidget*> viewSurfaces(Application& app)
{
    std::vector<QWidget*> surfaces;
    for (const auto& view : app.childWindows) {
        if (QWidget* surface = glSurface(view->windowHandle)) {
            surfaces.push_back(surface);
        }
    }
    return surfaces;
}

std::vector<QWidget*> modelessDialogs(Application& app)
{
    std::vector<QWidget*> dialogs;
    for (WindowHandle w : childWindowsOf(app.mainWindow)) {
        if (glSurface(w)) {
            continue;
        }
        if (QWidget* widget = windowWidget(w)) {
            dialogs.push_back(widget);
        }
    }
    return dialogs;
}

std::vector<std::string> glErrors(Application& app)
{
    std::vector<std::string> errors;
    auto collect = [&](const std::string& where) {
        // A context keeps several error flags; each read clears one.
        for (int i = 0; i < 8; ++i) {
            const GLenum error = glGetError();
            if (error == GL_NO_ERROR) {
                break;
            }
            std::string text = glErrorText(error);
            if (!text.empty() && text.back() == '\n') {
                text.pop_back();
            }
            errors.push_back(where + ": " + text);
        }
    };
    if (app.makeGlCurrent()) {
        collect("program context");
    }
    for (const auto& view : app.childWindows) {
        if (makeCurrent(view->windowHandle)) {
            collect("view \"" + windowText(view->windowHandle) + "\"");
        }
    }
    app.makeGlCurrent();
    return errors;
}

long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace fyrel::drive
