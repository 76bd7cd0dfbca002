#include "app/application.h"

#include <exception>
#include <filesystem>

#include "app/commands.h"
#include "ik/ik_error.h"
#include "platform/dialogs.h"
#include "platform/settings.h"
#include "platform/tool_bar.h"
#include "platform/platform.h"
#include "platform/window.h"
#include "animation/pose.h"
#include "animation/sampling.h"
#include "render/gl_resources.h"
#include "render/model_buffers.h"
#include "render/scene_render.h"
#include "ui/resources.h"
#include "ui/camera.h"
#include "ui/gl_window.h"

namespace fyrel {

namespace {

constexpr int kMainWindowWidth = 1024;
constexpr int kMainWindowHeight = 768;

}  // namespace

Application::Application()
{
    loadGlFunctions(glFunctions, glProcAddress, nullptr);
    title = loadString(kStringTitle);
    createMainWindow();
    createToolBar(mainWindow, transportBar());
    restoreSettings();
    setAccelerators(mainAccelerators());
    createGlContext();
    try {
        childWindows.push_back(std::make_unique<GlWindow>(*this));
    } catch (const std::runtime_error& error) {
        releaseGl();
        setWindowHandler(mainWindow, nullptr);
        destroyWindow(mainWindow);
        throw StartupError(error.what());
    }
}

Application::~Application()
{
    removeRecoveryFile(*this);  // an end, if not through the main window's
    for (std::size_t i = 0; i < childWindows.size(); ++i) {
        childWindows[i].reset();
    }
    childWindows.clear();
    releaseGl();
    // The window, if the user has not closed it, goes without reaching this
    // half-destroyed object.
    setWindowHandler(mainWindow, nullptr);
    destroyWindow(mainWindow);
    glContext.reset();
}

void Application::createMainWindow()
{
    mainWindow = fyrel::createMainWindow(title, mainMenu(), kMainWindowWidth, kMainWindowHeight, this);
    if (mainWindow == kNoWindow) {
        throw StartupError(kWindowFailure);
    }
}

void Application::restoreSettings()
{
    restoreWindowGeometry(mainWindow, loadSetting(kSettingGeometry));
    recentFiles = loadSettingList(kSettingRecentFiles);
    if (recentFiles.size() > static_cast<std::size_t>(kRecentFileCount)) {
        recentFiles.resize(kRecentFileCount);
    }
    showRecentFiles(*this);
    syncToDisplay = loadSetting(kSettingSyncToDisplay) != "0";  // paced unless measuring
    setMenuItemChecked(mainWindow, kCommandSyncToDisplay, syncToDisplay);
    showLook(*this, loadSetting(kSettingLook));
}

std::string Application::modelName(const Model&, std::size_t index) const
{
    const std::string file = index < document.sources.size() ? document.sources[index].file : std::string();
    return file.empty() ? "Model " + std::to_string(index + 1) : std::filesystem::path(file).filename().string();
}

void Application::createGlContext()
{
    glContext = GlContext::create();
    if (!glContext || !glContext->makeCurrent()) {
        glContext.reset();
        setWindowHandler(mainWindow, nullptr);
        destroyWindow(mainWindow);
        throw StartupError("Failed to create an OpenGL context: this program needs OpenGL 2.0");
    }
    initGl();
}

void Application::initGl()
{
    loadGlFunctions(glFunctions, glProcAddress, nullptr);
    genDisplayLists(axesList, groundList);
    const std::vector<std::string> dirs = dataDirs();
    const std::string vertexSource = loadShaderSource("shader.vert", dirs);
    const std::string fragmentSource = loadShaderSource("shader.frag", dirs);
    createShaderProgram(glFunctions, vertexSource, fragmentSource, vertexShader, fragmentShader, shaderProgram);
    compileAxesList(axesList);
    compileGroundList(groundList);
    studioProgram = createStudioProgram(glFunctions);
    hasFramebuffers = loadFramebufferFunctions(framebuffers, glProcAddress, nullptr);
}

// The display lists and every model's buffers are deleted while the
// Application's context is current; without a context they are left to end
// with it.
void Application::releaseGl()
{
    const bool current = makeGlCurrent();
    if (current) {
        deleteDisplayLists(axesList, groundList);
    }
    ikControllers.clear();
    bindings.clear();
    paths.clear();
    if (!current) {
        for (Model& model : models) {
            forgetBuffers(model);
        }
        for (auto& shelved : document.history.shelf) {
            forgetBuffers(shelved.second.model);
        }
    }
    document.clear();
    if (current) {
        glContext->doneCurrent();
    }
}

bool Application::makeGlCurrent()
{
    return glContext && glContext->makeCurrent();
}

std::vector<std::string> Application::dataDirs()
{
    std::vector<std::string> dirs{""};
    const std::string exeDir = Platform::executableDir();
    if (!exeDir.empty()) {
        dirs.push_back(exeDir);
        dirs.push_back(exeDir + "/../share/fyrel");
    }
    dirs.push_back(FYREL_DATA_DIR);
    return dirs;
}

bool Application::frame(float dt)
{
    makeGlCurrent();
    updateScene(playback.sceneDt(dt));
    flushGl();
    bool drawn = false;
    for (std::size_t i = 0; i < childWindows.size(); ++i) {
        drawn = childWindows[i]->frame(dt) || drawn;
    }
    refreshTransport(*this, dt);
    showDocumentState();
    return drawn;
}

void Application::updateScene(float dt)
{
    std::vector<std::string> failures;
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        try {
            bindings[i].advance(dt);
        } catch (const IkError& error) {
            failures.push_back(error.what());
        }
    }
    if (!failures.empty()) {
        // The boxes run their own event loops, which draw with other
        // contexts: the models are updated after them, with ours current.
        for (const std::string& text : failures) {
            messageBox(mainWindow, text, kIkFailureCaption, MessageBoxIcon::Error);
        }
        makeGlCurrent();
    }
    createMissingBuffers(models, &glFunctions);
    for (std::size_t i = 0; i < models.size(); ++i) {
        Model& model = models[i];
        updateAnimator(model, dt);
        updatePose(model);
        uploadSkinned(model);
    }
}

