#include "app/frame_statistics.h"

#include <gtest/gtest.h>

#include <vector>

namespace fyrel {
namespace {

// The title appears once more than five seconds have passed, counts frames
// over time (not the mean of the rates), and a new window starts after it.
TEST(FrameStatistics, TitleAfterMoreThanFiveSecondsThenANewWindow)
{
    EXPECT_EQ(formatFrameTitle(1234, 5.00012f, 120.5f, 410.2f),
              "fyrel Project 1: 1234 frames in 5.00012 seconds (246.794fps) MinFps(120.5) MaxFps(410.2)");
    struct Case {
        std::vector<float> frames;  // the title comes with the last
        const char* title;
    };
    const Case cases[] = {
        {{1.25f, 1.25f, 1.25f, 1.25f, 0.5f}, "fyrel Project 1: 5 frames in 5.5 seconds (0.909091fps) MinFps(0.8) MaxFps(2)"},
        {{0.5f, 4.0f, 1.0f}, "fyrel Project 1: 3 frames in 5.5 seconds (0.545455fps) MinFps(0.25) MaxFps(2)"},
        {{0.0f, 6.0f}, "fyrel Project 1: 2 frames in 6 seconds (0.333333fps) MinFps(0.166667) MaxFps(inf)"},
        {{6.0f}, "fyrel Project 1: 1 frames in 6 seconds (0.166667fps) MinFps(0.166667) MaxFps(0.166667)"},
    };
    FrameStatistics s;  // one for all: each title starts the next window afresh
    for (const Case& c : cases) {
        std::string title = "unchanged";
        for (std::size_t i = 0; i + 1 < c.frames.size(); ++i) {
            EXPECT_FALSE(s.add(c.frames[i], title)) << c.title;
            EXPECT_EQ(title, "unchanged");
        }
        EXPECT_TRUE(s.add(c.frames.back(), title));
        EXPECT_EQ(title, c.title);
    }
    int turns = 1;  // 5 s of 1/240 s turns, give or take rounding
    std::string title;
    while (!s.add(1.0f / 240.0f, title)) {
        ++turns;
    }
    EXPECT_GE(turns, 1199);
    EXPECT_LE(turns, 1203);
}

}  // namespace
}  // namespace fyrel
