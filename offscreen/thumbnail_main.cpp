// fyrel-thumbnail: the file managers' thumbnailer (the freedesktop
// convention: fyrel-thumbnail -s SIZE INPUT OUTPUT), a square Studio picture
// of the model as PNG. Exit status as fyrel-render's.
#include <charconv>
#include <iostream>
#include <string>

#include "offscreen/render_job.h"

namespace {

const char* const kUsage = "usage: fyrel-thumbnail -s SIZE INPUT OUTPUT.png\n";

}  // namespace

int main(int argc, char** argv)
{
    fyrel::RenderJob job;
    int size = 0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-s" && i + 1 < argc) {
            const std::string text = argv[++i];
            const auto r = std::from_chars(text.data(), text.data() + text.size(), size);
            if (r.ec != std::errc{} || r.ptr != text.data() + text.size() || size < 1 || size > 4096) {
                std::cerr << "fyrel-thumbnail: -s wants a size of 1 to 4096 pixels, not " << text << '\n' << kUsage;
                return 2;
            }
        } else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::cerr << "fyrel-thumbnail: unknown option " << arg << '\n' << kUsage;
            return 2;
        } else {
            files.push_back(arg);
        }
    }
    if (size == 0 || files.size() != 2) {
        std::cerr << kUsage;
        return 2;
    }
    job.files = {files[0]};
    job.output = files[1];
    job.width = size;
    job.height = size;
    return fyrel::runRenderJob(job, std::cerr);
}
