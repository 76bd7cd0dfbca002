#include "app/commands.h"

#include <cassert>

#include "importers/model_formats.h"
#include "ui/resources.h"

namespace fyrel {

namespace {

// One line per menu command.
constexpr CommandEntry kCommands[] = {
    {kCommandAbout, commandAbout},
    {kCommandExit, commandExit},
    {kCommandOpenGlWindow, commandOpenGlWindow},
    {kCommandRemoveAllModels, commandRemoveAllModels},
    {kCommandImportMs3d, nullptr, ".ms3d"},
    {kCommandSceneInformation, commandSceneInformation},
    {kCommandAddIkController, commandAddIkController},
    {kCommandGenerateIkAnimation, commandGenerateIkAnimation},
    {kCommandPlayIkAnimation, commandPlayIkAnimation},
    {kCommandImport3ds, nullptr, ".3ds"},
    {kCommandImportX, nullptr, ".x"},
    {kCommandImportGltf, nullptr, ".gltf"},
    {kCommandExportGltf, commandExportGltf},
    {kCommandOpenPathWindow, commandOpenPathWindow},
    {kCommandRemoveAllPaths, commandRemoveAllPaths},
    {kCommandBindToPath, commandBindToPath},
    {kCommandOpen, commandOpen},
    {kCommandPlayPause, commandPlayPause},
    {kCommandStepForward, commandStepForward},
    {kCommandStepBack, commandStepBack},
    {kCommandFrameAll, commandFrameAll},
    {kCommandSyncToDisplay, commandSyncToDisplay},
    {kCommandTile, commandTile},
    {kCommandCascade, commandCascade},
    {kCommandNextWindow, commandNextWindow},
    {kCommandControls, commandControls},
    {kCommandSavePicture, commandSavePicture},
    {kCommandSaveClipVideo, commandSaveClipVideo},
    {kCommandLookStudio, commandLookStudio},
    {kCommandLookClassic, commandLookClassic},
    {kCommandNewScene, commandNewScene},
    {kCommandOpenScene, commandOpenScene},
    {kCommandSaveScene, commandSaveScene},
    {kCommandSaveSceneAs, commandSaveSceneAs},
    {kCommandUndo, commandUndo},
    {kCommandRedo, commandRedo},
};

}  // namespace

bool runCommand(Application& app, int id)
{
    for (const CommandEntry& entry : kCommands) {
        if (entry.id != id) {
            continue;
        }
        if (entry.importEnding) {
            const ModelFormat* format = findModelFormat(entry.importEnding);
            assert(format);
            commandImport(app, *format);
        } else {
            entry.handler(app);
        }
        return true;
    }
    return false;
}

}  // namespace fyrel
