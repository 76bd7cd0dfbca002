// Start-up, the main window with its menu, the frame loop, and the views'
// input, driven through the real widgets.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <regex>

#include "app/frame_loop.h"
#include "gui_test_support.h"
#include "platform/qt_access.h"
#include "platform/window.h"
#include "ui/resources.h"

namespace fyrel::test {
namespace {

TEST_F(AppTest, StartsWithTitleOneViewAndAnEmptyScene)
{
    EXPECT_EQ(windowText(app->mainWindow), "FyrelFramework");
    ASSERT_EQ(app->childWindows.size(), 1u);
    EXPECT_TRUE(app->models.empty());
    EXPECT_TRUE(app->paths.empty());
    EXPECT_TRUE(app->bindings.empty());
    EXPECT_TRUE(app->ikControllers.empty());

    const WindowHandle viewWindow = app->childWindows[0]->windowHandle;
    EXPECT_EQ(windowText(viewWindow), "Display Window");
    const ClientSize size = clientSize(viewWindow);
    EXPECT_EQ(size.width, 640);
    EXPECT_EQ(size.height, 480);
    EXPECT_EQ(windowWidget(viewWindow)->pos(), QPoint(0, 0));

    const EulerCameraFov& camera = view(0).camera;
    EXPECT_FLOAT_EQ(camera.position.y, -10.0f);
    EXPECT_FLOAT_EQ(camera.fov, 1.0471976f);
    EXPECT_FLOAT_EQ(camera.zFar, 1000.0f);
}

TEST_F(AppTest, StartUpWritesTheGlChecksAndShaderLogsInOrder)
{
    std::vector<std::string> gl;
    for (const std::string& m : script->debugMessages) {
        if (m == "No Error\n" || m.rfind("OpenGL:", 0) == 0 || m.rfind("Shader Info Log:\n", 0) == 0 ||
            m.rfind("Program Info Log:\n", 0) == 0) {
            gl.push_back(m.substr(0, m.find('\n') + 1));
        }
    }
    const std::vector<std::string> expected = {
        "No Error\n", "No Error\n", "No Error\n", "No Error\n", "No Error\n", "No Error\n",
        "Shader Info Log:\n", "Shader Info Log:\n",
        "No Error\n", "No Error\n", "No Error\n", "No Error\n",
        "Program Info Log:\n"};
    EXPECT_EQ(gl, expected);
    EXPECT_NE(app->shaderProgram, 0u);
    EXPECT_NE(app->axesList, 0u);
    EXPECT_NE(app->groundList, 0u);
    EXPECT_NE(app->glFunctions.useProgram, nullptr);
}

TEST_F(AppTest, EveryMenuItemExistsWithItsText)
{
    auto* frame = qobject_cast<QMainWindow*>(mainWidget());
    ASSERT_NE(frame, nullptr);
    std::vector<std::string> popups;
    for (QAction* top : frame->menuBar()->actions()) {
        popups.push_back(top->text().toStdString());
    }
    EXPECT_EQ(popups, (std::vector<std::string>{"&File", "&Edit", "&View", "&Animation", "&Scene", "&IK", "&Window",
                                                "&Help"}));

    const std::vector<std::pair<int, std::string>> items = {
        {kCommandImport3ds, "Import .&3ds"},         {kCommandImportX, "Import .&X"},
        {kCommandImportMs3d, "Import .&MS3D"},       {kCommandImportGltf, "Import .&glTF"},
        {kCommandExportGltf, "&Export glTF..."},     {kCommandExit, "E&xit"},
        {kCommandBindToPath, "&Bind to Path"},       {kCommandOpenGlWindow, "&Open GlWindow"},
        {kCommandOpenPathWindow, "Open &Path Window"}, {kCommandSceneInformation, "&Scene Information"},
        {kCommandRemoveAllModels, "Remove &All Models"}, {kCommandRemoveAllPaths, "Remove All &Paths"},
        {kCommandAddIkController, "&Add IK Controller"}, {kCommandGenerateIkAnimation, "&Generate IK Animation"},
        {kCommandPlayIkAnimation, "&Play IK Animation"}, {kCommandAbout, "&About ..."},
    };
    for (const auto& [command, text] : items) {
        QAction* action = menuAction(command);
        ASSERT_NE(action, nullptr) << text;
        EXPECT_EQ(action->text().toStdString(), text);
        EXPECT_EQ(action->isEnabled(), command != kCommandPlayIkAnimation) << text;
    }
    // Items sit in their popups in this order (separators and the recent
    // files' submenu left out), with their shortcuts beside them.
    const std::vector<std::vector<int>> order = {
        {kCommandOpen, kCommandImport3ds, kCommandImportX, kCommandImportMs3d, kCommandImportGltf, kCommandExportGltf,
         kCommandExit},
        {kCommandBindToPath},
        {kCommandOpenGlWindow, kCommandOpenPathWindow, kCommandSceneInformation, kCommandFrameAll,
         kCommandSyncToDisplay},
        {kCommandPlayPause, kCommandStepForward, kCommandStepBack},
        {kCommandRemoveAllModels, kCommandRemoveAllPaths},
        {kCommandAddIkController, kCommandGenerateIkAnimation, kCommandPlayIkAnimation},
        {kCommandTile, kCommandCascade, kCommandNextWindow},
        {kCommandControls, kCommandAbout}};
    const QList<QAction*> tops = frame->menuBar()->actions();
    ASSERT_EQ(tops.size(), 8);
    for (int i = 0; i < 8; ++i) {
        std::vector<int> ids;
        for (QAction* item : tops[i]->menu()->actions()) {
            if (!item->isSeparator() && !item->menu()) {
                ids.push_back(item->data().toInt());
            }
        }
        EXPECT_EQ(ids, order[static_cast<std::size_t>(i)]);
    }
    const std::vector<std::pair<int, std::string>> shortcuts = {
        {kCommandOpen, "Ctrl+O"}, {kCommandExportGltf, "Ctrl+E"}, {kCommandExit, "Ctrl+Q"}, {kCommandFrameAll, "F"},
        {kCommandPlayPause, "P"},
        {kCommandStepForward, "."}, {kCommandStepBack, ","}, {kCommandNextWindow, "Ctrl+F6"}, {kCommandControls, "F1"}};
    for (const auto& [command, keys] : shortcuts) {
        EXPECT_EQ(menuAction(command)->shortcut().toString().toStdString(), keys) << command;
    }
}

TEST_F(AppTest, ExitClosesTheMainWindowAndEndsTheLoop)
{
    runFrames(2);
    QTimer::singleShot(50, mainWidget(), [this] { menuAction(kCommandExit)->trigger(); });
    const int exitCode = runFrameLoop(*app);
    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(isWindow(app->mainWindow));
    EXPECT_TRUE(app->childWindows.empty());
}

TEST_F(AppTest, ClosingTheMainWindowEndsTheLoopWithEveryView)
{
    choose(kCommandOpenGlWindow);
    ASSERT_EQ(app->childWindows.size(), 2u);
    QWidget* frame = mainWidget();
    QTimer::singleShot(50, frame, [frame] { frame->close(); });
    EXPECT_EQ(runFrameLoop(*app), 0);
    EXPECT_TRUE(app->childWindows.empty());
    EXPECT_FALSE(isWindow(app->mainWindow));
}

TEST_F(AppTest, TitleShowsTheFrameStatisticsAfterFiveSeconds)
{
    // The loop runs until the title changes (or 60 s pass on a very busy
    // machine); the change may come no earlier than five seconds in.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    std::string title;
    double changedAfter = 0.0;
    QWidget* frame = mainWidget();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, frame, [&] {
        const std::string now = windowText(app->mainWindow);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (now != "FyrelFramework" || seconds > 60.0) {
            title = now;
            changedAfter = seconds;
            poll.stop();
            frame->close();
        }
    });
    poll.start(50);
    EXPECT_EQ(runFrameLoop(*app), 0);
    EXPECT_GE(changedAfter, 5.0);
    const std::regex shape(
        R"(fyrel Project 1: (\d+) frames in ([0-9.e+]+) seconds \([0-9.e+]+fps\) MinFps\([0-9.e+]+\) MaxFps\([0-9.e+inf]+\))");
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(title, parts, shape)) << title;
    EXPECT_GT(std::stoul(parts[1].str()), 1u);
    EXPECT_GT(std::stod(parts[2].str()), 5.0);
}

