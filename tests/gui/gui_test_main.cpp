#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "gui_test_support.h"

namespace {

// With FYREL_OWN_DISPLAY set (ctest sets it for every GUI test), the test
// process starts an X server of its own: Xvfb picks a free display and
// reports its number once it accepts connections. Tests that ctest runs side
// by side then cannot take each other's focus or cover each other's windows.
// The server ends with the process, also when the process is killed.
pid_t startOwnDisplay()
{
    int report[2];
    if (pipe(report) != 0) {
        return -1;
    }
    const pid_t server = fork();
    if (server == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(report[0]);
        std::freopen("/dev/null", "w", stderr);
        const std::string fd = std::to_string(report[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1200x24", "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(report[1]);
    std::string number;
    for (char c = 0; server > 0 && read(report[0], &c, 1) == 1 && c != '\n';) {
        number += c;
    }
    close(report[0]);
    if (number.empty()) {
        std::fprintf(stderr, "a display of the test's own: Xvfb did not start\n");
        std::exit(2);
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return server;
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const char* own = std::getenv("FYREL_OWN_DISPLAY");
    const pid_t server = own && *own ? startOwnDisplay() : -1;
    const int result = RUN_ALL_TESTS();
    fyrel::test::shutdownPlatform();
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    return result;
}
