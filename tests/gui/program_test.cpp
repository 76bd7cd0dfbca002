// The program as a user starts, watches and steers it: the main window and
// its loop, the views' cameras, and the pictures they draw.

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <array>
#include <chrono>
#include <fstream>
#include <regex>
#include <unistd.h>

#include "app/frame_loop.h"
#include "gui_test_support.h"
#include "ik/ik_controller.h"
#include "platform/platform.h"
#include "render/gl_resources.h"
#include "support/source_tree.h"
#include "tests/animation/test_scenes.h"
#include "tools/ms3d_writer.h"

namespace fyrel::test {
namespace {

TEST_F(AppTest, ExitAndTheCloseBoxEndTheLoopWithEveryView)
{
    EXPECT_EQ(windowText(app->mainWindow), "FyrelFramework");
    ASSERT_EQ(app->childWindows.size(), 1u);
    EXPECT_EQ(windowText(app->childWindows[0]->windowHandle), "Display Window");
    EXPECT_EQ(clientSize(app->childWindows[0]->windowHandle).width, 640);
    for (bool byMenu : {true, false}) {
        choose(kCommandOpenGlWindow);
        ASSERT_EQ(app->childWindows.size(), 2u);
        // Exit sent to a view closes that view only.
        app->childWindows[0]->onCommand(Command{kCommandExit});
        drain();
        ASSERT_EQ(app->childWindows.size(), 1u);
        runFrames(2);
        QWidget* frame = mainWidget();
        QTimer::singleShot(50, frame, [this, frame, byMenu] {
            byMenu ? menuAction(kCommandExit)->trigger() : (void)frame->close();
        });
        EXPECT_EQ(runFrameLoop(*app), 0);
        EXPECT_FALSE(isWindow(app->mainWindow));
        EXPECT_TRUE(app->childWindows.empty());
        app.reset();
        drain();
        app = std::make_unique<Application>();
        drain();
    }
}

TEST_F(AppTest, TitleShowsTheFrameStatisticsAfterFiveSeconds)
{
    importModel();  // a still scene draws no frames to count; the scene is changed: "Untitled*"
    // The loop runs until the title changes (or 60 s pass on a very busy
    // machine); the change may come no earlier than five seconds in.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    std::string title;
    double changedAfter = 0.0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, mainWidget(), [&] {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (windowText(app->mainWindow).find(" frames in ") != std::string::npos || seconds > 60.0) {
            title = windowText(app->mainWindow);
            changedAfter = seconds;
            poll.stop();
            mainWidget()->close();
        }
    });
    poll.start(50);
    EXPECT_EQ(runFrameLoop(*app), 0);
    EXPECT_GE(changedAfter, 5.0);
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(title, parts, std::regex(R"(Untitled\* - fyrel Project 1: (\d+) frames in ([0-9.e+]+) seconds )"
                                                          R"(\(([0-9.e+]+)fps\) MinFps\([0-9.e+]+\) MaxFps\([0-9.e+inf]+\))")))
        << title;
    EXPECT_GT(std::stoul(parts[1].str()), 1u);
    EXPECT_GT(std::stod(parts[2].str()), 5.0);
    EXPECT_NEAR(std::stod(parts[3].str()), std::stod(parts[1].str()) / std::stod(parts[2].str()), 0.01);
}

// Turns that put nothing on screen (the only view hidden) are no frames: they
// are not counted, and the next frame's interval spans them, so no rate of
// millions of frames a second comes from a turn that drew nothing.
TEST_F(AppTest, OnlyFramesThatReachTheScreenCount)
{
    using Clock = std::chrono::steady_clock;
    FrameLoopState state;
    int exitCode = 0;
    QWidget* view = windowWidget(app->childWindows[0]->windowHandle);
    view->hide();
    // On a busy machine the X server takes a while to tell the view it is
    // no longer on screen: wait for the first turn that draws nothing.
    for (const Clock::time_point until = Clock::now() + std::chrono::seconds(10);
         app->frame(0.0f) && Clock::now() < until;) {
        drain();
    }
    state.start = Clock::now();
    for (int turn = 0; turn < 20; ++turn) {
        runFrameTurn(*app, state, exitCode);
    }
    EXPECT_EQ(state.statistics.frameCount, 0u);
    const float hidden = state.sinceDrawn;
    EXPECT_GT(hidden, 0.0f);
    view->show();
    for (const Clock::time_point until = Clock::now() + std::chrono::seconds(10);
         state.statistics.frameCount == 0 && Clock::now() < until;) {
        runFrameTurn(*app, state, exitCode);
    }
    ASSERT_EQ(state.statistics.frameCount, 1u);
    EXPECT_GE(state.statistics.elapsed, hidden);
    EXPECT_LE(state.statistics.maxFps, 1.0f / hidden);
}

