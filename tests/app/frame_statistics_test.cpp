#include "app/frame_statistics.h"

#include <gtest/gtest.h>

#include <limits>
#include <regex>

namespace fyrel {
namespace {

TEST(FrameStatistics, TitleHasTheExactShape)
{
    EXPECT_EQ(formatFrameTitle(1234, 5.00012f, 120.5f, 410.2f),
              "fyrel Project 1: 1234 frames in 5.00012 seconds (246.794fps) MinFps(120.5) MaxFps(410.2)");
}

TEST(FrameStatistics, NoTitleUntilMoreThanFiveSeconds)
{
    FrameStatistics s;
    std::string title = "unchanged";
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(s.add(1.25f, title));  // 1.25, 2.5, 3.75, 5.0: not more than five
    }
    EXPECT_EQ(title, "unchanged");
    EXPECT_EQ(s.frameCount, 4u);
    EXPECT_FLOAT_EQ(s.elapsed, 5.0f);
    EXPECT_TRUE(s.add(0.5f, title));
    EXPECT_EQ(title, "fyrel Project 1: 5 frames in 5.5 seconds (0.909091fps) MinFps(0.8) MaxFps(2)");
}

TEST(FrameStatistics, WindowStartsAgainAfterTheTitle)
{
    FrameStatistics s;
    std::string title;
    s.add(6.0f, title);
    EXPECT_EQ(s.frameCount, 0u);
    EXPECT_EQ(s.elapsed, 0.0f);
    EXPECT_EQ(s.minFps, 3.4028235e38f);
    EXPECT_EQ(s.maxFps, -3.4028235e38f);
    EXPECT_FALSE(s.add(0.1f, title));
    EXPECT_EQ(s.frameCount, 1u);
}

TEST(FrameStatistics, AverageIsFramesOverTimeNotTheMeanRate)
{
    FrameStatistics s;
    std::string title;
    s.add(0.5f, title);            // 2 fps
    s.add(4.0f, title);            // 0.25 fps
    ASSERT_TRUE(s.add(1.0f, title));  // 1 fps; 3 frames in 5.5 s
    EXPECT_NE(title.find("(0.545455fps)"), std::string::npos) << title;
    EXPECT_NE(title.find("MinFps(0.25) MaxFps(2)"), std::string::npos) << title;
}

TEST(FrameStatistics, ZeroDtIsAnInfiniteRate)
{
    FrameStatistics s;
    std::string title;
    s.add(0.0f, title);
    EXPECT_EQ(s.maxFps, std::numeric_limits<float>::infinity());
    ASSERT_TRUE(s.add(6.0f, title));
    EXPECT_NE(title.find("MaxFps(inf)"), std::string::npos) << title;
}

TEST(FrameStatistics, ManyShortFramesGiveTheStatisticsFormat)
{
    FrameStatistics s;
    std::string title;
    int turns = 0;
    while (!s.add(1.0f / 240.0f, title)) {
        ++turns;
    }
    EXPECT_GE(turns, 1199);  // 5 s of 1/240 s turns, give or take rounding
    const std::regex shape(R"(fyrel Project 1: \d+ frames in [0-9.e+]+ seconds \([0-9.e+]+fps\) MinFps\([0-9.e+]+\) MaxFps\([0-9.e+]+\))");
    EXPECT_TRUE(std::regex_match(title, shape)) << title;
}

}  // namespace
}  // namespace fyrel
