// The View menu's Scene Information.

#include "app/application.h"
#include "app/commands.h"
#include "ui/scene_information_dialog.h"

namespace fyrel {

// A dialog opened earlier stays open; the Application refers to the new one.
void commandSceneInformation(Application& app)
{
    app.sceneInfoDialog = SceneInformationDialog::open(app);
}

}  // namespace fyrel
