#pragma once

#include <cstdint>

// The messages that the platform layer hands to window and dialog procedures.
// The numbers and the packing of the parameters are those of the classic
// window-procedure interface, so a procedure reads like its message table:
// key down carries a virtual-key code in wParam, mouse messages carry the
// button and modifier state (MK_*) in wParam and the cursor position in
// client coordinates (logical pixels) in lParam, WM_COMMAND carries the
// command identifier in the low word of wParam.

namespace fyrel {

using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

// A window (main window, child window or dialog). Handles are never reused:
// once a window is destroyed its handle stays invalid, and every function of
// the layer treats an invalid handle as a window that does not exist.
enum class WindowHandle : std::uint32_t {};
inline constexpr WindowHandle kNoWindow{};

using WindowProc = LResult (*)(WindowHandle window, unsigned message, WParam wParam, LParam lParam);

inline constexpr unsigned kWmDestroy = 0x0002;
inline constexpr unsigned kWmClose = 0x0010;
inline constexpr unsigned kWmMouseActivate = 0x0021;
inline constexpr unsigned kWmKeyDown = 0x0100;
inline constexpr unsigned kWmKeyUp = 0x0101;
inline constexpr unsigned kWmSysKeyDown = 0x0104;
inline constexpr unsigned kWmInitDialog = 0x0110;
inline constexpr unsigned kWmCommand = 0x0111;
inline constexpr unsigned kWmDropFiles = 0x0233;
inline constexpr unsigned kWmMouseMove = 0x0200;
inline constexpr unsigned kWmLButtonDown = 0x0201;
inline constexpr unsigned kWmLButtonUp = 0x0202;
inline constexpr unsigned kWmRButtonDown = 0x0204;
inline constexpr unsigned kWmRButtonUp = 0x0205;

// Button and modifier state of mouse messages.
inline constexpr WParam kMkLButton = 0x0001;
inline constexpr WParam kMkRButton = 0x0002;
inline constexpr WParam kMkShift = 0x0004;
inline constexpr WParam kMkControl = 0x0008;
inline constexpr WParam kMkMButton = 0x0010;

// Virtual-key codes. Letters and digits are their upper-case ASCII codes.
inline constexpr int kVkBack = 0x08;
inline constexpr int kVkTab = 0x09;
inline constexpr int kVkReturn = 0x0D;
inline constexpr int kVkShift = 0x10;
inline constexpr int kVkControl = 0x11;
inline constexpr int kVkMenu = 0x12;  // Alt
inline constexpr int kVkEscape = 0x1B;
inline constexpr int kVkSpace = 0x20;
inline constexpr int kVkPrior = 0x21;
inline constexpr int kVkNext = 0x22;
inline constexpr int kVkEnd = 0x23;
inline constexpr int kVkHome = 0x24;
inline constexpr int kVkLeft = 0x25;
inline constexpr int kVkUp = 0x26;
inline constexpr int kVkRight = 0x27;
inline constexpr int kVkDown = 0x28;
inline constexpr int kVkInsert = 0x2D;
inline constexpr int kVkDelete = 0x2E;
inline constexpr int kVkNumpad0 = 0x60;
inline constexpr int kVkMultiply = 0x6A;
inline constexpr int kVkAdd = 0x6B;
inline constexpr int kVkSubtract = 0x6D;
inline constexpr int kVkDecimal = 0x6E;
inline constexpr int kVkDivide = 0x6F;
inline constexpr int kVkF1 = 0x70;

// Dialog results and the standard button identifiers.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// The cursor position of a mouse message: x in the low 16 bits, y in the
// high 16 bits, each a signed 16-bit number.
inline LParam makePointParam(int x, int y)
{
    const auto lo = static_cast<std::uint32_t>(static_cast<std::uint16_t>(x));
    const auto hi = static_cast<std::uint32_t>(static_cast<std::uint16_t>(y));
    return static_cast<LParam>(static_cast<std::int32_t>(lo | (hi << 16)));
}

inline int pointX(LParam lParam)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(lParam & 0xFFFF));
}

inline int pointY(LParam lParam)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((lParam >> 16) & 0xFFFF));
}

inline int commandId(WParam wParam)
{
    return static_cast<int>(wParam & 0xFFFF);
}

}  // namespace fyrel
