#include "ui/about_box.h"

#include "platform/dialogs.h"
#include "ui/resources.h"

namespace fyrel {

void showAboutBox(WindowHandle owner)
{
    dialogBox(owner, aboutDialogTemplate(), [](int command) { return command == kIdOk || command == kIdCancel; });
}

}  // namespace fyrel
