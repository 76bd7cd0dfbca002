// The IK menu and the tree dialogs end to end: choosing the end effector,
// moving the target, generating near and far, the walk and the reach,
// failures, and the Scene Information dialog.

#include <QApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <algorithm>
#include <functional>

#include "ik/ik_controller.h"
#include "gui_test_support.h"
#include "workbench/edits.h"
#include "tests/animation/test_scenes.h"
#include "ui/scene_information_dialog.h"

namespace fyrel::test {
namespace {

const char* const kNoEffector = "Danger Zarnok!  Root bone not found bone bone bone";
const std::string kDemoSkeleton =
    "pelvis{spine{chest{neck{head},upper_arm_l{lower_arm_l{hand_l}},upper_arm_r{lower_arm_r{hand_r}}}},"
    "thigh_l{shin_l{foot_l}},thigh_r{shin_r{foot_r}}}";

int clipCount(const Model& model)
{
    int count = 0;
    for (const Animation& clip : model.animator.animations) {
        count += clip.name == "IKAnimation" ? 1 : 0;
    }
    return count;
}

bool playsIk(const Model& model)
{
    const auto& clips = model.animator.animations;
    return model.animator.current >= 0 && static_cast<std::size_t>(model.animator.current) < clips.size() &&
           clips[static_cast<std::size_t>(model.animator.current)].name == "IKAnimation";
}

// A skeleton whose children come in no particular order, with two clips of
// the same name around a third.
Model unorderedModel()
{
    Model model;
    model.rootBone = namedBone("root", {namedBone("alpha2"), namedBone("Beta", {namedBone("tip2"), namedBone("tip1")}),
                                        namedBone("ALPHA1")});
    for (const char* name : {"walk", "idle", "walk"}) {
        model.animator.animations.emplace_back().name = name;
    }
    return model;
}

class IkTest : public AppTest {
protected:
    // The demo walker at the origin with a controller on a bone.
    IkController& walkerWithController(const Vector3& target, const std::string& bone = "hand_l")
    {
        importModel();
        return app->ikControllers.emplace_back(bone, target, &app->models.back());
    }

