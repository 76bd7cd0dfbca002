#pragma once

// A recording table of GL buffer entry points for tests that need no context:
// every call is appended to a log, buffers get consecutive names, and the data
// last loaded into each buffer is kept.

#include <map>
#include <string>
#include <vector>

#include "render/gl_functions.h"

namespace fyrel::test {

struct FakeGl {
    std::vector<std::string> calls;
    std::map<GlUint, std::vector<unsigned char>> data;
    std::map<GlEnum, GlUint> bound;
    std::vector<GlUint> deleted;
    GlUint nextName = 1;
};

// The one recorder the fake entry points write to; reset by makeFakeGl.
FakeGl& fakeGl();

// A table whose four buffer entries record into fakeGl(); the rest stay null.
GlFunctions makeFakeGl();

}  // namespace fyrel::test
