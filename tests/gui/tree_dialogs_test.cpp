// The Scene Information dialog and the End Effector Selector, driven with the
// menu, the mouse and the keyboard.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

#include "app/commands.h"
#include "gui_test_support.h"
#include "importers/three_ds_importer.h"
#include "platform/qt_access.h"
#include "platform/window.h"
#include "ui/resources.h"
#include "tree_dialog_probe.h"
#include "ui/scene_information_dialog.h"
#include "support/source_tree.h"

namespace fyrel::test {
namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");
const char* const kSceneInformation = " Scene Information";
const char* const kSelector = "End Effector Selector";

const std::string kDemoSkeleton =
    "pelvis{spine{chest{neck{head},upper_arm_l{lower_arm_l{hand_l}},upper_arm_r{lower_arm_r{hand_r}}}},"
    "thigh_l{shin_l{foot_l}},thigh_r{shin_r{foot_r}}}";

Bone namedBone(const std::string& name)
{
    Bone bone;
    bone.name = name;
    return bone;
}

// A skeleton whose children come in no particular order, with two clips of
// the same name around a third.
Model unorderedModel()
{
    Model model;
    model.rootBone.name = "root";
    Bone beta = namedBone("Beta");
    beta.addChild(namedBone("tip2"));
    beta.addChild(namedBone("tip1"));
    model.rootBone.addChild(namedBone("alpha2"));
    model.rootBone.addChild(beta);
    model.rootBone.addChild(namedBone("ALPHA1"));
    for (const char* name : {"walk", "idle", "walk"}) {
        Animation clip;
        clip.name = name;
        model.animator.animations.push_back(clip);
    }
    return model;
}

Model staticModel()
{
    const std::string path = assimpModel("3DS/cubes_with_alpha.3DS");
    EXPECT_FALSE(path.empty()) << "assimp-testmodels is not installed";
    return import3ds(path);
}

class SceneInformationTest : public AppTest {
protected:
    WindowHandle open()
    {
        choose(kCommandSceneInformation);
        EXPECT_NE(app->sceneInfoDialog, nullptr);
        return app->sceneInfoDialog ? app->sceneInfoDialog->dialogWindow : kNoWindow;
    }
};

TEST_F(SceneInformationTest, WithoutModelsListsOnlyModelsAndPaths)
{
    const WindowHandle dialog = open();
    EXPECT_EQ(windowText(dialog), kSceneInformation);
    auto* frame = qobject_cast<QMdiSubWindow*>(windowWidget(dialog));
    ASSERT_NE(frame, nullptr) << "the dialog lives in the main window's client area";
    EXPECT_TRUE(frame->isVisible());
    EXPECT_NE(buttonOf(dialog, "&Close"), nullptr);
    EXPECT_NE(buttonOf(dialog, "&Refresh"), nullptr);
    EXPECT_TRUE(buttonOf(dialog, "&Close")->isDefault());
    EXPECT_EQ(outline(treeOf(dialog)), "Models,Paths");
    EXPECT_EQ(app->sceneInfoDialog->host, app.get());
}

TEST_F(SceneInformationTest, ListsModelsWithTheirAnimationsAboveTheirBones)
{
    importFileByName(*app, kDemo);
    ASSERT_EQ(app->models.size(), 1u);
    const WindowHandle dialog = open();
    EXPECT_EQ(outline(treeOf(dialog)),
              "Models{Model 0{Animations{Default MS3D Animation},Bones{" + kDemoSkeleton + "}}},Paths");
}

TEST_F(SceneInformationTest, SortsBonesByTextAndKeepsClipsInListOrder)
{
    app->models.push_back(unorderedModel());
    const WindowHandle dialog = open();
    EXPECT_EQ(outline(treeOf(dialog)),
              "Models{Model 0{Animations{walk,idle,walk},Bones{root{ALPHA1,alpha2,Beta{tip1,tip2}}}}},Paths");
}

TEST_F(SceneInformationTest, ElevenModelsSortByText)
{
    for (int i = 0; i < 11; ++i) {
        app->models.push_back(unorderedModel());
    }
    QTreeWidget* tree = treeOf(open());
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    const QTreeWidgetItem* models = tree->topLevelItem(0);
    std::vector<std::string> names;
    for (int i = 0; i < models->childCount(); ++i) {
        names.push_back(models->child(i)->text(0).toStdString());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Model 0", "Model 1", "Model 10", "Model 2", "Model 3", "Model 4",
                                               "Model 5", "Model 6", "Model 7", "Model 8", "Model 9"}));
}

