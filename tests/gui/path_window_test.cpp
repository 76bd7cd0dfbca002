// The Path Window: opening and closing it, clicks that place path points
// under the cursor, the pan keys, and what it shows.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QTest>
#include <algorithm>
#include <cmath>

#include "app/commands.h"
#include "gui_test_support.h"
#include "platform/qt_access.h"
#include "platform/window.h"
#include "ui/resources.h"
#include "ui/path_window.h"

namespace fyrel::test {
namespace {

bool isYellowish(QRgb c)
{
    return qRed(c) > 150 && qGreen(c) > 150 && qBlue(c) < 80;
}

bool isPathBlue(QRgb c)  // (0.2, 0.2, 0.8)
{
    return std::abs(qRed(c) - 51) < 12 && std::abs(qGreen(c) - 51) < 12 && std::abs(qBlue(c) - 204) < 12;
}

int countNear(const QImage& image, QPoint centre, int radius, bool (*predicate)(QRgb))
{
    int count = 0;
    for (int y = centre.y() - radius; y <= centre.y() + radius; ++y) {
        for (int x = centre.x() - radius; x <= centre.x() + radius; ++x) {
            if (image.valid(x, y) && predicate(image.pixel(x, y))) {
                ++count;
            }
        }
    }
    return count;
}

void expectPoint(const Vector3& actual, float x, float y, float z)
{
    EXPECT_FLOAT_EQ(actual.x, x);
    EXPECT_FLOAT_EQ(actual.y, y);
    EXPECT_FLOAT_EQ(actual.z, z);
}

class PathWindowTest : public AppTest {
protected:
    // Opens a Path Window through the View menu; it is the last child window.
    PathWindow& openPathWindow()
    {
        const std::size_t before = app->childWindows.size();
        choose(kCommandOpenPathWindow);
        EXPECT_EQ(app->childWindows.size(), before + 1);
        auto* window = dynamic_cast<PathWindow*>(app->childWindows.back().get());
        if (!window) {
            throw std::runtime_error("the last child window is not a PathWindow");
        }
        return *window;
    }

    QWidget* surface(const ChildWindow& window) { return glSurface(window.windowHandle); }

    // A press and release at the pixel, sent as the window system would
    // (QTest takes the pixel (0, 0) for "the centre").
    void click(const ChildWindow& window, QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        QWidget* target = surface(window);
        const QPointF global = target->mapToGlobal(QPointF(at));
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), global, button, button, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), global, button, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &release);
    }

    std::size_t indexOf(const ChildWindow& window)
    {
        for (std::size_t i = 0; i < app->childWindows.size(); ++i) {
            if (app->childWindows[i].get() == &window) {
                return i;
            }
        }
        throw std::runtime_error("window is not open");
    }
};

TEST_F(PathWindowTest, OpensWithTheTopViewOfATenByTenSquare)
{
    PathWindow& window = openPathWindow();
    EXPECT_EQ(windowText(window.windowHandle), "Display Window");
    EXPECT_EQ(window.windowClassName, "FyrelOrthoWindow");
    EXPECT_EQ(clientSize(window.windowHandle).width, 640);
    EXPECT_EQ(clientSize(window.windowHandle).height, 480);
    // Cascaded from the Display Window that start-up opened.
    const QPoint step = windowWidget(window.windowHandle)->pos();
    EXPECT_GT(step.x(), 0);
    EXPECT_EQ(step.x(), step.y());
    EXPECT_EQ(window.host, app.get());
    expectPoint(window.camera.extents, 10.0f, 10.0f, 10000.0f);
    expectPoint(window.camera.position, 0.0f, 0.0f, 0.0f);
    EXPECT_TRUE(app->paths.empty());  // opening draws nothing yet

    // Any number can be open.
    openPathWindow();
    EXPECT_EQ(app->childWindows.size(), 3u);
    runFrames(2);

    // The ground is lit evenly: seen straight down there is no highlight
    // that moves with the pixel (as a perspective eye would see one).
    const QImage image = grab(indexOf(window));
    int darkest = 255, brightest = 0;
    for (int y = image.height() / 16; y < image.height(); y += image.height() / 8) {
        for (int x = image.width() / 16; x < image.width(); x += image.width() / 8) {
            const int grey = qGray(image.pixel(x, y));
            darkest = std::min(darkest, grey);
            brightest = std::max(brightest, grey);
        }
    }
    EXPECT_LE(brightest - darkest, 3) << "ground from " << darkest << " to " << brightest;
}

