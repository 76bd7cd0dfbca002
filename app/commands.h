#pragma once

#include <memory>
#include <string>

#include "ui/child_window.h"

// The main window's menu commands. Each command is one function taking the
// Application, mapped from its Command's identifier by the table in
// command_table.cpp. A new menu command takes four lines in three files:
//   1. its identifier, kCommand..., in ui/resources.h;
//   2. its item in the menu of mainMenu() in ui/resources.cpp;
//   3. its function, declared below and defined in a commands_*.cpp file;
//   4. its line in the table of command_table.cpp.
// An import command has no function of its own: its table line names the
// ending of its format's row in importers/model_formats.cpp.

namespace fyrel {

class Application;
class ChildWindow;
class ViewHost;
struct ModelFormat;

// The caption of the box that shows a failed IK generation, whether a command
// or a binding's arrival started it.
inline constexpr const char* kIkFailureCaption = "Failed to generate IK Animation";

using CommandHandler = void (*)(Application& app);

// A line of the command table: the identifier and either the handler or the
// ending of the format that the command imports.
struct CommandEntry {
    int id = 0;
    CommandHandler handler = nullptr;
    const char* importEnding = nullptr;
};

// Runs the command with this identifier; false when there is none (the
// tool bar's controls and the recent files may then know it).
bool runCommand(Application& app, int id);

// What the program remembers between runs (platform/settings.h).
inline constexpr const char* kSettingGeometry = "mainWindow/geometry";
inline constexpr const char* kSettingRecentFiles = "files/recent";
inline constexpr const char* kSettingLastFolder = "files/lastFolder";
inline constexpr const char* kSettingSyncToDisplay = "view/syncToDisplay";
inline constexpr const char* kSettingLook = "view/look";

// File menu.
void commandOpen(Application& app);
void commandExportGltf(Application& app);
void commandExit(Application& app);
// View menu.
void commandOpenGlWindow(Application& app);
void commandSceneInformation(Application& app);
void commandOpenPathWindow(Application& app);
void commandFrameAll(Application& app);
void commandSyncToDisplay(Application& app);
// Animation menu (transport.cpp).
void commandPlayPause(Application& app);
void commandStepForward(Application& app);
void commandStepBack(Application& app);
// Window menu.
void commandTile(Application& app);
void commandCascade(Application& app);
void commandNextWindow(Application& app);
// Scene menu.
void commandRemoveAllModels(Application& app);
void commandRemoveAllPaths(Application& app);
// Edit menu.
void commandBindToPath(Application& app);
// IK menu.
void commandAddIkController(Application& app);
void commandGenerateIkAnimation(Application& app);
void commandPlayIkAnimation(Application& app);
// Pictures and the look (commands_picture.cpp): File > Save Picture and
// Save Clip as Video draw the active view (else the first) as fyrel-render
// does; View > Look sets every view's look and remembers it.
void commandSavePicture(Application& app);
void commandSaveClipVideo(Application& app);
void commandLookStudio(Application& app);
void commandLookClassic(Application& app);
// Fills View > Look and checks the look named (lookName), Classic for any
// other text.
void showLook(Application& app, const std::string& name);
// Help menu.
void commandControls(Application& app);
void commandAbout(Application& app);

// Every view brings every model's posed box into sight, framed as framing
// says (the automatic framings turn to the models' front); nothing happens
// without models (or without vertices).
void frameScene(Application& app, ChildWindow::Framing framing = ChildWindow::Framing::FrontThreeQuarter);

// File > Recent Files: the submenu shows app.recentFiles; rememberFile puts
// a path first (once) and saves the list. openRecentFile imports the entry
// of a kCommandRecentFile + i command (false for other commands); an entry
// that fails to load leaves the list.
void showRecentFiles(Application& app);
void rememberFile(Application& app, const std::string& path);
bool openRecentFile(Application& app, int id);

// Appends the view that makeView makes to the child windows; a view that
// cannot be made is reported in an error box with that caption.
void openView(Application& app, const char* caption, std::unique_ptr<ChildWindow> (*makeView)(ViewHost& host));

// An import command: the format's notice, if it has one, then the file
// dialog with the format's filter, then importFile.
void commandImport(Application& app, const ModelFormat& format);

// Imports the file: the model is appended and made ready, or the failure is
// shown in the format's error box and nothing changes (false). A model that
// enters an empty scene is framed in every view; every file loaded goes
// first into the recent files.
bool importFile(Application& app, const ModelFormat& format, const std::string& path);

// A file named on the command line, opened or dropped: imported as its
// format's row says; a name whose ending no format claims is refused in an
// error box (false).
bool importFileByName(Application& app, const std::string& path);

// What Open reads a model file with (the import dispatch, the model placed as
// an import places it); scenes load their models with it. Throws ImportError.
Model loadModelFile(const std::string& path);

// Scene files and the undo history (commands_document.cpp).
void commandNewScene(Application& app);
void commandOpenScene(Application& app);
void commandSaveScene(Application& app);
void commandSaveSceneAs(Application& app);
void commandUndo(Application& app);
void commandRedo(Application& app);

// A file opened by name (command line, Open, a drop, Recent Files): a scene
// file replaces the document (after asking about unsaved changes), any other
// is imported. False when the file could not be read (not when the user
// cancelled at the question).
bool openFileByName(Application& app, const std::string& path);
// Reads the scene file into a new document: a file that cannot be read
// changes nothing and is shown in an error box; models that do not load are
// listed in a warning box, the rest opens. Does not ask about changes.
bool openSceneFile(Application& app, const std::string& path);
// Writes the document to path (the views' cameras and places, the transport's
// speed with it); a failure is shown and leaves any earlier file whole.
bool saveSceneAs(Application& app, const std::string& path);
// With unsaved changes, asks Save / Discard / Cancel: true when the program
// may go on to drop the document (saved, or discarded).
bool keepOrDropChanges(Application& app);

// Recovery (recovery.cpp): the file under $XDG_STATE_HOME/fyrel that holds
// the document a few seconds after each change; removed at a normal end.
// offerRecovery, at start-up, offers to restore one left by a program that
// did not end normally.
void writeRecoveryIfDue(Application& app);
void removeRecoveryFile(Application& app);
void offerRecovery(Application& app);

}  // namespace fyrel
