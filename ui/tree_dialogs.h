#pragma once

#include "platform/modeless_dialog.h"

// The templates of the two modeless tree dialogs: Scene Information (dialog
// 129) and the End Effector Selector (dialog 131), with their control
// identifiers.

namespace fyrel {

inline constexpr int kDialogSceneInformation = 129;
inline constexpr int kDialogEndEffector = 131;

inline constexpr int kControlTree = 1002;     // the tree view of both dialogs
inline constexpr int kControlRefresh = 1003;  // Scene Information's "&Refresh"

// Dialog 129: "&Close" (kIdClose, default), the tree, "&Refresh".
const ModelessDialogTemplate& sceneInformationTemplate();

// Dialog 131: "OK" (kIdOk, default), "Cancel" (kIdCancel), the tree, and the
// caption "Choose End Effector" above it.
const ModelessDialogTemplate& endEffectorTemplate();

}  // namespace fyrel
