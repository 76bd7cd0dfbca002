// fyrel [FILE...]: the program. Files named on the command line are opened
// at start-up as File > Open would (scene files too).

#include <cstdio>

#include "app/application.h"
#include "app/commands.h"
#include "app/frame_loop.h"
#include "importers/model_formats.h"
#include "platform/dialogs.h"
#include "platform/platform.h"

int main(int argc, char** argv)
{
    fyrel::keepFreedMemoryForReuse();
    fyrel::Platform platform(argc, argv);
    int exitCode = 0;
    try {
        fyrel::Application app;
        fyrel::offerRecovery(app);
        for (int i = 1; i < argc; ++i) {
            fyrel::openFileByName(app, argv[i]);
        }
        // The first file framed itself; the views now take in all of them.
        fyrel::frameScene(app);
        exitCode = fyrel::runFrameLoop(app);
    } catch (const fyrel::StartupError& error) {
        std::fprintf(stderr, "fyrel: %s\n", error.what());
        fyrel::messageBox(fyrel::kNoWindow, error.what(), "Fyrel", fyrel::MessageBoxIcon::Error);
        return 1;
    }
    return exitCode;
}
