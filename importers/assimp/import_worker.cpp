#include "importers/assimp/import_worker.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include "diagnostics/debug_output.h"
#include "images/texture_image.h"
#include "importers/assimp/model_wire.h"
#include "importers/import_error.h"

namespace fyrel {
namespace {

// A worker's result larger than this is refused before it is all read: no
// model of a file Assimp can read comes near it.
constexpr std::size_t kMaxResultBytes = std::size_t{1} << 30;
constexpr std::size_t kMaxReasonBytes = 4096;

ImportWaiter& waiterSlot()
{
    static ImportWaiter waiter;
    return waiter;
}

[[noreturn]] void fail(const std::string& path, const std::string& why)
{
    throw ImportError("\"" + path + "\" cannot be read: " + why);
}

std::string workerProgram()
{
    if (const char* chosen = std::getenv("FYREL_IMPORT_WORKER"); chosen && *chosen) {
        return chosen;
    }
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    std::vector<fs::path> places;
    if (!error) {
        places.push_back(self.parent_path() / "fyrel-import-worker");
    }
#ifdef FYREL_BUILD_WORKER
    places.emplace_back(FYREL_BUILD_WORKER);
#endif
#ifdef FYREL_INSTALLED_WORKER
    places.emplace_back(FYREL_INSTALLED_WORKER);
#endif
    for (const fs::path& p : places) {
        if (fs::is_regular_file(p, error) && access(p.c_str(), X_OK) == 0) {
            return p.string();
        }
    }
    return {};
}

// The child's side between fork and exec: only calls that are safe there.
[[noreturn]] void startWorker(const char* program, char* const argv[], int out, int progress,
                              const ImportWorkerLimits& limits, pid_t parent)
{
    // A worker whose program has gone (killed, crashed) ends too.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(127);
    }
#ifndef FYREL_NO_MEMORY_LIMIT
    const rlimit memory{limits.memoryBytes, limits.memoryBytes};
    setrlimit(RLIMIT_AS, &memory);
#endif
    const rlim_t seconds = static_cast<rlim_t>(limits.seconds) + 1;
    const rlimit cpu{seconds, seconds + 1};
    setrlimit(RLIMIT_CPU, &cpu);
    const rlimit core{0, 0};
    setrlimit(RLIMIT_CORE, &core);
    // Out of the way of 1 and 3 before they are placed there.
    const int outHigh = fcntl(out, F_DUPFD, 10);
    const int progressHigh = fcntl(progress, F_DUPFD, 10);
    dup2(outHigh, 1);
    dup2(progressHigh, 3);
    const int none = open("/dev/null", O_RDONLY);
    dup2(none, 0);
    syscall(SYS_close_range, 4u, ~0u, 0u);
    execv(program, argv);
    _exit(127);
}

struct Child {
    pid_t pid = -1;
    int out = -1;
    int progress = -1;

    ~Child()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) {
            close(out);
        }
        if (progress >= 0) {
            close(progress);
        }
    }
    // Whether the child has ended; its status then.
    bool ended(int& status)
    {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) {
            pid = -1;
            return true;
        }
        return false;
    }
};

// Reads what is there on fd; false at its end.
bool drain(int& fd, std::vector<std::uint8_t>& into, std::size_t cap)
{
    std::uint8_t buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
        const std::size_t take = std::min(static_cast<std::size_t>(n), cap - std::min(cap, into.size()));
        into.insert(into.end(), buffer, buffer + take);
        if (take < static_cast<std::size_t>(n)) {
            into.push_back(0);  // one byte over the cap marks the overflow
        }
        return true;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    close(fd);
    fd = -1;
    return false;
}

std::string mebibytes(std::uint64_t bytes)
{
    return std::to_string(bytes >> 20) + " MiB";
}

