#include "ui/resources.h"

#include "platform/icons.h"

namespace fyrel {

std::string loadString(int number)
{
    switch (number) {
    case kStringTitle: return "FyrelFramework";
    case kStringChildTitle: return "Display Window";
    case kStringGlWindowClass: return "FYRELGLWINDOW";
    case kStringPathWindowClass: return "FyrelOrthoWindow";
    case kStringMainWindowClass: return "FYRELFRAMEWORK";
    default: return {};
    }
}

const std::vector<MenuPopup>& mainMenu()
{
    static const std::vector<MenuPopup> menu = {
        {"&File",
         {{"Import .&3ds", kCommandImport3ds},
          {"Import .&X", kCommandImportX},
          {"Import .&MS3D", kCommandImportMs3d},
          {"E&xit", kCommandExit}}},
        {"&Edit", {{"&Bind to Path", kCommandBindToPath}}},
        {"&View",
         {{"&Open GlWindow", kCommandOpenGlWindow},
          {"Open &Path Window", kCommandOpenPathWindow},
          {"&Scene Information", kCommandSceneInformation}}},
        {"&Scene", {{"Remove &All Models", kCommandRemoveAllModels}, {"Remove All &Paths", kCommandRemoveAllPaths}}},
        {"&IK",
         {{"&Add IK Controller", kCommandAddIkController},
          {"&Generate IK Animation", kCommandGenerateIkAnimation},
          {"&Play IK Animation", kCommandPlayIkAnimation, false}}},
        {"&Help", {{"&About ...", kCommandAbout}}},
    };
    return menu;
}

const std::vector<Accelerator>& mainAccelerators()
{
    static const std::vector<Accelerator> table = {{'?', kCommandAbout}, {'/', kCommandAbout}};
    return table;
}

const DialogTemplate& aboutDialogTemplate()
{
    static const DialogTemplate about = [] {
        DialogTemplate t;
        t.caption = "About";
        t.fontName = "System";
        t.fontPoints = 8;
        t.x = 22;
        t.y = 17;
        t.width = 230;
        t.height = 75;
        t.controls = {
            {DialogControlKind::Icon, kLargeIcon, "", 14, 9, 16, 16},
            {DialogControlKind::Text, -1, "Fyrel " FYREL_VERSION_TEXT, 42, 10, 140, 10},
            {DialogControlKind::Text, -1, "Viewer and workbench for skeletal animation", 42, 30, 180, 10},
            {DialogControlKind::DefaultPushButton, kIdOk, "OK", 195, 6, 30, 11},
        };
        return t;
    }();
    return about;
}

}  // namespace fyrel
