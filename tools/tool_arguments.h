#pragma once

#include <string>
#include <vector>

// The command line every Fyrel tool shares: -v / --verbose, -h / --help,
// "--" ending the options, and the files in order.

namespace fyrel {

struct ToolArguments {
    bool verbose = false;
    std::vector<std::string> files;
};

// Reads the arguments into out. Returns -1 to go on; otherwise the exit
// status, having printed usage (a line ending in a newline) to standard
// output after --help (0) or, with why, to standard error for an unknown
// option (2). The caller checks the number of files.
int readToolArguments(int argc, char** argv, const char* tool, const char* usage, ToolArguments& out);

// Silences the importers' reading summaries unless --verbose was given.
void quietUnlessVerbose(const ToolArguments& arguments);

}  // namespace fyrel
