// The import commands, the scene commands and the files named on the
// command line, with the file dialog and the message boxes answered by the
// tests.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "app/commands.h"
#include "gui_test_support.h"
#include "importers/model_formats.h"
#include "importers/import_error.h"
#include "importers/ms3d_importer.h"
#include "render/model_buffers.h"
#include "ui/resources.h"
#include "tools/ms3d_writer.h"
#include "support/source_tree.h"

namespace fyrel::test {
namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");

std::string importErrorText(const std::string& path)
{
    try {
        importModelFile(path);
    } catch (const ImportError& e) {
        return e.what();
    }
    return {};
}

// Two joints; the second turns a quarter turn about z between the keys at
// times 0 and 2, at one frame per second: one second in, it has turned an
// eighth, and the vertex it carries has left its bind position.
Ms3dFile turningArm()
{
    Ms3dFile file;
    file.fps = 1.0f;
    file.totalFrames = 2;
    Ms3dVertex anchor;
    anchor.boneIndex = 0;
    Ms3dVertex tip;
    tip.position[0] = 2.0f;
    tip.boneIndex = 1;
    Ms3dVertex side;
    side.position[1] = 1.0f;
    side.boneIndex = 0;
    file.vertices = {anchor, tip, side};
    Ms3dTriangle triangle;
    triangle.indices[0] = 0;
    triangle.indices[1] = 1;
    triangle.indices[2] = 2;
    file.triangles = {triangle};
    file.materials = {Ms3dMaterial{}};
    Ms3dJoint root;
    root.name = "root";
    root.rotationKeys = {{0.0f, {0, 0, 0}}, {2.0f, {0, 0, 0}}};
    root.translationKeys = {{0.0f, {0, 0, 0}}, {2.0f, {0, 0, 0}}};
    Ms3dJoint arm;
    arm.name = "arm";
    arm.parentName = "root";
    arm.position[0] = 1.0f;
    arm.rotationKeys = {{0.0f, {0, 0, 0}}, {2.0f, {0, 0, 1.5707964f}}};
    arm.translationKeys = {{0.0f, {0, 0, 0}}, {2.0f, {0, 0, 0}}};
    file.joints = {root, arm};
    return file;
}

class ImportTest : public AppTest {};

TEST_F(ImportTest, ImportedModelStandsOneSecondIntoItsClip)
{
    ScratchDir dir;
    const std::vector<std::uint8_t> bytes = writeMs3d(turningArm());
    const std::string path = dir.write("arm.ms3d", std::string(bytes.begin(), bytes.end()));
    answerFile(path);
    choose(kCommandImportMs3d);
    ASSERT_EQ(app->models.size(), 1u);
    const Model& model = app->models.back();
    EXPECT_FLOAT_EQ(model.animator.time, 1.0f);
    const Model bind = importMs3d(path);
    ASSERT_EQ(model.skinnedVertices.size(), 3u);
    const Vector3 tip = model.skinnedVertices[1].position;
    const Vector3 bindTip = bind.vertices[1].position;
    // An eighth of a turn about the joint one unit along x.
    EXPECT_NEAR(length(Vector3{tip.x - bindTip.x, tip.y - bindTip.y, tip.z - bindTip.z}),
                2.0f * std::sin(0.3926991f), 1e-3f);
}

TEST_F(ImportTest, ImportMs3dAppendsTheModelAdvancedOnceAndPosed)
{
    answerFile(kDemo);
    choose(kCommandImportMs3d);

    ASSERT_EQ(script->requests.size(), 1u);
    const DialogRequest& dialog = script->requests[0];
    EXPECT_EQ(dialog.kind, DialogKind::OpenFile);
    EXPECT_EQ(dialog.owner, app->mainWindow);
    ASSERT_EQ(dialog.filters.size(), 2u);
    EXPECT_EQ(dialog.filters[0].name, "MS3D File");
    EXPECT_EQ(dialog.filters[0].pattern, "*.ms3d");
    EXPECT_EQ(dialog.filters[1].name, "All");
    EXPECT_EQ(dialog.filters[1].pattern, "*.*");

    ASSERT_EQ(app->models.size(), 1u);
    const Model& added = app->models.back();
    EXPECT_EQ(bufferFunctions(added), nullptr);  // buffers come with the next frame

    // What one second's advance and a pose evaluation give.
    const Model imported = importMs3d(kDemo);
    Model expected(imported);
    updateAnimator(expected.animator, 1.0f);
    updatePose(expected);
    EXPECT_FLOAT_EQ(added.animator.time, expected.animator.time);
    ASSERT_EQ(added.skinnedVertices.size(), expected.skinnedVertices.size());
    ASSERT_FALSE(added.skinnedVertices.empty());
    for (std::size_t i = 0; i < added.skinnedVertices.size(); ++i) {
        EXPECT_FLOAT_EQ(added.skinnedVertices[i].position.x, expected.skinnedVertices[i].position.x);
        EXPECT_FLOAT_EQ(added.skinnedVertices[i].position.z, expected.skinnedVertices[i].position.z);
    }
    // The copy's keys drive the copy's own bones.
    EXPECT_EQ(added.animator.model, &added);

    runFrames(1);
    EXPECT_EQ(bufferFunctions(app->models.back()), &app->glFunctions);
}

TEST_F(ImportTest, CancellingTheFileDialogAddsAndShowsNothing)
{
    choose(kCommandImportMs3d);
    EXPECT_TRUE(app->models.empty());
    ASSERT_EQ(script->requests.size(), 1u);
    EXPECT_EQ(script->requests[0].kind, DialogKind::OpenFile);
}

TEST_F(ImportTest, BrokenFileShowsTheImportersTextAndLeavesModelsUnchanged)
{
    answerFile(kDemo);
    choose(kCommandImportMs3d);
    ASSERT_EQ(app->models.size(), 1u);
    const Model* first = &app->models.front();

    ScratchDir dir;
    const std::string whole = readBytes(kDemo);
    const std::string broken = dir.write("broken.ms3d", whole.substr(0, whole.size() / 2));
    const std::string expectedText = importErrorText(broken);
    ASSERT_FALSE(expectedText.empty());

    answerFile(broken);
    choose(kCommandImportMs3d);
    ASSERT_EQ(script->requests.size(), 3u);
    const DialogRequest& box = script->requests[2];
    EXPECT_EQ(box.kind, DialogKind::MessageBox);
    EXPECT_EQ(box.caption, "Failed to load .MS3D");
    EXPECT_EQ(box.text, expectedText);
    EXPECT_EQ(box.icon, MessageBoxIcon::Error);
    EXPECT_EQ(box.owner, app->mainWindow);
    ASSERT_EQ(app->models.size(), 1u);
    EXPECT_EQ(&app->models.front(), first);

    // Not an .ms3d file at all.
    answerFile(dir.write("text.ms3d", "this is not a model"));
    choose(kCommandImportMs3d);
    ASSERT_EQ(script->requests.size(), 5u);
    EXPECT_EQ(script->requests[4].caption, "Failed to load .MS3D");
    EXPECT_EQ(app->models.size(), 1u);
    runFrames(2);  // the program goes on drawing
}

TEST_F(ImportTest, RemoveAllModelsEmptiesModelsBindingsAndControllersButKeepsPaths)
{
    answerFile(kDemo);
    choose(kCommandImportMs3d);
    answerFile(kDemo);
    choose(kCommandImportMs3d);
    runFrames(1);
    ASSERT_EQ(app->models.size(), 2u);
    Path path;
    path.addControlPoint({0.0f, 0.0f, 0.0f});
    path.addControlPoint({4.0f, 0.0f, 0.0f});
    path.buildCurve();
    path.buildArcLengthTable();
    app->paths.push_back(path);
    app->ikControllers.emplace_back("hand_l", Vector3{1.0f, 1.0f, 1.0f}, &app->models.back());
    PathBinding binding;
    binding.path = &app->paths.back();
    binding.model = &app->models.back();
    app->bindings.push_back(binding);

    choose(kCommandRemoveAllModels);
    EXPECT_TRUE(app->models.empty());
    EXPECT_TRUE(app->bindings.empty());
    EXPECT_TRUE(app->ikControllers.empty());
    EXPECT_EQ(app->paths.size(), 1u);
    runFrames(2);
}

TEST_F(ImportTest, FilesNamedOnTheCommandLineAreImportedLikeTheCommandDoes)
{
    importFileByName(*app, kDemo);
    ASSERT_EQ(app->models.size(), 1u);
    EXPECT_FALSE(app->models.back().skinnedVertices.empty());  // posed at once
    EXPECT_TRUE(script->requests.empty());  // no file dialog

    ScratchDir dir;
    const std::string broken = dir.write("cut.ms3d", readBytes(kDemo).substr(0, 40));
    importFileByName(*app, broken);
    ASSERT_EQ(script->requests.size(), 1u);
    EXPECT_EQ(script->requests[0].caption, "Failed to load .MS3D");
    EXPECT_EQ(script->requests[0].text, importErrorText(broken));

    const std::string unknown = dir.write("notes.txt", "hello");
    importFileByName(*app, unknown);
    ASSERT_EQ(script->requests.size(), 2u);
    EXPECT_EQ(script->requests[1].kind, DialogKind::MessageBox);
    EXPECT_EQ(script->requests[1].text, importErrorText(unknown));
    EXPECT_FALSE(script->requests[1].text.empty());
    EXPECT_EQ(app->models.size(), 1u);

    importFileByName(*app, dir.write("missing/none.ms3d", ""));
    EXPECT_EQ(script->requests.size(), 3u);
    EXPECT_EQ(app->models.size(), 1u);
}

TEST_F(ImportTest, RealMs3dFilesOfOtherAuthorsImport)
{
    for (const char* name : {"MS3D/jeep1.ms3d", "MS3D/Wuson.ms3d", "MS3D/twospheres.ms3d"}) {
        const std::string path = assimpModel(name);
        if (path.empty()) {
            GTEST_SKIP() << "assimp-testmodels not installed";
        }
        answerFile(path);
        choose(kCommandImportMs3d);
    }
    EXPECT_EQ(app->models.size(), 3u);
    for (const DialogRequest& r : script->requests) {
        EXPECT_EQ(r.kind, DialogKind::OpenFile) << r.text;
    }
    runFrames(3);
    for (const Model& m : app->models) {
        EXPECT_NE(bufferFunctions(m), nullptr);
    }
}

}  // namespace
}  // namespace fyrel::test
