#include "app/playback.h"

#include <algorithm>
#include <cmath>

namespace fyrel {

float Playback::sceneDt(float dt)
{
    if (playing) {
        return dt * speed;
    }
    const float step = pendingStep;
    pendingStep = 0.0f;
    return step;
}

void Playback::stepForward()
{
    playing = false;
    pendingStep = pendingStep + kFrameStep;
}

void Playback::setSpeed(float newSpeed)
{
    if (!std::isnan(newSpeed)) {
        speed = std::clamp(newSpeed, kMinSpeed, kMaxSpeed);
    }
}

float limitFrameDt(float dt)
{
    return std::min(dt, kMaxFrameDt);
}

}  // namespace fyrel
