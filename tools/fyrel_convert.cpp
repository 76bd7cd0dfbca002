// fyrel-convert: reads a model file with the importer its ending selects and
// writes it as binary glTF (.glb) with its skeleton, skin and clips; no
// display needed. Exit status: 0 written, 1 the input could not be read or
// the output not written (the reason on standard error), 2 usage error.
#include <cctype>
#include <iostream>
#include <string>

#include "exporters/gltf_exporter.h"
#include "importers/model_formats.h"
#include "diagnostics/debug_output.h"

using namespace fyrel;

namespace {

const char* const kUsage = "usage: fyrel-convert [--verbose] INPUT OUTPUT.glb\n";

bool endsWithGlb(const std::string& path)
{
    if (path.size() < 4) {
        return false;
    }
    std::string ending = path.substr(path.size() - 4);
    for (char& c : ending) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ending == ".glb";
}

}  // namespace

int main(int argc, char** argv)
{
    std::string paths[2];
    int count = 0;
    bool verbose = false, options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "-v" || arg == "--verbose")) {
            verbose = true;
        } else if (options && (arg == "-h" || arg == "--help")) {
            std::cout << kUsage;
            return 0;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            std::cerr << "fyrel-convert: unknown option " << arg << '\n' << kUsage;
            return 2;
        } else if (count < 2) {
            paths[count++] = arg;
        } else {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (count != 2 || !endsWithGlb(paths[1])) {
        std::cerr << (count == 2 ? "fyrel-convert: the output must end in .glb\n" : "") << kUsage;
        return 2;
    }
    if (!verbose) {
        setDebugSink([](const std::string&) {});  // the importers' reading summaries
    }
    try {
        exportGlbFile(importModelFile(paths[0]), paths[1]);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
