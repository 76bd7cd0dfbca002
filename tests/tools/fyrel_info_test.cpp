#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "importers/ms3d_importer.h"
#include "run_program.h"
#include "scene/model.h"
#include "support/import_check.h"
#include "support/source_tree.h"
#include "tools/ms3d_writer.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");

// The posed box as the README describes it, formatted like the program.
std::string posedBoxLine()
{
    const Model imported = [] {
        DebugCapture quiet;
        return importMs3d(kDemo);
    }();
    Model m(imported);  // a copy binds its clips to itself
    updateAnimator(m.animator, 1.0f);
    updatePose(m);
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
    EXPECT_EQ(run.out, "file: " + kDemo +
                           "\n"
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
                           "animation 0: name \"Default MS3D Animation\", length 1, loop yes, tracks 17, keys 289\n"
                           "animation rate: 1\n"
                           "material ambient: 0.25 0.2 0.15 1\n"
                           "material diffuse: 0.85 0.55 0.3 1\n"
                           "material specular: 0.3 0.3 0.3 1\n"
                           "material emissive: 0 0 0 1\n"
                           "material shininess: 16\n"
                           "bind box: min -0.295 -0.11 0 max 0.295 0.2 1.88\n" +
                           posedBoxLine());
}

TEST(FyrelInfo, EscapesNamesAndLeavesOutWhatAModelDoesNotHave)
{
    // A skeleton without vertices, and vertices without a skeleton.
    const auto folder = std::filesystem::temp_directory_path() / ("fyrel-info-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    Ms3dFile bones;
    bones.joints.resize(2);
    bones.joints[0].name = "a\tb\\c";
    bones.joints[1].name = "child\x7f";
    bones.joints[1].parentName = bones.joints[0].name;
    Ms3dFile plain;
    plain.vertices.resize(1);
    plain.vertices[0].position[1] = -0.0f;
    const std::string named = (folder / "named\x01.ms3d").string(), empty = (folder / "plain.ms3d").string();
    saveMs3d(bones, named);
    saveMs3d(plain, empty);
    const auto run = runProgram(FYREL_INFO_PROGRAM, {named, empty});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("named\\x01.ms3d\nformat: MS3D\nvertices: 0\ntriangles: 0\nbones: 2\nbone tree:\n"
                           "  a\\x09b\\x5Cc\n    child\\x7F\nanimations: 1\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("bind box: none\nposed box: none\n\nfile: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("vertices: 1\ntriangles: 0\nbones: 0\nanimations: 0\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("bind box: min 0 0 0 max 0 0 0\nposed box: min 0 0 0 max 0 0 0\n"), std::string::npos)
        << run.out;
    std::filesystem::remove_all(folder);
}

TEST(FyrelInfo, ReportsFailuresOnStandardErrorGoesOnAndSeparatesFiles)
{
    auto run = runProgram(FYREL_INFO_PROGRAM, {"no-such-file.ms3d", kDemo, "model.obj"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("Cannot open file \"no-such-file.ms3d\": it does not exist.\n"
                            "Cannot import \"model.obj\": Fyrel reads model files ending in .ms3d",
                            0),
              0u)
        << run.err;
    EXPECT_EQ(run.out.rfind("file: " + kDemo + "\n", 0), 0u) << run.out;

    run = runProgram(FYREL_INFO_PROGRAM, {"--verbose", kDemo, kDemo});
    ASSERT_EQ(run.exitCode, 0);
    const std::size_t second = run.out.find("\n\nfile: " + kDemo + "\n");
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(run.out.substr(0, second + 1), run.out.substr(second + 2));
    EXPECT_NE(run.err.find("Reading " + kDemo + "\n"), std::string::npos);
    EXPECT_EQ(runProgram(FYREL_INFO_PROGRAM, {}).exitCode, 2);
    EXPECT_EQ(runProgram(FYREL_INFO_PROGRAM, {"--frobnicate", kDemo}).exitCode, 2);
}

TEST(FyrelInfo, RealSkinnedFilesArePosedAtTheSizeTheyWereBound)
{
    // Skinned .X files whose rest pose once came apart (a skin naming bones
    // the file has no frame for) and .ms3d files with skeletons.
    std::vector<std::string> files{kDemo};
    for (const char* folder : {"/usr/share/assimp/models/X", "/usr/share/assimp/models/MS3D"}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
            if (ext == ".x" || ext == ".ms3d") {
                files.push_back(entry.path().string());
            }
        }
    }
    ASSERT_GT(files.size(), 10u) << "install assimp-testmodels (scripts/setup does)";
    const auto run = runProgram(FYREL_INFO_PROGRAM, files);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::istringstream out(run.out);
    std::string line, file;
    float bind[6] = {}, box[6];
    int compared = 0;
    while (std::getline(out, line)) {
        if (line.rfind("file: ", 0) == 0) {
            file = line.substr(6);
        }
        std::sscanf(line.c_str(), "bind box: min %f %f %f max %f %f %f", &bind[0], &bind[1], &bind[2], &bind[3],
                    &bind[4], &bind[5]);
        if (std::sscanf(line.c_str(), "posed box: min %f %f %f max %f %f %f", &box[0], &box[1], &box[2], &box[3],
                        &box[4], &box[5]) != 6) {
            continue;
        }
        ++compared;
        // .X files have no animation: they are shown at rest, exactly as
        // bound. The others play their clip, which may stretch a limb.
        const bool rest = file.back() == 'x' || file.back() == 'X';
        for (int a = 0; a < 3; ++a) {
            const float bound = bind[a + 3] - bind[a], posed = box[a + 3] - box[a];
            if (rest) {
                EXPECT_NEAR(box[a], bind[a], 1e-3f * bound) << file << " axis " << a;
                EXPECT_NEAR(box[a + 3], bind[a + 3], 1e-3f * bound) << file << " axis " << a;
            } else {
                EXPECT_LE(posed, 3.0f * bound + 1e-6f) << file << " axis " << a;
                EXPECT_GE(3.0f * posed + 1e-6f, bound) << file << " axis " << a;
            }
        }
    }
    EXPECT_EQ(compared, static_cast<int>(files.size()));
}
