// Bind to Path and Remove All Paths: the demo character walking a clicked
// path frame by frame, and stopping when the paths go.

#include <gtest/gtest.h>

#include <QTest>
#include <cmath>

#include "app/commands.h"
#include "gui_test_support.h"
#include "math/quaternion.h"
#include "platform/qt_access.h"
#include "ui/resources.h"
#include "ui/path_window.h"
#include "support/source_tree.h"

namespace fyrel::test {
namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");

Vector3 minus(const Vector3& a, const Vector3& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// Where the model's own +Y (its front) points in the world.
Vector3 facing(const Model& model)
{
    Matrix4 turn;
    quatToMatrix(model.orientation, turn);
    Vector4 f;
    transform(turn, Vector4{0.0f, 1.0f, 0.0f, 0.0f}, f);
    return {f.x, f.y, f.z};
}

// The distance from p to the path's curve, sampled finely along u.
float distanceToCurve(const Path& path, const Vector3& p)
{
    const float end = static_cast<float>(path.controlPointCount()) - 1.0f;
    constexpr int kSamples = 4000;
    float best = INFINITY;
    for (int i = 0; i <= kSamples; ++i) {
        best = std::min(best, length(minus(path.pointAt(end * static_cast<float>(i) / kSamples), p)));
    }
    return best;
}

class PathCommandTest : public AppTest {
protected:
    // Three clicks in a new Path Window: (-4, 0), (0, 3), (4, 0), a gentle
    // arch with a turn at its top.
    void drawArch()
    {
        choose(kCommandOpenPathWindow);
        QWidget* surface = glSurface(app->childWindows.back()->windowHandle);
        QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, QPoint(64, 240));
        QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, QPoint(320, 96));
        QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, QPoint(576, 240));
    }

    void importDemo()
    {
        const std::size_t before = app->models.size();
        importFileByName(*app, kDemo);
        ASSERT_EQ(app->models.size(), before + 1);
    }
};

TEST_F(PathCommandTest, BindToPathNeedsAModelAndAPath)
{
    choose(kCommandBindToPath);
    EXPECT_TRUE(app->bindings.empty());

    importDemo();
    choose(kCommandBindToPath);  // a model but no path
    EXPECT_TRUE(app->bindings.empty());
    const Vector3 before = app->models.back().position;
    runFrames(2, 1.0f);
    EXPECT_FLOAT_EQ(app->models.back().position.x, before.x);

    choose(kCommandRemoveAllModels);
    drawArch();
    choose(kCommandBindToPath);  // a path but no model
    EXPECT_TRUE(app->bindings.empty());
    EXPECT_TRUE(script->requests.empty());  // and nothing is shown
}

TEST_F(PathCommandTest, BindToPathBindsTheLastModelToTheLastPath)
{
    importDemo();
    importDemo();
    drawArch();
    QWidget* surface = glSurface(app->childWindows.back()->windowHandle);
    QTest::mouseClick(surface, Qt::RightButton, Qt::NoModifier, QPoint(100, 400));
    QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, QPoint(200, 400));
    ASSERT_EQ(app->paths.size(), 2u);

    choose(kCommandBindToPath);
    ASSERT_EQ(app->bindings.size(), 1u);
    const PathBinding& binding = app->bindings.back();
    EXPECT_EQ(binding.controller, nullptr);
    EXPECT_EQ(binding.path, &app->paths.back());
    EXPECT_EQ(binding.model, &app->models.back());
    EXPECT_FLOAT_EQ(binding.parameter, 0.0f);
    EXPECT_FLOAT_EQ(binding.speed, 1.0f);
    EXPECT_EQ(binding.searchHint, 0u);

    // A second bind adds a second binding; the first stays.
    choose(kCommandBindToPath);
    ASSERT_EQ(app->bindings.size(), 2u);
    EXPECT_EQ(app->bindings.front().model, &app->models.back());
}

TEST_F(PathCommandTest, TheBoundCharacterWalksTheCurveWithEasedSpeedFacingAlongIt)
{
    importDemo();
    drawArch();
    choose(kCommandBindToPath);
    ASSERT_EQ(app->bindings.size(), 1u);
    const Path& path = app->paths.back();
    const Model& model = app->models.back();
    ASSERT_GT(path.totalLength, 10.0f);

    // One second of frame time is a hundredth of the lap.
    std::vector<Vector3> positions{model.position};
    std::vector<float> rates;
    for (int step = 1; step <= 99; ++step) {
        app->updateScene(1.0f);
        positions.push_back(model.position);
        rates.push_back(model.animator.rate);
        // On the curve, at its height.
        EXPECT_LT(distanceToCurve(path, model.position), 0.05f) << step;
        EXPECT_NEAR(model.position.z, 0.0f, 1e-5f);
    }
    // From the first click to near the last one.
    EXPECT_LT(length(minus(positions[1], Vector3{-4.0f, 0.0f, 0.0f})), 0.05f);
    EXPECT_LT(length(minus(positions[99], Vector3{4.0f, 0.0f, 0.0f})), 0.05f);

    // Eased: slow at the start and the end, fastest while cruising.
    const auto stepLength = [&](int i) { return length(minus(positions[i + 1], positions[i])); };
    const float cruise = stepLength(50);
    EXPECT_NEAR(cruise, path.totalLength * 0.01f * 1.17007f, 0.02f * cruise);
    EXPECT_LT(stepLength(1), 0.2f * cruise);
    EXPECT_LT(stepLength(97), 0.2f * cruise);
    EXPECT_LT(stepLength(5), stepLength(10));
    EXPECT_LT(stepLength(10), stepLength(15));
    EXPECT_GT(stepLength(85), stepLength(90));

    // Facing along the way it goes: its +Y is the direction of travel.
    for (int i : {5, 30, 50, 70, 95}) {
        Vector3 travel;
        normalize(minus(positions[i + 1], positions[i - 1]), travel);
        app->bindings.back().parameter = static_cast<float>(i - 1) * 0.01f;
        app->updateScene(1.0f);
        const Vector3 front = facing(model);
        EXPECT_GT(dot(front, travel), 0.99f) << i;
        EXPECT_NEAR(front.z, 0.0f, 1e-4f) << i;  // upright
    }

    // The animation's rate is the speed factor: a ramp up over the first
    // fifth, 1 while cruising, a ramp down over the last fifth; the clip
    // advances by that rate.
    EXPECT_NEAR(rates[0], 0.05f, 1e-4f);   // t = 0.01
    EXPECT_NEAR(rates[9], 0.5f, 1e-4f);    // t = 0.10
    EXPECT_NEAR(rates[49], 1.0f, 1e-6f);   // t = 0.50
    EXPECT_NEAR(rates[89], 0.5f, 1e-3f);   // t = 0.90
    EXPECT_NEAR(rates[97], 0.1f, 1e-3f);   // t = 0.98
    const float clipLength = model.animator.animations.at(0).length;
    ASSERT_GT(clipLength, 0.5f);
    for (float t : {0.05f, 0.5f, 0.9f}) {
        app->bindings.back().parameter = t;
        const float before = model.animator.time;
        app->updateScene(0.25f);
        const float rate = speedFactor(t + 0.0025f);
        EXPECT_FLOAT_EQ(model.animator.rate, rate) << t;
        const float advanced = std::fmod(model.animator.time - before + clipLength, clipLength);
        EXPECT_NEAR(advanced, rate * 0.25f, 1e-4f) << t;
    }
}

