// The File menu: imports and Exit; and files named on the command line.

#include "app/application.h"
#include "app/commands.h"
#include "app/import_steps.h"
#include "importers/import_any.h"
#include "importers/ms3d_importer.h"
#include "platform/dialogs.h"
#include "platform/window.h"

namespace fyrel {

namespace {

const char* const kMs3dFailureCaption = "Failed to load .MS3D";
const char* const kFileFailureCaption = "Failed to load file";

}  // namespace

void importMs3dFile(Application& app, const std::string& path)
{
    importShowingFailure(app, path, kMs3dFailureCaption, [&] { appendAnimated(app, importMs3d(path)); });
}

void commandImportMs3d(Application& app)
{
    const std::optional<std::string> path =
        openFileDialog(app.mainWindow, {{"MS3D File", "*.ms3d"}, {"All", "*.*"}});
    if (path) {
        importMs3dFile(app, *path);
    }
}

void commandExit(Application& app)
{
    destroyWindow(app.mainWindow);
}

void importFileByName(Application& app, const std::string& path)
{
    if (const FileImportEntry* entry = findFileImport(modelFormatName(path))) {
        entry->import(app, path);
        return;
    }
    // No command serves the ending: the importer's own selection reports it
    // (or reads the file, for a format no command has yet).
    importShowingFailure(app, path, kFileFailureCaption, [&] { appendAnimated(app, importModelFile(path)); });
}

}  // namespace fyrel
