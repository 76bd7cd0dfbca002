#pragma once

#include <string>

// The main window's menu commands. Each command is one function taking the
// Application; the table in command_table.cpp maps the WM_COMMAND
// identifiers (resources/resources.h) to them. A new command is a function
// in a commands_*.cpp file of its own plus one line in that table.

namespace fyrel {

class Application;

// The caption of the box that shows a failed IK generation, whether a command
// or a binding's arrival started it.
inline constexpr const char* kIkFailureCaption = "Failed to generate IK Animation";

using CommandHandler = void (*)(Application& app);

struct CommandEntry {
    int id = 0;
    CommandHandler handler = nullptr;
};

// Runs the command with this identifier; false when there is none (the
// message then goes to the default procedure).
bool runCommand(Application& app, int id);

// File menu.
void commandImportMs3d(Application& app);  // 32779
void commandImport3ds(Application& app);   // 32776
void commandImportX(Application& app);     // 32775
void commandExit(Application& app);        // 105
// View menu.
void commandOpenGlWindow(Application& app);  // 32771
void commandSceneInformation(Application& app);  // 32772
void commandOpenPathWindow(Application& app);  // 32781
// Scene menu.
void commandRemoveAllModels(Application& app);  // 32777
void commandRemoveAllPaths(Application& app);   // 32782
// Edit menu.
void commandBindToPath(Application& app);  // 32783
// IK menu.
void commandAddIkController(Application& app);       // 32784
void commandGenerateIkAnimation(Application& app);  // 32785
void commandPlayIkAnimation(Application& app);      // 32786
// Help menu.
void commandAbout(Application& app);  // 104

// Imports of a named file, as the import commands do them after their file
// dialog: the model is appended and made ready, or the failure is shown in
// the command's error box and nothing changes.
void importMs3dFile(Application& app, const std::string& path);
void import3dsFile(Application& app, const std::string& path);
void importXFile(Application& app, const std::string& path);

// A file named on the command line: imported by the import that its name's
// ending selects (the format table in command_table.cpp).
void importFileByName(Application& app, const std::string& path);

// Formats for importFileByName: the format name of importers/import_any.h
// and the import that serves it.
struct FileImportEntry {
    const char* formatName = "";
    void (*import)(Application& app, const std::string& path) = nullptr;
};

// The entry for a format name, or null.
const FileImportEntry* findFileImport(const std::string& formatName);

}  // namespace fyrel