std::string verdict(int status, const std::vector<std::uint8_t>& result,
                    const ImportWorkerLimits& limits)
{
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        if (signal == SIGXCPU) {
            return "reading it took longer than " + std::to_string(static_cast<int>(limits.seconds)) + " s";
        }
        return std::string("the reader crashed on it (signal ") + std::to_string(signal) + ", " + strsignal(signal) +
               ")";
    }
    const int code = WEXITSTATUS(status);
    if (code == kWorkerOutOfMemory) {
        return "reading it needs more than " + mebibytes(limits.memoryBytes) + " of memory";
    }
    if (code == 127) {
        return "the import worker could not be started";
    }
    std::string reason(result.begin(), result.begin() + static_cast<std::ptrdiff_t>(std::min(result.size(), kMaxReasonBytes)));
    for (char& ch : reason) {
        if (static_cast<unsigned char>(ch) < 0x20 && ch != '\n') {
            ch = '?';
        }
    }
    if (code == kWorkerRefused && !reason.empty()) {
        throw ImportError(reason);  // the worker's own sentence names the file
    }
    return "the import worker failed (exit status " + std::to_string(code) + ")";
}

}  // namespace

ImportWaiter setImportWaiter(ImportWaiter waiter)
{
    ImportWaiter old = std::move(waiterSlot());
    waiterSlot() = std::move(waiter);
    return old;
}

Model importThroughWorker(const std::string& path, const ImportWorkerLimits& limits)
{
    const std::string program = workerProgram();
    if (program.empty()) {
        fail(path, "the import worker (fyrel-import-worker) is not installed");
    }
    std::vector<std::string> args{program, "--progress-fd", "3", "--", path};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int out[2], progress[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        fail(path, "the import worker could not be started");
    }
    if (pipe2(progress, O_CLOEXEC) != 0) {
        close(out[0]), close(out[1]);
        fail(path, "the import worker could not be started");
    }
    Child child;
    child.out = out[0];
    child.progress = progress[0];
    const pid_t parent = getpid();
    child.pid = fork();
    if (child.pid == 0) {
        startWorker(program.c_str(), argv.data(), out[1], progress[1], limits, parent);
    }
    close(out[1]);
    close(progress[1]);
    if (child.pid < 0) {
        fail(path, "the import worker could not be started");
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::uint8_t> result, steps;
    float done = -1.0f;
    int status = 0;
    // Until the child has closed its pipes and ended; a child that closes
    // them and goes on is still timed.
    while (child.out >= 0 || child.progress >= 0 || !child.ended(status)) {
        pollfd fds[2] = {{child.out, POLLIN, 0}, {child.progress, POLLIN, 0}};
        if (child.out >= 0 || child.progress >= 0) {
            poll(fds, 2, 50);
        } else {
            usleep(10000);
        }
        if (child.out >= 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            drain(child.out, result, kMaxResultBytes);
            if (result.size() > kMaxResultBytes) {
                fail(path, "the import worker's result is larger than " + mebibytes(kMaxResultBytes));
            }
        }
        if (child.progress >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            steps.clear();
            drain(child.progress, steps, 4096);
            if (!steps.empty()) {
                done = std::min<float>(steps.back(), 100.0f) / 100.0f;
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds > limits.seconds) {
            fail(path, "reading it took longer than " + std::to_string(static_cast<int>(limits.seconds)) + " s");
        }
        if (waiterSlot() && !waiterSlot()(seconds, done)) {
            throw ImportCancelled();  // the child is killed on the way out
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail(path, verdict(status, result, limits));
    }
    WireModel read = readModelWire(result.data(), result.size(), path);
    const std::string folder = std::filesystem::path(path).parent_path().string();
    for (Material& m : read.model.materials) {
        if (!m.texture.empty() && !m.embeddedTexture) {
            m.texturePath = findTextureFile(m.texture, folder);
        }
    }
    for (const std::string& note : read.notes) {
        debugOutput("\"" + path + "\": " + note + "\n");
    }
    return std::move(read.model);
}

Model importWithAssimp(const std::string& path)
{
    return importThroughWorker(path);
}

}  // namespace fyrel