// A still program draws nothing: paused, or playing a scene in which nothing
// moves, no turn draws until input arrives (a timer is none); a moving scene
// draws every turn, a step while paused once, a key once.
TEST_F(AppTest, AStillSceneIsDrawnOnlyAfterInput)
{
    enum class Act { None, Step, Key };
    struct Row {
        const char* what;
        bool playing;
        bool clip;
        Act act;
        std::uint64_t fewest, most;  // pictures in ten turns
    };
    const Row rows[] = {
        {"paused", false, true, Act::None, 0, 0},
        {"playing no clip", true, false, Act::None, 0, 0},
        {"playing", true, true, Act::None, 10, 10},
        {"a step while paused", false, true, Act::Step, 1, 1},
        {"a key while paused", false, true, Act::Key, 1, 2},
    };
    Model& model = importModel();
    QTimer wake;  // turns that wait for input end at once, without counting as input
    wake.start(5);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        app->playback.playing = row.playing;
        model.animator.current = row.clip ? 0 : -1;
        FrameLoopState state;
        state.start = std::chrono::steady_clock::now();
        int exitCode = 0;
        for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
             (state.turnsDrawn == 0 || state.retries > 0) && std::chrono::steady_clock::now() < until;) {
            runFrameTurn(*app, state, exitCode);
        }
        runFrameTurn(*app, state, exitCode);  // the input that came with the first picture
        ASSERT_EQ(state.retries, 0);
        const std::uint64_t before = state.turnsDrawn;
        const std::uint64_t inputBefore = inputEventCount();
        if (row.act == Act::Step) {
            app->playback.stepForward();
        } else if (row.act == Act::Key) {
            QTest::keyClick(surface(0), Qt::Key_W);
        }
        for (int turn = 0; turn < 10; ++turn) {
            runFrameTurn(*app, state, exitCode);
        }
        // Other programs on the same display may uncover or move past the
        // views meanwhile: what they send is input too, and may be answered.
        const std::uint64_t ours = row.act == Act::Key ? 2 : 0;
        const std::uint64_t input = inputEventCount() - inputBefore;
        const std::uint64_t outside = input > ours ? input - ours : 0;
        EXPECT_GE(state.turnsDrawn - before, row.fewest);
        EXPECT_LE(state.turnsDrawn - before, row.most + outside) << outside << " events from outside";
    }
}

