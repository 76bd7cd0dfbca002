#include "run_program.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

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

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments)
{
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path() / ("fyrel-run-" + std::to_string(::getpid()));
    const std::string outPath = base.string() + ".out", errPath = base.string() + ".err";
    std::string command = quoted(program);
    for (const std::string& a : arguments) {
        command += " " + quoted(a);
    }
    command += " >" + quoted(outPath) + " 2>" + quoted(errPath);
    const int status = std::system(command.c_str());
    ProgramRun run;
    if (status != -1 && WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    run.out = readText(outPath);
    run.err = readText(errPath);
    std::error_code ec;
    fs::remove(outPath, ec);
    fs::remove(errPath, ec);
    return run;
}

std::vector<unsigned char> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace fyrel::test
