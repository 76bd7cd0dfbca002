// Pictures: what the views show, read back from their surfaces.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "app/commands.h"
#include "gui_test_support.h"
#include "ik/ik_controller.h"
#include "platform/qt_access.h"
#include "render/gl_diagnostics.h"
#include "render/gl_resources.h"
#include "support/source_tree.h"
#include "ui/resources.h"

namespace fyrel::test {
namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");

bool isYellowish(QRgb c)
{
    return qRed(c) > 150 && qGreen(c) > 150 && qBlue(c) < 80;
}

bool isPathBlue(QRgb c)  // (0.2, 0.2, 0.8)
{
    return std::abs(qRed(c) - 51) < 12 && std::abs(qGreen(c) - 51) < 12 && std::abs(qBlue(c) - 204) < 12;
}

bool isBoneBlue(QRgb c)  // (0.5, 0.5, 1.0)
{
    return std::abs(qRed(c) - 128) < 12 && std::abs(qGreen(c) - 128) < 12 && qBlue(c) > 240;
}

bool isSkin(QRgb c)  // the demo's lit orange material
{
    return qRed(c) > 110 && qGreen(c) > 50 && qRed(c) > qGreen(c) + 20 && qGreen(c) > qBlue(c) + 10;
}

// Where a world point appears in a view's picture, in device pixels.
QPoint project(const EulerCameraFov& camera, const Vector3& p, QSize size)
{
    Vector4 v;
    transform(camera.view, Vector4{p.x, p.y, p.z, 1.0f}, v);
    const Vector4 eye{v.x, v.z, -v.y, 1.0f};
    Vector4 clip;
    transform(camera.projection, eye, clip);
    const float x = (clip.x / clip.w * 0.5f + 0.5f) * static_cast<float>(size.width());
    const float y = (0.5f - clip.y / clip.w * 0.5f) * static_cast<float>(size.height());
    return {static_cast<int>(x), static_cast<int>(y)};
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

int differingPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size()) {
        return a.width() * a.height();
    }
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                ++count;
            }
        }
    }
    return count;
}

class RenderTest : public AppTest {
protected:
    // A camera up and to the side, looking down at the origin: the three
    // axes go off in three different directions and the ground fills the
    // lower part of the picture.
    void lookDownAtTheOrigin()
    {
        EulerCameraFov& camera = view(0).camera;
        camera.angles = {-0.5097f, 0.0f, 0.4636f};
        camera.setPosition({4.0f, -8.0f, 5.0f});
    }

    void expectGroundAndAxes(const QImage& image)
    {
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(640, 480) * glSurface(app->childWindows[0]->windowHandle)->devicePixelRatioF());
        EXPECT_GT(countPixels(image, isReddish), 100);
        EXPECT_GT(countPixels(image, isGreenish), 100);
        EXPECT_GT(countPixels(image, isBluish), 100);
        // The ground in front of the camera: blue-tinted and lit above its
        // ambient part alone, (0.02, 0.02, 0.05) or 13 of 255 in blue.
        const QRgb ground = image.pixel(image.width() / 4, image.height() * 9 / 10);
        EXPECT_GT(qBlue(ground), 16) << std::hex << ground;
        EXPECT_GT(qBlue(ground), qRed(ground));
        EXPECT_GT(qBlue(ground), qGreen(ground));
        // The sky above the horizon is the clear colour.
        EXPECT_EQ(image.pixel(5, 5) & 0xFFFFFF, 0u);
    }
};

TEST_F(RenderTest, EmptySceneShowsTheLitGroundAndTheThreeAxes)
{
    lookDownAtTheOrigin();
    runFrames(3);
    const QImage image = grab(0);
    expectGroundAndAxes(image);
    // Each axis leaves the origin in its own direction.
    const EulerCameraFov& camera = view(0).camera;
    const QSize size = image.size();
    EXPECT_GT(countNear(image, project(camera, {3.0f, 0.0f, 0.0f}, size), 2, isReddish), 0);
    EXPECT_GT(countNear(image, project(camera, {0.0f, 3.0f, 0.0f}, size), 2, isGreenish), 0);
    EXPECT_GT(countNear(image, project(camera, {0.0f, 0.0f, 3.0f}, size), 2, isBluish), 0);
}

