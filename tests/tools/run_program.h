#pragma once

#include <string>
#include <vector>

namespace fyrel::test {

struct ProgramRun {
    int exitCode = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs program with the arguments (each passed as one word, no shell
// expansion) and collects its exit code and both output streams.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace fyrel::test
