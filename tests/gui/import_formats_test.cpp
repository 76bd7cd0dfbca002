// The Import .3ds and Import .X commands: their warning boxes, file dialogs
// and error boxes answered by the tests, the models they add and how those
// look in every view; and both formats named on the command line.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "app/commands.h"
#include "gui_test_support.h"
#include "importers/import_error.h"
#include "importers/model_formats.h"
#include "importers/three_ds_importer.h"
#include "importers/x/x_importer.h"
#include "platform/qt_access.h"
#include "render/model_buffers.h"
#include "ui/resources.h"
#include "ui/path_window.h"

namespace fyrel::test {
namespace {

const char* const k3dsWarning =
    "Animation is not supported in .3ds files, use .ms3d (Milkshape3D) files for animation";
const char* const kXWarning =
    ".X files are imported without their materials and textures: the model is drawn in the default grey "
    "material.";

template <typename Import>
std::string errorText(Import import)
{
    try {
        import();
    } catch (const ImportError& e) {
        return e.what();
    }
    return {};
}

bool isBoneBlue(QRgb c)  // (0.5, 0.5, 1.0)
{
    return std::abs(qRed(c) - 128) < 12 && std::abs(qGreen(c) - 128) < 12 && qBlue(c) > 240;
}

bool isGrey(QRgb c)  // the lit default material: red, green and blue alike
{
    return qRed(c) > 40 && std::abs(qRed(c) - qGreen(c)) < 8 && std::abs(qRed(c) - qBlue(c)) < 8;
}

int differingPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size()) {
        return a.width() * a.height();
    }
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            count += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        }
    }
    return count;
}

// Points the camera at target from distance away, turned by yaw about the
// world z axis and tilted by pitch (negative: looking down).
void lookAt(EulerCameraFov& camera, const Vector3& target, float distance, float yaw, float pitch)
{
    const Vector3 direction{-std::sin(yaw) * std::cos(pitch), std::cos(yaw) * std::cos(pitch), std::sin(pitch)};
    camera.angles = {pitch, 0.0f, yaw};
    camera.setPosition({target.x - distance * direction.x, target.y - distance * direction.y,
                        target.z - distance * direction.z});
}

class ImportFormatsTest : public AppTest {
protected:
    std::string model(const std::string& relativePath)
    {
        const std::string path = assimpModel(relativePath);
        if (path.empty()) {
            ADD_FAILURE() << "assimp-testmodels is not installed: " << relativePath;
        }
        return path;
    }

    // The warning box is answered first (OK), then the file dialog.
    void answerAfterWarning(const std::string& path)
    {
        script->answers.push_back(DialogAnswer{});
        answerFile(path);
    }

    void expectWarning(const DialogRequest& r, const std::string& text, const std::string& caption)
    {
        EXPECT_EQ(r.kind, DialogKind::MessageBox);
        EXPECT_EQ(r.text, text);
        EXPECT_EQ(r.caption, caption);
        EXPECT_EQ(r.icon, MessageBoxIcon::Warning);
        EXPECT_EQ(r.owner, app->mainWindow);
    }

    void expectFileDialog(const DialogRequest& r, const std::string& name, const std::string& pattern)
    {
        EXPECT_EQ(r.kind, DialogKind::OpenFile);
        EXPECT_EQ(r.owner, app->mainWindow);
        ASSERT_EQ(r.filters.size(), 2u);
        EXPECT_EQ(r.filters[0].name, name);
        EXPECT_EQ(r.filters[0].pattern, pattern);
        EXPECT_EQ(r.filters[1].name, "All");
        EXPECT_EQ(r.filters[1].pattern, "*.*");
    }

    void expectErrorBox(const DialogRequest& r, const std::string& text, const std::string& caption)
    {
        EXPECT_EQ(r.kind, DialogKind::MessageBox);
        EXPECT_EQ(r.text, text);
        EXPECT_EQ(r.caption, caption);
        EXPECT_EQ(r.icon, MessageBoxIcon::Error);
        EXPECT_EQ(r.owner, app->mainWindow);
    }
};

