// The File menu's imports of 3D Studio and DirectX files. Both formats are
// served partly: each command says so in a warning box every time, before the
// file is chosen.

#include "app/application.h"
#include "app/commands.h"
#include "app/import_steps.h"
#include "importers/three_ds_importer.h"
#include "importers/x_importer.h"
#include "platform/dialogs.h"

namespace fyrel {

namespace {

const char* const k3dsWarning =
    "Animation is not supported in .3ds files, use .ms3d (Milkshape3D) files for animation";
const char* const k3dsWarningCaption = "Animation not supported";
const char* const k3dsFailureCaption = "Failed to load .3ds";

const char* const kXWarning =
    ".X files are not fully functional, use .3ds or .ms3d (Milkshape3D) instead.  "
    "Animations are only supported from .ms3d files";
const char* const kXWarningCaption = "File not supported";
const char* const kXFailureCaption = "Failed to load .X";

}  // namespace

// A .3ds model has no animation: it is appended as it is and posed by the
// next frame.
void import3dsFile(Application& app, const std::string& path)
{
    importShowingFailure(app, path, k3dsFailureCaption, [&] { app.models.push_back(import3ds(path)); });
}

// The model stands in its pose at once: advanced by one second's worth of its
// rate and posed.
void importXFile(Application& app, const std::string& path)
{
    importShowingFailure(app, path, kXFailureCaption, [&] { appendAnimated(app, app.xImporter->importX(path)); });
}

void commandImport3ds(Application& app)
{
    messageBox(app.mainWindow, k3dsWarning, k3dsWarningCaption, MessageBoxIcon::Warning);
    const std::optional<std::string> path =
        openFileDialog(app.mainWindow, {{"3ds File", "*.3ds"}, {"All", "*.*"}});
    if (path) {
        import3dsFile(app, *path);
    }
}

void commandImportX(Application& app)
{
    messageBox(app.mainWindow, kXWarning, kXWarningCaption, MessageBoxIcon::Warning);
    const std::optional<std::string> path = openFileDialog(app.mainWindow, {{"X File", "*.x"}, {"All", "*.*"}});
    if (path) {
        importXFile(app, *path);
    }
}

}  // namespace fyrel
