// startup_bench [FYREL [FILE...]]: the time from starting `fyrel FILE` to its
// first picture on screen, per file, as a person opening a model waits for
// it. Each round starts the program once per file (interleaved, so that the
// machine's drift weighs on every file alike) with FYREL_FIRST_FRAME_EXIT
// set: the program prints a line when its first frame has been presented and
// quits. Printed: the median and the range of the wall times over the
// rounds, and the same for the program with no file. Needs a display: run it
// under xvfb-run with LIBGL_ALWAYS_SOFTWARE=1. Settings go to a scratch
// folder. FYREL_STARTUP_ROUNDS chooses the number of rounds (9).

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds from spawning the program to its first-frame line; negative
// when it ended without one.
double firstFrameMs(const std::string& program, const std::string& file)
{
    int out[2];
    if (pipe(out) != 0) {
        return -1.0;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    if (!file.empty()) {
        argv.push_back(const_cast<char*>(file.c_str()));
    }
    argv.push_back(nullptr);
    const Clock::time_point start = Clock::now();
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    double ms = -1.0;
    if (spawned == 0) {
        std::string text;
        char buffer[256];
        ssize_t n = 0;
        while (text.find("first frame") == std::string::npos && (n = read(out[0], buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        if (text.find("first frame") != std::string::npos) {
            ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        }
        int status = 0;
        waitpid(child, &status, 0);
    }
    close(out[0]);
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path here = std::filesystem::canonical("/proc/self/exe").parent_path();
    const std::string program = argc > 1 ? argv[1] : (here.parent_path() / "app" / "fyrel").string();
    std::vector<std::string> files{""};
    if (argc > 2) {
        files.insert(files.end(), argv + 2, argv + argc);
    } else {
        const std::string models = "/usr/share/assimp/models/";
        files.insert(files.end(), {std::string(FYREL_SOURCE_DIR) + "/resources/demo/walker.ms3d",
                                   models + "MS3D/jeep1.ms3d", models + "3DS/fels.3ds", models + "X/BCN_Epileptic.X",
                                   models + "X/fromtruespace_bin32.x", models + "X/test_cube_compressed.x",
                                   models + "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb",
                                   models + "glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb"});
    }
    const char* roundsText = std::getenv("FYREL_STARTUP_ROUNDS");
    const int rounds = roundsText ? std::max(1, std::atoi(roundsText)) : 9;
    const std::filesystem::path settings = std::filesystem::temp_directory_path() / "fyrel-startup-bench-settings";
    ::setenv("XDG_CONFIG_HOME", settings.c_str(), 1);
    ::setenv("FYREL_FIRST_FRAME_EXIT", "1", 1);

    std::vector<std::vector<double>> times(files.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t f = 0; f < files.size(); ++f) {
            times[f].push_back(firstFrameMs(program, files[f]));
        }
    }
    std::printf("%-60s %10s %10s %10s\n", "file (first picture of `fyrel FILE`)", "median ms", "min ms", "max ms");
    for (std::size_t f = 0; f < files.size(); ++f) {
        std::vector<double>& t = times[f];
        std::sort(t.begin(), t.end());
        const std::string name = files[f].empty() ? "(no file)" : std::filesystem::path(files[f]).filename().string();
        if (t.front() < 0.0) {
            std::printf("%-60s    no first frame in some round\n", name.c_str());
            continue;
        }
        std::printf("%-60s %10.1f %10.1f %10.1f\n", name.c_str(), t[t.size() / 2], t.front(), t.back());
    }
    std::error_code ignored;
    std::filesystem::remove_all(settings, ignored);
    return 0;
}