TEST_F(ImportFormatsTest, Import3dsWarnsEveryTimeEvenWhenTheDialogIsCancelled)
{
    for (int time = 0; time < 2; ++time) {
        choose(kCommandImport3ds);
        ASSERT_EQ(script->requests.size(), 2u * (time + 1));
        expectWarning(script->requests[2 * time], k3dsWarning, "Animation not supported");
        expectFileDialog(script->requests[2 * time + 1], "3ds File", "*.3ds");
    }
    EXPECT_TRUE(app->models.empty());
}

TEST_F(ImportFormatsTest, Import3dsAppendsAStaticModelWithoutAnAnimationStep)
{
    const std::string path = model("3DS/test1.3ds");
    runFrames(2);
    const QImage empty = grab(0);

    answerAfterWarning(path);
    choose(kCommandImport3ds);
    ASSERT_EQ(script->requests.size(), 2u);  // the warning and the file dialog only
    ASSERT_EQ(app->models.size(), 1u);
    const Model& added = app->models.back();
    const Model expected = import3ds(path);
    EXPECT_EQ(added.vertices.size(), expected.vertices.size());
    EXPECT_EQ(added.triangles.size(), expected.triangles.size());
    EXPECT_TRUE(added.animator.animations.empty());
    EXPECT_EQ(added.animator.model, &added);
    // Neither advanced nor posed: that comes with the next frame.
    EXPECT_FLOAT_EQ(added.animator.time, 0.0f);
    EXPECT_TRUE(added.skinnedVertices.empty());
    EXPECT_EQ(bufferFunctions(added), nullptr);

    // Twenty units across, in front of the default camera: it fills the view.
    runFrames(2);
    EXPECT_NE(bufferFunctions(app->models.back()), nullptr);
    EXPECT_GT(differingPixels(empty, grab(0)), 20000);
}

TEST_F(ImportFormatsTest, A3dsFileThatFailsIsShownAndLeavesTheModelsAlone)
{
    answerAfterWarning(model("3DS/fels.3ds"));
    choose(kCommandImport3ds);
    ASSERT_EQ(app->models.size(), 1u);
    const Model* first = &app->models.front();

    ScratchDir dir;
    const std::string whole = readBytes(model("3DS/test1.3ds"));
    const std::vector<std::string> bad = {
        model("invalid/empty.3ds"),
        dir.write("cut.3ds", whole.substr(0, whole.size() / 3)),
        dir.write("text.3ds", "this is not a 3D Studio file"),
    };
    std::size_t expectedRequests = 2;
    for (const std::string& path : bad) {
        const std::string text = errorText([&] { import3ds(path); });
        ASSERT_EQ(text.rfind("Unable to load 3ds file", 0), 0u) << path << ": " << text;
        answerAfterWarning(path);
        choose(kCommandImport3ds);
        expectedRequests += 3;
        ASSERT_EQ(script->requests.size(), expectedRequests) << path;
        expectErrorBox(script->requests.back(), text, "Failed to load .3ds");
        ASSERT_EQ(app->models.size(), 1u);
        EXPECT_EQ(&app->models.front(), first);
    }
    runFrames(2);  // the program goes on
}

TEST_F(ImportFormatsTest, ImportXWarnsEveryTimeEvenWhenTheDialogIsCancelled)
{
    for (int time = 0; time < 2; ++time) {
        choose(kCommandImportX);
        ASSERT_EQ(script->requests.size(), 2u * (time + 1));
        expectWarning(script->requests[2 * time], kXWarning, "Materials not supported");
        expectFileDialog(script->requests[2 * time + 1], "X File", "*.x");
    }
    EXPECT_TRUE(app->models.empty());
}

