#include "gui_test_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QSettings>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "platform/platform.h"
#include "support/source_tree.h"
#include "tests/animation/test_scenes.h"

namespace fyrel::test {

namespace {

std::unique_ptr<Platform>& platformSlot()
{
    static std::unique_ptr<Platform> platform;
    return platform;
}

// The settings of a test program live in a folder of its own (one per
// process, as tests run in parallel), never in the user's configuration.
std::filesystem::path settingsFolder()
{
    return std::filesystem::temp_directory_path() / ("fyrel-gui-settings-" + std::to_string(::getpid()));
}

std::string outlineOf(const QTreeWidgetItem* item)
{
    std::string text = item->text(0).toStdString();
    for (int i = 0; i < item->childCount(); ++i) {
        text += (i ? "," : "{") + outlineOf(item->child(i)) + (i + 1 == item->childCount() ? "}" : "");
    }
    return text;
}

}  // namespace

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
        // Recovery files too (unless a test chose a folder).
        ::setenv("XDG_STATE_HOME", (settingsFolder() / "state").c_str(), 0);
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

std::string demoPath()
{
    return sourcePath("resources/demo/walker.ms3d");
}

void AppTest::SetUp()
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
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

void AppTest::simulate(int frames, float dt)
{
    app->makeGlCurrent();
    for (int i = 0; i < frames; ++i) {
        app->updateScene(dt);
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

QWidget* AppTest::surface(std::size_t index)
{
    return glSurface(app->childWindows.at(index)->windowHandle);
}

QImage AppTest::grab(std::size_t index)
{
    QImage image = presentedFrame(app->childWindows.at(index)->windowHandle);
    image = image.convertToFormat(QImage::Format_RGB32);
    // FYREL_TEST_PICTURES=<folder> keeps every picture a test looked at.
    if (const char* folder = std::getenv("FYREL_TEST_PICTURES")) {
        static int counter = 0;
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        image.save(QString::fromStdString(std::string(folder) + "/" + info->test_suite_name() + "." + info->name() +
                                          "-" + std::to_string(++counter) + ".png"));
    }
    return image;
}

Model& AppTest::importModel(const std::string& path)
{
    const std::size_t before = app->models.size();
    EXPECT_TRUE(importFileByName(*app, path)) << path;
    if (app->models.size() != before + 1) {
        throw std::runtime_error("not imported: " + path);
    }
    return app->models.back();
}

Path& AppTest::addPath(std::initializer_list<Vector3> points)
{
    app->paths.push_back(builtPath(points));
    return app->paths.back();
}

void AppTest::answerFile(const std::string& path)
{
    DialogAnswer answer;
    answer.path = path;
    script->answers.push_back(answer);
}

const DialogRequest& AppTest::lastRequest()
{
    if (script->requests.empty()) {
        throw std::runtime_error("no dialog was shown");
    }
    return script->requests.back();
}

QWidget* AppTest::mainWidget()
{
    return windowWidget(app->mainWindow);
}

QAction* AppTest::menuAction(int command)
{
    for (QAction* top : qobject_cast<QMainWindow*>(mainWidget())->menuBar()->actions()) {
        for (QAction* item : top->menu() ? top->menu()->actions() : QList<QAction*>{}) {
            if (item->data().toInt() == command) {
                return item;
            }
            // A submenu's items (View > Look).
            for (QAction* inner : item->menu() ? item->menu()->actions() : QList<QAction*>{}) {
                if (inner->data().toInt() == command) {
                    return inner;
                }
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

// Sent as the window system would: QTest takes the pixel (0, 0) for "the centre".
void AppTest::click(std::size_t index, QPoint at, Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    QWidget* target = surface(index);
    const QPointF global = target->mapToGlobal(QPointF(at));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), global, button, button, modifiers);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), global, button, Qt::NoButton, modifiers);
    QApplication::sendEvent(target, &release);
    drain();
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

std::string ScratchDir::path(const std::string& name) const
{
    return (path_ / name).string();
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string assimpModel(const std::string& relativePath)
{
    const std::filesystem::path p = std::filesystem::path("/usr/share/assimp/models") / relativePath;
    EXPECT_TRUE(std::filesystem::exists(p)) << "assimp-testmodels is not installed: " << p;
    return p.string();
}

int countNear(const QImage& image, QPoint centre, int radius, bool (*predicate)(QRgb))
{
    int count = 0;
    for (int y = centre.y() - radius; y <= centre.y() + radius; ++y) {
        for (int x = centre.x() - radius; x <= centre.x() + radius; ++x) {
            count += image.valid(x, y) && predicate(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return count;
}

int countPixels(const QImage& image, bool (*predicate)(QRgb))
{
    return countNear(image, QPoint(image.width() / 2, image.height() / 2), std::max(image.width(), image.height()),
                     predicate);
}

int differingPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size()) {
        return a.width() * a.height();
    }
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            count += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        }
    }
    return count;
}

QPoint project(const EulerCameraFov& camera, const Vector3& p, QSize size)
{
    Vector4 v, clip;
    transform(camera.viewMatrix(), Vector4{p.x, p.y, p.z, 1.0f}, v);
    // The render pass turns z-up into GL's y-up: (x, y, z) -> (x, z, -y).
    transform(camera.projectionMatrix(), Vector4{v.x, v.z, -v.y, 1.0f}, clip);
    return {static_cast<int>((clip.x / clip.w * 0.5f + 0.5f) * static_cast<float>(size.width())),
            static_cast<int>((0.5f - clip.y / clip.w * 0.5f) * static_cast<float>(size.height()))};
}

void lookAt(EulerCameraFov& camera, const Vector3& target, float distance, float yaw, float pitch)
{
    const Vector3 direction{-std::sin(yaw) * std::cos(pitch), std::cos(yaw) * std::cos(pitch), std::sin(pitch)};
    camera.angles = {pitch, 0.0f, yaw};
    camera.setPosition(
        {target.x - distance * direction.x, target.y - distance * direction.y, target.z - distance * direction.z});
}

std::vector<WindowHandle> windowsCaptioned(const Application& app, const std::string& caption)
{
    std::vector<WindowHandle> found;
    for (WindowHandle w : childWindowsOf(app.mainWindow)) {
        if (windowText(w) == caption) {
            found.push_back(w);
        }
    }
    return found;
}

QTreeWidget* treeOf(WindowHandle dialog)
{
    QWidget* widget = windowWidget(dialog);
    return widget ? widget->findChild<QTreeWidget*>() : nullptr;
}

QPushButton* buttonOf(WindowHandle dialog, const std::string& text)
{
    for (QPushButton* button : windowWidget(dialog)->findChildren<QPushButton*>()) {
        if (button->text().toStdString() == text) {
            return button;
        }
    }
    return nullptr;
}

std::string outline(const QTreeWidget* tree)
{
    std::string text;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        text += (i ? "," : "") + outlineOf(tree->topLevelItem(i));
    }
    return text;
}

void clickItem(WindowHandle dialog, const std::string& text)
{
    QTreeWidget* tree = treeOf(dialog);
    tree->expandAll();
    const QList<QTreeWidgetItem*> items =
        tree->findItems(QString::fromStdString(text), Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_FALSE(items.isEmpty()) << "no item " << text;
    tree->scrollToItem(items.front());
    drain();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualItemRect(items.front()).center());
    drain();
}

void clickButton(WindowHandle dialog, const std::string& text)
{
    QPushButton* button = buttonOf(dialog, text);
    ASSERT_NE(button, nullptr) << "no button " << text;
    QTest::mouseClick(button, Qt::LeftButton);
    drain();
}

}  // namespace fyrel::test