    WindowHandle openSelector()
    {
        choose(kCommandAddIkController);
        const std::vector<WindowHandle> open = windowsCaptioned(*app, "End Effector Selector");
        return open.empty() ? kNoWindow : open.back();
    }
};

// Within five units on the ground the reach is generated and played at once,
// paths left alone; from five on, a walk replaces every path and binding and
// ends five short of the target.
TEST_F(IkTest, NearTargetsAreReachedAtOnceFarOnesAfterAWalk)
{
    struct Row {
        Vector3 target;
        bool walks;
        Vector3 walkEnd;
    };
    for (const Row& row : {Row{{4.9f, 0, 1.5f}, false, {}}, Row{{3, 3.9f, 100}, false, {}}, Row{{0, 5, 1.5f}, true, {0, 0, 0}},
                           Row{{-6, 8, 1.5f}, true, {-3, 4, 0}}}) {
        SCOPED_TRACE(row.target.x);
        choose(kCommandRemoveAllModels);
        choose(kCommandRemoveAllPaths);
        IkController& controller = walkerWithController(row.target);
        importModel();  // the controller's own model walks, not the one added last
        const Path* loop = &addPath({{0, 0, 0}, {3, 1, 0}, {6, 0, 0}});
        app->bindings.push_back(PathBinding{nullptr, &app->paths.back(), &app->models.back()});
        const Model& model = *controller.model;
        choose(kCommandGenerateIkAnimation);
        EXPECT_TRUE(script->requests.empty());
        EXPECT_EQ(playsIk(model), !row.walks);
        ASSERT_EQ(app->paths.size(), 1u);
        ASSERT_EQ(app->bindings.size(), 1u);
        if (!row.walks) {
            EXPECT_EQ(&app->paths.back(), loop);
            EXPECT_EQ(app->bindings.back().controller, nullptr);
            EXPECT_FLOAT_EQ(model.animator.rate, 1.0f);
            continue;
        }
        const Path& walk = app->paths.back();
        ASSERT_EQ(walk.controlPointCount(), 2u);
        EXPECT_NEAR(distance(walk.controlPoints[1], row.walkEnd), 0.0f, 1e-5f);
        EXPECT_EQ(app->bindings.back().controller, &controller);
        EXPECT_EQ(app->bindings.back().model, &model);
        EXPECT_FLOAT_EQ(model.animator.time, 0.0f);
        int frames = 0;
        while (!playsIk(model) && frames < 120) {
            simulate(1);
            ++frames;
            if (frames == 50) {  // halfway: on the line, near its middle
                EXPECT_NEAR(distance(model.position, {row.walkEnd.x / 2, row.walkEnd.y / 2, 0}), 0.0f, 0.25f);
            }
        }
        EXPECT_GE(frames, 99) << "the reach starts on arrival, not before";
        EXPECT_LE(frames, 101);
        EXPECT_NEAR(distance(model.position, row.walkEnd), 0.0f, 1e-3f);
        simulate(10);  // later frames play the clip without making it again
        EXPECT_EQ(clipCount(model), 1);
        EXPECT_EQ(clipCount(app->models.back()), 0);
    }
}

// A missing end effector is reported in a box once, at once or on arrival,
// and the program goes on; Remove All Paths during a walk cancels the reach.
TEST_F(IkTest, FailuresAreShownOnceAndACancelledWalkReachesForNothing)
{
    IkController& good = walkerWithController({1, 1, 1.5f});
    good.generateAnimation();
    app->ikControllers.emplace_back("no such bone", Vector3{0, 7, 1.5f}, &app->models.back());
    choose(kCommandGenerateIkAnimation);  // far: a walk
    simulate(110);
    app->ikControllers.back().target = {1, 1, 1.5f};
    choose(kCommandGenerateIkAnimation);  // near: at once
    ASSERT_EQ(script->requests.size(), 2u);
    for (const DialogRequest& box : script->requests) {
        EXPECT_EQ(box.caption, "Failed to generate IK Animation");
        EXPECT_EQ(box.text, kNoEffector);
        EXPECT_EQ(box.icon, MessageBoxIcon::Error);
    }
    EXPECT_EQ(clipCount(app->models.back()), 0);  // the earlier clip is gone, nothing plays
    EXPECT_EQ(app->models.back().animator.current, 0);
    runFrames(3);

    app->ikControllers.back().endEffectorName = "hand_r";
    app->ikControllers.back().target = {0, 12, 1.5f};
    choose(kCommandGenerateIkAnimation);
    simulate(40);
    const Vector3 stopped = app->models.back().position;
    choose(kCommandRemoveAllPaths);
    simulate(120);
    EXPECT_EQ(clipCount(app->models.back()), 0);
    EXPECT_EQ(distance(app->models.back().position, stopped), 0.0f);
}

// The whole road as a user takes it: import, choose the hand, nudge the
// target, generate; the walker walks there and reaches for the target.
TEST_F(IkTest, UserWalksTheDemoToTheTargetAndReaches)
{
    EXPECT_FALSE(menuAction(kCommandPlayIkAnimation)->isEnabled());
    EXPECT_EQ(openSelector(), kNoWindow);  // nothing to choose from
    answerFile(demoPath());
    choose(kCommandImportMs3d);
    const WindowHandle selector = openSelector();
    ASSERT_NE(selector, kNoWindow);
    EXPECT_EQ(outline(treeOf(selector)), kDemoSkeleton);
    clickItem(selector, "hand_r");
    clickButton(selector, "OK");
    ASSERT_EQ(app->ikControllers.size(), 1u);
    EXPECT_EQ(app->ikControllers.back().endEffectorName, "hand_r");
    EXPECT_EQ(mainWidget()->focusWidget(), mainWidget());  // the keyboard goes back to the main window

    // Before the target is placed: a box says why, and the model is left as it was.
    runFrames(1);
    const Model before = app->models.back();
    script->requests.clear();
    choose(kCommandGenerateIkAnimation);
    ASSERT_EQ(script->requests.size(), 1u);
    EXPECT_EQ(script->requests[0].caption, "Failed to generate IK Animation");
    EXPECT_NE(script->requests[0].text.find("has not been placed"), std::string::npos) << script->requests[0].text;
    runFrames(1);
    EXPECT_TRUE(app->paths.empty());
    EXPECT_TRUE(app->bindings.empty());
    EXPECT_EQ(clipCount(app->models.back()), 0);
    EXPECT_EQ(app->models.back().orientation.w, before.orientation.w);
    EXPECT_EQ(app->models.back().animator.rate, before.animator.rate);

    click(0, {20, 20});
    for (Qt::Key key : {Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Right, Qt::Key_Right, Qt::Key_Right,
                        Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_Right}) {
        QTest::keyClick(surface(0), key);
    }
    const Vector3 target = app->ikControllers.back().target;
    ASSERT_FLOAT_EQ(target.x, 2.0f);  // from (-2, 5, 5)
    ASSERT_FLOAT_EQ(target.y, 7.0f);
    choose(kCommandGenerateIkAnimation);
    const Model& model = app->models.back();
    for (int frames = 0; !playsIk(model) && frames < 30; ++frames) {
        runFrames(1, 4.0f);  // four seconds a frame: the walk takes 100 s
    }
    ASSERT_TRUE(playsIk(model));
    EXPECT_NEAR(distance({model.position.x, model.position.y, 0}, {2, 7, 0}), 5.0f, 0.05f);
    // Rewind the clip to the pose before the solve, then play most of it.
    app->models.back().animator.time = 0.0f;
    runFrames(1, 0.0f);
    const float handAtStart = distance(evaluatedOrigin(app->models.back(), "hand_r"), target);
    runFrames(1, 4.8f);  // 0.48 of the 0.5 s clip at rate 0.1: nearly the solved pose
    EXPECT_LT(distance(evaluatedOrigin(app->models.back(), "hand_r"), target), handAtStart - 0.5f);

    // Play IK Animation, shown disabled, still plays it from its start.
    app->models.back().animator.current = 0;
    app->onCommand(Command{kCommandPlayIkAnimation});
    EXPECT_TRUE(playsIk(model));
    EXPECT_EQ(model.animator.time, 0.0f);
}

// The last controller's target: arrows in x and y (from the main window in
// every view, so twice with two views), Page Up / Down in z, and Ctrl+click
// in the Path Window, which adds no point; drawn as a red point in every view.
TEST_F(IkTest, TheTargetMovesWithKeysAndCtrlClickAndShowsInEveryView)
{
    choose(kCommandOpenGlWindow);
    QTest::keyClick(mainWidget(), Qt::Key_Left);  // no controller: nothing to move
    importModel();
    view(0).camera.angles = Vector3{};  // two views looking along +Y, one turned a little
    view(1).camera.angles = Vector3{0.0f, 0.0f, 0.3f};
    view(0).camera.updateView();
    view(1).camera.updateView();
    choose(kCommandFrameAll);
    for (int controllers : {0, 1}) {
        runFrames(2);
        for (std::size_t i = 0; i < 2; ++i) {
            const QImage image = grab(i);
            const int red = countNear(image, project(view(i).camera, {-2, 5, 5}, image.size()), 6, isReddish);
            EXPECT_TRUE(controllers ? red > 4 : red == 0) << i << ": " << red;
        }
        if (controllers == 0) {
            app->ikControllers.emplace_back("hand_l", Vector3{-2.0f, 5.0f, 5.0f}, &app->models.back());
        }
    }
    const Vector3& target = app->ikControllers.back().target;
    const std::pair<std::function<void()>, Vector3> steps[] = {
        {[&] { QTest::keyClick(mainWidget(), Qt::Key_Left); }, {-3, 5, 5}},
        {[&] { QTest::keyClick(mainWidget(), Qt::Key_Up); }, {-3, 6, 5}},
        {[&] { QTest::keyClick(surface(1), Qt::Key_Right); }, {-2.5f, 6, 5}},
        {[&] { QTest::keyClick(surface(1), Qt::Key_Down); }, {-2.5f, 5.5f, 5}},
        {[&] { QTest::keyClick(surface(0), Qt::Key_PageUp); }, {-2.5f, 5.5f, 5.5f}},
        {[&] { QTest::keyClick(surface(0), Qt::Key_PageDown); }, {-2.5f, 5.5f, 5}},
        {[&] {
             choose(kCommandOpenPathWindow);
             click(2, {480, 120}, Qt::LeftButton, Qt::ControlModifier);
         },
         {2.5f, 2.5f, 5}},
    };
    for (const auto& [act, expected] : steps) {
        act();
        drain();
        EXPECT_NEAR(distance(target, expected), 0.0f, 1e-4f) << expected.x << "," << expected.y << "," << expected.z;
    }
    EXPECT_TRUE(app->paths.empty());
}

TEST_F(IkTest, SceneInformationListsTheSceneUntilRefreshedAndCloses)
{
    choose(kCommandSceneInformation);
    const WindowHandle dialog = app->sceneInfoDialog->dialogWindow;
    EXPECT_EQ(windowText(dialog), " Scene Information");
    EXPECT_TRUE(buttonOf(dialog, "&Close")->isDefault());
    EXPECT_EQ(outline(treeOf(dialog)), "Models,Paths");
    importModel();
    app->models.push_back(unorderedModel());
    runFrames(2);
    EXPECT_EQ(outline(treeOf(dialog)), "Models,Paths");  // a snapshot
    clickButton(dialog, "&Refresh");
    // Clips in list order above the bones, sorted by their text.
    // Materials only where the file brings them.
    const std::string demoFile = "File " + std::filesystem::absolute(demoPath()).lexically_normal().string();
    EXPECT_EQ(outline(treeOf(dialog)), "Models{Model 0{Animations{Default MS3D Animation},Bones{" + kDemoSkeleton +
                                           "}," + demoFile + ",Materials{walker (texture walker.png)}},Model 1{Animations{walk,idle,walk},"
                                           "Bones{root{ALPHA1,alpha2,Beta{tip1,tip2}}}}},Paths");
    // Paths with their points and walkers; a model's controllers by bone and target.
    addPathPoint(app->document, {0, 0, 0}, true);
    addPathPoint(app->document, {2, 0, 0}, false);
    addPathPoint(app->document, {9, 9, 0}, true);
    bindLastModelToLastPath(app->document);
    app->document.ikControllers.emplace_back("hand_l", Vector3{1.0f, 2.0f, 3.0f}, &app->models.front());
    clickButton(dialog, "&Refresh");
    const std::string shown = outline(treeOf(dialog));
    EXPECT_NE(shown.find(demoFile + ",IK Controllers{hand_l (target 1.000000 2.000000 3.000000)},Materials"),
              std::string::npos) << shown;
    EXPECT_EQ(shown.substr(shown.find("},Paths")), "},Paths{Path 0 (2 points),Path 1 (1 points){Model 1 walks it}}");
    app->document.ikControllers.clear();
    app->document.bindings.clear();
    app->document.paths.clear();
    for (int i = 0; i < 9; ++i) {
        app->models.push_back(unorderedModel());
    }
    clickButton(dialog, "&Refresh");
    std::string models;  // by their text, as the user reads them
    for (int i = 0; i < treeOf(dialog)->topLevelItem(0)->childCount(); ++i) {
        models += treeOf(dialog)->topLevelItem(0)->child(i)->text(0).toStdString() + ",";
    }
    EXPECT_EQ(models, "Model 0,Model 1,Model 10,Model 2,Model 3,Model 4,Model 5,Model 6,Model 7,Model 8,Model 9,");

    // Keys typed into it stay there; Escape, the Close button and the close
    // box close it and clear the field, also when a later one is open.
    app->ikControllers.emplace_back("hand_l", Vector3{1.0f, 2.0f, 3.0f}, &app->models.front());
    const float cameraY = view(0).camera.position.y;
    treeOf(dialog)->setFocus();
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_W}) {
        QTest::keyClick(treeOf(dialog), key);
    }
    EXPECT_EQ(app->ikControllers.back().target.x, 1.0f);
    EXPECT_EQ(view(0).camera.position.y, cameraY);
    QTest::keyClick(treeOf(dialog), Qt::Key_Escape);
    drain();
    EXPECT_FALSE(isWindow(dialog));
    EXPECT_EQ(app->sceneInfoDialog, nullptr);
    choose(kCommandSceneInformation);
    const WindowHandle first = app->sceneInfoDialog->dialogWindow;
    choose(kCommandSceneInformation);
    const WindowHandle second = app->sceneInfoDialog->dialogWindow;
    clickButton(first, "&Close");
    EXPECT_EQ(app->sceneInfoDialog, nullptr);
    EXPECT_TRUE(isWindow(second));
    windowWidget(second)->close();
    drain();
    EXPECT_FALSE(isWindow(second));
    runFrames(2);
}