TEST_F(PathWindowTest, LeftClicksAddPointsUnderTheCursorToTheLastPath)
{
    PathWindow& window = openPathWindow();
    // The first click of a fresh scene makes the first path.
    click(window, QPoint(320, 240));
    ASSERT_EQ(app->paths.size(), 1u);
    ASSERT_EQ(app->paths[0].controlPoints.size(), 1u);
    expectPoint(app->paths[0].controlPoints[0], 0.0f, 0.0f, 0.0f);

    click(window, QPoint(0, 0));
    ASSERT_EQ(app->paths.size(), 1u);
    ASSERT_EQ(app->paths[0].controlPoints.size(), 2u);
    expectPoint(app->paths[0].controlPoints[1], -5.0f, 5.0f, 0.0f);

    // The far corner and a point in between, in the window's own pixels.
    click(window, QPoint(640, 480));
    click(window, QPoint(160, 360));
    const Path& path = app->paths[0];
    ASSERT_EQ(path.controlPoints.size(), 4u);
    expectPoint(path.controlPoints[2], 5.0f, -5.0f, 0.0f);
    expectPoint(path.controlPoints[3], -2.5f, -2.5f, 0.0f);

    // Each click rebuilt the curve and its table at once.
    EXPECT_EQ(path.bezierPoints.size(), 3u * 4u - 2u);
    ASSERT_FALSE(path.table.empty());
    const Vector3 end = path.table.back().position;
    EXPECT_NEAR(end.x, -2.5f, 1e-4f);
    EXPECT_NEAR(end.y, -2.5f, 1e-4f);
    EXPECT_GT(path.totalLength, 7.07f + 14.14f + 7.90f);  // at least the chords
}

TEST_F(PathWindowTest, ClickMappingFollowsTheCameraPositionAndHeight)
{
    PathWindow& window = openPathWindow();
    window.camera.setPosition({3.0f, -2.0f, 1.5f});
    click(window, QPoint(320, 240));
    click(window, QPoint(0, 0));
    click(window, QPoint(64, 432));
    ASSERT_EQ(app->paths.size(), 1u);
    const Path& path = app->paths[0];
    ASSERT_EQ(path.controlPoints.size(), 3u);
    expectPoint(path.controlPoints[0], 3.0f, -2.0f, 1.5f);
    expectPoint(path.controlPoints[1], 3.0f - 5.0f, -2.0f + 5.0f, 1.5f);
    expectPoint(path.controlPoints[2], 3.0f - 4.0f, -2.0f - 4.0f, 1.5f);
}

TEST_F(PathWindowTest, RightClickStartsANewPathAndTheOldOneKeepsItsPoints)
{
    PathWindow& window = openPathWindow();
    // In an empty scene a right click makes one path, not two.
    click(window, QPoint(320, 240), Qt::RightButton);
    ASSERT_EQ(app->paths.size(), 1u);
    click(window, QPoint(384, 240));
    click(window, QPoint(448, 192));
    const Path* first = &app->paths[0];
    ASSERT_EQ(first->controlPoints.size(), 3u);
    const float firstLength = first->totalLength;

    click(window, QPoint(0, 480), Qt::RightButton);
    ASSERT_EQ(app->paths.size(), 2u);
    EXPECT_EQ(&app->paths[0], first);  // the first path did not move
    ASSERT_EQ(app->paths[1].controlPoints.size(), 1u);
    expectPoint(app->paths[1].controlPoints[0], -5.0f, -5.0f, 0.0f);
    EXPECT_EQ(app->paths[1].bezierPoints.size(), 1u);

    click(window, QPoint(64, 480));
    ASSERT_EQ(app->paths[1].controlPoints.size(), 2u);
    expectPoint(app->paths[1].controlPoints[1], -4.0f, -5.0f, 0.0f);
    ASSERT_EQ(first->controlPoints.size(), 3u);
    expectPoint(first->controlPoints[0], 0.0f, 0.0f, 0.0f);
    expectPoint(first->controlPoints[1], 1.0f, 0.0f, 0.0f);
    expectPoint(first->controlPoints[2], 2.0f, 1.0f, 0.0f);
    EXPECT_FLOAT_EQ(first->totalLength, firstLength);
}