// Keys pressed in a view move its camera; pressed on the main window they
// reach every view; a drag with the left button turns it.
TEST_F(AppTest, KeysAndDragsMoveTheCameras)
{
    choose(kCommandOpenGlWindow);
    struct Row {
        const char* what;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool everyView;
        Vector3 move;
        float fov;
    };
    const Row rows[] = {
        {"W", Qt::Key_W, Qt::NoModifier, true, {0, 0.5f, 0}, 0},
        {"Space", Qt::Key_Space, Qt::NoModifier, true, {0, 0, 0.5f}, 0},
        {"A", Qt::Key_A, Qt::NoModifier, false, {-0.5f, 0, 0}, 0},
        {"D", Qt::Key_D, Qt::NoModifier, false, {0.5f, 0, 0}, 0},
        {"Shift+S", Qt::Key_S, Qt::ShiftModifier, false, {0, -0.5f, 0}, 0},
        {"C", Qt::Key_C, Qt::NoModifier, false, {0, 0, -0.5f}, 0},
        {"keypad +", Qt::Key_Plus, Qt::KeypadModifier, false, {}, 0.01f},
        {"keypad -", Qt::Key_Minus, Qt::KeypadModifier, false, {}, -0.01f},
        {"the main keyboard's +", Qt::Key_Plus, Qt::NoModifier, false, {}, 0},
    };
    for (const Row& row : rows) {
        const EulerCameraFov before[] = {view(0).camera, view(1).camera};
        QTest::keyClick(row.everyView ? mainWidget() : surface(1), row.key, row.modifiers);
        for (std::size_t i = 0; i < 2; ++i) {
            const bool moves = row.everyView || i == 1;
            const Vector3 m = moves ? row.move : Vector3{}, &b = before[i].position;
            EXPECT_LT(distance(view(i).camera.position, {b.x + m.x, b.y + m.y, b.z + m.z}), 1e-5f) << row.what << " " << i;
            EXPECT_FLOAT_EQ(view(i).camera.fov, before[i].fov + (moves ? row.fov : 0)) << row.what;
        }
    }
    EulerCameraFov& camera = view(0).camera;
    QTest::mousePress(surface(0), Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseMove(surface(0), QPoint(140, 80));
    QTest::mouseRelease(surface(0), Qt::LeftButton, Qt::NoModifier, QPoint(140, 80));
    EXPECT_FLOAT_EQ(camera.angles.z, -40 * 0.005f);
    EXPECT_FLOAT_EQ(camera.angles.x, 20 * 0.005f);
    EXPECT_EQ(mainWidget()->focusWidget(), surface(0));  // clicking a view gives it the keyboard
    // Moving without a button, or with Shift or Ctrl held, does not turn.
    QTest::mouseMove(surface(0), QPoint(300, 300));
    QTest::mousePress(surface(0), Qt::LeftButton, Qt::ShiftModifier, QPoint(200, 200));
    for (Qt::KeyboardModifier modifier : {Qt::ShiftModifier, Qt::ControlModifier}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(250, 250), surface(0)->mapToGlobal(QPointF(250, 250)),
                         Qt::NoButton, Qt::LeftButton, modifier);
        QApplication::sendEvent(surface(0), &move);
    }
    QTest::mouseRelease(surface(0), Qt::LeftButton, Qt::ShiftModifier, QPoint(250, 250));
    EXPECT_FLOAT_EQ(camera.angles.z, -40 * 0.005f);
    EXPECT_FLOAT_EQ(camera.angles.y, 0.0f);

    // Alt+/ (main window), Alt+? (a view) and the menu open the About box,
    // and the accelerator's key is not also a key press.
    const float y = camera.position.y;
    QTest::keyClick(mainWidget(), Qt::Key_Slash, Qt::AltModifier);
    QTest::keyClick(surface(0), Qt::Key_Question, Qt::AltModifier | Qt::ShiftModifier);
    choose(kCommandAbout);
    ASSERT_EQ(script->requests.size(), 3u);
    for (const DialogRequest& r : script->requests) {
        EXPECT_EQ(r.caption, "About");
    }
    EXPECT_EQ(script->requests[1].owner, app->childWindows[0]->windowHandle);
    EXPECT_EQ(camera.position.y, y);
}

class RenderTest : public AppTest {
protected:
    // A camera up and to the side, looking down at the origin: the three
    // axes go off in three different directions and the ground fills the
    // lower part of the picture.
    void lookDownAtTheOrigin() { lookAt(view(0).camera, {0, 0, 0}, 10.247f, 0.4636f, -0.5097f); }

    void expectGroundAndAxes(const QImage& image)
    {
        ASSERT_EQ(image.size(), QSize(640, 480) * surface(0)->devicePixelRatioF());
        const EulerCameraFov& camera = view(0).camera;
        EXPECT_GT(countNear(image, project(camera, {3, 0, 0}, image.size()), 2, isReddish), 0);
        EXPECT_GT(countNear(image, project(camera, {0, 3, 0}, image.size()), 2, isGreenish), 0);
        EXPECT_GT(countNear(image, project(camera, {0, 0, 3}, image.size()), 2, isBluish), 0);
        // The ground in front of the camera: blue-tinted and lit above its
        // ambient part alone, (0.02, 0.02, 0.05) or 13 of 255 in blue.
        const QRgb ground = image.pixel(image.width() / 4, image.height() * 9 / 10);
        EXPECT_GT(qBlue(ground), 16) << std::hex << ground;
        EXPECT_GT(qBlue(ground), std::max(qRed(ground), qGreen(ground))) << std::hex << ground;
        EXPECT_EQ(image.pixel(5, 5) & 0xFFFFFF, 0u);  // the sky is the clear colour
    }
};

// The ground, the axes, a path's curve, points and ticks and an IK target,
// through two cameras.
TEST_F(RenderTest, TheSceneShowsGroundAxesPathsAndTargetsInEveryView)
{
    choose(kCommandOpenGlWindow);
    lookDownAtTheOrigin();
    // An arch: the straight tangent ticks leave the curve, so they show beside it.
    addPath({{-3, 3, 0}, {0, 6, 0}, {3, 3, 0}});
    IkController controller;
    controller.target = {-2.0f, 2.0f, 2.0f};
    app->ikControllers.push_back(controller);
    runFrames(3);
    const QImage image = grab(0);
    expectGroundAndAxes(image);
    EXPECT_GT(countPixels(image, isYellowish), 10);
    EXPECT_GT(countPixels(image, isPathBlue), 30);
    EXPECT_GT(countNear(image, project(view(0).camera, {-3, 3, 0}, image.size()), 3, isPathBlue), 4);
    EXPECT_GE(countNear(image, project(view(0).camera, controller.target, image.size()), 3, isReddish), 9);
    // The start-up camera stands on the ground plane: the z axis rises from
    // the middle, the ground is seen edge-on below it.
    const QImage level = grab(1);
    EXPECT_GT(countNear(level, project(view(1).camera, {0, 0, 2}, level.size()), 1, isBluish), 0);
    EXPECT_EQ(level.pixel(level.width() / 4, level.height() * 3 / 4) & 0xFFFFFF, 0u);
    EXPECT_GT(differingPixels(image, level), 10000);
    // Turned to the other view's camera, a view shows the ground as that one
    // does from the next frame on (the ground it kept for its own camera is
    // drawn again; the light follows a frame later).
    view(0).camera = view(1).camera;
    runFrames(1);
    const auto sky = [](QRgb p) { return (p & 0xFFFFFF) == 0; };
    EXPECT_EQ(countPixels(grab(0), sky), countPixels(grab(1), sky));
}

