// The Path Window and the path commands: points clicked under the cursor,
// panning, what the views show, and the demo character walking a clicked
// path until the paths go.

#include <QTest>
#include <cmath>

#include "gui_test_support.h"
#include "math/quaternion.h"
#include "tests/animation/test_scenes.h"
#include "ui/path_window.h"

namespace fyrel::test {
namespace {

class PathsTest : public AppTest {
protected:
    // Opens a Path Window beside the start-up view: child window 1.
    PathWindow& openPathWindow()
    {
        choose(kCommandOpenPathWindow);
        return dynamic_cast<PathWindow&>(*app->childWindows.at(1));
    }

    // An arch of three clicks: (-4, 0), (0, 3), (4, 0).
    void drawArch()
    {
        openPathWindow();
        for (QPoint at : {QPoint(64, 240), QPoint(320, 96), QPoint(576, 240)}) {
            click(1, at);
        }
    }

    float distanceToCurve(const Path& path, const Vector3& p)
    {
        const float end = static_cast<float>(path.controlPointCount()) - 1.0f;
        float best = INFINITY;
        for (int i = 0; i <= 4000; ++i) {
            best = std::min(best, distance(path.pointAt(end * static_cast<float>(i) / 4000), p));
        }
        return best;
    }
};

// 640 x 480 pixels show 10 x 10 units around the camera, at its height.
TEST_F(PathsTest, ClicksPlacePointsUnderTheCursorAndKeysPanTheView)
{
    PathWindow& window = openPathWindow();
    struct Click {
        Qt::MouseButton button;
        QPoint at;
        Vector3 camera;
        std::size_t paths;  // afterwards
        Vector3 point;      // the last path's last point
    };
    const Click clicks[] = {
        {Qt::LeftButton, {320, 240}, {0, 0, 0}, 1, {0, 0, 0}},  // a fresh scene's first click makes a path
        {Qt::LeftButton, {0, 0}, {0, 0, 0}, 1, {-5, 5, 0}},
        {Qt::LeftButton, {640, 480}, {0, 0, 0}, 1, {5, -5, 0}},
        {Qt::LeftButton, {160, 360}, {0, 0, 0}, 1, {-2.5f, -2.5f, 0}},
        {Qt::RightButton, {0, 480}, {0, 0, 0}, 2, {-5, -5, 0}},  // a new path
        {Qt::LeftButton, {64, 432}, {3, -2, 1.5f}, 2, {-1, -6, 1.5f}},
    };
    for (const Click& c : clicks) {
        window.camera.setPosition(c.camera);
        click(1, c.at, c.button);
        ASSERT_EQ(app->paths.size(), c.paths);
        const Vector3& p = app->paths.back().controlPoints.back();
        EXPECT_LT(distance(p, c.point), 1e-5f) << c.at.x() << "," << c.at.y();
    }
    // Each click rebuilt the curve and its table; the first path kept its points.
    const Path& first = app->paths.front();
    ASSERT_EQ(first.controlPoints.size(), 4u);
    EXPECT_EQ(first.bezierPoints.size(), 10u);
    EXPECT_NEAR(distance(first.table.back().position, {-2.5f, -2.5f, 0}), 0.0f, 1e-4f);
    EXPECT_GT(first.totalLength, 7.07f + 14.14f + 7.90f);  // at least the chords

    // Half a unit a key; other keys (the GlWindow's among them) do nothing;
    // from the main window the keys reach every view.
    window.camera.setPosition({0, 0, 0});
    const std::pair<Qt::Key, Vector3> keys[] = {
        {Qt::Key_W, {0, 0.5f, 0}},   {Qt::Key_Up, {0, 1, 0}},      {Qt::Key_D, {0.5f, 1, 0}},
        {Qt::Key_Right, {1, 1, 0}},  {Qt::Key_A, {0.5f, 1, 0}},    {Qt::Key_Left, {0, 1, 0}},
        {Qt::Key_S, {0, 0.5f, 0}},   {Qt::Key_Down, {0, 0, 0}},    {Qt::Key_Space, {0, 0, 0}},
        {Qt::Key_C, {0, 0, 0}},      {Qt::Key_Escape, {0, 0, 0}}, {Qt::Key_Down, {0, -0.5f, 0}}};
    for (const auto& [key, at] : keys) {
        QTest::keyClick(surface(1), key);
        EXPECT_LT(distance(window.camera.position, at), 1e-6f) << key;
    }
    QTest::keyClick(surface(1), Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_FLOAT_EQ(window.camera.extents.x, 10.0f);
    QTest::keyClick(mainWidget(), Qt::Key_W);
    EXPECT_FLOAT_EQ(window.camera.position.y, 0.0f);
    EXPECT_FLOAT_EQ(view(0).camera.position.y, -9.5f);

    // A window without area adds no point and starts no path.
    QWidget* frame = windowWidget(window.windowHandle);
    frame->setMinimumSize(0, 0);
    surface(1)->setMinimumSize(0, 0);
    frame->resize(frame->width(), frame->height() - clientSize(window.windowHandle).height);
    drain();
    if (clientSize(window.windowHandle).height != 0) {
        surface(1)->resize(surface(1)->width(), 0);  // the frame keeps some room
    }
    ASSERT_EQ(clientSize(window.windowHandle).height, 0);
    click(1, QPoint(10, 0));
    click(1, QPoint(10, 0), Qt::RightButton);
    EXPECT_EQ(app->paths.size(), 2u);
    EXPECT_EQ(app->paths.back().controlPoints.size(), 2u);
    runFrames(2);  // drawing a window without area is harmless
}

// After a pan the clicked points are drawn where the clicks were, with the
// curve and its ticks, in the top view and in the perspective view.
TEST_F(PathsTest, ADrawnPathShowsUnderTheClicksAndInEveryView)
{
    PathWindow& window = openPathWindow();
    // The ground seen straight down is lit evenly: no highlight that moves
    // with the pixel, as a perspective eye would see one.
    runFrames(2);
    const QImage ground = grab(1);
    int darkest = 255, brightest = 0;
    for (int y = ground.height() / 16; y < ground.height(); y += ground.height() / 8) {
        for (int x = ground.width() / 16; x < ground.width(); x += ground.width() / 8) {
            darkest = std::min(darkest, qGray(ground.pixel(x, y)));
            brightest = std::max(brightest, qGray(ground.pixel(x, y)));
        }
    }
    EXPECT_LE(brightest - darkest, 3) << "ground from " << darkest << " to " << brightest;
    for (Qt::Key key : {Qt::Key_D, Qt::Key_D, Qt::Key_S}) {
        QTest::keyClick(surface(1), key);
    }
    const QPoint clicks[] = {{128, 240}, {320, 96}, {512, 240}};  // an arch around (1, -0.5)
    for (QPoint at : clicks) {
        click(1, at);
    }
    EXPECT_FLOAT_EQ(app->paths[0].controlPoints[0].x, -3.0f + 1.0f);
    EXPECT_FLOAT_EQ(app->paths[0].controlPoints[0].y, -0.5f);
    lookAt(view(0).camera, {1, 1, 0}, 10.0f, 0.0f, -0.9f);
    runFrames(3);
    const QImage top = grab(1);
    const double ratio = surface(1)->devicePixelRatioF();
    const auto px = [ratio](QPoint p) { return QPoint(static_cast<int>(p.x() * ratio), static_cast<int>(p.y() * ratio)); };
    for (QPoint at : clicks) {
        EXPECT_GE(countNear(top, px(at), 2, isPathBlue), 9) << at.x();
    }
    EXPECT_GT(countNear(top, px({180, 180}), 60, isYellowish), 10);  // the ticks leave the top of the arch sideways
    EXPECT_EQ(countNear(top, px({320, 420}), 50, isYellowish), 0);  // nothing far from it
    const QImage perspective = grab(0);
    EXPECT_GT(countPixels(perspective, isPathBlue), 100);
    EXPECT_GT(countPixels(perspective, isYellowish), 40);
    EXPECT_EQ(window.camera.extents.y, 10.0f);
}

TEST_F(PathsTest, BindToPathBindsTheLastModelToTheLastPathWhenBothExist)
{
    choose(kCommandBindToPath);
    importModel();
    choose(kCommandBindToPath);  // a model but no path
    EXPECT_TRUE(app->bindings.empty());
    choose(kCommandRemoveAllModels);
    drawArch();
    choose(kCommandBindToPath);  // a path but no model
    EXPECT_TRUE(app->bindings.empty());
    EXPECT_TRUE(script->requests.empty());  // and nothing is shown
    importModel();
    importModel();
    click(1, {100, 400}, Qt::RightButton);
    click(1, {200, 400});
    choose(kCommandBindToPath);
    choose(kCommandBindToPath);  // a second binding; the first stays
    ASSERT_EQ(app->bindings.size(), 2u);
    for (const PathBinding& binding : app->bindings) {
        EXPECT_EQ(binding.controller, nullptr);
        EXPECT_EQ(binding.path, &app->paths.back());
        EXPECT_EQ(binding.model, &app->models.back());
        EXPECT_EQ(binding.parameter, 0.0f);
    }
}

TEST_F(PathsTest, TheBoundCharacterWalksTheCurveWithEasedSpeedFacingAlongIt)
{
    const Model& model = importModel();
    drawArch();
    choose(kCommandBindToPath);
    const Path& path = app->paths.back();
    ASSERT_GT(path.totalLength, 10.0f);
    // One second of frame time is a hundredth of the lap.
    std::vector<Vector3> positions{model.position};
    std::vector<float> rates;
    for (int step = 1; step <= 99; ++step) {
        app->updateScene(1.0f);
        positions.push_back(model.position);
        rates.push_back(model.animator.rate);
        EXPECT_LT(distanceToCurve(path, model.position), 0.05f) << step;
        EXPECT_NEAR(model.position.z, 0.0f, 1e-5f);
    }
    EXPECT_LT(distance(positions[1], {-4.0f, 0.0f, 0.0f}), 0.05f);
    EXPECT_LT(distance(positions[99], {4.0f, 0.0f, 0.0f}), 0.05f);
    // Eased: slow at the start and the end, fastest while cruising.
    const auto stepLength = [&](int i) { return distance(positions[i + 1], positions[i]); };
    const float cruise = stepLength(50);
    EXPECT_NEAR(cruise, path.totalLength * 0.01f * 1.17007f, 0.02f * cruise);
    EXPECT_LT(stepLength(1), 0.2f * cruise);
    EXPECT_LT(stepLength(97), 0.2f * cruise);
    EXPECT_LT(stepLength(5), stepLength(10));
    EXPECT_GT(stepLength(85), stepLength(90));
    // The clip's rate is the speed factor, ramping over the first and last fifth.
    const std::pair<int, float> ramp[] = {{0, 0.05f}, {9, 0.5f}, {49, 1.0f}, {89, 0.5f}, {97, 0.1f}};
    for (const auto& [i, rate] : ramp) {
        EXPECT_NEAR(rates[i], rate, 1e-3f) << i;
    }
    // Facing the way it goes, upright: its +Y is the direction of travel.
    for (int i : {5, 30, 50, 70, 95}) {
        Vector3 travel;
        normalize(difference(positions[i + 1], positions[i - 1], travel), travel);
        app->bindings.back().parameter = static_cast<float>(i - 1) * 0.01f;
        app->updateScene(1.0f);
        Matrix4 turn;
        Vector4 front;
        transform(quatToMatrix(model.orientation, turn), Vector4{0.0f, 1.0f, 0.0f, 0.0f}, front);
        EXPECT_GT(front.x * travel.x + front.y * travel.y, 0.99f) << i;
        EXPECT_NEAR(front.z, 0.0f, 1e-4f) << i;
    }
}

// A plain binding laps again and follows points added meanwhile; seen
// moving in both views; Remove All Paths leaves the walker where it stands.
TEST_F(PathsTest, APlainBindingLoopsFollowsNewPointsAndStopsWhenThePathsGo)
{
    const Model& model = importModel();
    drawArch();
    choose(kCommandBindToPath);
    app->ikControllers.emplace_back("hand_l", Vector3{1.0f, 1.0f, 1.0f}, &app->models.back());
    lookAt(view(0).camera, {0, 1, 0}, 10.0f, 0.0f, -0.9f);
    simulate(30);
    EXPECT_NEAR(app->bindings.back().parameter, 0.3f, 1e-4f);
    const float length = app->paths.back().totalLength;
    click(1, {576, 432});  // (4, -4): the walk goes on along the longer curve
    EXPECT_GT(app->paths.back().totalLength, length + 3.9f);
    runFrames(1, 1.0f);
    EXPECT_LT(distanceToCurve(app->paths.back(), model.position), 0.05f);
    const QImage before[] = {grab(0), grab(1)};
    simulate(19);
    runFrames(1, 1.0f);
    EXPECT_GT(differingPixels(before[0], grab(0)), 300);
    EXPECT_GT(differingPixels(before[1], grab(1)), 100);
    simulate(51);  // past the end the walk starts over
    EXPECT_LT(app->bindings.back().parameter, 0.05f);
    EXPECT_LT(distance(model.position, {-4.0f, 0.0f, 0.0f}), 0.1f);

    simulate(30);
    const Vector3 stoppedAt = model.position;
    const Quaternion heading = model.orientation;
    choose(kCommandRemoveAllPaths);
    EXPECT_TRUE(app->paths.empty());
    EXPECT_TRUE(app->bindings.empty());
    EXPECT_EQ(app->models.size(), 1u);
    EXPECT_EQ(app->ikControllers.size(), 1u);
    simulate(20);
    EXPECT_EQ(distance(model.position, stoppedAt), 0.0f);
    EXPECT_EQ(model.orientation.w, heading.w);
    EXPECT_EQ(model.orientation.z, heading.z);
}

}  // namespace
}  // namespace fyrel::test
