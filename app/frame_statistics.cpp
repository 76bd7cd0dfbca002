#include "app/frame_statistics.h"

#include <locale>
#include <sstream>

namespace fyrel {

bool FrameStatistics::add(float dt, std::string& title)
{
    frameCount = frameCount + 1;
    elapsed = elapsed + dt;
    const float fps = 1.0f / dt;
    if (minFps > fps) {
        minFps = fps;
    }
    if (maxFps < fps) {
        maxFps = fps;
    }
    if (!(elapsed > kWindowSeconds)) {
        return false;
    }
    title = formatFrameTitle(frameCount, elapsed, minFps, maxFps);
    reset();
    return true;
}

void FrameStatistics::reset()
{
    *this = FrameStatistics{};
}

std::string formatFrameTitle(std::uint32_t frameCount, float elapsed, float minFps, float maxFps)
{
    const float average = static_cast<float>(frameCount) / elapsed;
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << "fyrel Project 1: " << frameCount << " frames in " << elapsed << " seconds (" << average << "fps) "
         << "MinFps(" << minFps << ") MaxFps(" << maxFps << ")";
    return text.str();
}

}  // namespace fyrel
