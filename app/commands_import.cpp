// Imports: the File menu's import commands and files named on the command
// line, every format served by its row of importers/model_formats.h.

#include <filesystem>
#include <new>

#include "animation/bounds.h"
#include "animation/pose.h"
#include "animation/sampling.h"
#include "app/application.h"
#include "app/commands.h"
#include "diagnostics/debug_output.h"
#include "importers/assimp/import_worker.h"
#include "importers/import_error.h"
#include "importers/model_formats.h"
#include "platform/dialogs.h"
#include "workbench/edits.h"

namespace fyrel {

namespace {

const char* const kFileFailureCaption = "Failed to load file";

// An import that runs longer than this shows its progress and Cancel.
constexpr double kImportMoment = 0.4;

// While an import worker reads a file, the main window shows how far it
// is, once it takes longer than a moment; Cancel stops the worker.
class ImportProgress {
public:
    ImportProgress(Application& app, const std::string& path)
    {
        const std::string text = "Reading " + std::filesystem::path(path).filename().string() + " ...";
        previous_ = setImportWaiter([&app, text](double seconds, float fraction) {
            return seconds < kImportMoment || showProgress(app.mainWindow, text, fraction);
        });
    }
    ~ImportProgress()
    {
        endProgress();
        setImportWaiter(std::move(previous_));
    }
    ImportProgress(const ImportProgress&) = delete;
    ImportProgress& operator=(const ImportProgress&) = delete;

private:
    ImportWaiter previous_;
};

// Runs an import; a failure is shown in an error box with caption and the
// scene stays as it was.
template <typename Import>
bool importShowingFailure(Application& app, const std::string& path, const char* caption, Import import)
{
    try {
        const ImportProgress progress(app, path);
        import();
        return true;
    } catch (const ImportCancelled&) {
        debugOutput("Import of \"" + path + "\" cancelled\n");
    } catch (const ImportError& error) {
        messageBox(app.mainWindow, error.what(), caption, MessageBoxIcon::Error);
    } catch (const std::bad_alloc&) {
        messageBox(app.mainWindow, "There is not enough memory to load \"" + path + "\".", caption,
                   MessageBoxIcon::Error);
    }
    return false;
}

}  // namespace

// Every model is stood on the ground by its rest pose. A model of an
// animated format then stands in the pose of its current clip at
// once, advanced by one second's worth of its rate; any other is appended as
// it is and posed by the next frame.
Model loadModel(const ModelFormat& format, const std::string& path)
{
    Model model = format.import(path);
    standOnGround(model);
    if (format.animated) {
        updateAnimator(model, 1.0f);
        updatePose(model);
    }
    return model;
}

Model loadModelFile(const std::string& path)
{
    const ModelFormat* format = findModelFormat(path);
    if (!format) {
        throw ImportError(unsupportedEndingMessage(path));
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        throw ImportError("\"" + path + "\" is missing or is not a regular file.");
    }
    return loadModel(*format, path);
}

bool importFile(Application& app, const ModelFormat& format, const std::string& path)
{
    const bool first = app.models.empty();
    const bool loaded = importShowingFailure(app, path, format.failureCaption, [&] {
        std::error_code ignored;
        const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
        addModel(app.document, loadModel(format, path),
                 absolute.empty() ? path : absolute.lexically_normal().string());
    });
    if (loaded) {
        if (first) {
            frameScene(app);
        }
        rememberFile(app, path);
    }
    return loaded;
}

void commandImport(Application& app, const ModelFormat& format)
{
    if (format.notice) {
        messageBox(app.mainWindow, format.notice, format.noticeCaption, MessageBoxIcon::Warning);
    }
    const std::string pattern = format.dialogPatterns ? format.dialogPatterns : std::string("*") + format.ending;
    const std::optional<std::string> path =
        openFileDialog(app.mainWindow, {{format.filterLabel, pattern}, {"All", "*.*"}});
    if (path) {
        importFile(app, format, *path);
    }
}

bool importFileByName(Application& app, const std::string& path)
{
    if (const ModelFormat* format = findModelFormat(path)) {
        return importFile(app, *format, path);
    }
    messageBox(app.mainWindow, unsupportedEndingMessage(path), kFileFailureCaption, MessageBoxIcon::Error);
    return false;
}

}  // namespace fyrel
