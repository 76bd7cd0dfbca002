#pragma once

#include <string>
#include <vector>

#include "platform/input.h"

// Modeless dialogs: captioned child windows inside a main window's client
// area, made from a template, that stay open while the program runs on. Their
// buttons give the dialog's handler a Command with the button's identifier;
// the caption's close box and the Escape key give kIdCancel, Return presses
// the focused button or else the default one. Key presses inside a dialog
// stay there: they never become the main window's keys.
//
// Such a dialog is a window like any other: its handler's onDestroy is
// called when destroyWindow ends it or when its parent is destroyed, and its
// handle is invalid from then on.

namespace fyrel {

// The Close button's standard identifier.
inline constexpr int kIdClose = 8;

enum class ModelessControlKind { Text, PushButton, DefaultPushButton, TreeView };

// Positions and sizes in dialog units: a quarter of the average character
// width across, an eighth of the character height down.
struct ModelessControl {
    ModelessControlKind kind = ModelessControlKind::Text;
    int id = 0;        // -1 for static text; a tree view's id names it in tree_view.h
    std::string text;  // with '&' before a button's mnemonic
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Controls are made in template order, which is also the tab order.
struct ModelessDialogTemplate {
    std::string caption;
    std::string fontName;  // the layout's intended font; the system font stands in
    int fontPoints = 8;
    int width = 0;
    int height = 0;
    std::vector<ModelessControl> controls;
};

// Creates the dialog inside the client area of parent (a main window),
// cascaded as views are, shows it and gives the keyboard to its first
// control. Returns kNoWindow when parent has no client area.
WindowHandle createModelessDialog(WindowHandle parent, const ModelessDialogTemplate& dialogTemplate,
                                  WindowHandler* handler);

}  // namespace fyrel