TEST_F(PathWindowTest, PanKeysMoveTheViewByHalfAUnit)
{
    PathWindow& window = openPathWindow();
    QWidget* keys = surface(window);
    QTest::keyClick(keys, Qt::Key_W);
    expectPoint(window.camera.position, 0.0f, 0.5f, 0.0f);
    QTest::keyClick(keys, Qt::Key_Up);
    QTest::keyClick(keys, Qt::Key_D);
    QTest::keyClick(keys, Qt::Key_Right);
    QTest::keyClick(keys, Qt::Key_Right);
    expectPoint(window.camera.position, 1.5f, 1.0f, 0.0f);
    QTest::keyClick(keys, Qt::Key_A);
    QTest::keyClick(keys, Qt::Key_Left);
    QTest::keyClick(keys, Qt::Key_S);
    QTest::keyClick(keys, Qt::Key_Down);
    QTest::keyClick(keys, Qt::Key_Down);
    expectPoint(window.camera.position, 0.5f, -0.5f, 0.0f);
    // The view matrix follows: the world point at the camera's position is
    // the centre of the view.
    EXPECT_FLOAT_EQ(window.camera.view(0, 3), -0.5f);
    EXPECT_FLOAT_EQ(window.camera.view(2, 3), 0.5f);

    // Other keys do nothing; the GlWindow's keys are not the Path Window's.
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_C, Qt::Key_Q, Qt::Key_Escape}) {
        QTest::keyClick(keys, key);
    }
    QTest::keyClick(keys, Qt::Key_Plus, Qt::KeypadModifier);
    expectPoint(window.camera.position, 0.5f, -0.5f, 0.0f);
    expectPoint(window.camera.extents, 10.0f, 10.0f, 10000.0f);

    // Keys pressed while the main window has the focus reach every view:
    // the Path Window pans while the GlWindow flies forward.
    QTest::keyClick(mainWidget(), Qt::Key_W);
    expectPoint(window.camera.position, 0.5f, 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(view(0).camera.position.y, -9.5f);
}

TEST_F(PathWindowTest, AfterAPanTheClickedPointIsDrawnUnderTheCursor)
{
    PathWindow& window = openPathWindow();
    QWidget* keys = surface(window);
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(keys, Qt::Key_D);
    }
    QTest::keyClick(keys, Qt::Key_S);
    expectPoint(window.camera.position, 1.5f, -0.5f, 0.0f);

    const QPoint at(200, 100);
    click(window, at);
    ASSERT_EQ(app->paths.size(), 1u);
    expectPoint(app->paths[0].controlPoints[0], 10.0f / 640.0f * 200.0f + 1.5f - 5.0f,
                -10.0f / 480.0f * 100.0f - 0.5f + 5.0f, 0.0f);

    runFrames(2);
    const QImage image = grab(indexOf(window));
    const double ratio = surface(window)->devicePixelRatioF();
    const QPoint pixel(static_cast<int>(at.x() * ratio), static_cast<int>(at.y() * ratio));
    // The 5-pixel point stands where the click was, and nowhere else.
    EXPECT_GE(countNear(image, pixel, 2, isPathBlue), 9);
    EXPECT_EQ(countPixels(image, isPathBlue), countNear(image, pixel, 4, isPathBlue));

    // A second point after panning back: both stay under their clicks.
    QTest::keyClick(keys, Qt::Key_W);
    QTest::keyClick(keys, Qt::Key_W);
    const QPoint second(500, 400);
    click(window, second);
    runFrames(2);
    const QImage moved = grab(indexOf(window));
    // The first point moved down by one unit, 48 pixels, with the view.
    EXPECT_GE(countNear(moved, QPoint(pixel.x(), pixel.y() + static_cast<int>(48 * ratio)), 2, isPathBlue), 9);
    EXPECT_GE(countNear(moved, QPoint(static_cast<int>(second.x() * ratio), static_cast<int>(second.y() * ratio)), 2,
                        isPathBlue),
              9);
}

TEST_F(PathWindowTest, AWindowShrunkToNothingAddsNoPoint)
{
    PathWindow& window = openPathWindow();
    click(window, QPoint(320, 240));
    ASSERT_EQ(app->paths.size(), 1u);

    Vector3 point{7.0f, 7.0f, 7.0f};
    EXPECT_FALSE(window.worldPointAt(0, 0, 0, 480, point));
    EXPECT_FALSE(window.worldPointAt(0, 0, 640, 0, point));
    EXPECT_FALSE(window.worldPointAt(3, 3, 0, 0, point));
    expectPoint(point, 7.0f, 7.0f, 7.0f);

    // The client area of the real window squeezed to no height.
    QWidget* frame = windowWidget(window.windowHandle);
    frame->setMinimumSize(0, 0);
    surface(window)->setMinimumSize(0, 0);
    const int chrome = frame->height() - clientSize(window.windowHandle).height;
    frame->resize(frame->width(), chrome);
    drain();
    if (clientSize(window.windowHandle).height != 0) {
        // The frame keeps some room: squeeze the client area itself.
        surface(window)->resize(surface(window)->width(), 0);
    }
    ASSERT_EQ(clientSize(window.windowHandle).height, 0);
    sendMessage(window.windowHandle, kWmLButtonDown, kMkLButton, makePointParam(10, 0));
    sendMessage(window.windowHandle, kWmRButtonDown, kMkRButton, makePointParam(10, 0));
    ASSERT_EQ(app->paths.size(), 1u);  // no path was started either
    ASSERT_EQ(app->paths[0].controlPoints.size(), 1u);
    for (const ArcLengthEntry& row : app->paths[0].table) {
        EXPECT_TRUE(std::isfinite(row.position.x) && std::isfinite(row.position.y));
    }
    runFrames(2);  // drawing a window without area is harmless
}

