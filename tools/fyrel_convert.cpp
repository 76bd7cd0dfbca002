// fyrel-convert: reads a model file with the importer its ending selects and
// writes it as binary glTF (.glb) with its skeleton, skin and clips; no
// display needed. Exit status: 0 written, 1 the input could not be read or
// the output not written (the reason on standard error), 2 usage error.
#include <cctype>
#include <iostream>
#include <string>

#include "exporters/gltf_exporter.h"
#include "importers/model_formats.h"
#include "tools/scene_tools.h"
#include "tools/tool_arguments.h"

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
    ToolArguments arguments;
    if (const int status = readToolArguments(argc, argv, "fyrel-convert", kUsage, arguments); status >= 0) {
        return status;
    }
    const std::vector<std::string>& paths = arguments.files;
    if (paths.size() != 2 || !endsWithGlb(paths[1])) {
        std::cerr << (paths.size() == 2 ? "fyrel-convert: the output must end in .glb\n" : "") << kUsage;
        return 2;
    }
    quietUnlessVerbose(arguments);
    if (isSceneName(paths[0])) {
        return convertScene(std::cout, std::cerr, paths[0], paths[1]);
    }
    try {
        exportGlbFile(importModelFile(paths[0]), paths[1]);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