TEST_F(AppTest, OpenGlWindowAddsAViewCascadedFromTheFirst)
{
    choose(kCommandOpenGlWindow);
    ASSERT_EQ(app->childWindows.size(), 2u);
    const WindowHandle second = app->childWindows[1]->windowHandle;
    EXPECT_EQ(windowText(second), "Display Window");
    EXPECT_EQ(clientSize(second).width, 640);
    EXPECT_EQ(clientSize(second).height, 480);
    const QPoint step = windowWidget(second)->pos();
    EXPECT_GT(step.x(), 0);
    EXPECT_EQ(step.x(), step.y());
    runFrames(2);
    EXPECT_FALSE(grab(1).isNull());
}

TEST_F(AppTest, ClosingAViewRemovesIt)
{
    choose(kCommandOpenGlWindow);
    ASSERT_EQ(app->childWindows.size(), 2u);
    ChildWindow* kept = app->childWindows[1].get();
    const WindowHandle closed = app->childWindows[0]->windowHandle;
    windowWidget(closed)->close();
    drain();
    ASSERT_EQ(app->childWindows.size(), 1u);
    EXPECT_EQ(app->childWindows[0].get(), kept);
    EXPECT_FALSE(isWindow(closed));
    runFrames(2);

    // Exit sent to a view closes that view only.
    sendMessage(kept->windowHandle, kWmCommand, kCommandExit, 0);
    drain();
    EXPECT_TRUE(app->childWindows.empty());
    EXPECT_TRUE(isWindow(app->mainWindow));
    runFrames(2);  // with no view left the loop only updates the scene
}

