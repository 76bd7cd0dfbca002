// The transport as a user drives it: the tool bar's buttons, speed, model,
// clip and time controls, the Animation menu's keys, and the status bar that
// reports them.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <thread>
#include <cmath>
#include <functional>

#include "app/commands.h"
#include "app/frame_loop.h"
#include "gui_test_support.h"
#include "platform/qt_access.h"
#include "ui/resources.h"
#include "support/source_tree.h"

namespace fyrel::test {
namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");  // one looping clip of length 1 at rate 1
constexpr float kFrame = 1.0f / 30.0f;

class TransportTest : public AppTest {
protected:
    template <typename Widget>
    Widget* control(int id)
    {
        auto* widget = mainWidget()->findChild<Widget*>(QStringLiteral("tool%1").arg(id));
        EXPECT_NE(widget, nullptr) << "no tool bar control " << id;
        return widget;
    }

    void click(int id)
    {
        QTest::mouseClick(control<QToolButton>(id), Qt::LeftButton);
        drain();
    }

    // The clip time of the walker, kept inside [0, 1) by its loop.
    float time() const { return app->models[0].animator.time; }

    std::string status()
    {
        return mainWidget()->findChild<QLabel*>(QStringLiteral("statusText"))->text().toStdString();
    }
};

// Play, pause and stepping, by button and by key; stepping works on the
// scene's clock, so the time moves by exactly one frame of the clip's rate.
TEST_F(TransportTest, PauseStepAndPlayByButtonAndKey)
{
    ASSERT_TRUE(importFileByName(*app, kDemo));
    runFrames(1);

    struct Row {
        const char* what;
        std::function<void()> act;
        float frameDt;     // the frame run after the act
        bool playing;      // afterwards
        float timeChange;  // of the frame, act included
    };
    const std::vector<Row> rows = {
        {"Pause button", [&] { click(kCommandPlayPause); }, 0.05f, false, 0.0f},
        {"paused frames", [] {}, 0.05f, false, 0.0f},
        {"Step > button", [&] { click(kCommandStepForward); }, 0.05f, false, kFrame},
        {"'.' key", [&] { pressKey(Qt::Key_Period); }, 0.05f, false, kFrame},
        {"',' key", [&] { pressKey(Qt::Key_Comma); }, 0.05f, false, -kFrame},
        {"< Step button", [&] { click(kCommandStepBack); }, 0.05f, false, -kFrame},
        {"'P' key", [&] { pressKey(Qt::Key_P); }, 0.05f, true, 0.05f},
        {"'P' key again", [&] { pressKey(Qt::Key_P); }, 0.05f, false, 0.0f},
        {"Play button", [&] { click(kCommandPlayPause); }, 0.05f, true, 0.05f},
    };
    for (const Row& row : rows) {
        const float before = time();
        row.act();
        runFrames(1, row.frameDt);
        EXPECT_EQ(app->playback.playing, row.playing) << row.what;
        const float change = std::remainder(time() - before, 1.0f);  // across the loop's wrap
        EXPECT_NEAR(change, row.timeChange, 1e-4f) << row.what;
    }
    EXPECT_EQ(control<QToolButton>(kCommandPlayPause)->text().toStdString(), "Pause");
    click(kCommandPlayPause);
    runFrames(1);
    EXPECT_EQ(control<QToolButton>(kCommandPlayPause)->text().toStdString(), "Play");
    EXPECT_NE(status().find("(paused)"), std::string::npos) << status();
}

// The speed scales every kind of motion the scene update makes: the clip,
// the walk along a path.
TEST_F(TransportTest, SpeedScalesClipAndWalkAlike)
{
    ASSERT_TRUE(importFileByName(*app, kDemo));
    Path path;
    path.addControlPoint({0.0f, 0.0f, 0.0f});
    path.addControlPoint({4.0f, 0.0f, 0.0f});
    path.buildCurve();
    path.buildArcLengthTable();
    app->paths.push_back(path);
    choose(kCommandBindToPath);

    QDoubleSpinBox* speed = control<QDoubleSpinBox>(kControlSpeed);
    EXPECT_DOUBLE_EQ(speed->value(), 1.0);
    struct Row {
        double shown;       // typed into the control
        float applied;      // the speed the scene gets (limited to 0.1 .. 4)
    };
    for (const Row row : {Row{0.5, 0.5f}, Row{4.0, 4.0f}, Row{0.1, 0.1f}, Row{2.0, 2.0f}}) {
        speed->setValue(row.shown);
        drain();
        EXPECT_FLOAT_EQ(app->playback.speed, row.applied);
        const float parameter = app->bindings.back().parameter;
        const float before = time();
        runFrames(1, 0.05f);
        EXPECT_NEAR(app->bindings.back().parameter - parameter, kBindingRate * 0.05f * row.applied, 1e-6f);
        const float clipChange = std::remainder(time() - before, 1.0f);
        EXPECT_NEAR(clipChange, app->models[0].animator.rate * 0.05f * row.applied, 1e-5f);
    }
}

// A stall of a second (as a modal dialog or a long import makes) moves the
// scene on by at most a tenth of a second; the real loop is run.
TEST_F(TransportTest, AStallDoesNotMakeTheSceneJump)
{
    ASSERT_TRUE(importFileByName(*app, kDemo));
    Path path;
    path.addControlPoint({0.0f, 0.0f, 0.0f});
    path.addControlPoint({4.0f, 0.0f, 0.0f});
    path.buildCurve();
    path.buildArcLengthTable();
    app->paths.push_back(path);
    choose(kCommandBindToPath);

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    QTimer::singleShot(100, mainWidget(), [] { std::this_thread::sleep_for(std::chrono::seconds(1)); });
    QTimer::singleShot(1400, mainWidget(), [this] { menuAction(kCommandExit)->trigger(); });
    EXPECT_EQ(runFrameLoop(*app), 0);
    const float elapsed = std::chrono::duration<float>(Clock::now() - start).count();
    ASSERT_GT(elapsed, 1.3f);
    // One lap in 100 s: without the limit the walk would have gone elapsed / 100.
    const float walked = app->bindings.back().parameter;
    EXPECT_GT(walked, 0.0f);
    EXPECT_LT(walked, (elapsed - 1.0f + 0.1f + 0.05f) * kBindingRate);
}

// The model chooser picks what the clip chooser and the time slider act on
// (the model added last, until the user picks another); a chosen clip plays
// from its start, and the slider sets the time the pose is taken at.
TEST_F(TransportTest, ModelClipAndTimeControlsActOnTheChosenModel)
{
    ASSERT_TRUE(importFileByName(*app, kDemo));
    ASSERT_TRUE(importFileByName(*app, kDemo));
    Animation reach = app->models[0].animator.animations[0];  // as a generated IK clip would be added
    reach.name = "IKAnimation";
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

    click(kCommandPlayPause);
    QTest::keyClick(clips, Qt::Key_Down);
    drain();
    EXPECT_EQ(app->models[0].animator.current, 1);
    EXPECT_EQ(app->models[0].animator.time, 0.0f);
    EXPECT_TRUE(app->playback.playing);  // choosing a clip plays it
    EXPECT_EQ(app->models[1].animator.current, 0);

    click(kCommandPlayPause);
    const float otherTime = app->models[1].animator.time;
    const std::vector<Vertex> posedBefore = app->models[0].skinnedVertices;
    control<QSlider>(kControlTime)->setValue(kTimeSliderSteps / 2);
    drain();
    runFrames(1, 0.2f);
    EXPECT_FLOAT_EQ(app->models[0].animator.time, 0.5f);
    EXPECT_EQ(app->models[1].animator.time, otherTime);
    bool moved = false;
    for (std::size_t i = 0; i < posedBefore.size() && !moved; ++i) {
        moved = posedBefore[i].position.x != app->models[0].skinnedVertices[i].position.x ||
                posedBefore[i].position.z != app->models[0].skinnedVertices[i].position.z;
    }
    EXPECT_TRUE(moved) << "the pose did not follow the slider";

    const std::string text = status();
    for (const char* part : {"walker.ms3d", "clip: IKAnimation", "0.50 / 1.00", "speed: 1.00x", "fps"}) {
        EXPECT_NE(text.find(part), std::string::npos) << part << " missing from: " << text;
    }
    EXPECT_EQ(control<QLabel>(kControlTimeText)->text().toStdString(), "0.50 / 1.00");
}

}  // namespace
}  // namespace fyrel::test
