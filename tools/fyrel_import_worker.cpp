// fyrel-import-worker [--progress-fd N] [--] FILE: the child process in which
// Assimp reads a model file (importers/assimp/import_worker.h). Writes the
// model's wire bytes (importers/assimp/model_wire.h) to standard output and
// exits 0; a refusal writes its sentence instead and exits 1; running out of
// memory exits 3. With --progress-fd, Assimp's progress goes to that
// descriptor as one byte (0 to 100) per step.
//
// FYREL_WORKER_FAULT=crash, hang or hog makes the worker crash, hang or eat
// memory instead of reading: what the tests of the program's limits use.

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include "importers/assimp/assimp_conversion.h"
#include "importers/assimp/import_worker.h"
#include "importers/import_error.h"

// In a sanitizer build: no leak report at the worker's exit. Assimp leaks
// what it built when it gives up on a file, and the report would turn the
// worker's answer into an exit status the program cannot read.
extern "C" int __lsan_is_turned_off()
{
    return 1;
}

namespace {

void writeAll(int fd, const void* data, std::size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n <= 0) {
            return;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void fault(const char* kind)
{
    if (std::strcmp(kind, "crash") == 0) {
        volatile int* nothing = nullptr;
        *nothing = 1;
    } else if (std::strcmp(kind, "hang") == 0) {
        for (;;) {
            pause();
        }
    } else if (std::strcmp(kind, "hog") == 0) {
        std::vector<std::vector<char>> eaten;
        for (;;) {
            eaten.emplace_back(std::size_t{64} << 20, 'x');
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int progressFd = -1;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--progress-fd") == 0 && i + 1 < argc) {
            progressFd = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        } else {
            break;
        }
    }
    if (i + 1 != argc) {
        std::fputs("usage: fyrel-import-worker [--progress-fd N] [--] FILE\n", stderr);
        return 2;
    }
    const std::string path = argv[i];
    try {
        if (const char* kind = std::getenv("FYREL_WORKER_FAULT")) {
            fault(kind);
        }
        int last = -1;
        const std::vector<std::uint8_t> bytes = fyrel::readWithAssimp(path, [&](float done) {
            const int percent = static_cast<int>(done * 100.0f);
            if (progressFd >= 0 && percent != last) {
                const unsigned char b = static_cast<unsigned char>(percent);
                writeAll(progressFd, &b, 1);
                last = percent;
            }
        });
        writeAll(1, bytes.data(), bytes.size());
        return 0;
    } catch (const std::bad_alloc&) {
        return fyrel::kWorkerOutOfMemory;
    } catch (const fyrel::ImportError& error) {
        writeAll(1, error.what(), std::strlen(error.what()));
        return fyrel::kWorkerRefused;
    } catch (const std::exception& error) {
        const std::string message = "\"" + path + "\" cannot be read: " + error.what();
        writeAll(1, message.data(), message.size());
        return fyrel::kWorkerRefused;
    }
}
