#include "run_program.h"

#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

#include "support/import_check.h"

namespace fyrel::test {

namespace {

std::string quoted(const std::string& word)
{
    std::string q = "'";
    for (char c : word) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

}  // namespace

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments)
{
    const auto base = std::filesystem::temp_directory_path() / ("fyrel-run-" + std::to_string(::getpid()));
    const std::string outPath = base.string() + ".out", errPath = base.string() + ".err";
    std::string command = quoted(program);
    for (const std::string& a : arguments) {
        command += " " + quoted(a);
    }
    const int status = std::system((command + " >" + quoted(outPath) + " 2>" + quoted(errPath)).c_str());
    ProgramRun run;
    if (status != -1 && WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    run.out = fileBytes(outPath);
    run.err = fileBytes(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return run;
}

}  // namespace fyrel::test
