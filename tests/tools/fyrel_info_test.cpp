#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "run_program.h"
#include "support/import_check.h"
#include "support/source_tree.h"
#include "importers/model_formats.h"
#include "tools/ms3d_writer.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");

}  // namespace

TEST(FyrelInfo, PrintsTheDocumentedSummaryOfTheDemo)
{
    const auto run = runProgram(FYREL_INFO_PROGRAM, {kDemo});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");  // the reading summary stays quiet without --verbose
    // The summary the README shows, posed box included, with the path as given.
    const std::string expected = fileBytes(sourcePath("tests/tools/walker_summary.txt"));
    EXPECT_EQ(run.out, "file: " + kDemo + expected.substr(expected.find('\n')));
}

TEST(FyrelInfo, EscapesNamesAndLeavesOutWhatAModelDoesNotHave)
{
    // A skeleton without vertices, and vertices without a skeleton.
    const auto folder = std::filesystem::temp_directory_path() / ("fyrel-info-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    Ms3dFile bones, plain;
    bones.joints = {Ms3dJoint{"a\tb\\c"}, Ms3dJoint{"child\x7f", "a\tb\\c"}};
    plain.vertices = {Ms3dVertex{{0, -0.0f, 0}}};
    const std::string named = (folder / "named\x01.ms3d").string(), empty = (folder / "plain.ms3d").string();
    saveMs3d(bones, named);
    saveMs3d(plain, empty);
    const auto run = runProgram(FYREL_INFO_PROGRAM, {named, empty});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("named\\x01.ms3d\nformat: MS3D\nvertices: 0\ntriangles: 0\nbones: 2\nbone tree:\n"
                           "  a\\x09b\\x5Cc\n    child\\x7F\nanimations: 1\n"),
              std::string::npos)
        << run.out;
    // The skeleton stands on its lowest joint.
    EXPECT_NE(run.out.find("bind box: none\nposed box: none\njoint box: min 0 0 0 max 0 0 0\nplaced box: none\n\nfile: "),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("vertices: 1\ntriangles: 0\nbones: 0\nanimations: 0\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(run.out.find("bind box: min")), "bind box: min 0 0 0 max 0 0 0\nposed box: min 0 0 0 max 0 0 0\n"
                                                      "joint box: none\nplaced box: min 0 0 0 max 0 0 0\n");
    std::filesystem::remove_all(folder);
}

// A model stands on z = 0 as placed: its bind box (the file's coordinates,
// which exports keep) lifted, no more.
TEST(FyrelInfo, PlacedBoxIsTheBindBoxStoodOnTheGround)
{
    for (const char* file : {"3DS/fels.3ds", "X/Testwuson.X", "glTF2/BoxTextured-glTF/BoxTextured.gltf"}) {
        const auto run = runProgram(FYREL_INFO_PROGRAM, {std::string("/usr/share/assimp/models/") + file});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto box = [&](const std::string& label) {
            std::array<float, 6> v{};
            std::string max;
            std::istringstream(run.out.substr(run.out.find(label + ": min ") + label.size() + 6)) >> v[0] >> v[1] >>
                v[2] >> max >> v[3] >> v[4] >> v[5];
            return v;
        };
        const auto bind = box("bind box"), placed = box("placed box");
        const float height = bind[5] - bind[2];
        EXPECT_EQ(placed[2], 0.0f) << file;
        EXPECT_NEAR(placed[5], height, 1e-3f * height) << file;
        for (int a : {0, 1, 3, 4}) {
            EXPECT_NEAR(placed[a], bind[a], 1e-3f * height) << file << " " << a;
        }
    }
}

TEST(FyrelInfo, ReportsFailuresOnStandardErrorGoesOnAndSeparatesFiles)
{
    auto run = runProgram(FYREL_INFO_PROGRAM, {"no-such-file.ms3d", kDemo, "model.lwo"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("Cannot open file \"no-such-file.ms3d\": it does not exist.\n"
                            "Cannot import \"model.lwo\": Fyrel reads model files ending in .ms3d",
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

// A scene: its models with their files (one that does not load says why and
// makes the exit status 1), paths, bindings, controllers and stored clips;
// fyrel-convert writes each model that loads, generated clips included.
TEST(FyrelInfo, PrintsWhatASceneHoldsAndConvertWritesItsModels)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("fyrel-scene-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(kDemo, dir / "walker.ms3d", std::filesystem::copy_options::overwrite_existing);
    std::string scene = fileBytes(sourcePath("tests/data/scene/two_models_a_path_and_a_reach.fyrel"));
    std::ofstream((dir / "s.fyrel").string()) << scene;
    const std::string path = (dir / "s.fyrel").string();
    auto run = runProgram(FYREL_INFO_PROGRAM, {path});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "scene: \"" + path + "\"\nversion: 1\nmodels: 2\n"
                       "model 0: file \"walker.ms3d\", loads, generated clips 1\n"
                       "model 1: file \"sub/other.x\", does not load: \"\\x22" + (dir / "sub/other.x").string() +
                       "\\x22 is missing or is not a regular file.\"\n"
                       "paths: 1\npath 0: points 3\nbindings: 2\nbinding 0: model 1 walks path 0\n"
                       "binding 1: model 0 walks path 0, then reaches with controller 0\nik controllers: 1\n"
                       "controller 0: model 0, end effector \"hand_r\", target 1 2 3 (placed)\ngenerated clips: 1\n");

    std::filesystem::copy_file(kDemo, dir / "other.ms3d", std::filesystem::copy_options::overwrite_existing);
    scene.replace(scene.find("sub/other.x"), 11, "other.ms3d");
    std::ofstream((dir / "s.fyrel").string()) << scene;
    run = runProgram(FYREL_CONVERT_PROGRAM, {path, (dir / "out.glb").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Model first = importModelFile((dir / "out-1.glb").string());
    ASSERT_EQ(first.animator.animations.size(), 2u);
    EXPECT_EQ(first.animator.animations[1].name, "IKAnimation");
    EXPECT_EQ(importModelFile((dir / "out-2.glb").string()).animator.animations.size(), 1u);
    std::filesystem::remove_all(dir);
}
