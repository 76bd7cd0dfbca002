// The Scene menu.

#include "app/application.h"
#include "app/commands.h"
#include "workbench/edits.h"

namespace fyrel {

// Bindings and controllers refer to the models, so they go with them; paths
// stay. Each model deletes its buffers, for which the Application's context
// is made current.
void commandRemoveAllModels(Application& app)
{
    app.makeGlCurrent();
    removeAllModels(app.document);
}

}  // namespace fyrel
