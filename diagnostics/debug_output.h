#pragma once

#include <functional>
#include <string>

// The debug output channel: GL error texts, shader logs, import summaries and
// the like, each message assembled first and sent as one write. By default a
// message goes to standard error; a program or a test may install its own
// sink (the tests read the messages back through it).

namespace fyrel {

using DebugSink = std::function<void(const std::string& message)>;

void debugOutput(const std::string& message);

// Installs a sink and returns the previous one; an empty sink restores the
// default (standard error).
DebugSink setDebugSink(DebugSink sink);

}  // namespace fyrel
