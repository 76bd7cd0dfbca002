#include "ui/about_box.h"

#include "platform/dialogs.h"
#include "ui/resources.h"

namespace fyrel {

LResult aboutProc(WindowHandle dialog, unsigned message, WParam wParam, LParam)
{
    switch (message) {
    case kWmInitDialog:
        return 1;
    case kWmCommand:
        if (commandId(wParam) == kIdOk || commandId(wParam) == kIdCancel) {
            endDialog(dialog, commandId(wParam));
            return 1;
        }
        return 0;
    default:
        return 0;
    }
}

void showAboutBox(WindowHandle owner)
{
    dialogBox(owner, aboutDialogTemplate(), aboutProc);
}

}  // namespace fyrel
