#include "ui/tree_dialogs.h"

#include "platform/input.h"

namespace fyrel {

namespace {

// The two tree dialogs share their font; their sizes are in dialog units.
ModelessDialogTemplate treeDialog(const char* caption, int width, int height, std::vector<ModelessControl> controls)
{
    return {.caption = caption, .fontName = "MS Shell Dlg", .fontPoints = 8, .width = width, .height = height,
            .controls = std::move(controls)};
}

}  // namespace

const ModelessDialogTemplate& sceneInformationTemplate()
{
    static const ModelessDialogTemplate t = treeDialog(" Scene Information", 385, 303, {
        {ModelessControlKind::DefaultPushButton, kIdClose, "&Close", 7, 282, 93, 14},
        {ModelessControlKind::TreeView, kControlTree, "", 7, 7, 371, 269},
        {ModelessControlKind::PushButton, kControlRefresh, "&Refresh", 105, 282, 273, 14},
    });
    return t;
}

const ModelessDialogTemplate& endEffectorTemplate()
{
    static const ModelessDialogTemplate t = treeDialog("End Effector Selector", 423, 293, {
        {ModelessControlKind::DefaultPushButton, kIdOk, "OK", 7, 272, 50, 14},
        {ModelessControlKind::PushButton, kIdCancel, "Cancel", 61, 272, 50, 14},
        {ModelessControlKind::TreeView, kControlTree, "", 7, 17, 409, 248},
        {ModelessControlKind::Text, -1, "Choose End Effector", 7, 7, 67, 8},
    });
    return t;
}

}  // namespace fyrel
