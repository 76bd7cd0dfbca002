#pragma once

// The one harness of the tests that drive the real program under a (virtual)
// display: one window-system session per test process, an Application per
// test, dialogs answered by the test, debug output collected, the user's
// mouse and keys, pictures read back from the views and the tree dialogs
// read as the user sees them.

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/commands.h"
#include "diagnostics/debug_output.h"
#include "platform/dialogs.h"
#include "platform/qt_access.h"
#include "platform/window.h"
#include "ui/gl_window.h"
#include "ui/resources.h"

namespace fyrel::test {

// The session, made on first use and ended when the test program ends.
void ensurePlatform();
void shutdownPlatform();

// Handles pending events (as the frame loop's drain does); true when the
// program was asked to quit.
bool drain();

// Collects debug output and answers dialogs for the duration of a test.
class DialogScript {
public:
    DialogScript();
    ~DialogScript();

    std::vector<DialogRequest> requests;
    std::deque<DialogAnswer> answers;  // taken in order; an empty queue answers "cancel / OK"
    std::vector<std::string> debugMessages;

private:
    DialogResponder previousResponder_;
    DebugSink previousSink_;
};

// The demo character: one looping clip of length 1 at rate 1.
std::string demoPath();

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs frames as the frame loop does: Application::frame, then a drain.
    void runFrames(int count, float dt = 1.0f / 60.0f);
    // The scene update alone, without drawing.
    void simulate(int frames, float dt = 1.0f);

    GlWindow& view(std::size_t index);
    QWidget* surface(std::size_t index);
    // What a child window shows now (device pixels, top row first).
    QImage grab(std::size_t index);

    // Imports a file as the command line does; the demo when none is named.
    Model& importModel(const std::string& path = demoPath());
    Path& addPath(std::initializer_list<Vector3> points);

    // Answers the next open or save dialog with path.
    void answerFile(const std::string& path);
    const DialogRequest& lastRequest();

    QWidget* mainWidget();
    QAction* menuAction(int command);
    // Chooses a menu item as the user would (its action is triggered).
    void choose(int command);
    // Presses a key in the active main window, as the user would: menu
    // shortcuts see it first.
    void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // A press and release at exactly this pixel of a child window's surface.
    void click(std::size_t index, QPoint at, Qt::MouseButton button = Qt::LeftButton,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier);

    std::unique_ptr<DialogScript> script;
    std::unique_ptr<Application> app;
};

// A scratch folder of its own for each test, removed with its files when
// the test ends.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Writes bytes to the file name in the folder; returns its path.
    std::string write(const std::string& name, const std::string& bytes) const;
    // The path of a file in the folder, not made.
    std::string path(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// The whole content of a file (empty when it cannot be read).
std::string readBytes(const std::string& path);

// A model file of assimp-testmodels; a failure when it is not installed.
std::string assimpModel(const std::string& relativePath);

// Pixels: the pure axis colours, the path's curve (yellow) and points
// (0.2, 0.2, 0.8), the skeleton's (0.5, 0.5, 1.0) and the demo's lit orange.
inline bool isReddish(QRgb c) { return qRed(c) > 150 && qGreen(c) < 80 && qBlue(c) < 80; }
inline bool isGreenish(QRgb c) { return qGreen(c) > 150 && qRed(c) < 80 && qBlue(c) < 80; }
inline bool isBluish(QRgb c) { return qBlue(c) > 150 && qRed(c) < 80 && qGreen(c) < 80; }
inline bool isYellowish(QRgb c) { return qRed(c) > 150 && qGreen(c) > 150 && qBlue(c) < 80; }
inline bool isPathBlue(QRgb c) { return std::abs(qRed(c) - 51) < 12 && std::abs(qGreen(c) - 51) < 12 && std::abs(qBlue(c) - 204) < 12; }
inline bool isBoneBlue(QRgb c) { return std::abs(qRed(c) - 128) < 12 && std::abs(qGreen(c) - 128) < 12 && qBlue(c) > 240; }
// The demo character's lit texture: its skin, and its shirt and trousers,
// blue but greyer than any line colour.
inline bool isSkin(QRgb c) { return qRed(c) > 110 && qGreen(c) > 50 && qRed(c) > qGreen(c) + 20 && qGreen(c) > qBlue(c) + 10; }
inline bool isClothes(QRgb c) { return qBlue(c) > 70 && qBlue(c) > qRed(c) + 25 && qGreen(c) > qRed(c) && qRed(c) > 25; }
inline bool isDemo(QRgb c) { return isSkin(c) || isClothes(c); }
int countPixels(const QImage& image, bool (*predicate)(QRgb));
int countNear(const QImage& image, QPoint centre, int radius, bool (*predicate)(QRgb));
int differingPixels(const QImage& a, const QImage& b);

// Where a world point appears in a perspective view's picture of this size.
QPoint project(const EulerCameraFov& camera, const Vector3& p, QSize size);
// Points the camera at target from distance away, turned by yaw about the
// world z axis and tilted by pitch (negative: looking down).
void lookAt(EulerCameraFov& camera, const Vector3& target, float distance, float yaw, float pitch);

// The tree dialogs: the open windows of the client area with this caption,
// oldest first; their tree, buttons and items, clicked as the user does.
std::vector<WindowHandle> windowsCaptioned(const Application& app, const std::string& caption);
QTreeWidget* treeOf(WindowHandle dialog);
QPushButton* buttonOf(WindowHandle dialog, const std::string& text);
// The tree as text: items separated by ",", an item's children in braces
// after it: "Models{Model 0{Animations,Bones{root}}},Paths".
std::string outline(const QTreeWidget* tree);
// Expands the tree and clicks the first item with this text (pre-order).
void clickItem(WindowHandle dialog, const std::string& text);
void clickButton(WindowHandle dialog, const std::string& text);

}  // namespace fyrel::test
