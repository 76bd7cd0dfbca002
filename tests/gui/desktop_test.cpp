// The transport as a user drives it (the tool bar, the Animation menu's
// keys, the status bar), the scene's clock in the real loop, and the
// arrangement and framing of the views.

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include "animation/bounds.h"
#include "app/frame_loop.h"
#include "gui_test_support.h"
#include "tests/animation/test_scenes.h"

namespace fyrel::test {
namespace {

constexpr float kFrame = 1.0f / 30.0f;

class DesktopTest : public AppTest {
protected:
    template <typename Widget>
    Widget* control(int id)
    {
        return mainWidget()->findChild<Widget*>(QStringLiteral("tool%1").arg(id));
    }

    void press(int id)
    {
        QTest::mouseClick(control<QToolButton>(id), Qt::LeftButton);
        drain();
    }

    // The demo's clip time, kept inside [0, 1) by its loop.
    float time() const { return app->models[0].animator.time; }

    std::string status() { return mainWidget()->findChild<QLabel*>("statusText")->text().toStdString(); }

    // The demo walking a straight path: one lap in 100 s.
    void walkTheDemo()
    {
        importModel();
        addPath({{0, 0, 0}, {4, 0, 0}});
        choose(kCommandBindToPath);
    }
};

// Stepping works on the scene's clock: one frame of the clip's rate.
TEST_F(DesktopTest, PauseStepAndPlayByButtonAndKey)
{
    importModel();
    runFrames(1);
    const std::pair<std::function<void()>, float> rows[] = {  // the act, the time the next frame adds
        {[&] { press(kCommandPlayPause); }, 0.0f},  {[] {}, 0.0f},
        {[&] { press(kCommandStepForward); }, kFrame}, {[&] { pressKey(Qt::Key_Period); }, kFrame},
        {[&] { pressKey(Qt::Key_Comma); }, -kFrame},   {[&] { press(kCommandStepBack); }, -kFrame},
        {[&] { pressKey(Qt::Key_P); }, 0.05f},         {[&] { pressKey(Qt::Key_P); }, 0.0f},
        {[&] { press(kCommandPlayPause); }, 0.05f}};
    int row = 0;
    for (const auto& [act, change] : rows) {
        const float before = time();
        act();
        runFrames(1, 0.05f);
        EXPECT_EQ(app->playback.playing, change == 0.05f) << row;
        EXPECT_NEAR(std::remainder(time() - before, 1.0f), change, 1e-4f) << row++;
    }
    EXPECT_EQ(control<QToolButton>(kCommandPlayPause)->text().toStdString(), "Pause");
    press(kCommandPlayPause);
    runFrames(1);
    EXPECT_EQ(control<QToolButton>(kCommandPlayPause)->text().toStdString(), "Play");
    EXPECT_NE(status().find("(paused)"), std::string::npos) << status();
}

// The speed scales every kind of motion: the clip and the walk.
TEST_F(DesktopTest, SpeedScalesClipAndWalkAlike)
{
    walkTheDemo();
    QDoubleSpinBox* speed = control<QDoubleSpinBox>(kControlSpeed);
    EXPECT_DOUBLE_EQ(speed->value(), 1.0);
    for (float factor : {0.5f, 4.0f, 0.1f, 2.0f}) {
        speed->setValue(factor);
        drain();
        EXPECT_FLOAT_EQ(app->playback.speed, factor);
        const float parameter = app->bindings.back().parameter;
        const float before = time();
        runFrames(1, 0.05f);
        EXPECT_NEAR(app->bindings.back().parameter - parameter, kBindingRate * 0.05f * factor, 1e-6f);
        EXPECT_NEAR(std::remainder(time() - before, 1.0f), app->models[0].animator.rate * 0.05f * factor, 1e-5f);
    }
}

// A stall of a second (as a modal dialog or a long import makes) moves the
// scene on by at most a tenth of a second in the real loop.
TEST_F(DesktopTest, AStallDoesNotMakeTheSceneJump)
{
    walkTheDemo();
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    QTimer::singleShot(100, mainWidget(), [] { std::this_thread::sleep_for(std::chrono::seconds(1)); });
    QTimer::singleShot(1400, mainWidget(), [this] { menuAction(kCommandExit)->trigger(); });
    EXPECT_EQ(runFrameLoop(*app), 0);
    const float elapsed = std::chrono::duration<float>(Clock::now() - start).count();
    ASSERT_GT(elapsed, 1.3f);
    const float walked = app->bindings.back().parameter;
    EXPECT_GT(walked, 0.0f);
    EXPECT_LT(walked, (elapsed - 1.0f + 0.1f + 0.05f) * kBindingRate);
}

// The model chooser picks what the clip chooser and the time slider act on
// (the model added last, until the user picks another); a chosen clip plays
// from its start, and the slider sets the time the pose is taken at.
TEST_F(DesktopTest, ModelClipAndTimeControlsActOnTheChosenModel)
{
    importModel();
    importModel();
    Animation reach = app->models[0].animator.animations[0];  // as a generated IK clip would be added
    reach.name = "IKAnimation";
    reach.ticksPerSecond = 0.1f;  // in slow motion: a second of keys lasts ten
    app->models[0].animator.animations.push_back(reach);
    runFrames(1);
    QComboBox* models = control<QComboBox>(kControlModel);
    QComboBox* clips = control<QComboBox>(kControlClip);
    ASSERT_EQ(models->count(), 2);
    EXPECT_EQ(models->currentIndex(), 1);
    EXPECT_EQ(models->itemText(0).toStdString(), "walker.ms3d");
    EXPECT_EQ(clips->count(), 1);  // the second model's clips
    QTest::keyClick(models, Qt::Key_Up);
    drain();
    runFrames(1);
    EXPECT_EQ(app->selectedModel, 0u);
    ASSERT_EQ(clips->count(), 2);
    EXPECT_EQ(clips->itemText(1).toStdString(), "IKAnimation");

    press(kCommandPlayPause);
    QTest::keyClick(clips, Qt::Key_Down);
    drain();
    EXPECT_EQ(app->models[0].animator.current, 1);
    EXPECT_EQ(app->models[0].animator.time, 0.0f);
    EXPECT_TRUE(app->playback.playing);  // choosing a clip plays it
    EXPECT_EQ(app->models[1].animator.current, 0);

    press(kCommandPlayPause);
    const float otherTime = app->models[1].animator.time;
    const std::vector<Vertex> posedBefore = app->models[0].skinnedVertices;
    control<QSlider>(kControlTime)->setValue(kTimeSliderSteps / 2);
    drain();
    runFrames(1, 0.2f);
    EXPECT_FLOAT_EQ(app->models[0].animator.time, 0.5f);
    EXPECT_EQ(app->models[1].animator.time, otherTime);
    float moved = 0.0f;
    for (std::size_t i = 0; i < posedBefore.size(); ++i) {
        moved = std::max(moved, distance(posedBefore[i].position, app->models[0].skinnedVertices[i].position));
    }
    EXPECT_GT(moved, 0.01f) << "the pose did not follow the slider";
    // Times in the seconds the clip takes to play.
    for (const char* part : {"walker.ms3d", "clip: IKAnimation", "5.00 / 10.00", "speed: 1.00x", "fps"}) {
        EXPECT_NE(status().find(part), std::string::npos) << part << " missing from: " << status();
    }
    EXPECT_EQ(control<QLabel>(kControlTimeText)->text().toStdString(), "5.00 / 10.00");
}

// A model that enters an empty scene stands on the ground and is framed
// from its front three-quarter side, whatever its size (a 1.6 cm .X mesh,
// a .3ds scene larger than the start-up camera's distance), and the
// camera's step follows its size; a new view frames it the same way; Frame
// All brings it back whatever the camera did meanwhile, keeping its direction.
TEST_F(DesktopTest, ModelsAreFramedOnEntryAndByFrameAll)
{
    // The model's pixels: what changes when every model is moved far away,
    // the axes tripods (which stick out of the box) left out.
    const auto expectFramed = [this](std::size_t index, const std::string& what) {
        runFrames(2);
        const QImage with = grab(index);
        const Vector3 place = app->models.back().position;
        app->models.back().position = Vector3{1e6f, 1e6f, 1e6f};
        runFrames(2);
        const QImage without = grab(index);
        app->models.back().position = place;
        int count = 0;
        QRect box;
        for (int y = 0; y < with.height(); ++y) {
            for (int x = 0; x < with.width(); ++x) {
                const QRgb c = with.pixel(x, y);
                if (c != without.pixel(x, y) && !isReddish(c) && !isGreenish(c) && !isBluish(c)) {
                    ++count;
                    box |= QRect(x, y, 1, 1);
                }
            }
        }
        EXPECT_GT(count, with.width() * with.height() / 50) << what;  // not a dot, and in the middle
        EXPECT_GT(std::max(box.width() * 1.0 / with.width(), box.height() * 1.0 / with.height()), 0.5) << what;
        EXPECT_NEAR(box.center().x(), with.width() / 2, with.width() * 0.15) << what;
        EXPECT_NEAR(box.center().y(), with.height() / 2, with.height() * 0.15) << what;
    };
    // In front of the +Y-facing models, off to a side, above their middle.
    const auto expectFrontThreeQuarter = [this](std::size_t index, const std::string& what) {
        Vector3 low{1e30f, 1e30f, 1e30f}, high{-1e30f, -1e30f, -1e30f};
        growByPosedBox(app->models.back(), low, high);
        const Vector3& eye = view(index).camera.position;
        EXPECT_GT(eye.y, high.y) << what;
        EXPECT_GT(eye.z, (low.z + high.z) * 0.5f) << what;
        EXPECT_GT(std::abs(eye.x - (low.x + high.x) * 0.5f), 0.2f * distance(low, high)) << what;
    };
    for (const char* file : {"", "3DS/test1.3ds", "3DS/fels.3ds", "glTF2/BoxTextured-glTF/BoxTextured.gltf",
                             "X/Testwuson.X", "X/test.x"}) {
        const std::string path = *file ? assimpModel(file) : demoPath();
        choose(kCommandRemoveAllModels);
        EulerCameraFov& camera = view(0).camera;
        camera = EulerCameraFov(camera.aspect, 1.0471976f, 1.0f, 1000.0f);
        camera.setPosition({0.0f, -10.0f, 0.0f});
        Model& model = importModel(path);
        RestBoxes rest;
        measureRest(model, rest);
        const float size = distance(rest.meshLow, rest.meshHigh);
        EXPECT_NEAR(rest.meshLow.z, 0.0f, 1e-5f * size) << path << " does not stand on the ground";
        expectFramed(0, path + " on entry");
        expectFrontThreeQuarter(0, path + " on entry");
        // The step is a quarter of the framed box's diagonal, half a metre for the demo.
        const Vector3 eye = camera.position;
        pressKey(Qt::Key_W);
        EXPECT_NEAR(distance(camera.position, eye), 0.25f * size, 0.1f * size) << path;
        EXPECT_TRUE(*file || std::abs(distance(camera.position, eye) - 0.5f) < 0.02f);
    }
    choose(kCommandOpenGlWindow);
    expectFramed(1, "in a new view");
    expectFrontThreeQuarter(1, "in a new view");
    EulerCameraFov& camera = view(0).camera;
    camera.angles = Vector3{-0.4f, 0.0f, 2.0f};
    camera.setPosition({300.0f, -40.0f, 30.0f});
    pressKey(Qt::Key_F);
    EXPECT_FLOAT_EQ(camera.angles.z, 2.0f);  // the direction stays
    Vector3 low{1e30f, 1e30f, 1e30f}, high{-1e30f, -1e30f, -1e30f};
    growByPosedBox(app->models.back(), low, high);
    const Vector3& eye = camera.position;
    EXPECT_FALSE(eye.x > low.x && eye.x < high.x && eye.y > low.y && eye.y < high.y && eye.z > low.z && eye.z < high.z)
        << "the camera is inside the model";
    expectFramed(0, "after F");
    choose(kCommandOpenPathWindow);
    choose(kCommandFrameAll);
    expectFramed(2, "in the Path Window");
}

// New views cascade; Tile lays four views side by side without overlap,
// Cascade stacks them again, Next brings the next one forward.
TEST_F(DesktopTest, WindowMenuTilesCascadesAndCycles)
{
    for (int i = 0; i < 3; ++i) {
        choose(kCommandOpenGlWindow);
    }
    const auto frameOf = [&](std::size_t i) { return windowWidget(app->childWindows.at(i)->windowHandle); };
    const auto* area = mainWidget()->findChild<QMdiArea*>();
    for (int command : {0, kCommandTile, kCommandCascade}) {  // 0: as opened
        if (command) {
            choose(command);
        }
        const bool tiled = command == kCommandTile;
        for (std::size_t i = 1; i < 4; ++i) {
            const QRect r = frameOf(i)->geometry(), previous = frameOf(i - 1)->geometry();
            EXPECT_EQ(r.intersects(previous), !tiled) << command << ": " << i;
            EXPECT_TRUE(tiled ? area->viewport()->rect().contains(r) : r.topLeft() != previous.topLeft()) << i;
        }
    }
    QMdiSubWindow* before = area->activeSubWindow();
    choose(kCommandNextWindow);
    EXPECT_NE(area->activeSubWindow(), before);
    EXPECT_NE(area->activeSubWindow(), nullptr);
}

}  // namespace
}  // namespace fyrel::test
