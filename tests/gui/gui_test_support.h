#pragma once

// Support for tests that drive the real program under a (virtual) display:
// one window-system session per test process, an Application per test,
// dialogs answered by the test, debug output collected.

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QWidget>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "platform/dialogs.h"
#include "diagnostics/debug_output.h"
#include "ui/gl_window.h"

namespace fyrel::test {

// The session, made on first use and ended when the test program ends.
void ensurePlatform();
void shutdownPlatform();
bool hasDisplay();

// Handles pending events (as the frame loop's drain does); true when the
// quit message was among them.
bool drain();

// Collects debug output and answers dialogs for the duration of a test.
class DialogScript {
public:
    DialogScript();
    ~DialogScript();

    std::vector<DialogRequest> requests;
    std::deque<DialogAnswer> answers;  // taken in order; an empty queue answers "cancel / OK"
    std::vector<std::string> debugMessages;

    std::string allDebugOutput() const;

private:
    DialogResponder previousResponder_;
    DebugSink previousSink_;
};

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs frames as the frame loop does: Application::frame, then a drain.
    void runFrames(int count, float dt = 1.0f / 60.0f);

    GlWindow& view(std::size_t index);
    // What a view shows now (device pixels, top row first).
    QImage grab(std::size_t index);

    // Answers the next open-file dialog with path.
    void answerFile(const std::string& path);

    // The main window's widget and the menu action of a command.
    QWidget* mainWidget();
    QAction* menuAction(int command);
    // Chooses a menu item as the user would (its action is triggered).
    void choose(int command);
    // Presses a key in the active main window, as the user would: menu
    // shortcuts see it first.
    void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

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

private:
    std::filesystem::path path_;
};

// The whole content of a file (empty when it cannot be read).
std::string readBytes(const std::string& path);

// Colour tests on pixels.
bool isReddish(QRgb c);
bool isGreenish(QRgb c);
bool isBluish(QRgb c);
int countPixels(const QImage& image, bool (*predicate)(QRgb));

// A model file of assimp-testmodels, or empty when not installed.
std::string assimpModel(const std::string& relativePath);

}  // namespace fyrel::test
