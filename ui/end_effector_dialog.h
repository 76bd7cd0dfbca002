#pragma once

#include "math/vector.h"
#include "platform/input.h"

namespace fyrel {

class ViewHost;

// The End Effector Selector: a modeless window inside the main window's
// client area that shows the skeleton of the model that was last when it
// opened. "OK" with a bone selected appends an IkController for that bone,
// aimed at kInitialTarget, to the model that is last when OK is pressed (no
// controller when the scene has no model by then) and writes the bone's name
// to the debug output. "OK" without a selection, "Cancel" and the close box
// close without a controller.
//
// The object belongs to its window and is freed when the window is destroyed,
// by closing or with the main window; nobody keeps a reference to it.
struct EndEffectorSelector final : WindowHandler {
    ViewHost* host = nullptr;  // not owned: whose last model gets the controller
    WindowHandle dialogWindow = kNoWindow;

    static constexpr Vector3 kInitialTarget{-2.0f, 5.0f, 5.0f};

    // Opens the dialog on the host's last model. Requires a model. Null when
    // the dialog window cannot be made.
    static EndEffectorSelector* open(ViewHost& viewHost);

    // OK, Cancel and Close; the end of the window frees the object.
    void onCommand(const Command& command) override;
    void onDestroy() override;
};

}  // namespace fyrel
