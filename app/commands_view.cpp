// The View and Help menus.

#include <stdexcept>

#include "app/application.h"
#include "app/commands.h"
#include "platform/dialogs.h"
#include "ui/about_box.h"
#include "ui/gl_window.h"

namespace fyrel {

void commandOpenGlWindow(Application& app)
{
    try {
        app.childWindows.push_back(std::make_unique<GlWindow>(app));
    } catch (const std::runtime_error& error) {
        messageBox(app.mainWindow, error.what(), "Open GlWindow", MessageBoxIcon::Error);
    }
}

void commandAbout(Application& app)
{
    showAboutBox(app.mainWindow);
}

}  // namespace fyrel
