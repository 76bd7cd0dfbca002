#pragma once

#include <cstdint>
#include <string>

namespace fyrel {

// Frame-rate statistics over measuring windows of a little more than five
// seconds. Per turn: add the turn's dt; once the summed time exceeds five
// seconds, the statistics of the window are written as a title text and
// start again.
struct FrameStatistics {
    static constexpr float kWindowSeconds = 5.0f;

    std::uint32_t frameCount = 0;
    float elapsed = 0.0f;
    float minFps = 3.4028235e38f;
    float maxFps = -3.4028235e38f;

    // Counts a turn of dt seconds. Returns true, with the text in title, when
    // the turn closed a measuring window:
    // "fyrel Project 1: <frames> frames in <elapsed> seconds (<average>fps)
    // MinFps(<min>) MaxFps(<max>)", numbers in the default stream format.
    // A turn of dt = 0 has an infinite rate.
    bool add(float dt, std::string& title);

    void reset();
};

// The title text for the given statistics.
std::string formatFrameTitle(std::uint32_t frameCount, float elapsed, float minFps, float maxFps);

}  // namespace fyrel