TEST_F(SceneInformationTest, StaticModelShowsOneUnnamedBoneAndNoAnimations)
{
    app->models.push_back(staticModel());
    EXPECT_EQ(outline(treeOf(open())), "Models{Model 0{Animations,Bones{}}},Paths");
    // "Bones{}" is one child without text.
    QTreeWidgetItem* bones = findItem(treeOf(app->sceneInfoDialog->dialogWindow), "Bones");
    ASSERT_NE(bones, nullptr);
    ASSERT_EQ(bones->childCount(), 1);
    EXPECT_EQ(bones->child(0)->text(0), QString());
    EXPECT_EQ(bones->child(0)->childCount(), 0);
}

TEST_F(SceneInformationTest, IsASnapshotUntilRefresh)
{
    const WindowHandle dialog = open();
    importFileByName(*app, kDemo);
    runFrames(2);
    EXPECT_EQ(outline(treeOf(dialog)), "Models,Paths");
    clickButton(dialog, "&Refresh");
    EXPECT_EQ(outline(treeOf(dialog)),
              "Models{Model 0{Animations{Default MS3D Animation},Bones{" + kDemoSkeleton + "}}},Paths");
    EXPECT_TRUE(isWindow(dialog));
}

TEST_F(SceneInformationTest, CloseButtonAndCloseBoxBothCloseAndClearTheField)
{
    const WindowHandle first = open();
    clickButton(first, "&Close");
    EXPECT_EQ(app->sceneInfoDialog, nullptr);
    EXPECT_FALSE(isWindow(first));
    EXPECT_EQ(mainWidget()->focusWidget(), mainWidget());  // the keyboard goes back to the main window

    const WindowHandle second = open();
    closeByCaption(second);
    EXPECT_EQ(app->sceneInfoDialog, nullptr);
    EXPECT_FALSE(isWindow(second));
    EXPECT_TRUE(windowsCaptioned(*app, kSceneInformation).empty());
    runFrames(2);  // the frame loop goes on without the dialogs
}

TEST_F(SceneInformationTest, ClosingAnEarlierDialogClearsTheFieldButLeavesTheLaterOpen)
{
    const WindowHandle first = open();
    const WindowHandle second = open();
    ASSERT_NE(first, second);
    EXPECT_EQ(app->sceneInfoDialog->dialogWindow, second);
    clickButton(first, "&Close");
    EXPECT_EQ(app->sceneInfoDialog, nullptr);
    EXPECT_TRUE(isWindow(second));
    clickButton(second, "&Refresh");  // still working on its own
    EXPECT_EQ(outline(treeOf(second)), "Models,Paths");
    // Shutting down with the later dialog open frees it with its window.
}

TEST_F(SceneInformationTest, KeysTypedIntoTheDialogStayThere)
{
    importFileByName(*app, kDemo);
    app->ikControllers.emplace_back("hand_l", Vector3{1.0f, 2.0f, 3.0f}, &app->models.back());
    const WindowHandle dialog = open();
    QTreeWidget* tree = treeOf(dialog);
    tree->setFocus();
    drain();
    const float cameraY = view(0).camera.position.y;
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down, Qt::Key_W}) {
        QTest::keyClick(tree, key);
    }
    drain();
    const Vector3 target = app->ikControllers.back().target;
    EXPECT_FLOAT_EQ(target.x, 1.0f);
    EXPECT_FLOAT_EQ(target.y, 2.0f);
    EXPECT_FLOAT_EQ(view(0).camera.position.y, cameraY);
    // Escape closes it like the close box.
    QTest::keyClick(tree, Qt::Key_Escape);
    drain();
    EXPECT_FALSE(isWindow(dialog));
    EXPECT_EQ(app->sceneInfoDialog, nullptr);
}

class EndEffectorTest : public AppTest {
protected:
    WindowHandle open()
    {
        choose(kCommandAddIkController);
        const std::vector<WindowHandle> open = windowsCaptioned(*app, kSelector);
        EXPECT_EQ(open.size(), 1u);
        return open.empty() ? kNoWindow : open.back();
    }

