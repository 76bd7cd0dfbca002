#pragma once

#include <string>
#include <vector>

#include "platform/input.h"

// A main window's tool bar (under the menu) and status bar. A control the
// user changes gives the main window a Command with its identifier and its
// new value: a button 0, a chooser the index of the chosen
// entry, a slider its position, a number its value in hundredths. The
// program's own changes (setToolValue, setToolItems) send nothing, so
// showing a value never reads as the user setting it.

namespace fyrel {

enum class ToolControlKind { Button, Chooser, Slider, Number, Label, Separator };

struct ToolControl {
    ToolControlKind kind = ToolControlKind::Button;
    int id = 0;            // the command sent; the control's name for the setters
    std::string text{};    // a button's or label's text; a number's suffix
    std::string tip{};     // shown when the pointer rests on it
    int minimum = 0;       // slider positions; a number's range in hundredths
    int maximum = 0;
    int value = 0;         // the first value, in the same unit
    int width = 0;         // the least width in logical pixels; 0: its natural width
};

// Adds the tool bar with these controls, in order, and an empty status bar.
void createToolBar(WindowHandle window, const std::vector<ToolControl>& controls);

// Shows a value: a slider's position (not while the user drags it), a number
// in hundredths, a chooser's entry. Unknown identifiers are ignored.
void setToolValue(WindowHandle window, int id, int value);
// Replaces a chooser's entries and selects one (-1: none).
void setToolItems(WindowHandle window, int id, const std::vector<std::string>& items, int selected);
// A button's or label's text.
void setToolText(WindowHandle window, int id, const std::string& text);
// Greys a control out, or lets it be used again.
void setToolEnabled(WindowHandle window, int id, bool enabled);

// The text of the status bar.
void setStatusText(WindowHandle window, const std::string& text);

}  // namespace fyrel
