// The View, Window and Help menus, and the opening of views.

#include <limits>
#include <stdexcept>

#include "animation/bounds.h"
#include "app/application.h"
#include "app/commands.h"
#include "platform/dialogs.h"
#include "platform/settings.h"
#include "platform/window.h"
#include "ui/about_box.h"
#include "ui/gl_window.h"
#include "ui/resources.h"

namespace fyrel {

void openView(Application& app, const char* caption, std::unique_ptr<ChildWindow> (*makeView)(ViewHost& host))
{
    try {
        app.childWindows.push_back(makeView(app));
    } catch (const std::runtime_error& error) {
        messageBox(app.mainWindow, error.what(), caption, MessageBoxIcon::Error);
    }
}

namespace {

// The box of every model as drawn now (a skeleton without a mesh by its
// joints); false without models.
bool sceneBox(const Application& app, Vector3& low, Vector3& high)
{
    constexpr float kInf = std::numeric_limits<float>::infinity();
    low = Vector3{kInf, kInf, kInf};
    high = Vector3{-kInf, -kInf, -kInf};
    bool any = false;
    for (const Model& model : app.models) {
        any = growByDrawnBox(model, low, high) || any;
    }
    return any;
}

}  // namespace

void commandOpenGlWindow(Application& app)
{
    const std::size_t before = app.childWindows.size();
    openView(app, "Open GlWindow", [](ViewHost& host) -> std::unique_ptr<ChildWindow> {
        return std::make_unique<GlWindow>(host);
    });
    Vector3 low, high;
    if (app.childWindows.size() > before && sceneBox(app, low, high)) {
        app.childWindows.back()->frameBox(low, high, ChildWindow::Framing::FrontThreeQuarter);
    }
}

void frameScene(Application& app, ChildWindow::Framing framing)
{
    Vector3 low, high;
    if (!sceneBox(app, low, high)) {
        return;
    }
    for (std::size_t i = 0; i < app.childWindows.size(); ++i) {
        app.childWindows[i]->frameBox(low, high, framing);
    }
}

void commandFrameAll(Application& app)
{
    frameScene(app, ChildWindow::Framing::KeepDirection);
}

void commandSyncToDisplay(Application& app)
{
    app.syncToDisplay = !app.syncToDisplay;
    setMenuItemChecked(app.mainWindow, kCommandSyncToDisplay, app.syncToDisplay);
    saveSetting(kSettingSyncToDisplay, app.syncToDisplay ? "1" : "0");
}

void commandTile(Application& app)
{
    tileChildWindows(app.mainWindow);
}

void commandCascade(Application& app)
{
    cascadeChildWindows(app.mainWindow);
}

void commandNextWindow(Application& app)
{
    activateNextChildWindow(app.mainWindow);
}

void commandControls(Application& app)
{
    messageBox(app.mainWindow, controlsText(), "Controls", MessageBoxIcon::Information);
}

void commandAbout(Application& app)
{
    showAboutBox(app.mainWindow);
}

}  // namespace fyrel
