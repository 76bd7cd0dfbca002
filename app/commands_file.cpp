// The File menu: imports and Exit; and files named on the command line.

#include <exception>
#include <new>

#include "app/application.h"
#include "app/commands.h"
#include "importers/import_any.h"
#include "importers/import_error.h"
#include "importers/ms3d_importer.h"
#include "platform/dialogs.h"
#include "platform/window.h"

namespace fyrel {

namespace {

const char* const kMs3dFailureCaption = "Failed to load .MS3D";
const char* const kFileFailureCaption = "Failed to load file";

// The model stands in the pose of its current clip at once, advanced by one
// second's worth of its rate.
void appendAnimated(Application& app, const Model& model)
{
    app.models.push_back(model);
    Model& added = app.models.back();
    added.animator.update(1.0f);
    added.updatePose();
}

// Runs an import; a failure is shown in an error box with caption and the
// scene stays as it was.
template <typename Import>
void importShowingFailure(Application& app, const std::string& path, const char* caption, Import import)
{
    try {
        import();
    } catch (const ImportError& error) {
        messageBox(app.mainWindow, error.what(), caption, MessageBoxIcon::Error);
    } catch (const std::bad_alloc&) {
        messageBox(app.mainWindow, "There is not enough memory to load \"" + path + "\".", caption,
                   MessageBoxIcon::Error);
    }
}

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