TEST_F(PathWindowTest, ClosingExitAndAboutAreTheGlWindows)
{
    PathWindow& window = openPathWindow();
    click(window, QPoint(100, 100));
    sendMessage(window.windowHandle, kWmCommand, kCommandAbout, 0);
    ASSERT_EQ(script->requests.size(), 1u);
    EXPECT_EQ(script->requests[0].kind, DialogKind::DialogBox);
    EXPECT_EQ(script->requests[0].caption, "About");
    EXPECT_EQ(script->requests[0].owner, window.windowHandle);

    // Closing the frame removes the window; its paths stay in the scene.
    const WindowHandle closed = window.windowHandle;
    windowWidget(closed)->close();
    drain();
    ASSERT_EQ(app->childWindows.size(), 1u);
    EXPECT_FALSE(isWindow(closed));
    EXPECT_EQ(app->paths.size(), 1u);
    runFrames(2);

    // Exit sent to a Path Window closes that window only.
    PathWindow& second = openPathWindow();
    sendMessage(second.windowHandle, kWmCommand, kCommandExit, 0);
    drain();
    EXPECT_EQ(app->childWindows.size(), 1u);
    EXPECT_TRUE(isWindow(app->mainWindow));
    runFrames(2);
}

TEST_F(PathWindowTest, MouseMovesAndOtherCommandsChangeNothing)
{
    PathWindow& window = openPathWindow();
    QTest::mousePress(surface(window), Qt::LeftButton, Qt::NoModifier, QPoint(320, 240));
    QTest::mouseMove(surface(window), QPoint(400, 300));
    QTest::mouseRelease(surface(window), Qt::LeftButton, Qt::NoModifier, QPoint(400, 300));
    ASSERT_EQ(app->paths.size(), 1u);
    EXPECT_EQ(app->paths[0].controlPoints.size(), 1u);  // the press only
    expectPoint(window.camera.position, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(mainWidget()->focusWidget(), surface(window));  // clicking gives it the keyboard
    // A command the window does not know goes to the default procedure.
    sendMessage(window.windowHandle, kWmCommand, kCommandRemoveAllPaths, 0);
    EXPECT_EQ(app->paths.size(), 1u);
}

TEST_F(PathWindowTest, ADrawnPathShowsItsCurveAndTicksInEveryView)
{
    PathWindow& window = openPathWindow();
    // An arch drawn by clicks: (-3, 0), (0, 3), (3, 0).
    click(window, QPoint(128, 240));
    click(window, QPoint(320, 96));
    click(window, QPoint(512, 240));
    ASSERT_EQ(app->paths.size(), 1u);
    // The GlWindow looks down at the arch from above and behind.
    EulerCameraFov& camera = view(0).camera;
    camera.angles = {-0.9f, 0.0f, 0.0f};
    camera.setPosition({0.0f, -6.0f, 9.0f});
    runFrames(3);

    const QImage top = grab(indexOf(window));
    const QImage perspective = grab(0);
    for (const QImage* image : {&top, &perspective}) {
        EXPECT_GT(countPixels(*image, isPathBlue), 100);
        EXPECT_GT(countPixels(*image, isYellowish), 40);
    }
    // In the top view the curve passes through the clicked pixels, and the
    // unit ticks at the arch's top leave it sideways: one unit is 64 pixels.
    const double ratio = surface(window)->devicePixelRatioF();
    const auto px = [ratio](int x, int y) {
        return QPoint(static_cast<int>(x * ratio), static_cast<int>(y * ratio));
    };
    for (QPoint at : {QPoint(128, 240), QPoint(320, 96), QPoint(512, 240)}) {
        EXPECT_GE(countNear(top, px(at.x(), at.y()), 2, isPathBlue), 9);
    }
    EXPECT_GT(countNear(top, px(180, 180), 60, isYellowish), 10);
    // Nothing yellow far from the arch.
    EXPECT_EQ(countNear(top, px(320, 420), 50, isYellowish), 0);
}

}  // namespace
}  // namespace fyrel::test
