// Paths: the Path Window (View menu), binding a model to a path (Edit menu)
// and removing the paths (Scene menu).

#include <stdexcept>

#include "app/application.h"
#include "app/commands.h"
#include "platform/dialogs.h"
#include "ui/path_window.h"
#include "workbench/edits.h"

namespace fyrel {

void commandOpenPathWindow(Application& app)
{
    openView(app, "Open Path Window", [](ViewHost& host) -> std::unique_ptr<ChildWindow> {
        return std::make_unique<PathWindow>(host);
    });
}

// The bindings go with the paths they follow: a model that was walking stops
// where it stands. The bindings are dropped first, so none is ever left
// pointing at a path that is gone. Models and IK controllers stay.
void commandRemoveAllPaths(Application& app)
{
    removeAllPaths(app.document);
}

// The last model walks the last path, from its start, looping. Earlier
// bindings stay, even ones of the same model.
void commandBindToPath(Application& app)
{
    bindLastModelToLastPath(app.document);
}

}  // namespace fyrel
