#include "ui/tree_dialogs.h"

#include "platform/input.h"

namespace fyrel {

const ModelessDialogTemplate& sceneInformationTemplate()
{
    static const ModelessDialogTemplate t{
        .caption = " Scene Information", .fontName = "MS Shell Dlg", .fontPoints = 8, .width = 385, .height = 303,
        .controls = {
            {ModelessControlKind::DefaultPushButton, kIdClose, "&Close", 7, 282, 93, 14},
            {ModelessControlKind::TreeView, kControlTree, "", 7, 7, 371, 269},
            {ModelessControlKind::PushButton, kControlRefresh, "&Refresh", 105, 282, 273, 14},
        },
    };
    return t;
}

const ModelessDialogTemplate& endEffectorTemplate()
{
    static const ModelessDialogTemplate t{
        .caption = "End Effector Selector", .fontName = "MS Shell Dlg", .fontPoints = 8, .width = 423, .height = 293,
        .controls = {
            {ModelessControlKind::DefaultPushButton, kIdOk, "OK", 7, 272, 50, 14},
            {ModelessControlKind::PushButton, kIdCancel, "Cancel", 61, 272, 50, 14},
            {ModelessControlKind::TreeView, kControlTree, "", 7, 17, 409, 248},
            {ModelessControlKind::Text, -1, "Choose End Effector", 7, 7, 67, 8},
        },
    };
    return t;
}

}  // namespace fyrel