TEST_F(PathCommandTest, APlainBindingLoopsAndFollowsPointsAddedMeanwhile)
{
    importDemo();
    drawArch();
    choose(kCommandBindToPath);
    const Model& model = app->models.back();
    runFrames(30, 1.0f);
    const float parameter = app->bindings.back().parameter;
    EXPECT_NEAR(parameter, 0.3f, 1e-4f);

    // A fourth click extends the walked path: its table is rebuilt and the
    // walk goes on along the longer curve.
    const float before = app->paths.back().totalLength;
    QWidget* surface = glSurface(app->childWindows.back()->windowHandle);
    QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, QPoint(576, 432));  // (4, -4)
    EXPECT_GT(app->paths.back().totalLength, before + 3.9f);
    runFrames(1, 1.0f);
    EXPECT_LT(distanceToCurve(app->paths.back(), model.position), 0.05f);

    // Past the end the walk starts over.
    runFrames(69, 1.0f);
    runFrames(2, 1.0f);
    EXPECT_LT(app->bindings.back().parameter, 0.05f);
    EXPECT_LT(length(minus(model.position, Vector3{-4.0f, 0.0f, 0.0f})), 0.1f);
}

TEST_F(PathCommandTest, RemoveAllPathsStopsTheWalkerWhereItStands)
{
    importDemo();
    drawArch();
    choose(kCommandBindToPath);
    app->ikControllers.emplace_back("hand_l", Vector3{1.0f, 1.0f, 1.0f}, &app->models.back());
    runFrames(40, 1.0f);
    const Model& model = app->models.back();
    const Vector3 stoppedAt = model.position;
    const Quaternion heading = model.orientation;
    EXPECT_GT(length(minus(stoppedAt, Vector3{-4.0f, 0.0f, 0.0f})), 1.0f);

    choose(kCommandRemoveAllPaths);
    EXPECT_TRUE(app->paths.empty());
    EXPECT_TRUE(app->bindings.empty());
    ASSERT_EQ(app->models.size(), 1u);
    EXPECT_EQ(app->ikControllers.size(), 1u);

    runFrames(20, 1.0f);
    EXPECT_FLOAT_EQ(model.position.x, stoppedAt.x);
    EXPECT_FLOAT_EQ(model.position.y, stoppedAt.y);
    EXPECT_FLOAT_EQ(model.position.z, stoppedAt.z);
    EXPECT_FLOAT_EQ(model.orientation.w, heading.w);
    EXPECT_FLOAT_EQ(model.orientation.z, heading.z);

    // Binding again needs a new path; drawing one and binding starts over.
    choose(kCommandBindToPath);
    EXPECT_TRUE(app->bindings.empty());
    QWidget* surface = glSurface(app->childWindows.back()->windowHandle);
    QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, QPoint(320, 240));
    QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, QPoint(320, 48));
    choose(kCommandBindToPath);
    ASSERT_EQ(app->bindings.size(), 1u);
    runFrames(1, 1.0f);
    EXPECT_LT(length(model.position), 0.05f);
}

TEST_F(PathCommandTest, TheWalkerIsSeenMovingInBothViews)
{
    importDemo();
    drawArch();
    choose(kCommandBindToPath);
    EulerCameraFov& camera = view(0).camera;
    camera.angles = {-0.9f, 0.0f, 0.0f};
    camera.setPosition({0.0f, -6.0f, 9.0f});
    runFrames(10, 1.0f);
    const QImage perspectiveBefore = grab(0);
    const QImage topBefore = grab(1);
    runFrames(20, 1.0f);
    const QImage perspectiveAfter = grab(0);
    const QImage topAfter = grab(1);
    const auto differing = [](const QImage& a, const QImage& b) {
        int count = 0;
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                count += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
            }
        }
        return count;
    };
    EXPECT_GT(differing(perspectiveBefore, perspectiveAfter), 300);
    EXPECT_GT(differing(topBefore, topAfter), 100);
}

}  // namespace
}  // namespace fyrel::test