TEST_F(RenderTest, DefaultViewLooksAcrossTheGroundAtTheOrigin)
{
    runFrames(3);
    const QImage image = grab(0);
    // The eye stands on the ground plane: the world z axis rises from the
    // middle of the picture, the ground is seen edge-on below it.
    const QSize size = image.size();
    const EulerCameraFov& camera = view(0).camera;
    EXPECT_GT(countNear(image, project(camera, {0.0f, 0.0f, 2.0f}, size), 1, isBluish), 0);
    EXPECT_EQ(image.pixel(size.width() / 2, size.height() / 4) & 0xFFFFFF, 0u);
    EXPECT_EQ(image.pixel(size.width() / 4, size.height() * 3 / 4) & 0xFFFFFF, 0u);
}

TEST_F(RenderTest, DemoCharacterShowsItsMeshAndSkeletonAndMoves)
{
    importFileByName(*app, kDemo);
    ASSERT_EQ(app->models.size(), 1u);
    view(0).camera.setPosition({0.0f, -4.0f, 1.0f});
    runFrames(2, 0.0f);
    const QImage first = grab(0);
    EXPECT_GT(countPixels(first, isSkin), 2000);
    EXPECT_GT(countPixels(first, isBoneBlue), 30);
    // A joint of the skeleton shows through the mesh: skeletons are drawn
    // without the depth test.
    const Bone* pelvis = app->models.back().rootBone.find("pelvis");
    ASSERT_NE(pelvis, nullptr);

    runFrames(1, 0.25f);
    const QImage second = grab(0);
    EXPECT_GT(differingPixels(first, second), 200);
    EXPECT_GT(countPixels(second, isSkin), 2000);
}

TEST_F(RenderTest, PathsShowTheirPointsCurveAndTangentTicks)
{
    lookDownAtTheOrigin();
    // An arch: the straight tangent ticks leave the curve, so they show
    // beside it (where they lie on the curve, the curve drawn before them
    // hides them).
    Path path;
    path.addControlPoint({-3.0f, 3.0f, 0.0f});
    path.addControlPoint({0.0f, 6.0f, 0.0f});
    path.addControlPoint({3.0f, 3.0f, 0.0f});
    path.buildCurve();
    path.buildArcLengthTable();
    app->paths.push_back(path);
    runFrames(2);
    const QImage image = grab(0);
    EXPECT_GT(countPixels(image, isYellowish), 10);
    EXPECT_GT(countPixels(image, isPathBlue), 30);
    const QPoint start = project(view(0).camera, {-3.0f, 3.0f, 0.0f}, image.size());
    EXPECT_GT(countNear(image, start, 3, isPathBlue), 4);  // the 5-pixel end point
}

TEST_F(RenderTest, IkTargetsShowAsRedPoints)
{
    lookDownAtTheOrigin();
    IkController controller;
    controller.target = {-2.0f, 2.0f, 2.0f};
    app->ikControllers.push_back(controller);
    runFrames(2);
    const QImage image = grab(0);
    const QPoint at = project(view(0).camera, controller.target, image.size());
    EXPECT_GE(countNear(image, at, 3, isReddish), 9);
}

TEST_F(RenderTest, TwoViewsShowTheSameSceneThroughTheirOwnCameras)
{
    choose(kCommandOpenGlWindow);
    ASSERT_EQ(app->childWindows.size(), 2u);
    lookDownAtTheOrigin();
    runFrames(3);
    const QImage looking = grab(0);
    const QImage level = grab(1);
    expectGroundAndAxes(looking);
    EXPECT_GT(differingPixels(looking, level), 10000);
    EXPECT_GT(countPixels(level, isBluish), 50);
}

