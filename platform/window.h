#pragma once

#include <string>
#include <vector>

#include "platform/input.h"

// Windows of the program: the main frame window with its menu and client
// area, and the OpenGL views that live inside that client area as child
// windows. Each window is made with its handler (input.h), which gets what
// the user does to it; the handler is not owned and may be changed or taken
// away (null: the window ignores its input, and closing it destroys it).
//
// Text handed to and read from windows is 8-bit in the local encoding.

namespace fyrel {

struct ClientSize {
    int width = 0;   // logical pixels
    int height = 0;
};

struct MenuItem {
    std::string text{};  // with '&' before the mnemonic; "-" is a separator line
    int command = 0;   // the Command the item gives its window
    bool enabled = true;
    std::string shortcut{}; // a key sequence ("Ctrl+O", "P"), shown beside the text and active in the window
    bool checkable = false; // a check mark that the program sets (setMenuItemChecked)
    bool submenu = false;   // an empty submenu titled text, filled by setSubmenuItems
};

struct MenuPopup {
    std::string text;
    std::vector<MenuItem> items;
};

// Alt + the key of this ASCII character gives the command to the window
// that has the keyboard, instead of a key press.
struct Accelerator {
    char key = 0;
    int command = 0;
};

// The accelerator table translated for every key press of every window.
void setAccelerators(const std::vector<Accelerator>& table);

// The main frame window: title, menu bar, and a client area that holds child
// windows. Shown at once. Returns kNoWindow when the window cannot be made.
// Closing it by the user destroys it (and its children) unless its handler
// refuses.
WindowHandle createMainWindow(const std::string& title, const std::vector<MenuPopup>& menu, int width,
                              int height, WindowHandler* handler);

// A child window with caption, frame and close box inside the parent's client
// area with a client area of the given size, opened cascaded (the first at
// the area's top-left, each later one a step further down and right),
// then shown. Its client area is an OpenGL surface in the program's one
// share group; a click on it gives it the keyboard. Returns kNoWindow on
// failure.
WindowHandle createChildWindow(const std::string& title, WindowHandle parent, int clientWidth, int clientHeight,
                               WindowHandler* handler);

bool isWindow(WindowHandle window);

void setWindowHandler(WindowHandle window, WindowHandler* handler);

void setWindowText(WindowHandle window, const std::string& text);
std::string windowText(WindowHandle window);

ClientSize clientSize(WindowHandle window);
// Device pixels per logical pixel of the window's screen (1 when unknown).
double devicePixelRatio(WindowHandle window);

void setFocus(WindowHandle window);

// Tells the window's handler (onDestroy), then those of each of its child windows,
// and removes them; from then on their handles are invalid. Safe to call
// from inside the window's own handler. Does nothing for an invalid handle.
void destroyWindow(WindowHandle window);

// OpenGL child windows. makeCurrent makes the program's shared context
// current on the window's surface (false while the surface does not exist
// yet); swapBuffers presents what was drawn since, and says whether it
// reached the screen (false while the window is hidden or covered whole).
bool makeCurrent(WindowHandle window);
bool swapBuffers(WindowHandle window);

// A view keeps one picture (colour and depth) beside the one it draws:
// keepBackdrop copies what was drawn since makeCurrent into it,
// restoreBackdrop copies it back over the drawing. Both need makeCurrent
// first and return false when they copied nothing: no surface, or, for
// restoreBackdrop, no picture kept at the drawing's present size.
bool keepBackdrop(WindowHandle window);
bool restoreBackdrop(WindowHandle window);

// The child windows of a window, in creation order.
std::vector<WindowHandle> childWindowsOf(WindowHandle window);

// Menu items of a main window, found by command; unknown commands are
// ignored. The items of a submenu send their own commands.
void setMenuItemChecked(WindowHandle window, int command, bool checked);
void setSubmenuItems(WindowHandle window, int command, const std::vector<MenuItem>& items);
// Renames an item (Edit > Undo names its step) and enables or greys it.
void setMenuItemText(WindowHandle window, int command, const std::string& text, bool enabled);

// The arrangement of the windows in a main window's client area (views and
// dialogs alike): side by side filling it, overlapping down and to the
// right, and the next one brought to the front with the keyboard.
void tileChildWindows(WindowHandle window);
void cascadeChildWindows(WindowHandle window);
void activateNextChildWindow(WindowHandle window);
// The child window in front in a main window's client area (the one last
// clicked or brought forward); kNoWindow when none is.
WindowHandle activeChildWindow(WindowHandle window);

// True while the window is minimised (or hidden): nothing it shows is seen.
bool isWindowMinimized(WindowHandle window);

// A child window's frame (title bar and border included) in its parent's
// client area, in logical pixels, and moving it there; a window that is not
// a child window gives an empty frame and does not move (false).
struct WindowFrame {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
WindowFrame childWindowFrame(WindowHandle window);
bool setChildWindowFrame(WindowHandle window, const WindowFrame& frame);

// The main window's place and size on screen as an opaque text, and back.
// Restoring a text that is not one leaves the window as it is (false).
std::string windowGeometry(WindowHandle window);
bool restoreWindowGeometry(WindowHandle window, const std::string& geometry);

}  // namespace fyrel
