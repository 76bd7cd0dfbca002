// The recovery file: the document, a few seconds after it changed, under
// $XDG_STATE_HOME/fyrel (~/.local/state/fyrel), named after the process so
// that programs running side by side keep their own, with the name of the
// scene file it belongs to beside it (".scene"). A normal end removes both;
// one found at start-up whose process is gone was left by a crash.

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>

#include "app/application.h"
#include "app/commands.h"
#include "platform/dialogs.h"
#include "workbench/scene_file.h"

namespace fyrel {

namespace fs = std::filesystem;

namespace {

constexpr auto kRecoveryDelay = std::chrono::seconds(3);
const char* const kRecoveryPrefix = "recovery-";

fs::path recoveryFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/') {
        return fs::path(state) / "fyrel";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "state" / "fyrel";
}

// The process that wrote the file, or 0 when its name is not one of ours.
pid_t writerOf(const fs::path& file)
{
    const std::string name = file.filename().string();
    if (name.rfind(kRecoveryPrefix, 0) != 0 || file.extension() != kSceneEnding) {
        return 0;
    }
    const std::string digits = name.substr(std::string(kRecoveryPrefix).size(),
                                           name.size() - std::string(kRecoveryPrefix).size() - 6);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    return static_cast<pid_t>(std::stol(digits));
}

bool processGone(pid_t pid)
{
    return pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

void writeRecoveryIfDue(Application& app)
{
    const std::uint64_t serial = app.document.history.serial();
    if (serial == app.recoverySerial) {
        return;
    }
    if (!app.document.modified()) {
        removeRecoveryFile(app);
        app.recoverySerial = serial;
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (app.changedAt == std::chrono::steady_clock::time_point{}) {
        app.changedAt = now;
        return;
    }
    if (now - app.changedAt < kRecoveryDelay) {
        return;
    }
    app.changedAt = {};
    app.recoverySerial = serial;
    std::error_code error;
    const fs::path folder = recoveryFolder();
    fs::create_directories(folder, error);
    const std::string file = (folder / (kRecoveryPrefix + std::to_string(getpid()) + kSceneEnding)).string();
    try {
        saveSceneFile(app.document, file);
        app.recoveryFile = file;
        std::ofstream(file + ".scene", std::ios::trunc) << app.document.file;
    } catch (const SceneError&) {
        // No recovery is no reason to interrupt the user; the next change tries again.
    } catch (const std::bad_alloc&) {
    }
}

void removeRecoveryFile(Application& app)
{
    if (!app.recoveryFile.empty()) {
        std::error_code ignored;
        fs::remove(app.recoveryFile, ignored);
        fs::remove(app.recoveryFile + ".scene", ignored);
        app.recoveryFile.clear();
    }
}

void offerRecovery(Application& app)
{
    std::error_code error;
    fs::path newest;
    fs::file_time_type newestTime{};
    for (const fs::directory_entry& entry : fs::directory_iterator(recoveryFolder(), error)) {
        const pid_t pid = writerOf(entry.path());
        if (pid > 0 && processGone(pid) && entry.is_regular_file(error)) {
            const fs::file_time_type time = entry.last_write_time(error);
            if (newest.empty() || time > newestTime) {
                newest = entry.path();
                newestTime = time;
            }
        }
    }
    if (newest.empty()) {
        return;
    }
    const std::size_t answer = askQuestion(app.mainWindow,
                                           "Fyrel did not end normally last time. Restore the scene it was "
                                           "working on?",
                                           "Recover work", {"&Restore", "&Discard"});
    if (answer == 0 && openSceneFile(app, newest.string())) {
        // Restored work is unsaved work of the scene it came from (or of a
        // scene not saved yet): Save writes it there.
        std::string scene(kMaxSceneString, '\0');
        std::ifstream in(newest.string() + ".scene", std::ios::binary);
        in.read(scene.data(), static_cast<std::streamsize>(scene.size()));
        scene.resize(static_cast<std::size_t>(in.gcount()));
        app.document.file = scene;
        app.document.savedSerial = ~std::uint64_t{0};
    }
    fs::remove(newest, error);
    fs::remove(newest.string() + ".scene", error);
}

}  // namespace fyrel