// Runs the program with the shader files of a folder of its own.
class ShaderFailureTest : public RenderTest {
protected:
    void SetUp() override
    {
        RenderTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        app.reset();
        drain();
        dir_ = std::filesystem::temp_directory_path() / ("fyrel-shaders-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "shader.vert") << "#version 120\nvoid main() { gl_Position = ftransform() }\n";
        std::filesystem::copy_file(sourcePath("resources/shader.frag"), dir_ / "shader.frag",
                                   std::filesystem::copy_options::overwrite_existing);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        script->debugMessages.clear();
        app = std::make_unique<Application>();
        std::filesystem::current_path(previous_);
        drain();
    }

    void TearDown() override
    {
        RenderTest::TearDown();
        if (!dir_.empty()) {
            std::filesystem::remove_all(dir_);
        }
    }

    std::filesystem::path dir_;
    std::filesystem::path previous_;
};

TEST_F(ShaderFailureTest, SyntaxErrorIsLoggedAndTheViewsDrawWithFixedFunction)
{
    std::string shaderLogs;
    std::string programLog;
    for (const std::string& m : script->debugMessages) {
        if (m.rfind("Shader Info Log:\n", 0) == 0) {
            shaderLogs += m;
        } else if (m.rfind("Program Info Log:\n", 0) == 0) {
            programLog = m;
        }
    }
    EXPECT_GT(shaderLogs.size(), std::string("Shader Info Log:\n\nShader Info Log:\n\n").size()) << shaderLogs;
    EXPECT_NE(shaderLogs.find("rror"), std::string::npos) << shaderLogs;
    EXPECT_GT(programLog.size(), std::string("Program Info Log:\n\n").size()) << programLog;
    EXPECT_NE(app->shaderProgram, 0u);  // the program object exists all the same

    lookDownAtTheOrigin();
    runFrames(3);
    const QImage empty = grab(0);
    expectGroundAndAxes(empty);

    importFileByName(*app, kDemo);
    runFrames(2);
    EXPECT_GT(differingPixels(empty, grab(0)), 500);  // the character is drawn
}

TEST(GlDiagnostics, ErrorTextsAreTheTablesTexts)
{
    EXPECT_EQ(glErrorText(0), "No Error\n");
    EXPECT_EQ(glErrorText(0x0500), "OpenGL: Invalid Enum\n");
    EXPECT_EQ(glErrorText(0x0501), "OpenGL: Invalid Value\n");
    EXPECT_EQ(glErrorText(0x0502), "OpenGL: Invalid Operation\n");
    EXPECT_EQ(glErrorText(0x0503), "OpenGL: Stack Overflow\n");
    EXPECT_EQ(glErrorText(0x0504), "OpenGL: Stack Underflow\n");
    EXPECT_EQ(glErrorText(0x0505), "OpenGL: Out of Memory");
    EXPECT_EQ(glErrorText(0x0506), "OpenGL: Invalid Framebuffer Operation\n");
    EXPECT_EQ(glErrorText(0x1234), "Unkown Error");
}

TEST(ShaderFiles, LookupTakesTheFirstFolderThatHoldsTheFile)
{
    const std::filesystem::path base =
        std::filesystem::temp_directory_path() / ("fyrel-lookup-" + std::to_string(::getpid()));
    std::filesystem::create_directories(base / "a");
    std::filesystem::create_directories(base / "b");
    std::filesystem::create_directories(base / "c" / "shader.vert");  // a folder, not a file
    std::ofstream(base / "b" / "shader.vert") << "void main() {}";
    const std::vector<std::string> dirs = {(base / "a").string(), (base / "c").string(), (base / "b").string()};
    EXPECT_EQ(findDataFile("shader.vert", dirs), (base / "b" / "shader.vert").string());
    EXPECT_EQ(loadShaderSource("shader.vert", dirs), "void main() {}");

    std::vector<std::string> messages;
    DebugSink previous = setDebugSink([&](const std::string& m) { messages.push_back(m); });
    EXPECT_EQ(loadShaderSource("shader.frag", dirs), "");
    setDebugSink(previous);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("shader.frag"), std::string::npos);

    std::ofstream(base / "a" / "empty.frag");
    EXPECT_EQ(readTextFile((base / "a" / "empty.frag").string()), std::optional<std::string>(""));
    EXPECT_EQ(readTextFile((base / "b" / "shader.vert").string(), 4), std::nullopt);  // over the limit
    EXPECT_EQ(readTextFile((base / "none").string()), std::nullopt);
    std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace fyrel::test