// The selector shows the skeleton of the model that was last when it opened,
// and gives its controller to the model that is last on OK (a model imported
// meanwhile); nothing is built without a chosen bone or model. Closing
// another dialog leaves it on top and reachable.
TEST_F(IkTest, TheSelectorBuildsOneControllerForTheChosenBone)
{
    app->models.push_back(unorderedModel());
    WindowHandle dialog = openSelector();
    importModel();
    EXPECT_EQ(outline(treeOf(dialog)), "root{ALPHA1,alpha2,Beta{tip1,tip2}}");
    clickItem(dialog, "Beta");
    QTest::keyClick(treeOf(dialog), Qt::Key_Return);  // Return presses the default button, OK
    drain();
    EXPECT_FALSE(isWindow(dialog));
    ASSERT_EQ(app->ikControllers.size(), 1u);
    EXPECT_EQ(app->ikControllers.back().model, &app->models.back());
    EXPECT_EQ(app->ikControllers.back().endEffectorName, "Beta");
    EXPECT_TRUE(std::any_of(script->debugMessages.begin(), script->debugMessages.end(),
                            [](const std::string& m) { return m.find("Beta\n") != std::string::npos; }));

    for (const char* how : {"Cancel", "close box", "OK without a bone", "OK after Remove All Models"}) {
        dialog = openSelector();
        const std::string way = how;
        if (way != "OK without a bone") {
            clickItem(dialog, "head");
        }
        if (way == "OK after Remove All Models") {
            choose(kCommandRemoveAllModels);
        }
        way == "close box" ? (void)windowWidget(dialog)->close() : clickButton(dialog, way == "Cancel" ? "Cancel" : "OK");
        drain();
        EXPECT_FALSE(isWindow(dialog)) << how;
        EXPECT_EQ(app->ikControllers.size(), way == "OK after Remove All Models" ? 0u : 1u) << how;
    }

    // A name in another code page shows with a replacement character, yet
    // the controller gets the bone's exact bytes and finds the bone.
    Model model;
    model.rootBone = namedBone("root", {namedBone("\xE9paule", {namedBone("main")})});
    app->models.push_back(model);
    dialog = openSelector();
    choose(kCommandSceneInformation);
    const WindowHandle information = app->sceneInfoDialog->dialogWindow;
    EXPECT_NE(windowWidget(information)->pos(), windowWidget(dialog)->pos());  // cascaded, not on top
    clickButton(information, "&Close");
    auto* frame = qobject_cast<QMdiSubWindow*>(windowWidget(dialog));
    ASSERT_NE(frame, nullptr);
    // The area raises the window it activates next when the X server's focus
    // event arrives: on a busy machine, many frames later.
    const auto onTop = [&] { return frame->mdiArea()->subWindowList(QMdiArea::StackingOrder).back() == frame; };
    for (int wait = 0; wait < 200 && !onTop(); ++wait) {
        runFrames(1);
        QTest::qWait(20);
    }
    EXPECT_TRUE(onTop()) << "the selector is buried";
    treeOf(dialog)->expandAll();
    QTreeWidgetItem* shoulder = treeOf(dialog)->topLevelItem(0)->child(0);
    QTest::mouseClick(treeOf(dialog)->viewport(), Qt::LeftButton, Qt::NoModifier,
                      treeOf(dialog)->visualItemRect(shoulder).center());
    // What lies under its OK button is that button, not a view (once the X
    // server has restacked the windows: on a busy machine that takes a while).
    QPushButton* ok = buttonOf(dialog, "OK");
    const auto underOk = [&] { return QApplication::widgetAt(ok->mapToGlobal(ok->rect().center())); };
    for (int wait = 0; wait < 100 && underOk() != ok; ++wait) {
        runFrames(1);
        QTest::qWait(20);
    }
    ASSERT_EQ(underOk(), ok);
    QTest::mouseClick(ok, Qt::LeftButton);
    drain();
    ASSERT_EQ(app->ikControllers.size(), 1u);
    EXPECT_EQ(app->ikControllers.back().endEffectorName, "\xE9paule");
    EXPECT_NO_THROW(app->ikControllers.back().generateAnimation());
    openSelector();  // still open at shutdown: it goes with the main window
}

}  // namespace
}  // namespace fyrel::test
