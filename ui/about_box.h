#pragma once

#include "platform/input.h"

namespace fyrel {

// The About dialog (dialog 103), modal, owned by owner. Returns when the
// user presses OK or closes it.
void showAboutBox(WindowHandle owner);

}  // namespace fyrel
