#include "app/commands.h"

#include <string>

#include "resources/resources.h"

namespace fyrel {

namespace {

// One line per menu command.
constexpr CommandEntry kCommands[] = {
    {kCommandAbout, commandAbout},
    {kCommandExit, commandExit},
    {kCommandOpenGlWindow, commandOpenGlWindow},
    {kCommandRemoveAllModels, commandRemoveAllModels},
    {kCommandImportMs3d, commandImportMs3d},
    {kCommandSceneInformation, commandSceneInformation},
    {kCommandAddIkController, commandAddIkController},
    {kCommandGenerateIkAnimation, commandGenerateIkAnimation},
    {kCommandPlayIkAnimation, commandPlayIkAnimation},
    {kCommandImport3ds, commandImport3ds},
    {kCommandImportX, commandImportX},
    {kCommandOpenPathWindow, commandOpenPathWindow},
    {kCommandRemoveAllPaths, commandRemoveAllPaths},
    {kCommandBindToPath, commandBindToPath},
};

// One line per file format that a command imports.
const FileImportEntry kFileImports[] = {
    {"MS3D", importMs3dFile},
    {"3DS", import3dsFile},
    {"X", importXFile},
};

}  // namespace

bool runCommand(Application& app, int id)
{
    for (const CommandEntry& entry : kCommands) {
        if (entry.id == id) {
            entry.handler(app);
            return true;
        }
    }
    return false;
}

const FileImportEntry* findFileImport(const std::string& formatName)
{
    for (const FileImportEntry& entry : kFileImports) {
        if (formatName == entry.formatName) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace fyrel
