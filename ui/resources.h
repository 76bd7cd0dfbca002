#pragma once

#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/window.h"

// The program's resources by number: the string table, the main menu with
// its command identifiers, the accelerators and the dialog templates.

namespace fyrel {

// Strings.
inline constexpr int kStringTitle = 103;             // "FyrelFramework"
inline constexpr int kStringChildTitle = 104;        // "Display Window"
inline constexpr int kStringGlWindowClass = 105;     // "FYRELGLWINDOW"
inline constexpr int kStringPathWindowClass = 106;   // "FyrelOrthoWindow"
inline constexpr int kStringMainWindowClass = 109;   // "FYRELFRAMEWORK"

// Commands of menu 109, sent as WM_COMMAND.
inline constexpr int kCommandAbout = 104;
inline constexpr int kCommandExit = 105;
inline constexpr int kCommandOpenGlWindow = 32771;
inline constexpr int kCommandSceneInformation = 32772;
inline constexpr int kCommandImportX = 32775;
inline constexpr int kCommandImport3ds = 32776;
inline constexpr int kCommandRemoveAllModels = 32777;
inline constexpr int kCommandImportMs3d = 32779;
inline constexpr int kCommandOpenPathWindow = 32781;
inline constexpr int kCommandRemoveAllPaths = 32782;
inline constexpr int kCommandBindToPath = 32783;
inline constexpr int kCommandAddIkController = 32784;
inline constexpr int kCommandGenerateIkAnimation = 32785;
inline constexpr int kCommandPlayIkAnimation = 32786;

// The string of that number; empty when there is none.
std::string loadString(int number);

// Menu 109, the main window's menu bar.
const std::vector<MenuPopup>& mainMenu();

// Accelerators 109: Alt+? and Alt+/ give About.
const std::vector<Accelerator>& mainAccelerators();

// Dialog 103, the About box.
const DialogTemplate& aboutDialogTemplate();

}  // namespace fyrel
