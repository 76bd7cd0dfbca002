#include "gui_test_support.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QOpenGLWidget>
#include <QCoreApplication>
#include <QSettings>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/qt_access.h"
#include "platform/window.h"

namespace fyrel::test {

namespace {

std::unique_ptr<Platform>& platformSlot()
{
    static std::unique_ptr<Platform> platform;
    return platform;
}

// The settings of a test program live in a folder of its own (one per
// process, as tests run in parallel) under a name of its own, never in the
// user's configuration.
std::filesystem::path settingsFolder()
{
    return std::filesystem::temp_directory_path() / ("fyrel-gui-settings-" + std::to_string(::getpid()));
}

}  // namespace

bool hasDisplay()
{
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

void ensurePlatform()
{
    if (!platformSlot()) {
        static int argc = 1;
        static char name[] = "fyrel_gui_test";
        static char* argv[] = {name, nullptr};
        platformSlot() = std::make_unique<Platform>(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("fyrel-gui-test"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(settingsFolder().string()));
    }
}

void shutdownPlatform()
{
    platformSlot().reset();
    std::error_code ignored;
    std::filesystem::remove_all(settingsFolder(), ignored);
}

bool drain()
{
    int code = 0;
    return drainEvents(code);
}

DialogScript::DialogScript()
{
    previousSink_ = setDebugSink([this](const std::string& message) { debugMessages.push_back(message); });
    previousResponder_ = setDialogResponder([this](const DialogRequest& request) {
        requests.push_back(request);
        DialogAnswer answer;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        return answer;
    });
}

DialogScript::~DialogScript()
{
    setDialogResponder(std::move(previousResponder_));
    setDebugSink(std::move(previousSink_));
}

std::string DialogScript::allDebugOutput() const
{
    std::string all;
    for (const std::string& m : debugMessages) {
        all += m;
    }
    return all;
}

void AppTest::SetUp()
{
    if (!hasDisplay()) {
        GTEST_SKIP() << "no display: run under xvfb-run";
    }
    ensurePlatform();
    QSettings().clear();  // every test starts as a first run
    script = std::make_unique<DialogScript>();
    app = std::make_unique<Application>();
    drain();
}

void AppTest::TearDown()
{
    app.reset();
    drain();
    drain();
    script.reset();
}

void AppTest::runFrames(int count, float dt)
{
    for (int i = 0; i < count; ++i) {
        app->frame(dt);
        drain();
    }
}

GlWindow& AppTest::view(std::size_t index)
{
    auto* w = dynamic_cast<GlWindow*>(app->childWindows.at(index).get());
    if (!w) {
        throw std::runtime_error("child window is not a GlWindow");
    }
    return *w;
}

QImage AppTest::grab(std::size_t index)
{
    QOpenGLWidget* surface = glSurface(app->childWindows.at(index)->windowHandle);
    if (!surface) {
        return {};
    }
    QImage image = surface->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    // FYREL_TEST_PICTURES=<folder> keeps every picture a test looked at.
    if (const char* folder = std::getenv("FYREL_TEST_PICTURES")) {
        static int counter = 0;
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        image.save(QString::fromStdString(std::string(folder) + "/" + info->test_suite_name() + "." + info->name() +
                                          "-" + std::to_string(++counter) + ".png"));
    }
    return image;
}

void AppTest::answerFile(const std::string& path)
{
    DialogAnswer answer;
    answer.path = path;
    script->answers.push_back(answer);
}

QWidget* AppTest::mainWidget()
{
    return windowWidget(app->mainWindow);
}

QAction* AppTest::menuAction(int command)
{
    auto* frame = qobject_cast<QMainWindow*>(mainWidget());
    if (!frame) {
        return nullptr;
    }
    for (QAction* top : frame->menuBar()->actions()) {
        if (!top->menu()) {
            continue;
        }
        for (QAction* item : top->menu()->actions()) {
            if (item->data().toInt() == command) {
                return item;
            }
        }
    }
    return nullptr;
}

void AppTest::choose(int command)
{
    QAction* action = menuAction(command);
    ASSERT_NE(action, nullptr) << "no menu item for command " << command;
    action->trigger();
    drain();
}

void AppTest::pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QWidget* frame = mainWidget();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    QTest::keyClick(frame, key, modifiers);
    drain();
}

bool isReddish(QRgb c)
{
    return qRed(c) > 150 && qGreen(c) < 80 && qBlue(c) < 80;
}

bool isGreenish(QRgb c)
{
    return qGreen(c) > 150 && qRed(c) < 80 && qBlue(c) < 80;
}

bool isBluish(QRgb c)
{
    return qBlue(c) > 150 && qRed(c) < 80 && qGreen(c) < 80;
}

int countPixels(const QImage& image, bool (*predicate)(QRgb))
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (predicate(image.pixel(x, y))) {
                ++count;
            }
        }
    }
    return count;
}

std::string assimpModel(const std::string& relativePath)
{
    const std::filesystem::path p = std::filesystem::path("/usr/share/assimp/models") / relativePath;
    return std::filesystem::exists(p) ? p.string() : std::string();
}

ScratchDir::ScratchDir()
{
    path_ = std::filesystem::temp_directory_path() /
            ("fyrel-gui-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::write(const std::string& name, const std::string& bytes) const
{
    const std::filesystem::path p = path_ / name;
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p.string();
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace fyrel::test
