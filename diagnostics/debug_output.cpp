#include "diagnostics/debug_output.h"

#include <cstdio>
#include <utility>

namespace fyrel {

namespace {

DebugSink& currentSink()
{
    static DebugSink sink;
    return sink;
}

}  // namespace

void debugOutput(const std::string& message)
{
    if (const DebugSink& sink = currentSink()) {
        sink(message);
        return;
    }
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fflush(stderr);
}

DebugSink setDebugSink(DebugSink sink)
{
    return std::exchange(currentSink(), std::move(sink));
}

}  // namespace fyrel