TEST_F(RenderTest, DemoCharacterShowsItsMeshAndSkeletonAndMoves)
{
    Model& model = importModel();
    view(0).camera.angles = Vector3{};  // from behind, as the counts below were made
    view(0).camera.setPosition({0.0f, -4.0f, 1.0f});
    runFrames(2, 0.0f);
    const QImage first = grab(0);
    // Of about 5100 pixels of the mesh, its texture makes some 900 skin (head
    // and hands) and 4200 clothes; its white material alone would make none.
    EXPECT_GT(countPixels(first, isDemo), 4500);
    EXPECT_GT(countPixels(first, isSkin), 600);
    EXPECT_GT(countPixels(first, isClothes), 3500);
    // The skeleton is drawn over the mesh: its joints inside the body show.
    for (const char* joint : {"pelvis", "chest"}) {
        const QPoint at = project(view(0).camera, evaluatedOrigin(model, joint), first.size());
        EXPECT_GT(countNear(first, at, 2, isBoneBlue), 0) << joint;
    }
    runFrames(1, 0.25f);
    const QImage second = grab(0);
    EXPECT_GT(differingPixels(first, second), 200);
    EXPECT_GT(countPixels(second, isDemo), 2000);
}

// A shader that does not compile is logged, and the views draw with the
// fixed function instead.
TEST_F(RenderTest, ShaderSyntaxErrorIsLoggedAndTheViewsStillDraw)
{
    ScratchDir dir;
    dir.write("shader.vert", "#version 120\nvoid main() { gl_Position = ftransform() }\n");
    const std::string frag = dir.write("shader.frag", readBytes(sourcePath("resources/shader.frag")));
    app.reset();
    drain();
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(frag).parent_path());
    script->debugMessages.clear();
    app = std::make_unique<Application>();
    std::filesystem::current_path(previous);
    drain();
    std::string shaderLogs;
    for (const std::string& m : script->debugMessages) {
        shaderLogs += m.rfind("Shader Info Log:\n", 0) == 0 ? m : "";
    }
    EXPECT_NE(shaderLogs.find("rror"), std::string::npos) << shaderLogs;

    lookDownAtTheOrigin();
    runFrames(3);
    const QImage empty = grab(0);
    expectGroundAndAxes(empty);
    importModel();
    runFrames(2);
    EXPECT_GT(differingPixels(empty, grab(0)), 500);  // the character is drawn
}