    void select(WindowHandle dialog, const std::string& bone)
    {
        QTreeWidget* tree = treeOf(dialog);
        tree->expandAll();
        QTreeWidgetItem* item = findItem(tree, bone);
        ASSERT_NE(item, nullptr) << "no bone " << bone;
        clickItem(tree, item);
    }
};

TEST_F(EndEffectorTest, NothingOpensWithoutModels)
{
    choose(kCommandAddIkController);
    EXPECT_TRUE(windowsCaptioned(*app, kSelector).empty());
}

TEST_F(EndEffectorTest, ShowsTheLastModelsSkeleton)
{
    app->models.push_back(unorderedModel());
    importFileByName(*app, kDemo);
    const WindowHandle dialog = open();
    EXPECT_EQ(outline(treeOf(dialog)), kDemoSkeleton);
    QWidget* frame = windowWidget(dialog);
    bool captionShown = false;
    for (QLabel* label : frame->findChildren<QLabel*>()) {
        captionShown = captionShown || label->text() == "Choose End Effector";
    }
    EXPECT_TRUE(captionShown);
    EXPECT_NE(buttonOf(dialog, "OK"), nullptr);
    EXPECT_NE(buttonOf(dialog, "Cancel"), nullptr);
}

TEST_F(EndEffectorTest, OkBuildsOneControllerForTheChosenBone)
{
    importFileByName(*app, kDemo);
    const WindowHandle dialog = open();
    select(dialog, "hand_l");
    clickButton(dialog, "OK");
    EXPECT_FALSE(isWindow(dialog));
    ASSERT_EQ(app->ikControllers.size(), 1u);
    const IkController& controller = app->ikControllers.back();
    EXPECT_EQ(controller.endEffectorName, "hand_l");
    EXPECT_EQ(controller.model, &app->models.back());
    EXPECT_FLOAT_EQ(controller.target.x, -2.0f);
    EXPECT_FLOAT_EQ(controller.target.y, 5.0f);
    EXPECT_FLOAT_EQ(controller.target.z, 5.0f);
    EXPECT_NE(script->allDebugOutput().find("hand_l\n"), std::string::npos);
    EXPECT_EQ(mainWidget()->focusWidget(), mainWidget());  // the keyboard goes back to the main window

    // Each OK appends one more.
    const WindowHandle again = open();
    select(again, "foot_r");
    QTest::keyClick(treeOf(again), Qt::Key_Return);  // Return presses the default button, OK
    drain();
    ASSERT_EQ(app->ikControllers.size(), 2u);
    EXPECT_EQ(app->ikControllers.back().endEffectorName, "foot_r");
}

TEST_F(EndEffectorTest, ModelImportedWhileOpenReceivesTheController)
{
    app->models.push_back(unorderedModel());
    const WindowHandle dialog = open();
    importFileByName(*app, kDemo);
    runFrames(1);
    // The tree still shows the skeleton of the model that was last at opening.
    EXPECT_EQ(outline(treeOf(dialog)), "root{ALPHA1,alpha2,Beta{tip1,tip2}}");
    select(dialog, "Beta");
    clickButton(dialog, "OK");
    ASSERT_EQ(app->ikControllers.size(), 1u);
    EXPECT_EQ(app->ikControllers.back().model, &app->models[1]);
    EXPECT_EQ(app->ikControllers.back().endEffectorName, "Beta");
}

TEST_F(EndEffectorTest, CancelCloseBoxAndOkWithoutSelectionBuildNothing)
{
    importFileByName(*app, kDemo);
    WindowHandle dialog = open();
    select(dialog, "head");
    clickButton(dialog, "Cancel");
    EXPECT_FALSE(isWindow(dialog));

    dialog = open();
    select(dialog, "head");
    closeByCaption(dialog);
    EXPECT_FALSE(isWindow(dialog));

    dialog = open();
    clickButton(dialog, "OK");
    EXPECT_FALSE(isWindow(dialog));

    EXPECT_TRUE(app->ikControllers.empty());
    EXPECT_TRUE(windowsCaptioned(*app, kSelector).empty());
}

