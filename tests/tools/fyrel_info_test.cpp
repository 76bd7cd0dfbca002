#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <locale>
#include <sstream>
#include <string>

#include "importers/ms3d_importer.h"
#include "run_program.h"
#include "scene/debug_output.h"
#include "scene/model.h"

using namespace fyrel;
using fyrel::test::runProgram;

namespace {

const char* const kDemo = "resources/demo/walker.ms3d";

// The posed box as the README describes it, formatted like the program.
std::string posedBoxLine()
{
    const DebugSink previous = setDebugSink([](const std::string&) {});
    const Model imported = importMs3d(kDemo);
    setDebugSink(previous);
    Model m(imported);
    m.animator.update(1.0f);
    m.updatePose();
    float low[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                    std::numeric_limits<float>::max()};
    float high[3] = {-low[0], -low[0], -low[0]};
    for (const Vertex& v : m.skinnedVertices) {
        Vector4 w;
        transform(m.baseTransform, Vector4{v.position.x, v.position.y, v.position.z, 1.0f}, w);
        const float p[3] = {w.x, w.y, w.z};
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], p[a]);
            high[a] = std::max(high[a], p[a]);
        }
    }
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s << "posed box: min " << low[0] + 0.0f << ' ' << low[1] + 0.0f << ' ' << low[2] + 0.0f << " max "
      << high[0] + 0.0f << ' ' << high[1] + 0.0f << ' ' << high[2] + 0.0f << '\n';
    return s.str();
}

}  // namespace

TEST(FyrelInfo, PrintsTheDocumentedSummaryOfTheDemo)
{
    const auto run = runProgram(FYREL_INFO_PROGRAM, {kDemo});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");  // the reading summary stays quiet without --verbose
    const std::string expected = std::string("file: resources/demo/walker.ms3d\n"
                                             "format: MS3D\n"
                                             "vertices: 432\n"
                                             "triangles: 216\n"
                                             "bones: 17\n"
                                             "bone tree:\n"
                                             "  pelvis\n"
                                             "    spine\n"
                                             "      chest\n"
                                             "        neck\n"
                                             "          head\n"
                                             "        upper_arm_l\n"
                                             "          lower_arm_l\n"
                                             "            hand_l\n"
                                             "        upper_arm_r\n"
                                             "          lower_arm_r\n"
                                             "            hand_r\n"
                                             "    thigh_l\n"
                                             "      shin_l\n"
                                             "        foot_l\n"
                                             "    thigh_r\n"
                                             "      shin_r\n"
                                             "        foot_r\n"
                                             "animations: 1\n"
                                             "animation 0: name \"Default MS3D Animation\", length 1, loop yes, "
                                             "tracks 17, keys 289\n"
                                             "animation rate: 1\n"
                                             "material ambient: 0.25 0.2 0.15 1\n"
                                             "material diffuse: 0.85 0.55 0.3 1\n"
                                             "material specular: 0.3 0.3 0.3 1\n"
                                             "material emissive: 0 0 0 1\n"
                                             "material shininess: 16\n"
                                             "bind box: min -0.295 -0.11 0 max 0.295 0.2 1.88\n") +
                                 posedBoxLine();
    EXPECT_EQ(run.out, expected);
}

TEST(FyrelInfo, ReportsFailuresOnStandardErrorAndGoesOn)
{
    const auto run = runProgram(FYREL_INFO_PROGRAM, {"no-such-file.ms3d", kDemo, "model.obj"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("Cannot open file \"no-such-file.ms3d\": it does not exist.\n"
                            "Cannot import \"model.obj\": Fyrel reads model files ending in .ms3d",
                            0),
              0u)
        << run.err;
    EXPECT_EQ(run.out.rfind("file: resources/demo/walker.ms3d\n", 0), 0u) << run.out;
}

TEST(FyrelInfo, SeparatesFilesByABlankLineAndShowsSummariesWhenVerbose)
{
    const auto run = runProgram(FYREL_INFO_PROGRAM, {"--verbose", kDemo, kDemo});
    ASSERT_EQ(run.exitCode, 0);
    const std::size_t second = run.out.find("\n\nfile: resources/demo/walker.ms3d\n");
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(run.out.substr(0, second + 1), run.out.substr(second + 2));
    EXPECT_NE(run.err.find("Reading resources/demo/walker.ms3d\n"), std::string::npos);

    EXPECT_EQ(runProgram(FYREL_INFO_PROGRAM, {}).exitCode, 2);
    EXPECT_EQ(runProgram(FYREL_INFO_PROGRAM, {"--frobnicate", kDemo}).exitCode, 2);
}
