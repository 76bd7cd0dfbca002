// Scene files (File > New Scene, Open Scene, Save Scene, Save Scene As, and
// .fyrel files opened by name), the unsaved-changes question, Edit > Undo and
// Redo, and the title and menu that show the document's state.

#include <filesystem>
#include <new>

#include "app/application.h"
#include "app/commands.h"
#include "importers/model_formats.h"
#include "platform/dialogs.h"
#include "platform/settings.h"
#include "platform/window.h"
#include "ui/gl_window.h"
#include "ui/path_window.h"
#include "ui/resources.h"
#include "workbench/edits.h"
#include "workbench/scene_file.h"

namespace fyrel {

namespace {

const char* const kSceneCaption = "Scene";
const std::vector<FileFilter> kSceneFilters = {{"Fyrel scene", "*.fyrel"}, {"All", "*.*"}};

bool isSceneFile(const std::string& path)
{
    const std::string ending = std::filesystem::path(path).extension().string();
    return ending.size() == 6 && (ending == kSceneEnding || ending == ".FYREL");
}

// The views' cameras and places, in opening order, for the file.
void collectViews(Application& app)
{
    app.document.views.clear();
    for (const auto& child : app.childWindows) {
        ViewRecord record;
        if (const auto* view = dynamic_cast<const GlWindow*>(child.get())) {
            record.kind = ViewRecord::Kind::Perspective;
            record.position = view->camera.position;
            record.angles = view->camera.angles;
            record.fov = view->camera.fov;
        } else if (const auto* path = dynamic_cast<const PathWindow*>(child.get())) {
            record.kind = ViewRecord::Kind::Path;
            record.position = path->camera.position;
            record.extents = path->camera.extents;
        } else {
            continue;
        }
        const WindowFrame frame = childWindowFrame(child->windowHandle);
        record.x = frame.x;
        record.y = frame.y;
        record.width = frame.width;
        record.height = frame.height;
        app.document.views.push_back(record);
    }
    app.document.transportSpeed = app.playback.speed;
}

// Each recorded view sets the camera (and the place) of the open view at its
// place in the list when that is of its kind; otherwise a view of its kind is
// opened.
void applyViews(Application& app)
{
    for (std::size_t i = 0; i < app.document.views.size(); ++i) {
        const ViewRecord& record = app.document.views[i];
        const bool perspective = record.kind == ViewRecord::Kind::Perspective;
        ChildWindow* child = i < app.childWindows.size() ? app.childWindows[i].get() : nullptr;
        if (perspective ? !dynamic_cast<GlWindow*>(child) : !dynamic_cast<PathWindow*>(child)) {
            perspective ? commandOpenGlWindow(app) : commandOpenPathWindow(app);
            child = app.childWindows.empty() ? nullptr : app.childWindows.back().get();
        }
        if (auto* view = dynamic_cast<GlWindow*>(child); view && perspective) {
            view->camera.angles = record.angles;
            view->camera.fov = record.fov;
            view->camera.updateProjection();
            view->camera.setPosition(record.position);
        } else if (auto* path = dynamic_cast<PathWindow*>(child); path && !perspective) {
            path->camera.extents = record.extents;
            path->camera.updateProjection();
            path->camera.setPosition(record.position);
        }
        if (child && record.width > 0) {
            setChildWindowFrame(child->windowHandle, {record.x, record.y, record.width, record.height});
        }
    }
    app.playback.setSpeed(app.document.transportSpeed);
}

std::string listText(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) {
        text += "\n" + line;
    }
    return text;
}

}  // namespace

bool saveSceneAs(Application& app, const std::string& path)
{
    collectViews(app);
    syncSources(app.document);
    try {
        saveSceneFile(app.document, path);
    } catch (const SceneError& error) {
        messageBox(app.mainWindow, error.what(), "Failed to save scene", MessageBoxIcon::Error);
        return false;
    } catch (const std::bad_alloc&) {
        messageBox(app.mainWindow, "There is not enough memory to save \"" + path + "\".", "Failed to save scene",
                   MessageBoxIcon::Error);
        return false;
    }
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    app.document.file = absolute.empty() ? path : absolute.lexically_normal().string();
    app.document.markSaved();
    rememberFile(app, app.document.file);
    return true;
}

void commandSaveSceneAs(Application& app)
{
    const std::optional<std::string> path =
        saveFileDialog(app.mainWindow, kSceneFilters, kSceneEnding, loadSetting(kSettingLastFolder));
    if (path) {
        saveSceneAs(app, *path);
    }
}

void commandSaveScene(Application& app)
{
    if (app.document.file.empty()) {
        commandSaveSceneAs(app);
    } else {
        saveSceneAs(app, app.document.file);
    }
}