TEST_F(EndEffectorTest, OkAfterAllModelsWereRemovedBuildsNothing)
{
    importFileByName(*app, kDemo);
    const WindowHandle dialog = open();
    select(dialog, "hand_r");
    choose(kCommandRemoveAllModels);
    clickButton(dialog, "OK");
    EXPECT_FALSE(isWindow(dialog));
    EXPECT_TRUE(app->ikControllers.empty());
    runFrames(1);
}

TEST_F(EndEffectorTest, StaticModelOffersOneUnnamedBone)
{
    app->models.push_back(staticModel());
    const WindowHandle dialog = open();
    QTreeWidget* tree = treeOf(dialog);
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QString());
    clickItem(tree, tree->topLevelItem(0));
    clickButton(dialog, "OK");
    ASSERT_EQ(app->ikControllers.size(), 1u);
    EXPECT_EQ(app->ikControllers.back().endEffectorName, "");
}

// A name in another code page shows with a replacement character, yet the
// controller gets the bone's exact bytes and finds the bone.
TEST_F(EndEffectorTest, NameThatDoesNotConvertStillFindsItsBone)
{
    Model model;
    model.rootBone.name = "root";
    Bone shoulder = namedBone("\xE9paule");  // Latin-1, not UTF-8
    shoulder.addChild(namedBone("main"));
    model.rootBone.addChild(shoulder);
    app->models.push_back(model);
    const WindowHandle dialog = open();
    QTreeWidget* tree = treeOf(dialog);
    tree->expandAll();
    QTreeWidgetItem* item = tree->topLevelItem(0)->child(0);
    ASSERT_NE(item, nullptr);
    clickItem(tree, item);
    clickButton(dialog, "OK");
    ASSERT_EQ(app->ikControllers.size(), 1u);
    IkController& controller = app->ikControllers.back();
    EXPECT_EQ(controller.endEffectorName, "\xE9paule");
    EXPECT_NO_THROW(controller.generateAnimation());
}

TEST_F(EndEffectorTest, ClosingOneDialogLeavesTheOtherOnTopAndReachable)
{
    importFileByName(*app, kDemo);
    const WindowHandle selector = open();
    choose(kCommandSceneInformation);
    ASSERT_NE(app->sceneInfoDialog, nullptr);
    const WindowHandle information = app->sceneInfoDialog->dialogWindow;
    // Each window opens cascaded from the last, not on top of it.
    std::vector<QPoint> corners;
    for (const WindowHandle w : {app->childWindows[0]->windowHandle, selector, information}) {
        QWidget* frameOf = windowWidget(w);
        while (frameOf && !qobject_cast<QMdiSubWindow*>(frameOf)) {
            frameOf = frameOf->parentWidget();
        }
        ASSERT_NE(frameOf, nullptr);
        corners.push_back(frameOf->pos());
    }
    EXPECT_NE(corners[1], corners[0]);
    EXPECT_NE(corners[2], corners[1]);
    QTest::mouseClick(buttonOf(information, "&Close"), Qt::LeftButton);
    runFrames(3);
    ASSERT_FALSE(isWindow(information));

    auto* frame = qobject_cast<QMdiSubWindow*>(windowWidget(selector));
    ASSERT_NE(frame, nullptr);
    const QList<QMdiSubWindow*> stack = frame->mdiArea()->subWindowList(QMdiArea::StackingOrder);
    EXPECT_EQ(stack.back(), frame) << "the selector is buried under another window";
    // What lies under its OK button is that button, not a view (once the X
    // server has restacked the windows: on a busy machine that takes a while).
    QPushButton* ok = buttonOf(selector, "OK");
    ASSERT_NE(ok, nullptr);
    const auto underOk = [&] { return QApplication::widgetAt(ok->mapToGlobal(ok->rect().center())); };
    for (int wait = 0; wait < 100 && underOk() != ok; ++wait) {
        runFrames(1);
        QTest::qWait(20);
    }
    EXPECT_EQ(underOk(), ok);
}

TEST_F(EndEffectorTest, DialogsStillOpenAtShutdownGoWithTheMainWindow)
{
    importFileByName(*app, kDemo);
    open();
    choose(kCommandSceneInformation);
    EXPECT_EQ(windowsCaptioned(*app, kSelector).size(), 1u);
    EXPECT_EQ(windowsCaptioned(*app, kSceneInformation).size(), 1u);
    app.reset();  // under the sanitizers, a leak or a use after free shows here
    drain();
}

}  // namespace
}  // namespace fyrel::test
