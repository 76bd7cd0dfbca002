// The View and Help menus, and the opening of views.

#include <stdexcept>

#include "app/application.h"
#include "app/commands.h"
#include "platform/dialogs.h"
#include "ui/about_box.h"
#include "ui/gl_window.h"

namespace fyrel {

void openView(Application& app, const char* caption, std::unique_ptr<ChildWindow> (*makeView)(ViewHost& host))
{
    try {
        app.childWindows.push_back(makeView(app));
    } catch (const std::runtime_error& error) {
        messageBox(app.mainWindow, error.what(), caption, MessageBoxIcon::Error);
    }
}

void commandOpenGlWindow(Application& app)
{
    openView(app, "Open GlWindow", [](ViewHost& host) -> std::unique_ptr<ChildWindow> {
        return std::make_unique<GlWindow>(host);
    });
}

void commandAbout(Application& app)
{
    showAboutBox(app.mainWindow);
}

}  // namespace fyrel
