#include "tools/tool_arguments.h"

#include <iostream>

#include "diagnostics/debug_output.h"

namespace fyrel {

int readToolArguments(int argc, char** argv, const char* tool, const char* usage, ToolArguments& out)
{
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "-v" || arg == "--verbose")) {
            out.verbose = true;
        } else if (options && (arg == "-h" || arg == "--help")) {
            std::cout << usage;
            return 0;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            std::cerr << tool << ": unknown option " << arg << '\n' << usage;
            return 2;
        } else {
            out.files.push_back(arg);
        }
    }
    return -1;
}

void quietUnlessVerbose(const ToolArguments& arguments)
{
    if (!arguments.verbose) {
        setDebugSink([](const std::string&) {});  // the importers' reading summaries
    }
}

}  // namespace fyrel