TEST_F(ImportFormatsTest, ImportXAppendsTheModelAdvancedOncePosedAndDrawnInEveryView)
{
    const std::string path = model("X/test_cube_text.x");
    // Every view looks closely at the two-centimetre cube at the origin: the
    // first GlWindow from the front, a second one from above and aside, the
    // Path Window from straight above through a five-centimetre box.
    choose(kCommandOpenGlWindow);
    choose(kCommandOpenPathWindow);
    ASSERT_EQ(app->childWindows.size(), 3u);
    for (std::size_t i = 0; i < 2; ++i) {
        view(i).camera.fov = 0.05f;
        view(i).camera.updateProjection();
    }
    lookAt(view(0).camera, {0.0f, 0.0f, 0.0f}, 2.0f, 0.0f, 0.0f);
    lookAt(view(1).camera, {0.0f, 0.0f, 0.0f}, 2.0f, 0.7f, -0.6f);
    auto* top = dynamic_cast<PathWindow*>(app->childWindows[2].get());
    ASSERT_NE(top, nullptr);
    top->camera = OrthoCamera({0.05f, 0.05f, 10000.0f});
    runFrames(2);
    std::vector<QImage> before;
    for (std::size_t i = 0; i < 3; ++i) {
        before.push_back(grab(i));
    }

    answerAfterWarning(path);
    choose(kCommandImportX);
    ASSERT_EQ(script->requests.size(), 2u);
    ASSERT_EQ(app->models.size(), 1u);
    const Model& added = app->models.back();
    Model expected(importX(path));
    updateAnimator(expected.animator, 1.0f);
    updatePose(expected);
    EXPECT_EQ(added.animator.model, &added);
    EXPECT_FLOAT_EQ(added.animator.time, expected.animator.time);
    ASSERT_EQ(added.skinnedVertices.size(), added.vertices.size());
    ASSERT_EQ(added.skinnedVertices.size(), expected.skinnedVertices.size());
    for (std::size_t i = 0; i < added.skinnedVertices.size(); ++i) {
        EXPECT_FLOAT_EQ(added.skinnedVertices[i].position.x, expected.skinnedVertices[i].position.x);
        EXPECT_FLOAT_EQ(added.skinnedVertices[i].position.y, expected.skinnedVertices[i].position.y);
        EXPECT_FLOAT_EQ(added.skinnedVertices[i].position.z, expected.skinnedVertices[i].position.z);
    }
    EXPECT_FLOAT_EQ(added.baseTransform(0, 0), -0.01f);  // the .X base transform

    runFrames(2);
    for (std::size_t i = 0; i < 3; ++i) {
        const QImage after = grab(i);
        EXPECT_GT(differingPixels(before[i], after), 8000) << "view " << i;
        if (i < 2) {
            // Its faces towards the light are lit grey; from straight above
            // the light grazes the top face, which stays dark.
            EXPECT_GT(countPixels(after, isGrey), 4000) << "view " << i;
        } else {
            const QPoint centre(after.width() / 2 + 20, after.height() / 2 + 20);
            EXPECT_NE(after.pixel(centre), before[i].pixel(centre));
        }
    }
}

TEST_F(ImportFormatsTest, AnXFileThatFailsIsShownAndLeavesTheModelsAlone)
{
    answerAfterWarning(model("X/test_cube_binary.x"));
    choose(kCommandImportX);
    ASSERT_EQ(app->models.size(), 1u);
    const Model* first = &app->models.front();

    ScratchDir dir;
    const std::string whole = readBytes(model("X/test_cube_text.x"));
    const std::vector<std::string> bad = {
        model("invalid/empty.x"),
        dir.write("cut.x", whole.substr(0, whole.size() / 2)),
        dir.write("text.x", "this is not a DirectX file"),
    };
    std::size_t expectedRequests = 2;
    for (const std::string& path : bad) {
        answerAfterWarning(path);
        choose(kCommandImportX);
        expectedRequests += 3;
        ASSERT_EQ(script->requests.size(), expectedRequests) << path;
        expectErrorBox(script->requests.back(), kXLoadFailedMessage, "Failed to load .X");
        ASSERT_EQ(app->models.size(), 1u);
        EXPECT_EQ(&app->models.front(), first);
    }
    // The reader's own reason went to the debug output.
    EXPECT_FALSE(script->allDebugOutput().empty());

    // A file that is gone between the dialog and the import.
    answerAfterWarning(dir.write("gone.x", "") + ".missing");
    choose(kCommandImportX);
    expectErrorBox(script->requests.back(), kXLoadFailedMessage, "Failed to load .X");
    EXPECT_EQ(app->models.size(), 1u);
    runFrames(2);
}

