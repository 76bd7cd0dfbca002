// The IK menu end to end: generating near and far, the walk and the reach,
// playback, failures, the arrow keys and the red target points.

#include <gtest/gtest.h>

#include <QTest>
#include <cmath>

#include "app/commands.h"
#include "gui_test_support.h"
#include "platform/qt_access.h"
#include "platform/window.h"
#include "ui/resources.h"
#include "tree_dialog_probe.h"
#include "support/source_tree.h"

namespace fyrel::test {
namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");
const char* const kNoEffector = "Danger Zarnok!  Root bone not found bone bone bone";

int clipIndex(const Model& model, const std::string& name)
{
    const auto& clips = model.animator.animations;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        if (clips[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int clipCount(const Model& model, const std::string& name)
{
    int count = 0;
    for (const Animation& clip : model.animator.animations) {
        count += clip.name == name ? 1 : 0;
    }
    return count;
}

bool playsIk(const Model& model)
{
    const int ik = clipIndex(model, "IKAnimation");
    return ik >= 0 && model.animator.current == ik;
}

// Where a bone's joint stands in the world, as posed last.
Vector3 jointInWorld(const Model& model, const std::string& boneName)
{
    const Bone* bone = model.rootBone.find(boneName);
    EXPECT_NE(bone, nullptr);
    Matrix4 placement, world;
    model.worldTransform(placement);
    mul(placement, bone->worldMatrix, world);
    Vector4 p;
    transform(world, Vector4{0.0f, 0.0f, 0.0f, 1.0f}, p);
    return {p.x, p.y, p.z};
}

float distance(const Vector3& a, const Vector3& b)
{
    Vector3 d;
    return length(difference(a, b, d));
}

Path somePath()
{
    Path path;
    path.addControlPoint({0.0f, 0.0f, 0.0f});
    path.addControlPoint({3.0f, 1.0f, 0.0f});
    path.addControlPoint({6.0f, 0.0f, 0.0f});
    path.buildCurve();
    path.buildArcLengthTable();
    return path;
}

class IkCommandTest : public AppTest {
protected:
    // The demo walker at the origin with a controller on its left hand.
    IkController& walkerWithController(const Vector3& target, const std::string& bone = "hand_l")
    {
        importFileByName(*app, kDemo);
        EXPECT_EQ(app->models.size(), 1u);
        app->ikControllers.emplace_back(bone, target, &app->models.back());
        return app->ikControllers.back();
    }

    // Simulated frames: the scene update alone, with a fixed step.
    void simulate(int frames, float dt)
    {
        app->makeGlCurrent();
        for (int i = 0; i < frames; ++i) {
            app->updateScene(dt);
        }
    }

    void send(int command) { sendMessage(app->mainWindow, kWmCommand, static_cast<WParam>(command), 0); }
};

TEST_F(IkCommandTest, NearTheTargetGeneratesAndPlaysAtOnceLeavingPathsAlone)
{
    walkerWithController({4.9f, 0.0f, 1.5f});
    app->paths.push_back(somePath());
    PathBinding loop;
    loop.path = &app->paths.back();
    loop.model = &app->models.back();
    app->bindings.push_back(loop);
    const Path* pathBefore = &app->paths.back();

    choose(kCommandGenerateIkAnimation);
    const Model& model = app->models.back();
    EXPECT_EQ(clipIndex(model, "IKAnimation"), static_cast<int>(model.animator.animations.size()) - 1);
    EXPECT_TRUE(playsIk(model));
    EXPECT_FLOAT_EQ(model.animator.time, 0.0f);
    EXPECT_FLOAT_EQ(model.animator.rate, 0.1f);
    ASSERT_EQ(app->paths.size(), 1u);
    EXPECT_EQ(&app->paths.back(), pathBefore);
    EXPECT_EQ(app->paths.back().controlPointCount(), 3u);
    ASSERT_EQ(app->bindings.size(), 1u);
    EXPECT_EQ(app->bindings.back().controller, nullptr);
    EXPECT_TRUE(script->requests.empty());
}

TEST_F(IkCommandTest, OnlyTheGroundPlaneCounts)
{
    walkerWithController({3.0f, 3.9f, 100.0f});  // 4.92 across, far above
    choose(kCommandGenerateIkAnimation);
    EXPECT_TRUE(playsIk(app->models.back()));
    EXPECT_TRUE(app->bindings.empty());
}

TEST_F(IkCommandTest, AtFiveUnitsAWalkReplacesEveryPathAndBinding)
{
    walkerWithController({0.0f, 5.0f, 1.5f});
    app->paths.push_back(somePath());
    app->paths.push_back(somePath());
    PathBinding loop;
    loop.path = &app->paths.back();
    loop.model = &app->models.back();
    app->bindings.push_back(loop);
    app->models.back().animator.time = 0.7f;

    choose(kCommandGenerateIkAnimation);
    const Model& model = app->models.back();
    EXPECT_EQ(clipIndex(model, "IKAnimation"), -1);
    EXPECT_EQ(model.animator.current, 0);
    EXPECT_FLOAT_EQ(model.animator.time, 0.0f);
    ASSERT_EQ(app->paths.size(), 1u);
    const Path& walk = app->paths.back();
    ASSERT_EQ(walk.controlPointCount(), 2u);
    // Exactly five away: the walk ends where it starts.
    EXPECT_NEAR(walk.controlPoints[1].x, 0.0f, 1e-6f);
    EXPECT_NEAR(walk.controlPoints[1].y, 0.0f, 1e-6f);
    ASSERT_EQ(app->bindings.size(), 1u);
    const PathBinding& binding = app->bindings.back();
    EXPECT_EQ(binding.controller, &app->ikControllers.back());
    EXPECT_EQ(binding.path, &walk);
    EXPECT_EQ(binding.model, &model);
    EXPECT_FLOAT_EQ(binding.parameter, 0.0f);
    EXPECT_FLOAT_EQ(binding.speed, 1.0f);
    EXPECT_EQ(binding.searchHint, 0u);
}

TEST_F(IkCommandTest, TheWalkEndsFiveShortOfTheTargetAndTheReachStartsOnArrival)
{
    walkerWithController({-6.0f, 8.0f, 1.5f});  // ten away: the walk is five long
    choose(kCommandGenerateIkAnimation);
    ASSERT_EQ(app->paths.size(), 1u);
    const Path& walk = app->paths.back();
    EXPECT_NEAR(walk.controlPoints[1].x, -3.0f, 1e-5f);
    EXPECT_NEAR(walk.controlPoints[1].y, 4.0f, 1e-5f);

    const Model& model = app->models.back();
    simulate(50, 1.0f);  // halfway through the walk: on the line, near its middle
    EXPECT_FALSE(playsIk(model));
    EXPECT_NEAR(model.position.x / model.position.y, -0.75f, 1e-3f);
    EXPECT_NEAR(length(model.position), 2.5f, 0.25f);

    int frames = 50;
    while (!playsIk(model) && frames < 120) {
        simulate(1, 1.0f);
        ++frames;
    }
    EXPECT_GE(frames, 99) << "the reach starts on arrival, not before";
    EXPECT_LE(frames, 101);
    EXPECT_TRUE(playsIk(model));
    EXPECT_NEAR(distance(model.position, Vector3{-3.0f, 4.0f, 0.0f}), 0.0f, 1e-3f);
    EXPECT_NEAR(distance(Vector3{model.position.x, model.position.y, 0.0f}, Vector3{-6.0f, 8.0f, 0.0f}), 5.0f,
                1e-3f);
    EXPECT_EQ(clipCount(model, "IKAnimation"), 1);
    // Later frames play the clip without making it again.
    simulate(10, 1.0f);
    EXPECT_EQ(clipCount(model, "IKAnimation"), 1);
    EXPECT_TRUE(playsIk(model));
}

TEST_F(IkCommandTest, RemoveAllPathsDuringTheWalkCancelsTheReach)
{
    walkerWithController({0.0f, 12.0f, 1.5f});
    choose(kCommandGenerateIkAnimation);
    simulate(40, 1.0f);
    const Vector3 stopped = app->models.back().position;
    choose(kCommandRemoveAllPaths);
    EXPECT_TRUE(app->bindings.empty());
    simulate(120, 1.0f);
    const Model& model = app->models.back();
    EXPECT_EQ(clipIndex(model, "IKAnimation"), -1);
    EXPECT_FLOAT_EQ(model.position.x, stopped.x);
    EXPECT_FLOAT_EQ(model.position.y, stopped.y);
}

// The controller's model walks and reaches, even when another model has
// been imported since the controller was made.
TEST_F(IkCommandTest, TheControllersOwnModelWalksAndReaches)
{
    IkController& controller = walkerWithController({0.0f, 9.0f, 1.5f});
    importFileByName(*app, kDemo);
    ASSERT_EQ(app->models.size(), 2u);
    choose(kCommandGenerateIkAnimation);
    ASSERT_EQ(app->bindings.size(), 1u);
    EXPECT_EQ(app->bindings.back().model, controller.model);
    EXPECT_EQ(controller.model, &app->models[0]);
    simulate(101, 1.0f);
    EXPECT_TRUE(playsIk(app->models[0]));
    EXPECT_EQ(clipIndex(app->models[1], "IKAnimation"), -1);
    EXPECT_NEAR(app->models[1].position.y, 0.0f, 1e-6f);
}

TEST_F(IkCommandTest, PlayIkAnimationIsShownDisabledButTheCommandPlays)
{
    QAction* play = menuAction(kCommandPlayIkAnimation);
    ASSERT_NE(play, nullptr);
    EXPECT_TRUE(play->isVisible());
    EXPECT_FALSE(play->isEnabled());

    send(kCommandPlayIkAnimation);  // nothing to play: nothing happens
    walkerWithController({1.0f, 1.0f, 1.5f});
    send(kCommandPlayIkAnimation);
    EXPECT_EQ(app->models.back().animator.current, 0);

    send(kCommandGenerateIkAnimation);
    Model& model = app->models.back();
    model.animator.current = 0;
    model.animator.time = 0.3f;
    model.animator.rate = 1.0f;
    send(kCommandPlayIkAnimation);
    EXPECT_TRUE(playsIk(model));
    EXPECT_FLOAT_EQ(model.animator.time, 0.0f);
    EXPECT_FLOAT_EQ(model.animator.rate, 0.1f);
}

TEST_F(IkCommandTest, MissingEndEffectorIsShownAndTheProgramGoesOn)
{
    IkController& good = walkerWithController({1.0f, 1.0f, 1.5f});
    good.generateAnimation();
    good.playAnimation();
    app->ikControllers.emplace_back("no such bone", Vector3{1.0f, 1.0f, 1.5f}, &app->models.back());

    choose(kCommandGenerateIkAnimation);
    ASSERT_EQ(script->requests.size(), 1u);
    const DialogRequest& box = script->requests[0];
    EXPECT_EQ(box.kind, DialogKind::MessageBox);
    EXPECT_EQ(box.text, kNoEffector);
    EXPECT_EQ(box.caption, "Failed to generate IK Animation");
    EXPECT_EQ(box.icon, MessageBoxIcon::Error);
    // The failed generation has taken the earlier clip away and played nothing.
    const Model& model = app->models.back();
    EXPECT_EQ(clipIndex(model, "IKAnimation"), -1);
    EXPECT_EQ(model.animator.current, 0);
    runFrames(3);
    EXPECT_EQ(app->models.size(), 1u);
    EXPECT_TRUE(isWindow(app->mainWindow));
}

TEST_F(IkCommandTest, MissingEndEffectorAfterAWalkIsShownOnce)
{
    walkerWithController({0.0f, 7.0f, 1.5f}, "no such bone");
    choose(kCommandGenerateIkAnimation);
    ASSERT_EQ(app->bindings.size(), 1u);
    simulate(110, 1.0f);
    ASSERT_EQ(script->requests.size(), 1u);
    EXPECT_EQ(script->requests[0].text, kNoEffector);
    EXPECT_EQ(script->requests[0].caption, "Failed to generate IK Animation");
}

TEST_F(IkCommandTest, ArrowKeysOnTheMainWindowReachEveryView)
{
    choose(kCommandOpenGlWindow);
    ASSERT_EQ(app->childWindows.size(), 2u);
    QTest::keyClick(mainWidget(), Qt::Key_Left);  // no controller: nothing to move
    drain();

    walkerWithController({-2.0f, 5.0f, 5.0f});
    setFocus(app->mainWindow);
    drain();
    QTest::keyClick(mainWidget(), Qt::Key_Left);
    drain();
    Vector3 target = app->ikControllers.back().target;
    EXPECT_FLOAT_EQ(target.x, -3.0f);  // two views, half a unit each
    EXPECT_FLOAT_EQ(target.y, 5.0f);
    QTest::keyClick(mainWidget(), Qt::Key_Up);
    QTest::keyClick(mainWidget(), Qt::Key_Right);
    QTest::keyClick(mainWidget(), Qt::Key_Right);
    QTest::keyClick(mainWidget(), Qt::Key_Down);
    QTest::keyClick(mainWidget(), Qt::Key_Down);
    drain();
    target = app->ikControllers.back().target;
    EXPECT_FLOAT_EQ(target.x, -1.0f);
    EXPECT_FLOAT_EQ(target.y, 4.0f);
    EXPECT_FLOAT_EQ(target.z, 5.0f);

    // A key pressed in one view moves the target once.
    QTest::keyClick(glSurface(view(1).windowHandle), Qt::Key_Right);
    drain();
    EXPECT_FLOAT_EQ(app->ikControllers.back().target.x, -0.5f);
}

// Near where (-2, 5, 5) appears in a view looking along +y from 10 units in
// front of the origin, as the view's camera projects it.
QPoint projectedTarget(const GlWindow& view, const QImage& image, const Vector3& target)
{
    Vector4 eye, clip;
    transform(view.camera.viewMatrix(), Vector4{target.x, target.y, target.z, 1.0f}, eye);
    // The render pass turns z-up into GL's y-up: (x, y, z) -> (x, z, -y).
    transform(view.camera.projectionMatrix(), Vector4{eye.x, eye.z, -eye.y, 1.0f}, clip);
    const float x = clip.x / clip.w;
    const float y = clip.y / clip.w;
    return {static_cast<int>((x + 1.0f) * 0.5f * image.width()), static_cast<int>((1.0f - y) * 0.5f * image.height())};
}

int redNear(const QImage& image, QPoint p)
{
    int count = 0;
    for (int y = p.y() - 6; y <= p.y() + 6; ++y) {
        for (int x = p.x() - 6; x <= p.x() + 6; ++x) {
            if (image.valid(x, y) && isReddish(image.pixel(x, y))) {
                ++count;
            }
        }
    }
    return count;
}

TEST_F(IkCommandTest, TargetsAreRedPointsInEveryView)
{
    choose(kCommandOpenGlWindow);
    ASSERT_EQ(app->childWindows.size(), 2u);
    view(1).camera.angles.z = 0.3f;  // a second, turned camera
    view(1).camera.updateView();
    runFrames(2);
    const Vector3 target{-2.0f, 5.0f, 5.0f};
    for (std::size_t i = 0; i < 2; ++i) {
        const QImage before = grab(i);
        EXPECT_EQ(redNear(before, projectedTarget(view(i), before, target)), 0) << "view " << i;
    }
    walkerWithController(target);
    runFrames(2);
    for (std::size_t i = 0; i < 2; ++i) {
        const QImage after = grab(i);
        EXPECT_GT(redNear(after, projectedTarget(view(i), after, target)), 4) << "view " << i;
    }
}

// The whole road as a user takes it: import, choose the hand, nudge the
// target, generate; the walker walks there and reaches for the target.
TEST_F(IkCommandTest, UserWalksTheDemoToTheTargetAndReaches)
{
    answerFile(kDemo);
    choose(kCommandImportMs3d);
    ASSERT_EQ(app->models.size(), 1u);

    choose(kCommandAddIkController);
    const std::vector<WindowHandle> selectors = windowsCaptioned(*app, "End Effector Selector");
    ASSERT_EQ(selectors.size(), 1u);
    QTreeWidget* tree = treeOf(selectors[0]);
    tree->expandAll();
    clickItem(tree, findItem(tree, "hand_r"));
    clickButton(selectors[0], "OK");
    ASSERT_EQ(app->ikControllers.size(), 1u);

    QOpenGLWidget* surface = glSurface(view(0).windowHandle);
    QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(surface, Qt::Key_Up);  // (-2, 7, 5)
    }
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(surface, Qt::Key_Right);  // (2, 7, 5)
    }
    drain();
    const Vector3 target = app->ikControllers.back().target;
    ASSERT_FLOAT_EQ(target.x, 2.0f);
    ASSERT_FLOAT_EQ(target.y, 7.0f);

    choose(kCommandGenerateIkAnimation);
    ASSERT_EQ(app->bindings.size(), 1u);
    const Model& model = app->models.back();
    int frames = 0;
    while (!playsIk(model) && frames < 30) {
        runFrames(1, 4.0f);  // four seconds a frame: the walk takes 100 s
        ++frames;
    }
    ASSERT_TRUE(playsIk(model));
    Vector3 ground{model.position.x, model.position.y, 0.0f};
    // Arrival leaves the model where the last step of the walk put it.
    EXPECT_NEAR(distance(ground, Vector3{2.0f, 7.0f, 0.0f}), 5.0f, 0.05f);

    // The arrival frame already played a little of the clip: rewind it to
    // the pose before the solve, then play most of it.
    app->models.back().animator.time = 0.0f;
    runFrames(1, 0.0f);
    const float handAtStart = distance(jointInWorld(model, "hand_r"), target);
    runFrames(1, 4.8f);  // 0.48 of the 0.5 s clip at rate 0.1: nearly the solved pose
    const float handReaching = distance(jointInWorld(model, "hand_r"), target);
    EXPECT_LT(handReaching, handAtStart - 0.5f) << "the hand moves towards the target";
}

}  // namespace
}  // namespace fyrel::test
