#include "ui/resources.h"

#include "platform/icons.h"

namespace fyrel {

std::string loadString(int number)
{
    switch (number) {
    case kStringTitle: return "FyrelFramework";
    case kStringChildTitle: return "Display Window";
    default: return {};
    }
}

const std::vector<MenuPopup>& mainMenu()
{
    static const std::vector<MenuPopup> menu = {
        {"&File",
         {{"&New Scene", kCommandNewScene},
          {"&Open...", kCommandOpen, true, "Ctrl+O"},
          {"Open &Scene...", kCommandOpenScene},
          {"Sa&ve Scene", kCommandSaveScene, true, "Ctrl+S"},
          {"Save Scene &As...", kCommandSaveSceneAs, true, "Ctrl+Shift+S"},
          {"Recent &Files", kCommandRecentFiles, true, "", false, true},
          {"-"},
          {"Import .&3ds", kCommandImport3ds},
          {"Import .&X", kCommandImportX},
          {"Import .&MS3D", kCommandImportMs3d},
          {"Import .&glTF", kCommandImportGltf},
          {"-"},
          {"&Export glTF...", kCommandExportGltf, true, "Ctrl+E"},
          {"Save &Picture...", kCommandSavePicture},
          {"Save Clip as &Video...", kCommandSaveClipVideo},
          {"-"},
          {"E&xit", kCommandExit, true, "Ctrl+Q"}}},
        {"&Edit",
         {{"&Undo", kCommandUndo, false, "Ctrl+Z"},
          {"&Redo", kCommandRedo, false, "Ctrl+Shift+Z"},
          {"-"},
          {"&Bind to Path", kCommandBindToPath}}},
        {"&View",
         {{"&Open GlWindow", kCommandOpenGlWindow},
          {"Open &Path Window", kCommandOpenPathWindow},
          {"&Scene Information", kCommandSceneInformation},
          {"-"},
          {"&Frame All", kCommandFrameAll, true, "F"},
          {"S&ync to Display", kCommandSyncToDisplay, true, "", true},
          {"&Look", kCommandLook, true, "", false, true}}},
        {"&Animation",
         {{"&Play / Pause", kCommandPlayPause, true, "P"},
          {"Step &Forward", kCommandStepForward, true, "."},
          {"Step &Back", kCommandStepBack, true, ","}}},
        {"&Scene", {{"Remove &All Models", kCommandRemoveAllModels}, {"Remove All &Paths", kCommandRemoveAllPaths}}},
        {"&IK",
         {{"&Add IK Controller", kCommandAddIkController},
          {"&Generate IK Animation", kCommandGenerateIkAnimation},
          {"&Play IK Animation", kCommandPlayIkAnimation, false}}},
        {"&Window",
         {{"&Tile", kCommandTile}, {"&Cascade", kCommandCascade}, {"&Next", kCommandNextWindow, true, "Ctrl+F6"}}},
        {"&Help", {{"&Controls", kCommandControls, true, "F1"}, {"&About ...", kCommandAbout}}},
    };
    return menu;
}

const std::vector<Accelerator>& mainAccelerators()
{
    static const std::vector<Accelerator> table = {{'?', kCommandAbout}, {'/', kCommandAbout}};
    return table;
}

const std::vector<ToolControl>& transportBar()
{
    using K = ToolControlKind;
    static const std::vector<ToolControl> bar = {
        {K::Button, kCommandPlayPause, "Pause", "Play or pause the scene (P)"},
        {K::Button, kCommandStepBack, "< Step", "One frame back while paused (,)"},
        {K::Button, kCommandStepForward, "Step >", "One frame forward while paused (.)"},
        {K::Separator},
        {K::Number, kControlSpeed, "x", "Playback speed", 10, 400, 100},
        {K::Separator},
        {K::Chooser, kControlModel, "", "The model the clip and time controls act on", 0, 0, 0, 120},
        {K::Chooser, kControlClip, "", "Play this clip of the model from its start", 0, 0, 0, 160},
        {K::Slider, kControlTime, "", "The clip's time", 0, kTimeSliderSteps, 0, 240},
        {K::Label, kControlTimeText, "0.00 / 0.00", "Clip time / clip length", 0, 0, 0, 90},
    };
    return bar;
}

const char* controlsText()
{
    return "Views (click one to give it the keyboard):\n"
           "  drag with the left button\tturn the camera\n"
           "  W / S\tforward / back\n"
           "  A / D\tsideways\n"
           "  Space / C\tup / down\n"
           "  (each step a quarter of the size of the models last framed)\n"
           "  keypad + / -\twider / narrower field of view\n"
           "  arrow keys\tmove the last IK controller's target in x and y\n"
           "  Page Up / Page Down\tmove that target up / down\n"
           "\n"
           "Path Window:\n"
           "  left click\tadd a point to the last path\n"
           "  right click\tstart a new path\n"
           "  Ctrl+click\tput the last IK target there\n"
           "  arrows, W / A / S / D\tpan\n"
           "\n"
           "Everywhere:\n"
           "  P\tplay / pause\n"
           "  , and .\tone frame back / forward while paused\n"
           "  F\tframe all models in every view\n"
           "  Ctrl+O\topen a model file (or drop files onto the window)\n"
           "  Ctrl+E\texport the chosen model as glTF (.glb)\n"
           "  Ctrl+F6\tnext window\n"
           "  Ctrl+Q\tquit\n"
           "  Alt+/ or Alt+?\tAbout\n"
           "\n"
           "Click the grey background to give the keyboard to the main window:\n"
           "keys pressed there move the cameras of all views at once.";
}

const DialogTemplate& aboutDialogTemplate()
{
    static const DialogTemplate about{
        .caption = "About", .fontName = "System", .fontPoints = 8, .x = 22, .y = 17, .width = 230, .height = 75,
        .controls = {
            {DialogControlKind::Icon, kLargeIcon, "", 14, 9, 16, 16},
            {DialogControlKind::Text, -1, "Fyrel " FYREL_VERSION_TEXT, 42, 10, 140, 10},
            {DialogControlKind::Text, -1, "Viewer and workbench for skeletal animation", 42, 30, 180, 10},
            {DialogControlKind::DefaultPushButton, kIdOk, "OK", 195, 6, 30, 11},
        },
    };
    return about;
}

const DialogTemplate& pictureSizeDialogTemplate()
{
    static const DialogTemplate size{
        .caption = "Picture Size", .fontName = "System", .fontPoints = 8, .x = 22, .y = 17, .width = 160, .height = 92,
        .controls = {
            {DialogControlKind::Text, -1, "Draw the picture at:", 8, 6, 140, 10},
            {DialogControlKind::DefaultPushButton, kIdSizeOfView, "The &view's size", 8, 20, 144, 11},
            {DialogControlKind::PushButton, kIdWidth1280, "1&280 wide", 8, 34, 144, 11},
            {DialogControlKind::PushButton, kIdWidth1920, "1&920 wide", 8, 48, 144, 11},
            {DialogControlKind::PushButton, kIdWidth3840, "&3840 wide", 8, 62, 144, 11},
            {DialogControlKind::PushButton, kIdCancel, "Cancel", 110, 77, 42, 11},
        },
    };
    return size;
}

}  // namespace fyrel
