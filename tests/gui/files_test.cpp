// Files in and out as a user handles them: the import commands with their
// notices, dialogs and error boxes, files named on the command line or
// dropped, File > Open with Recent Files and the settings, Export glTF.

#include <QApplication>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "images/texture_image.h"
#include "importers/import_error.h"
#include "importers/model_formats.h"
#include "importers/ms3d_importer.h"
#include "render/model_buffers.h"
#include "render/studio_look.h"
#include "gui_test_support.h"
#include "tests/animation/test_scenes.h"
#include "tools/ms3d_writer.h"

namespace fyrel::test {
namespace {

std::string importErrorText(const std::string& path)
{
    try {
        importModelFile(path);
    } catch (const ImportError& e) {
        return e.what();
    }
    return "(no error)";
}

// Two joints; the second turns a quarter turn about z between the keys at
// times 0 and 2, at one frame per second: one second in, it has turned an
// eighth, and the vertex it carries has left its bind position.
std::string turningArm(const ScratchDir& dir)
{
    Ms3dFile file;
    file.fps = 1.0f;
    file.totalFrames = 2;
    file.vertices.resize(3);
    file.vertices[1].position[0] = 2.0f;
    file.vertices[1].boneIndex = 1;
    file.vertices[2].position[1] = 1.0f;
    Ms3dTriangle triangle;
    triangle.indices[0] = 0;
    triangle.indices[1] = 1;
    triangle.indices[2] = 2;
    file.triangles = {triangle};
    file.materials = {Ms3dMaterial{}};
    file.joints.resize(2);
    file.joints[0].name = "root";
    file.joints[1].name = "arm";
    file.joints[1].parentName = "root";
    file.joints[1].position[0] = 1.0f;
    for (Ms3dJoint& joint : file.joints) {
        joint.rotationKeys = {{0.0f, {0, 0, 0}}, {2.0f, {0, 0, &joint == &file.joints[1] ? 1.5707964f : 0.0f}}};
        joint.translationKeys = {{0.0f, {0, 0, 0}}, {2.0f, {0, 0, 0}}};
    }
    const std::vector<std::uint8_t> bytes = writeMs3d(file);
    return dir.write("arm.ms3d", std::string(bytes.begin(), bytes.end()));
}

TEST_F(AppTest, ImportedModelStandsOneSecondIntoItsClip)
{
    ScratchDir dir;
    const std::string path = turningArm(dir);
    answerFile(path);
    choose(kCommandImportMs3d);
    ASSERT_EQ(app->models.size(), 1u);
    const Model& model = app->models.back();
    EXPECT_FLOAT_EQ(model.animator.time, 1.0f);
    ASSERT_EQ(model.skinnedVertices.size(), 3u);
    // An eighth of a turn about the joint one unit along x.
    EXPECT_NEAR(distance(model.skinnedVertices[1].position, importMs3d(path).vertices[1].position),
                2.0f * std::sin(0.3926991f), 1e-3f);
    EXPECT_EQ(bufferFunctions(model), nullptr);  // buffers come with the next frame
    runFrames(1);
    EXPECT_EQ(bufferFunctions(model), &app->glFunctions);
}

// Each import command: its notice (every time, also when the dialog is then
// cancelled), its file dialog, the model it adds (posed one second in, or
// left for the next frame), and for files it cannot read an error box with
// the importer's text that leaves the models as they were.
TEST_F(AppTest, EveryImportCommandWarnsAsksAndReportsFailures)
{
    ScratchDir dir;
    const std::string demo = readBytes(demoPath());
    const std::string room = readBytes(assimpModel("3DS/test1.3ds"));
    const std::string cube = readBytes(assimpModel("X/test_cube_text.x"));
    struct Row {
        int command;
        const char* notice;  // caption, or none
        const char* filter;
        std::string good;
        bool posed;
        std::vector<std::string> bad;
        const char* failure;
    };
    const Row rows[] = {
        {kCommandImportMs3d, nullptr, "*.ms3d", demoPath(), true,
         {dir.write("half.ms3d", demo.substr(0, demo.size() / 2)), dir.write("text.ms3d", "not a model")},
         "Failed to load .MS3D"},
        {kCommandImport3ds, "Animation not supported", "*.3ds", assimpModel("3DS/fels.3ds"), false,
         {assimpModel("invalid/empty.3ds"), dir.write("cut.3ds", room.substr(0, room.size() / 3)),
          dir.write("text.3ds", "not a 3D Studio file")},
         "Failed to load .3ds"},
        {kCommandImportX, nullptr, "*.x", assimpModel("X/test_cube_binary.x"), true,
         {assimpModel("invalid/empty.x"), dir.write("cut.x", cube.substr(0, cube.size() / 2)),
          dir.write("text.x", "not a DirectX file"), dir.path("gone.x")},
         "Failed to load .X"},
        {kCommandImportGltf, nullptr, "*.gltf *.glb", assimpModel("glTF2/simple_skin/simple_skin.gltf"), true,
         {dir.write("text.gltf", "{ not json")}, "Failed to load .glTF"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.filter);
        choose(kCommandRemoveAllModels);
        // Each command reads its answers in turn: the notice's OK, then the file.
        const auto importFile = [&](const std::string& path) {
            script->requests.clear();
            if (row.notice) {
                script->answers.push_back(DialogAnswer{});
            }
            path.empty() ? script->answers.push_back(DialogAnswer{}) : answerFile(path);  // cancel, or the file
            choose(row.command);
            ASSERT_GE(script->requests.size(), row.notice ? 2u : 1u);
            const DialogRequest& dialog = script->requests[row.notice ? 1 : 0];
            EXPECT_EQ(dialog.kind, DialogKind::OpenFile);
            ASSERT_EQ(dialog.filters.size(), 2u);
            EXPECT_EQ(dialog.filters[0].pattern, row.filter);
            EXPECT_EQ(dialog.filters[1].pattern, "*.*");
            if (row.notice) {
                EXPECT_EQ(script->requests[0].caption, row.notice);
                EXPECT_EQ(script->requests[0].icon, MessageBoxIcon::Warning);
            }
        };
        importFile("");  // cancelled
        EXPECT_TRUE(app->models.empty());
        importFile(row.good);
        ASSERT_EQ(app->models.size(), 1u);
        const Model& added = app->models.front();
        EXPECT_EQ(added.skinnedVertices.size(), row.posed ? added.vertices.size() : 0u);
        for (const std::string& bad : row.bad) {
            importFile(bad);
            const DialogRequest& box = lastRequest();
            EXPECT_EQ(box.kind, DialogKind::MessageBox) << bad;
            EXPECT_EQ(box.caption, row.failure) << bad;
            EXPECT_EQ(box.text, importErrorText(bad)) << bad;
            // Which file, and (beyond the caption) why.
            EXPECT_NE(box.text.find(std::filesystem::path(bad).filename().string()), std::string::npos) << box.text;
            EXPECT_EQ(box.icon, MessageBoxIcon::Error);
            EXPECT_EQ(box.owner, app->mainWindow);
            ASSERT_EQ(app->models.size(), 1u);
            EXPECT_EQ(&app->models.front(), &added);
        }
        runFrames(2);  // the program goes on drawing
        EXPECT_NE(bufferFunctions(added), nullptr);
    }
}

// Named on the command line or dropped on the main window, a file is
// imported by its ending as the command does, without notices or dialogs;
// one that cannot be read is refused in an error box and the others load.
TEST_F(AppTest, FilesNamedOnTheCommandLineOrDroppedAreImportedByTheirEnding)
{
    ScratchDir dir;
    importModel(assimpModel("3DS/fels.3ds"));
    importModel(assimpModel("X/test_cube_compressed.x"));
    EXPECT_TRUE(script->requests.empty());
    EXPECT_TRUE(app->models.front().skinnedVertices.empty());  // .3ds: no animation step
    EXPECT_EQ(app->models.back().skinnedVertices.size(), app->models.back().vertices.size());
    for (const std::string& bad : {dir.write("cut.ms3d", readBytes(demoPath()).substr(0, 40)), dir.path("none.ms3d"),
                                   assimpModel("invalid/empty.x"), dir.write("notes.txt", "hello")}) {
        const std::size_t before = script->requests.size();
        EXPECT_FALSE(importFileByName(*app, bad));
        ASSERT_EQ(script->requests.size(), before + 1) << bad;
        EXPECT_EQ(lastRequest().text, importErrorText(bad));
    }
    EXPECT_NE(lastRequest().text.find("notes.txt"), std::string::npos);

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.path("notes.txt"))),
                  QUrl::fromLocalFile(QString::fromStdString(demoPath()))});
    const QPoint middle(mainWidget()->width() / 2, mainWidget()->height() / 2);
    QDragEnterEvent enter(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(mainWidget(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(middle), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(mainWidget(), &drop);
    drain();
    EXPECT_EQ(lastRequest().icon, MessageBoxIcon::Error);
    ASSERT_EQ(app->models.size(), 3u);
    EXPECT_EQ(app->modelName(app->models.back(), 2), "walker.ms3d");
}

// Files Assimp reads go through the import worker: its crash is an error
// box naming the file, a hang shows the progress panel whose Cancel stops
// it without a box, and the session goes on.
TEST_F(AppTest, TheImportWorkersCrashIsAnErrorBoxAndItsProgressCanBeCancelled)
{
    const std::string fbx = assimpModel("FBX/huesitos.fbx");
    setenv("FYREL_WORKER_FAULT", "crash", 1);
    EXPECT_FALSE(importFileByName(*app, fbx));
    EXPECT_EQ(lastRequest().kind, DialogKind::MessageBox);
    EXPECT_EQ(lastRequest().caption, "Failed to load .FBX");
    EXPECT_EQ(lastRequest().text.rfind("\"" + fbx + "\" cannot be read: the reader crashed on it", 0), 0u)
        << lastRequest().text;
    setenv("FYREL_WORKER_FAULT", "hang", 1);
    script->requests.clear();
    script->answers.push_back(DialogAnswer{{}, kIdCancel});
    EXPECT_FALSE(importFileByName(*app, fbx));
    unsetenv("FYREL_WORKER_FAULT");
    ASSERT_EQ(script->requests.size(), 1u);
    EXPECT_EQ(script->requests[0].kind, DialogKind::Progress);
    EXPECT_NE(script->requests[0].text.find("huesitos.fbx"), std::string::npos);
    EXPECT_TRUE(app->models.empty());
    EXPECT_TRUE(importFileByName(*app, fbx));
    ASSERT_EQ(app->models.size(), 1u);
    EXPECT_EQ(app->models[0].vertices.size(), 256u);
}

// One dialog offers every format; the folder, the recent files, the window's
// place and the display sync are remembered by the next run, and a recent
// file that is gone leaves the list with an error box.
TEST_F(AppTest, OpenRecentFilesAndSettingsSurviveARestart)
{
    ScratchDir scratch;
    const std::string copy = scratch.write("copy.ms3d", readBytes(demoPath()));
    const std::string room = assimpModel("3DS/test1.3ds");
    for (const std::string& file : {demoPath(), room, copy}) {
        answerFile(file);
        choose(kCommandOpen);
    }
    ASSERT_EQ(script->requests.size(), 3u);  // no "Animation not supported" notice
    EXPECT_EQ(script->requests[0].filters.front().pattern,
              "*.fyrel *.ms3d *.3ds *.x *.gltf *.glb *.fbx *.dae *.zae *.bvh *.md5mesh *.md5anim *.smd *.b3d *.iqm *.obj *.ply "
              "*.stl *.off");
    EXPECT_EQ(script->requests[1].directory, std::filesystem::path(demoPath()).parent_path().string());
    EXPECT_EQ(app->models.size(), 3u);
    EXPECT_EQ(app->recentFiles, (std::vector<std::string>{copy, room, demoPath()}));
    const auto recentItems = [this] { return menuAction(kCommandRecentFiles)->menu()->actions(); };
    EXPECT_EQ(recentItems()[0]->text().toStdString(), "&1 " + copy);
    recentItems().back()->trigger();  // the demo again: imported, and first now
    drain();
    EXPECT_EQ(app->models.size(), 4u);
    EXPECT_EQ(app->recentFiles.front(), demoPath());

    choose(kCommandSyncToDisplay);
    mainWidget()->setGeometry(QRect(60, 50, 900, 700));
    drain();
    const QRect placed = mainWidget()->geometry();
    const std::vector<std::string> remembered = app->recentFiles;
    pressKey(Qt::Key_Q, Qt::ControlModifier);  // quits, saving the settings
    EXPECT_FALSE(isWindow(app->mainWindow));
    app.reset();
    drain();
    app = std::make_unique<Application>();
    drain();
    EXPECT_EQ(app->recentFiles, remembered);
    EXPECT_EQ(mainWidget()->geometry(), placed);
    EXPECT_FALSE(app->syncToDisplay);  // on by default, turned off above
    EXPECT_FALSE(menuAction(kCommandSyncToDisplay)->isChecked());

    std::filesystem::remove(copy);
    recentItems()[1]->trigger();
    drain();
    EXPECT_EQ(lastRequest().icon, MessageBoxIcon::Error);
    EXPECT_EQ(std::count(app->recentFiles.begin(), app->recentFiles.end(), copy), 0);
    EXPECT_TRUE(app->models.empty());
}

// Export glTF writes the chosen model as .glb, which reads back the same;
// with no model, or a file that cannot be written, a box says why.
TEST_F(AppTest, ExportGltfWritesTheModelOrSaysWhyNot)
{
    choose(kCommandExportGltf);
    EXPECT_EQ(lastRequest().icon, MessageBoxIcon::Warning);
    const Model& model = importModel(assimpModel("glTF2/simple_skin/simple_skin.gltf"));
    ScratchDir dir;
    const std::string target = dir.path("out.glb");
    answerFile(target);
    choose(kCommandExportGltf);
    EXPECT_EQ(lastRequest().kind, DialogKind::SaveFile);
    const Model back = importModelFile(target);
    EXPECT_EQ(back.vertices.size(), model.vertices.size());
    EXPECT_EQ(back.animator.animations.size(), 1u);
    answerFile(target + "/cannot/be/written.glb");
    choose(kCommandExportGltf);
    EXPECT_EQ(lastRequest().caption, "Export glTF");
    EXPECT_EQ(lastRequest().text, "Cannot write \"" + target + "/cannot/be/written.glb\".");
}

// View > Look changes every view and is remembered; Save Picture draws the
// active view in its look at its size or a chosen width, Save Clip as Video
// writes the clip.
TEST_F(AppTest, LookAndSavedPicturesAndVideos)
{
    importModel();
    choose(kCommandLookStudio);
    runFrames(2);
    EXPECT_TRUE(menuAction(kCommandLookStudio)->isChecked());
    const QImage shown = grab(0);
    EXPECT_NEAR(qRed(shown.pixel(2, 0)), kStudioTop[0], 3);
    ScratchDir dir;
    const struct {
        int button;
        int width;
    } sizes[] = {{kIdSizeOfView, shown.width()}, {kIdWidth1280, 1280}};
    for (const auto& size : sizes) {
        script->answers.push_back(DialogAnswer{std::nullopt, size.button});
        answerFile(dir.path("view.png"));
        choose(kCommandSavePicture);
        Image picture;
        std::string reason;
        ASSERT_TRUE(decodeImageFile(dir.path("view.png"), picture, reason)) << reason;
        EXPECT_EQ(picture.width, size.width);
        EXPECT_NEAR(picture.height, size.width * shown.height() / shown.width(), 1);
        EXPECT_NEAR(picture.data[0], kStudioTop[0], 3);
        QImage asQt(picture.data.data(), picture.width, picture.height, QImage::Format_RGBA8888);
        EXPECT_GT(countPixels(asQt, isDemo), picture.width * picture.height / 50);
        if (size.button == kIdSizeOfView) {
            // The view's own picture, multisampled alike: edges do not
            // differ, only the last bits of the light.
            const QImage saved = asQt.convertToFormat(QImage::Format_RGB32);
            int far = 0;
            for (int y = 0; y < saved.height(); ++y) {
                for (int x = 0; x < saved.width(); ++x) {
                    const QRgb a = saved.pixel(x, y), b = shown.pixel(x, y);
                    far += std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                     std::abs(qBlue(a) - qBlue(b))}) > 24;
                }
            }
            EXPECT_LT(far, saved.width() * saved.height() / 200);
        }
        if (const char* folder = std::getenv("FYREL_TEST_PICTURES")) {
            asQt.save(QString::fromStdString(std::string(folder) + "/saved-" + std::to_string(size.width) + ".png"));
        }
    }
    answerFile(dir.path("walk.mp4"));
    choose(kCommandSaveClipVideo);
    EXPECT_GT(readBytes(dir.path("walk.mp4")).size(), 1000u);

    pressKey(Qt::Key_Q, Qt::ControlModifier);
    app.reset();
    drain();
    app = std::make_unique<Application>();
    drain();
    EXPECT_EQ(app->look, Look::Studio);
    choose(kCommandLookClassic);
    importModel();
    runFrames(2);
    EXPECT_EQ(qRed(grab(0).pixel(2, 0)), 0);
}

}  // namespace
}  // namespace fyrel::test
