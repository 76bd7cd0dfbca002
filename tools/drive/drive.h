#pragma once

// What the long-run drivers (fyrel-soak, fyrel-monkey) share: the program
// started in-process on a scratch configuration, the user's hands (menu
// commands, keys, clicks, drags on the real widgets), the model files they
// feed it, a log of the last actions that a crash, a sanitizer report or
// the watchdog prints, and the measurements (memory, GL errors).

#include <QPoint>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "platform/platform.h"

namespace fyrel::drive {

// The command line both drivers take:
//   --seed S --seconds T | --minutes M | --steps N, --hang-seconds H, --trace
// plus the driver's own options, which it reads from rest.
struct Options {
    std::uint64_t seed = 1;
    double seconds = 60.0;            // run time, unless steps is set
    long steps = -1;                  // run exactly this many steps (replay)
    double hangSeconds = 60.0;        // the watchdog's limit without progress
    bool trace = false;               // print every action as it is taken
    std::vector<std::string> rest;    // options the shared parser did not know
};

// Parses argv; prints usage and exits 2 on an error.
Options parseOptions(int argc, char** argv, const char* usage);

// The last actions, kept in fixed storage so that a signal handler, the
// sanitizers' death callback and the watchdog can print them.
class ActionLog {
public:
    static ActionLog& instance();
    void start(const char* driver, std::uint64_t seed, bool trace);
    // Records step and text (cut to fit) and, with tracing on, prints them.
    void record(long step, const std::string& text);
    long step() const { return step_.load(); }
    // Writes "<driver>: seed S, step N" and the recorded actions, oldest
    // first, with write(2) only (safe in a signal handler).
    void dump(const char* why) const;

private:
    static constexpr int kEntries = 48;
    static constexpr int kLength = 200;
    char entries_[kEntries][kLength] = {};
    std::atomic<long> next_{0};
    std::atomic<long> step_{0};
    char driver_[32] = "driver";
    std::uint64_t seed_ = 0;
    bool trace_ = false;
};

// Prints the log on a fatal signal and on a sanitizer report.
void installCrashReport();

// Aborts, after printing the log, when beat() has not been called for the
// limit (the event loop is stuck: a hang).
class Watchdog {
public:
    explicit Watchdog(double limitSeconds);
    ~Watchdog();
    void beat();

private:
    std::atomic<std::int64_t> lastBeat_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::int64_t limitMs_;
};

// The window-system session and the program, on a configuration folder of
// its own (removed at the end) so that no user setting is read or written.
class Session {
public:
    Session(int& argc, char** argv, const char* name);
    ~Session();
    std::unique_ptr<Application> app;

    // Ends the program as the window system would and starts it again.
    void restart();

private:
    std::filesystem::path config_;
    std::unique_ptr<Platform> platform_;
};

// Where the sources are (the demo, the broken files).
std::string sourceDir();

// Model files that load, by format name ("MS3D", "3DS", "X", "glTF"): the
// demo and assimp-testmodels' files of these formats under max bytes, each
// tried once with the importer.
struct ModelFiles {
    std::vector<std::string> format;
    std::vector<std::vector<std::string>> files;  // per format, in the order of format
};
ModelFiles loadableModelFiles(std::uintmax_t maxBytes);
// The regression files of tests/data/<format>/ (broken or hostile) and the
// model files of assimp-testmodels that Fyrel refuses or did not size-check.
std::vector<std::string> brokenModelFiles();
std::vector<std::string> allCandidateModelFiles();

// Handles pending events; true when the program was asked to quit.
bool drain();
// One frame as the frame loop runs it with this dt, then pending events.
bool frame(Application& app, float dt);

// The menu item of a command in the main window's menu bar (submenus
// included), or null.
QAction* menuAction(Application& app, int command);
// Triggers it as a user choosing it would; false when there is no such item.
bool choose(Application& app, int command);

// Input sent to a widget as the window system would send it.
void click(QWidget* target, QPoint at, Qt::MouseButton button, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void drag(QWidget* target, QPoint from, QPoint to, Qt::MouseButton button, int moves,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void key(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// The GL surface of each open view.
std::vector<QWidget*> viewSurfaces(Application& app);
// The modeless dialogs of the client area (tree dialogs, End Effector
// Selector), oldest first.
std::vector<QWidget*> modelessDialogs(Application& app);

// Every error glGetError reports in the program's context and in each
// view's, as text; empty when there is none.
std::vector<std::string> glErrors(Application& app);

// Resident memory of this process in KiB.
long residentKiB();

}  // namespace fyrel::drive
