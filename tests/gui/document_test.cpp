// The document through the real program: a scene saved and opened in a fresh
// program, each kind of step undone and redone, the unsaved-changes question
// on quit, and the recovery file of a program that was killed.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

#include "gui_test_support.h"
#include "support/import_check.h"
#include "ui/path_window.h"
#include "workbench/edits.h"

namespace fyrel::test {
namespace {

void put(std::ostringstream& out, const Vector3& v) { out << v.x << ' ' << v.y << ' ' << v.z << ';'; }

// Everything a save must keep and an undo restore, as text: the models with
// their files and generated clips key for key, the paths' points, the
// bindings and controllers by the indices they name.
std::string describe(const Application& app)
{
    const Document& d = app.document;
    std::ostringstream out;
    out.precision(9);
    for (std::size_t i = 0; i < d.models.size(); ++i) {
        const Animator& animator = d.models[i].animator;
        out << "model " << d.sources[i].file << " clips " << animator.animations.size() << " playing "
            << animator.current << '\n';
        for (std::size_t c = d.sources[i].fileClips; c < animator.animations.size(); ++c) {
            for (const auto& track : animator.animations[c].tracks) {
                for (const KeyFrame& key : track) {
                    out << key.time << ' ' << key.boneIndex << ' ' << key.rotation.x << ' ' << key.rotation.y << ' '
                        << key.rotation.z << ' ' << key.rotation.w << ' ';
                    put(out, key.translation);
                }
            }
            out << '\n';
        }
    }
    for (const Path& path : d.paths) {
        out << "path ";
        for (const Vector3& p : path.controlPoints) put(out, p);
        out << '\n';
    }
    for (const PathBinding& b : d.bindings) {
        out << "binding " << indexOfModel(d, b.model) << ' ' << (b.path - &d.paths[0]) << ' ' << (b.controller != nullptr)
            << '\n';
    }
    for (const IkController& c : d.ikControllers) {
        out << "controller " << indexOfModel(d, c.model) << ' ' << c.endEffectorName << ' ' << c.targetPlaced << ' ';
        put(out, c.target);
        out << '\n';
    }
    return out.str();
}

// Where every model stands and how it is posed.
std::vector<Vector3> poses(const Application& app)
{
    std::vector<Vector3> points;
    for (const Model& model : app.models) {
        points.push_back(model.position);
        for (const Vertex& v : model.skinnedVertices) points.push_back(v.position);
    }
    return points;
}

TEST_F(AppTest, ASavedSceneOpensTheSameInAFreshProgram)
{
    ScratchDir dir;
    const std::string beside = dir.write("walker.ms3d", readBytes(demoPath()));
    importModel(beside);
    importModel(demoPath());  // outside the scene's folder: named absolutely
    addPathPoint(app->document, {0, 0, 0}, true);
    addPathPoint(app->document, {4, 0, 0}, false);
    addPathPoint(app->document, {4, 4, 0}, false);
    choose(kCommandBindToPath);
    app->models.front().position = {1, 0, 0};
    addIkController(app->document, "hand_l", {0, 0, 0});
    ASSERT_TRUE(placeLastTarget(app->document, 1.0f, 1.0f));
    choose(kCommandGenerateIkAnimation);
    simulate(3, 0.5f);
    // The views: a Path Window beside the first view, each where it was put.
    choose(kCommandOpenPathWindow);
    lookAt(view(0).camera, {0, 0, 1}, 7.0f, 0.4f, -0.3f);
    ASSERT_TRUE(setChildWindowFrame(app->childWindows[1]->windowHandle, {300, 40, 420, 380}));
    const WindowFrame pathFrame = childWindowFrame(app->childWindows[1]->windowHandle);
    const EulerCameraFov camera = view(0).camera;
    answerFile(dir.path("work.fyrel"));
    choose(kCommandSaveSceneAs);
    app->showDocumentState();
    EXPECT_EQ(windowText(app->mainWindow).substr(0, 13), "work.fyrel - ");
    EXPECT_NE(readBytes(dir.path("work.fyrel")).find("\"file\":\"walker.ms3d\""), std::string::npos);
    const std::string saved = describe(*app);
    simulate(4, 0.25f);
    const std::vector<Vector3> later = poses(*app);

    app.reset();
    app = std::make_unique<Application>();
    app->onDrop({dir.path("work.fyrel")});  // dropped, as a user may
    EXPECT_EQ(describe(*app), saved);
    ASSERT_EQ(app->childWindows.size(), 2u);
    ASSERT_NE(dynamic_cast<PathWindow*>(app->childWindows[1].get()), nullptr);
    const WindowFrame reopenedFrame = childWindowFrame(app->childWindows[1]->windowHandle);
    EXPECT_EQ(std::tie(reopenedFrame.x, reopenedFrame.y, reopenedFrame.width, reopenedFrame.height),
              std::tie(pathFrame.x, pathFrame.y, pathFrame.width, pathFrame.height));
    EXPECT_EQ(view(0).camera.position, camera.position);
    EXPECT_EQ(view(0).camera.angles, camera.angles);
    EXPECT_FALSE(app->document.modified());
    simulate(4, 0.25f);
    const std::vector<Vector3> reopened = poses(*app);
    ASSERT_EQ(reopened.size(), later.size());
    // To the bit: the same clips at the same times, the paths' tables built as
    // they were drawn.
    for (std::size_t i = 0; i < later.size(); ++i) {
        ASSERT_EQ(reopened[i].x, later[i].x) << i;
        ASSERT_EQ(reopened[i].y, later[i].y) << i;
        ASSERT_EQ(reopened[i].z, later[i].z) << i;
    }

    // A damaged scene file is refused with its name and reason; nothing changes.
    const std::string scene = readBytes(dir.path("work.fyrel"));
    const std::string damaged = dir.write("damaged.fyrel", scene.substr(0, scene.size() / 2));
    const std::string before = describe(*app);
    EXPECT_FALSE(openFileByName(*app, damaged));
    EXPECT_EQ(lastRequest().caption, "Failed to open scene");
    EXPECT_NE(lastRequest().text.find(damaged + "\": byte "), std::string::npos) << lastRequest().text;
    EXPECT_EQ(describe(*app), before);

    // A model that is gone: the rest opens, and the box names what is missing.
    std::filesystem::remove(beside);
    ASSERT_TRUE(openSceneFile(*app, dir.path("work.fyrel")));
    EXPECT_EQ(app->models.size(), 1u);
    EXPECT_NE(lastRequest().text.find("walker.ms3d"), std::string::npos) << lastRequest().text;
}

// Each kind of step, done through the program; undone, the document and the
// picture are what they were before it; redone, what they were after.
TEST_F(AppTest, EveryKindOfStepUndoesAndRedoes)
{
    app->playback.playing = false;
    importModel();  // the first model frames the views: the steps start from there
    struct Step {
        const char* name;
        std::function<void()> run;
    };
    const std::vector<Step> steps = {
        {"Open Model", [&] { importModel(); }},
        {"New Path", [&] { addPathPoint(app->document, {1, -1, 0}, true); }},
        {"Add Path Point", [&] { addPathPoint(app->document, {3, 3, 0}, false); }},
        {"Bind to Path", [&] { choose(kCommandBindToPath); }},
        {"Add IK Controller", [&] { addIkController(app->document, "hand_l", {0, 0, 0}); }},
        // Three nudges with the arrow keys undo as one step.
        {"Move IK Target", [&] {
             for (int i = 0; i < 3; ++i) view(0).onKey(KeyPress{Key::Right, {}});
         }},
        {"Generate IK Animation", [&] { choose(kCommandGenerateIkAnimation); }},
        {"Remove All Paths", [&] { choose(kCommandRemoveAllPaths); }},
        {"Remove All Models", [&] { choose(kCommandRemoveAllModels); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        runFrames(2);
        const std::string before = describe(*app);
        const QImage beforePicture = grab(0);
        step.run();
        runFrames(2);
        const std::string after = describe(*app);
        const QImage afterPicture = grab(0);
        EXPECT_NE(after, before);
        EXPECT_EQ(menuAction(kCommandUndo)->text().toStdString(), std::string("&Undo ") + step.name);
        pressKey(Qt::Key_Z, Qt::ControlModifier);
        runFrames(2);
        EXPECT_EQ(describe(*app), before);
        EXPECT_EQ(differingPixels(grab(0), beforePicture), 0);
        pressKey(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        runFrames(2);
        EXPECT_EQ(describe(*app), after);
        EXPECT_EQ(differingPixels(grab(0), afterPicture), 0);
    }
}

// Quitting or a new scene with unsaved changes asks; Cancel keeps all, Discard
// goes on, Save writes the scene first.
TEST_F(AppTest, QuittingWithUnsavedChangesAsks)
{
    struct Case {
        int command;
        int answer;
        bool ends;
        bool saves;
        std::size_t models;  // left in the scene when the program goes on
    };
    for (const Case c : {Case{kCommandExit, 2, false, false, 1}, Case{kCommandExit, 1, true, false, 0},
                         Case{kCommandExit, 0, true, true, 0}, Case{kCommandNewScene, 2, false, false, 1},
                         Case{kCommandNewScene, 1, false, false, 0}}) {
        SCOPED_TRACE(c.command * 10 + c.answer);
        ScratchDir dir;
        if (!isWindow(app->mainWindow)) {
            app = std::make_unique<Application>();
        }
        app->makeGlCurrent();
        app->document.clear();
        importModel();
        script->answers.push_back(DialogAnswer{std::nullopt, c.answer});
        answerFile(dir.path("quit.fyrel"));
        choose(c.command);
        drain();
        EXPECT_EQ(lastRequest().kind, c.saves ? DialogKind::SaveFile : DialogKind::Question);
        EXPECT_EQ(!isWindow(app->mainWindow), c.ends);
        EXPECT_EQ(std::filesystem::exists(dir.path("quit.fyrel")), c.saves);
        if (!c.ends) {
            EXPECT_EQ(app->models.size(), c.models);
        }
        script->answers.clear();
    }
}

// A program killed after a change leaves its recovery file; the next start
// offers it, and restoring brings the models back as unsaved work of the
// scene they belong to.
TEST_F(AppTest, TheWorkOfAKilledProgramIsOffered)
{
    ScratchDir dir;
    const std::string state = dir.path("state");
    const std::string scene = dir.write("work.fyrel", R"({"fyrel": "scene", "version": 1})");
    const std::string stillModel = std::string(FYREL_SOURCE_DIR) + "/tests/data/materials/quad.3ds";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", dir.path("config").c_str(), 1);
        // A model without a clip: the scene stands still and nothing is drawn,
        // yet the change must reach the recovery file.
        execl(FYREL_PROGRAM, FYREL_PROGRAM, scene.c_str(), stillModel.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string recovery = state + "/fyrel/recovery-" + std::to_string(child) + ".fyrel";
    for (int i = 0; i < 600 && !std::filesystem::exists(recovery); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(std::filesystem::exists(recovery));

    const std::string ownState = std::getenv("XDG_STATE_HOME");
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    script->answers.push_back(DialogAnswer{std::nullopt, 0});
    offerRecovery(*app);
    ::setenv("XDG_STATE_HOME", ownState.c_str(), 1);
    EXPECT_EQ(script->requests.front().kind, DialogKind::Question);
    ASSERT_EQ(app->models.size(), 1u);
    EXPECT_EQ(app->document.sources[0].file, std::filesystem::absolute(stillModel).lexically_normal().string());
    EXPECT_TRUE(app->document.modified());
    EXPECT_EQ(app->document.file, std::filesystem::absolute(scene).lexically_normal().string());
    EXPECT_FALSE(std::filesystem::exists(recovery));
    EXPECT_FALSE(std::filesystem::exists(recovery + ".scene"));
}

}  // namespace
}  // namespace fyrel::test
