#pragma once

#include <cstddef>
#include <cstdint>

namespace fyrel {

class Application;
struct Model;

// What the tool bar and the status bar show now, so that a frame rebuilds
// their lists only when the scene changed under them.
struct TransportShown {
    std::size_t modelCount = static_cast<std::size_t>(-1);
    const Model* model = nullptr;
    std::size_t clipCount = 0;
    std::int32_t clip = -1;
    bool playing = true;
    float sinceRefresh = 0.0f;  // seconds since the time and status texts were written
    int frames = 0;             // frames in that time
};

// The model the clip chooser and the time slider act on: the chosen one,
// which a newly added model replaces; null without models.
Model* transportModel(Application& app);

// Brings the tool bar and the status bar up to date after a frame of dt
// seconds (real time). The lists change at once, the time and the texts
// about ten times a second.
void refreshTransport(Application& app, float dt);

// A value control of the tool bar (kControl...) changed by the user; false
// for any other command.
bool handleTransportControl(Application& app, int id, int value);

}  // namespace fyrel