void Application::renderScene(int width, int height, const Camera& camera, GroundBackdrop* backdrop)
{
    fyrel::renderScene(sceneView(backdrop), width, height, camera.projectionMatrix(), camera.viewMatrix());
}

SceneView Application::sceneView(GroundBackdrop* backdrop) const
{
    SceneView view;
    view.glFunctions = &glFunctions;
    view.axesList = axesList;
    view.groundList = groundList;
    view.shaderProgram = shaderProgram;
    view.models = &models;
    view.paths = &paths;
    view.ikControllers = &ikControllers;
    view.backdrop = backdrop;
    view.look = look;
    view.studioProgram = studioProgram;
    view.framebuffers = hasFramebuffers ? &framebuffers : nullptr;
    return view;
}

bool Application::onClose()
{
    return keepOrDropChanges(*this);
}

void Application::onDestroy()
{
    removeRecoveryFile(*this);
    saveSetting(kSettingGeometry, windowGeometry(mainWindow));
    requestQuit(0);
}

void Application::onDrop(const std::vector<std::string>& files)
{
    for (const std::string& path : files) {
        openFileByName(*this, path);
    }
}

void Application::onKey(const KeyPress& press)
{
    for (std::size_t i = 0; i < childWindows.size(); ++i) {
        childWindows[i]->onKey(press);
    }
}

void Application::onCommand(const Command& command)
{
    if (!runCommand(*this, command.id) && !handleTransportControl(*this, command.id, command.value)) {
        openRecentFile(*this, command.id);
    }
}

}  // namespace fyrel