TEST_F(AppTest, KeyPressesOnTheMainWindowReachEveryView)
{
    choose(kCommandOpenGlWindow);
    ASSERT_EQ(app->childWindows.size(), 2u);
    QTest::keyClick(mainWidget(), Qt::Key_W);
    QTest::keyClick(mainWidget(), Qt::Key_Space);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_FLOAT_EQ(view(i).camera.position.y, -9.5f) << i;
        EXPECT_FLOAT_EQ(view(i).camera.position.z, 0.5f) << i;
    }
    // A key pressed in one view moves that view's camera only.
    QTest::keyClick(glSurface(app->childWindows[1]->windowHandle), Qt::Key_D);
    EXPECT_FLOAT_EQ(view(0).camera.position.x, 0.0f);
    EXPECT_FLOAT_EQ(view(1).camera.position.x, 0.5f);
}

TEST_F(AppTest, ViewKeysMoveTheCameraAsTheKeyTableSays)
{
    QWidget* surface = glSurface(app->childWindows[0]->windowHandle);
    EulerCameraFov& camera = view(0).camera;
    QTest::keyClick(surface, Qt::Key_A);
    EXPECT_FLOAT_EQ(camera.position.x, -0.5f);
    QTest::keyClick(surface, Qt::Key_S);
    EXPECT_FLOAT_EQ(camera.position.y, -10.5f);
    QTest::keyClick(surface, Qt::Key_C);
    EXPECT_FLOAT_EQ(camera.position.z, -0.5f);
    QTest::keyClick(surface, Qt::Key_S, Qt::ShiftModifier);  // Shift makes no difference
    EXPECT_FLOAT_EQ(camera.position.y, -11.0f);

    const float fov = camera.fov;
    QTest::keyClick(surface, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_FLOAT_EQ(camera.fov, fov + 0.01f);
    QTest::keyClick(surface, Qt::Key_Minus, Qt::KeypadModifier);
    QTest::keyClick(surface, Qt::Key_Minus, Qt::KeypadModifier);
    EXPECT_FLOAT_EQ(camera.fov, fov + 0.01f - 0.01f - 0.01f);
    // The plus of the main keyboard is another key.
    QTest::keyClick(surface, Qt::Key_Plus);
    EXPECT_FLOAT_EQ(camera.fov, fov + 0.01f - 0.01f - 0.01f);

    // Arrows do nothing without an IK controller, and move the last one's
    // target in world x and y when there is one; from the main window they
    // reach every view, so two views move it twice.
    QTest::keyClick(surface, Qt::Key_Left);
    app->ikControllers.emplace_back();
    app->ikControllers.emplace_back();
    const Vector3 start = app->ikControllers.back().target;
    QTest::keyClick(surface, Qt::Key_Left);
    QTest::keyClick(surface, Qt::Key_Up);
    EXPECT_FLOAT_EQ(app->ikControllers.back().target.x, start.x - 0.5f);
    EXPECT_FLOAT_EQ(app->ikControllers.back().target.y, start.y + 0.5f);
    EXPECT_FLOAT_EQ(app->ikControllers.front().target.x, start.x);
    choose(kCommandOpenGlWindow);
    QTest::keyClick(mainWidget(), Qt::Key_Right);
    QTest::keyClick(mainWidget(), Qt::Key_Down);
    EXPECT_FLOAT_EQ(app->ikControllers.back().target.x, start.x + 0.5f);
    EXPECT_FLOAT_EQ(app->ikControllers.back().target.y, start.y - 0.5f);
    EXPECT_FLOAT_EQ(app->ikControllers.back().target.z, start.z);
}

TEST_F(AppTest, DraggingWithTheLeftButtonTurnsTheCamera)
{
    QWidget* surface = glSurface(app->childWindows[0]->windowHandle);
    EulerCameraFov& camera = view(0).camera;
    QTest::mousePress(surface, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseMove(surface, QPoint(140, 80));
    EXPECT_FLOAT_EQ(camera.angles.z, -40 * 0.005f);
    EXPECT_FLOAT_EQ(camera.angles.x, 20 * 0.005f);
    EXPECT_FLOAT_EQ(camera.angles.y, 0.0f);
    QTest::mouseRelease(surface, Qt::LeftButton, Qt::NoModifier, QPoint(140, 80));

    // Moving without a button, or with Shift or Ctrl held, does not turn.
    QTest::mouseMove(surface, QPoint(300, 300));
    QTest::mousePress(surface, Qt::LeftButton, Qt::ShiftModifier, QPoint(200, 200));
    for (Qt::KeyboardModifier modifier : {Qt::ShiftModifier, Qt::ControlModifier}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(250, 250), surface->mapToGlobal(QPointF(250, 250)), Qt::NoButton,
                         Qt::LeftButton, modifier);
        QApplication::sendEvent(surface, &move);
    }
    EXPECT_FLOAT_EQ(camera.angles.z, -40 * 0.005f);
    EXPECT_FLOAT_EQ(camera.angles.x, 20 * 0.005f);
    QTest::mouseRelease(surface, Qt::LeftButton, Qt::ShiftModifier, QPoint(250, 250));
    // Clicking a view gives it the keyboard.
    EXPECT_EQ(mainWidget()->focusWidget(), surface);
}

TEST_F(AppTest, AltSlashAndAltQuestionMarkOpenTheAboutBox)
{
    QTest::keyClick(mainWidget(), Qt::Key_Slash, Qt::AltModifier);
    QTest::keyClick(glSurface(app->childWindows[0]->windowHandle), Qt::Key_Question,
                    Qt::AltModifier | Qt::ShiftModifier);
    choose(kCommandAbout);
    ASSERT_EQ(script->requests.size(), 3u);
    for (const DialogRequest& r : script->requests) {
        EXPECT_EQ(r.kind, DialogKind::DialogBox);
        EXPECT_EQ(r.caption, "About");
    }
    EXPECT_EQ(script->requests[1].owner, app->childWindows[0]->windowHandle);
    // The accelerator's key is not also a key press: the camera stays.
    EXPECT_FLOAT_EQ(view(0).camera.position.y, -10.0f);
}

TEST_F(AppTest, AboutBoxShowsTheIconAndClosesWithOk)
{
    script.reset();  // the real dialog this time
    bool sawDialog = false;
    QTimer::singleShot(100, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) {
            return;
        }
        sawDialog = dialog->windowTitle() == QStringLiteral("About");
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("OK") && button->isDefault()) {
                button->click();
            }
        }
    });
    choose(kCommandAbout);
    EXPECT_TRUE(sawDialog);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    script = std::make_unique<DialogScript>();
}

}  // namespace
}  // namespace fyrel::test
