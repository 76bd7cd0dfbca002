#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the user does to a window, as the program reads it: a key with its
// modifiers, a mouse button or move with its position, the wheel, a new
// size, a command (menu item, accelerator, dialog button, tool bar control),
// files dropped, a request to close; and the end of the window. The platform
// layer turns the window system's events into these records and hands them
// to the window's handler.

namespace fyrel {

// A window (main window, child window or dialog). Handles are never reused:
// once a window is destroyed its handle stays invalid, and every function of
// the layer treats an invalid handle as a window that does not exist.
enum class WindowHandle : std::uint32_t {};
inline constexpr WindowHandle kNoWindow{};

struct Modifiers {
    bool shift = false;
    bool control = false;
    bool alt = false;
};

// The keys the program can tell apart; any other key is not delivered. The
// keypad's keys are their own: keypad + is not the + of the main keys.
enum class Key {
    Backspace, Tab, Return, Escape, Space, PageUp, PageDown, End, Home,
    Left, Up, Right, Down, Insert, Delete,
    Shift, Control, Alt,
    KeypadPlus, KeypadMinus, KeypadMultiply, KeypadDivide, KeypadDecimal,
    Keypad0, Keypad1, Keypad2, Keypad3, Keypad4, Keypad5, Keypad6, Keypad7, Keypad8, Keypad9,
    Digit0, Digit1, Digit2, Digit3, Digit4, Digit5, Digit6, Digit7, Digit8, Digit9,
    A, B, C, D, E, F, G, H, I, J, K, L, M, N, O, P, Q, R, S, T, U, V, W, X, Y, Z,
    F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
};

struct KeyPress {
    Key key = Key::Space;
    Modifiers modifiers{};
};

enum class MouseButton { Left, Right, Middle };

struct MouseButtons {
    bool left = false;
    bool right = false;
    bool middle = false;
};

// A press or release of one button, or a move; x and y in the window's
// client area, in logical pixels; held: the buttons down after the event.
struct MouseEvent {
    enum class Kind { Press, Release, Move };
    Kind kind = Kind::Move;
    MouseButton button = MouseButton::Left;  // of a press or release
    MouseButtons held{};
    int x = 0;
    int y = 0;
    Modifiers modifiers{};
};

// The wheel turned under the pointer at (x, y): steps in notches, positive
// away from the user.
struct Wheel {
    int x = 0;
    int y = 0;
    double steps = 0.0;
    Modifiers modifiers{};
};

// The client area's new size in logical pixels.
struct Resize {
    int width = 0;
    int height = 0;
};

// A menu item, an accelerator, a dialog button or a tool bar control, by its
// identifier. A tool bar control carries its new value (tool_bar.h); the
// others 0.
struct Command {
    int id = 0;
    int value = 0;
};

// The commands of the standard dialog buttons.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// What a window does with its input. The platform layer calls the handler
// of the window the input reached (window.h: a window is made with its
// handler); each does nothing unless overridden. A handler may destroy its
// window, and with it itself, from any of these.
class WindowHandler {
public:
    virtual void onKey(const KeyPress&) {}
    virtual void onMouse(const MouseEvent&) {}
    virtual void onWheel(const Wheel&) {}
    virtual void onResize(const Resize&) {}
    virtual void onCommand(const Command&) {}
    // Local files dropped onto the window, in drop order.
    virtual void onDrop(const std::vector<std::string>&) {}
    // The user asks to close the window (close box, system menu); true lets
    // it be destroyed.
    virtual bool onClose() { return true; }
    // The window is being destroyed (before its child windows): the last
    // call the handler gets from it.
    virtual void onDestroy() {}

protected:
    ~WindowHandler() = default;
};

}  // namespace fyrel
