// The File menu's Exit (its imports are in commands_import.cpp).

#include "app/application.h"
#include "app/commands.h"
#include "platform/window.h"

namespace fyrel {

void commandExit(Application& app)
{
    destroyWindow(app.mainWindow);
}

}  // namespace fyrel