// Quads facing the camera, each with a material whose image is two texels,
// red on the left and blue on the right: the views draw the image where the
// texture coordinates put it, and beyond its right edge (s from −0.25 to
// 1.75) the image clamped to its edge stays blue where repeated it would be
// red again; a cut-out material leaves out where its image is transparent
// (the blue texel, there). An image that is missing or does not decode
// leaves the material's own colour (green) and one line on the debug
// output, never a box.
TEST_F(RenderTest, TexturedModelsShowTheirImagesAndFallBackToTheirColours)
{
    ScratchDir dir;
    std::string tga(18, '\0');
    tga[2] = 2;  // uncompressed true colour
    tga[12] = 2;
    tga[14] = 1;
    tga[16] = 32;
    tga[17] = 8;
    const std::string header = tga;
    tga += std::string("\0\0\xff\xff\xff\0\0\xff", 8);  // BGRA: red, blue
    const std::string cutOut = header + std::string("\0\0\xff\xff\xff\0\0\0", 8);  // the blue fully transparent
    const struct {
        const char* name;
        std::string image;  // written beside the model unless empty
        float green;        // the material's colour: white, or green
        bool (*left)(QRgb);
        bool (*right)(QRgb);
        const char* debug;
        float sFrom = 0.0f, sTo = 1.0f;  // across the quad
        TextureWrap wrap = TextureWrap::Repeat;
        const char* file = nullptr;  // the image's name when not the case's own
        float alphaCutoff = 0.0f;
    } cases[] = {
        {"image", tga, 1.0f, isReddish, isBluish, nullptr},
        {"missing", "", 0.0f, isGreenish, isGreenish, "not found"},
        {"corrupt", "not an image at all", 0.0f, isGreenish, isGreenish, "not used: not an image"},
        {"clamped", tga, 1.0f, isReddish, isBluish, nullptr, -0.25f, 1.75f, TextureWrap::ClampToEdge, "image.tga"},
        // Where the blue texel is cut out the dark picture behind shows.
        {"cut out", cutOut, 1.0f, isReddish, [](QRgb p) { return qBlue(p) < 128; }, nullptr, 0, 1,
         TextureWrap::Repeat, nullptr, 0.5f},
    };
    float x = -3.0f;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Ms3dFile f;
        const float corners[4][2] = {{-1, 0}, {1, 0}, {1, 2}, {-1, 2}};  // x, y: the file's y is up
        for (const auto& p : corners) {
            Ms3dVertex v;
            v.position[0] = p[0], v.position[1] = p[1];
            f.vertices.push_back(v);
        }
        for (const auto& corner : {std::array<int, 3>{0, 1, 2}, std::array<int, 3>{0, 2, 3}}) {
            Ms3dTriangle t;
            for (int k = 0; k < 3; ++k) {
                t.indices[k] = static_cast<std::uint16_t>(corner[k]);
                t.s[k] = c.sFrom + (c.sTo - c.sFrom) * (corners[corner[k]][0] + 1) / 2;
                t.t[k] = (2 - corners[corner[k]][1]) / 2;  // down from the image's top
            }
            f.triangles.push_back(t);
        }
        f.groups = {Ms3dGroup{"quad", {0, 1}, 0, 0}};
        Ms3dMaterial m;
        m.name = c.name;
        for (float* colour : {m.ambient, m.diffuse}) {
            colour[0] = colour[2] = c.green;
            colour[1] = 1.0f;
        }
        m.texture = c.file ? c.file : std::string(c.name) + ".tga";  // the first case's image, clamped
        f.materials = {m};
        if (!c.image.empty()) {
            dir.write(m.texture, c.image);
        }
        const std::string path = dir.path(std::string(c.name) + ".ms3d");
        saveMs3d(f, path);
        script->debugMessages.clear();
        Model& model = importModel(path);
        model.position.x = x;
        model.materials.at(0).wrapS = c.wrap;
        model.materials.at(0).alphaCutoff = c.alphaCutoff;
        view(0).camera.angles = Vector3{};
        view(0).camera.setPosition({3.0f, -12.0f, 1.0f});  // all five side by side
        runFrames(2, 0.0f);
        const QImage image = grab(0);
        EXPECT_GT(countNear(image, project(view(0).camera, {x - 0.5f, 0, 1}, image.size()), 3, c.left), 20);
        EXPECT_GT(countNear(image, project(view(0).camera, {x + 0.5f, 0, 1}, image.size()), 3, c.right), 20);
        std::string debug;
        for (const std::string& line : script->debugMessages) {
            debug += line;
        }
        if (c.debug) {
            EXPECT_NE(debug.find(c.debug), std::string::npos) << debug;
        }
        EXPECT_TRUE(script->requests.empty());
        x += 3.0f;
    }
}

TEST(ShaderFiles, LookupTakesTheFirstFolderThatHoldsTheFile)
{
    const std::filesystem::path base =
        std::filesystem::temp_directory_path() / ("fyrel-lookup-" + std::to_string(::getpid()));
    std::filesystem::create_directories(base / "a");
    std::filesystem::create_directories(base / "c" / "shader.vert");  // a folder, not a file
    std::filesystem::create_directories(base / "b");
    std::ofstream(base / "b" / "shader.vert") << "void main() {}";
    const std::vector<std::string> dirs = {(base / "a").string(), (base / "c").string(), (base / "b").string()};
    EXPECT_EQ(loadShaderSource("shader.vert", dirs), "void main() {}");
    std::vector<std::string> messages;
    const DebugSink previous = setDebugSink([&](const std::string& m) { messages.push_back(m); });
    EXPECT_EQ(loadShaderSource("shader.frag", dirs), "");
    setDebugSink(previous);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("shader.frag"), std::string::npos);
    EXPECT_EQ(readTextFile((base / "b" / "shader.vert").string(), 4), std::nullopt);  // over the limit
    std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace fyrel::test
