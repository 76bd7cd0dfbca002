#pragma once

// Steps the File menu's import commands share.

#include <new>
#include <string>

#include "app/application.h"
#include "importers/import_error.h"
#include "platform/dialogs.h"

namespace fyrel {

// Appends a copy of model to the scene standing in the pose of its current
// clip at once, advanced by one second's worth of its rate.
inline void appendAnimated(Application& app, const Model& model)
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

}  // namespace fyrel