bool keepOrDropChanges(Application& app)
{
    if (!app.document.modified()) {
        return true;
    }
    const std::size_t answer =
        askQuestion(app.mainWindow, "Save the changes to \"" + app.document.displayName() + "\"?",
                    "Unsaved changes", {"&Save", "&Discard", "&Cancel"});
    if (answer == 0) {
        commandSaveScene(app);
        return !app.document.modified();
    }
    return answer == 1;
}

void commandNewScene(Application& app)
{
    if (!keepOrDropChanges(app)) {
        return;
    }
    app.makeGlCurrent();
    app.document.clear();
    removeRecoveryFile(app);
}

bool openSceneFile(Application& app, const std::string& path)
{
    SceneFile scene;
    try {
        scene = readSceneFile(path);
    } catch (const SceneError& error) {
        messageBox(app.mainWindow, error.what(), "Failed to open scene", MessageBoxIcon::Error);
        return false;
    } catch (const std::bad_alloc&) {
        messageBox(app.mainWindow, "There is not enough memory to open \"" + path + "\".", "Failed to open scene",
                   MessageBoxIcon::Error);
        return false;
    }
    app.makeGlCurrent();
    std::vector<std::string> failures;
    Document opened;
    buildDocument(scene, loadModelFile, opened, failures);
    app.document.clear();
    // The lists are moved element by element: the document's own lists stay
    // where the program's references point.
    app.document.models = std::move(opened.models);
    app.document.sources = std::move(opened.sources);
    app.document.paths = std::move(opened.paths);
    app.document.bindings = std::move(opened.bindings);
    app.document.ikControllers = std::move(opened.ikControllers);
    app.document.views = std::move(opened.views);
    app.document.transportSpeed = opened.transportSpeed;
    app.document.nextModelId = opened.nextModelId;
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    app.document.file = absolute.empty() ? path : absolute.lexically_normal().string();
    app.document.markSaved();
    app.selectedModel = app.models.empty() ? 0 : app.models.size() - 1;
    applyViews(app);
    if (scene.views.empty()) {
        frameScene(app);
    }
    rememberFile(app, app.document.file);
    if (!failures.empty()) {
        messageBox(app.mainWindow, "Some of \"" + path + "\" could not be loaded; the rest is open:" + listText(failures),
                   kSceneCaption, MessageBoxIcon::Warning);
    }
    if (!scene.unknownFields.empty()) {
        messageBox(app.mainWindow,
                   "\"" + path + "\" was written by a newer Fyrel (version " + std::to_string(scene.version) +
                       "). These fields were not read, and saving the scene will leave them out:" +
                       listText(scene.unknownFields),
                   kSceneCaption, MessageBoxIcon::Warning);
    }
    return true;
}

void commandOpenScene(Application& app)
{
    if (!keepOrDropChanges(app)) {
        return;
    }
    const std::optional<std::string> path =
        openFileDialog(app.mainWindow, kSceneFilters, loadSetting(kSettingLastFolder));
    if (path) {
        saveSetting(kSettingLastFolder, std::filesystem::path(*path).parent_path().string());
        openSceneFile(app, *path);
    }
}

bool openFileByName(Application& app, const std::string& path)
{
    if (!isSceneFile(path)) {
        return importFileByName(app, path);
    }
    // Cancelled at the question: nothing failed (a recent file stays listed).
    return !keepOrDropChanges(app) || openSceneFile(app, path);
}

void commandUndo(Application& app)
{
    app.makeGlCurrent();
    undo(app.document);
}

void commandRedo(Application& app)
{
    app.makeGlCurrent();
    redo(app.document);
}

void Application::showDocumentState(bool titleChanged)
{
    const History& history = document.history;
    ShownDocument& shown = shownDocument;
    if (shown.serial != history.serial() || shown.savedSerial != document.savedSerial ||
        shown.undoSteps != history.undoSteps.size() || shown.redoSteps != history.redoSteps.size() ||
        shown.file != document.file) {
        shown = {history.serial(), document.savedSerial, history.undoSteps.size(), history.redoSteps.size(),
                 document.file};
        titleChanged = true;
        setMenuItemText(mainWindow, kCommandUndo, history.undoText(), history.canUndo());
        setMenuItemText(mainWindow, kCommandRedo, history.redoText(), history.canRedo());
    }
    if (titleChanged) {
        const std::string base = frameTitle.empty() ? title : frameTitle;
        const bool fresh = document.file.empty() && !document.modified();
        const std::string name = document.displayName() + (document.modified() ? "*" : "");
        setWindowText(mainWindow, fresh ? base : name + " - " + base);
    }
    writeRecoveryIfDue(*this);
}

}  // namespace fyrel
