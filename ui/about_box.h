#pragma once

#include "platform/messages.h"

namespace fyrel {

// The About dialog (dialog 103), modal, owned by owner. Returns when the
// user presses OK or closes it.
void showAboutBox(WindowHandle owner);

// Its dialog procedure: WM_INITDIALOG is accepted; OK or Cancel end the
// dialog with that identifier as result.
LResult aboutProc(WindowHandle dialog, unsigned message, WParam wParam, LParam lParam);

}  // namespace fyrel
