#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scene/model.h"

// Files of the formats none of our own readers reads are read by Assimp, a
// library that has not been hardened against damaged or hostile files. So it
// never runs in the program: a child process, the import worker
// (fyrel-import-worker), reads the file and writes the model back as bytes
// (model_wire.h) that the program checks as it checks any file. The worker
// runs under a time limit and a memory limit; a crash, a limit or a refusal
// there is an ImportError naming the file, and the program goes on.
//
// The worker is found as: $FYREL_IMPORT_WORKER, beside the running program,
// in the build's tools folder, in the installed libexec folder.

namespace fyrel {

struct ImportWorkerLimits {
    double seconds = 120.0;                                // wall-clock time
    std::uint64_t memoryBytes = std::uint64_t{4} << 30;  // address space of the worker
};

// What the program does while the worker reads: called about every 50 ms
// with the time since the start and the worker's progress (0 to 1, or −1
// before it reports any). Returning false cancels the import: the worker is
// killed and ImportCancelled (import_error.h) thrown.
using ImportWaiter = std::function<bool(double seconds, float progress)>;

// Installs the waiter every later import calls (none by default); returns the
// one it replaces.
ImportWaiter setImportWaiter(ImportWaiter waiter);

// Reads the file through the worker with the given limits. Throws
// ImportError: the worker's refusal (Assimp's reason or ours), "took longer
// than N s", "needs more than N MiB of memory", "the reader crashed
// (signal N)", a result that model_wire.h refuses, or a worker that cannot be
// started. Throws ImportCancelled when the waiter cancels.
Model importThroughWorker(const std::string& path, const ImportWorkerLimits& limits = {});

// The format table's importer: importThroughWorker with the default limits.
Model importWithAssimp(const std::string& path);

// The worker's exit codes after its result: 0 a model, 1 refused (the reason
// follows), 2 usage, 3 out of memory.
inline constexpr int kWorkerRefused = 1;
inline constexpr int kWorkerOutOfMemory = 3;

}  // namespace fyrel
