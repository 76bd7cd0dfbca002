// The File menu's Open, Recent Files, Export glTF and Exit (its imports are
// in commands_import.cpp).

#include <algorithm>
#include <filesystem>
#include <new>

#include "app/application.h"
#include "app/commands.h"
#include "exporters/gltf_exporter.h"
#include "importers/model_formats.h"
#include "platform/dialogs.h"
#include "platform/settings.h"
#include "platform/window.h"
#include "ui/resources.h"

namespace fyrel {

namespace {

// Every readable format in one filter first, then each on its own.
std::vector<FileFilter> openFilters()
{
    std::vector<FileFilter> filters(1, FileFilter{"Scenes and model files", "*.fyrel"});
    for (const ModelFormat& format : modelFormats()) {
        filters[0].pattern += (filters[0].pattern.empty() ? "*" : " *") + std::string(format.ending);
        // A format of several endings (glTF) has one row per ending and one filter.
        if (filters.back().name != format.filterLabel) {
            filters.push_back({format.filterLabel,
                               format.dialogPatterns ? format.dialogPatterns : std::string("*") + format.ending});
        }
    }
    filters.push_back({"Fyrel scene", "*.fyrel"});
    filters.push_back({"All", "*.*"});
    return filters;
}

}  // namespace

// No notices: the file's ending chooses the format once it is picked.
void commandOpen(Application& app)
{
    const std::optional<std::string> path =
        openFileDialog(app.mainWindow, openFilters(), loadSetting(kSettingLastFolder));
    if (!path) {
        return;
    }
    saveSetting(kSettingLastFolder, std::filesystem::path(*path).parent_path().string());
    openFileByName(app, *path);
}

const char* const kExportCaption = "Export glTF";

// Writes the transport's model (the last one added unless another was
// chosen), with every clip, as one .glb file.
void commandExportGltf(Application& app)
{
    if (app.models.empty()) {
        messageBox(app.mainWindow, "There is no model to export: import one first.", kExportCaption,
                   MessageBoxIcon::Warning);
        return;
    }
    const Model& model = app.models[std::min(app.selectedModel, app.models.size() - 1)];
    const std::optional<std::string> path =
        saveFileDialog(app.mainWindow, {{"glTF binary", "*.glb"}}, ".glb", loadSetting(kSettingLastFolder));
    if (!path) {
        return;
    }
    try {
        exportGlbFile(model, *path);
    } catch (const ExportError& error) {
        messageBox(app.mainWindow, error.what(), kExportCaption, MessageBoxIcon::Error);
    } catch (const std::bad_alloc&) {
        messageBox(app.mainWindow, "There is not enough memory to export the model.", kExportCaption,
                   MessageBoxIcon::Error);
    }
}

void commandExit(Application& app)
{
    if (keepOrDropChanges(app)) {
        destroyWindow(app.mainWindow);
    }
}

void showRecentFiles(Application& app)
{
    std::vector<MenuItem> items;
    for (std::size_t i = 0; i < app.recentFiles.size(); ++i) {
        // The number is the item's mnemonic; '&' in a name is shown as is.
        std::string name = app.recentFiles[i];
        for (std::size_t at = name.find('&'); at != std::string::npos; at = name.find('&', at + 2)) {
            name.insert(at, 1, '&');
        }
        items.push_back({"&" + std::to_string(i + 1) + " " + name, kCommandRecentFile + static_cast<int>(i)});
    }
    setSubmenuItems(app.mainWindow, kCommandRecentFiles, items);
}

void rememberFile(Application& app, const std::string& path)
{
    std::error_code ignored;
    std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    const std::string entry = absolute.empty() ? path : absolute.lexically_normal().string();
    std::vector<std::string>& files = app.recentFiles;
    files.erase(std::remove(files.begin(), files.end(), entry), files.end());
    files.insert(files.begin(), entry);
    if (files.size() > static_cast<std::size_t>(kRecentFileCount)) {
        files.resize(kRecentFileCount);
    }
    saveSettingList(kSettingRecentFiles, files);
    showRecentFiles(app);
}

bool openRecentFile(Application& app, int id)
{
    const int index = id - kCommandRecentFile;
    if (index < 0 || index >= kRecentFileCount) {
        return false;
    }
    if (static_cast<std::size_t>(index) >= app.recentFiles.size()) {
        return true;
    }
    const std::string path = app.recentFiles[static_cast<std::size_t>(index)];
    if (!openFileByName(app, path)) {
        std::vector<std::string>& files = app.recentFiles;
        files.erase(std::remove(files.begin(), files.end(), path), files.end());
        saveSettingList(kSettingRecentFiles, files);
        showRecentFiles(app);
    }
    return true;
}

}  // namespace fyrel
