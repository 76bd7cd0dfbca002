#pragma once

#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/tool_bar.h"
#include "platform/window.h"

// The program's resources by number: the string table, the main menu with
// its command identifiers, the accelerators and the dialog templates.

namespace fyrel {

// Strings.
inline constexpr int kStringTitle = 103;             // "FyrelFramework"
inline constexpr int kStringChildTitle = 104;        // "Display Window"

// Commands of menu 109: the id of the Command a menu item gives.
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
inline constexpr int kCommandImportGltf = 32787;
inline constexpr int kCommandExportGltf = 32788;

// Commands beyond menu 109: opening files, the transport, framing, the
// arrangement of windows and the controls reference.
inline constexpr int kCommandOpen = 32800;
inline constexpr int kCommandRecentFiles = 32801;  // the submenu; its items are kCommandRecentFile + i
inline constexpr int kCommandRecentFile = 32810;
inline constexpr int kRecentFileCount = 8;
inline constexpr int kCommandPlayPause = 32820;
inline constexpr int kCommandStepForward = 32821;
inline constexpr int kCommandStepBack = 32822;
inline constexpr int kCommandFrameAll = 32823;
inline constexpr int kCommandSyncToDisplay = 32824;
inline constexpr int kCommandTile = 32825;
inline constexpr int kCommandCascade = 32826;
inline constexpr int kCommandNextWindow = 32827;
inline constexpr int kCommandControls = 32828;
// Pictures and videos of a view, and the look of every view.
inline constexpr int kCommandSavePicture = 32840;
inline constexpr int kCommandSaveClipVideo = 32841;
inline constexpr int kCommandLook = 32842;  // the submenu of the two below
inline constexpr int kCommandLookStudio = 32843;
inline constexpr int kCommandLookClassic = 32844;
// The buttons of the picture size dialog: the view's own size, or a width of
// 1280, 1920 or 3840 at the view's shape.
inline constexpr int kIdSizeOfView = 40;
inline constexpr int kIdWidth1280 = 41;
inline constexpr int kIdWidth1920 = 42;
inline constexpr int kIdWidth3840 = 43;
// Scene files and the undo history.
inline constexpr int kCommandNewScene = 32900;
inline constexpr int kCommandOpenScene = 32901;
inline constexpr int kCommandSaveScene = 32902;
inline constexpr int kCommandSaveSceneAs = 32903;
inline constexpr int kCommandUndo = 32904;
inline constexpr int kCommandRedo = 32905;

// The transport's value controls (tool bar); their Command carries the
// value.
inline constexpr int kControlSpeed = 32830;     // hundredths of normal speed
inline constexpr int kControlModel = 32831;     // index into the models
inline constexpr int kControlClip = 32832;      // index into the chosen model's clips
inline constexpr int kControlTime = 32833;      // position of kTimeSliderSteps along the clip
inline constexpr int kControlTimeText = 32834;  // "time / length"
inline constexpr int kTimeSliderSteps = 1000;

// The string of that number; empty when there is none.
std::string loadString(int number);

// Menu 109, the main window's menu bar.
const std::vector<MenuPopup>& mainMenu();

// Accelerators 109: Alt+? and Alt+/ give About.
const std::vector<Accelerator>& mainAccelerators();

// The tool bar under the menu: the transport.
const std::vector<ToolControl>& transportBar();

// The mouse and keyboard reference shown by Help > Controls.
const char* controlsText();

// Dialog 103, the About box.
const DialogTemplate& aboutDialogTemplate();

// The size of a saved picture: one button per size, and Cancel.
const DialogTemplate& pictureSizeDialogTemplate();

}  // namespace fyrel