TEST_F(ImportFormatsTest, ASkinnedXCharacterStandsInItsBindPoseWithItsSkeleton)
{
    const std::string path = model("X/Testwuson.X");
    answerAfterWarning(path);
    choose(kCommandImportX);
    ASSERT_EQ(app->models.size(), 1u);
    Model& wuson = app->models.back();
    ASSERT_TRUE(wuson.hasSkin());
    ASSERT_GT(wuson.rootBone.children.size(), 0u);

    // It plays the first of its clips; the last, "Wuson_Bind", holds the
    // bind pose: every skinned vertex back on its imported place.
    ASSERT_EQ(wuson.animator.animations.size(), 3u);
    EXPECT_EQ(wuson.animator.current, 0);
    wuson.animator.current = 2;
    runFrames(1);
    ASSERT_EQ(wuson.skinnedVertices.size(), wuson.vertices.size());
    float largest = 0.0f;
    float deviation = 0.0f;
    for (std::size_t i = 0; i < wuson.vertices.size(); ++i) {
        const Vector3 p = wuson.skinnedVertices[i].position;
        const Vector3 q = wuson.vertices[i].position;
        largest = std::max(largest, length(q));
        deviation = std::max(deviation, length(Vector3{p.x - q.x, p.y - q.y, p.z - q.z}));
    }
    EXPECT_LT(deviation, 1e-3f * largest);

    // Three centimetres long, seen closely from the front left and above.
    EulerCameraFov& camera = view(0).camera;
    camera.fov = 0.05f;
    camera.updateProjection();
    lookAt(camera, {0.0f, 0.0f, 0.007f}, 1.0f, -0.8f, -0.35f);
    runFrames(3);
    const QImage image = grab(0);
    EXPECT_GT(countPixels(image, isGrey), 5000);      // the mesh, lit
    EXPECT_GT(countPixels(image, isBoneBlue), 100);   // the joints, over the mesh
}

TEST_F(ImportFormatsTest, BothFormatsNamedOnTheCommandLineAreImportedLikeTheirCommands)
{
    importFileByName(*app, model("3DS/fels.3ds"));
    importFileByName(*app, model("X/test_cube_compressed.x"));
    EXPECT_TRUE(script->requests.empty());  // no warning, no dialog
    ASSERT_EQ(app->models.size(), 2u);
    EXPECT_TRUE(app->models.front().skinnedVertices.empty());  // .3ds: no animation step
    EXPECT_EQ(app->models.back().skinnedVertices.size(), app->models.back().vertices.size());  // .X: posed

    importFileByName(*app, model("invalid/empty.3ds"));
    importFileByName(*app, model("invalid/empty.x"));
    ASSERT_EQ(script->requests.size(), 2u);
    EXPECT_EQ(script->requests[0].caption, "Failed to load .3ds");
    EXPECT_EQ(script->requests[1].caption, "Failed to load .X");
    EXPECT_EQ(script->requests[1].text, kXLoadFailedMessage);
    EXPECT_EQ(app->models.size(), 2u);
}

// Import .glTF offers both glTF endings and adds the skinned model with its
// clip; Export glTF writes the chosen model as .glb, which reads back the
// same; with no model, or a file that cannot be written, a box says why.
TEST_F(ImportFormatsTest, ImportGltfAndExportTheModelAsGlb)
{
    choose(kCommandExportGltf);
    ASSERT_EQ(script->requests.size(), 1u);
    EXPECT_EQ(script->requests[0].icon, MessageBoxIcon::Warning);

    answerFile(model("glTF2/simple_skin/simple_skin.gltf"));
    choose(kCommandImportGltf);
    ASSERT_EQ(script->requests.size(), 2u);
    expectFileDialog(script->requests[1], "glTF", "*.gltf *.glb");
    ASSERT_EQ(app->models.size(), 1u);
    EXPECT_EQ(app->models[0].animator.animations.size(), 1u);

    ScratchDir dir;
    const std::string target = dir.write("out.glb", "");
    answerFile(target);
    choose(kCommandExportGltf);
    ASSERT_EQ(script->requests.size(), 3u);
    EXPECT_EQ(script->requests[2].kind, DialogKind::SaveFile);
    const Model back = importModelFile(target);
    EXPECT_EQ(back.vertices.size(), app->models[0].vertices.size());
    EXPECT_EQ(back.animator.animations.size(), 1u);

    answerFile(target + "/cannot/be/written.glb");
    choose(kCommandExportGltf);
    ASSERT_EQ(script->requests.size(), 5u);
    expectErrorBox(script->requests[4], "Cannot write \"" + target + "/cannot/be/written.glb\".", "Export glTF");
}

}  // namespace
}  // namespace fyrel::test
