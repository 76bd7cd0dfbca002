#include "ui/tree_dialogs.h"

#include "platform/input.h"

namespace fyrel {

const ModelessDialogTemplate& sceneInformationTemplate()
{
    static const ModelessDialogTemplate t = [] {
        ModelessDialogTemplate d;
        d.caption = " Scene Information";
        d.fontName = "MS Shell Dlg";
        d.fontPoints = 8;
        d.width = 385;
        d.height = 303;
        d.controls = {
            {ModelessControlKind::DefaultPushButton, kIdClose, "&Close", 7, 282, 93, 14},
            {ModelessControlKind::TreeView, kControlTree, "", 7, 7, 371, 269},
            {ModelessControlKind::PushButton, kControlRefresh, "&Refresh", 105, 282, 273, 14},
        };
        return d;
    }();
    return t;
}

const ModelessDialogTemplate& endEffectorTemplate()
{
    static const ModelessDialogTemplate t = [] {
        ModelessDialogTemplate d;
        d.caption = "End Effector Selector";
        d.fontName = "MS Shell Dlg";
        d.fontPoints = 8;
        d.width = 423;
        d.height = 293;
        d.controls = {
            {ModelessControlKind::DefaultPushButton, kIdOk, "OK", 7, 272, 50, 14},
            {ModelessControlKind::PushButton, kIdCancel, "Cancel", 61, 272, 50, 14},
            {ModelessControlKind::TreeView, kControlTree, "", 7, 17, 409, 248},
            {ModelessControlKind::Text, -1, "Choose End Effector", 7, 7, 67, 8},
        };
        return d;
    }();
    return t;
}

}  // namespace fyrel
