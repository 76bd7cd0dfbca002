#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/playback.h"
#include "app/transport.h"
#include "ik/ik_controller.h"
#include "paths/path.h"
#include "paths/path_binding.h"
#include "platform/gl_context.h"
#include "platform/input.h"
#include "render/gl_functions.h"
#include "render/scene_render.h"
#include "scene/model.h"
#include "scene/scene_list.h"
#include "ui/child_window.h"
#include "ui/view_host.h"
#include "workbench/document.h"

namespace fyrel {

// A start-up that cannot go on: no main window, no child window, no GL.
class StartupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The one object that holds the program's state: the main window and the GL
// context, the child windows, and the scene. Constructing it starts the
// program (main window, GL objects, one GlWindow); destroying it shuts the
// program down. Windows and dialogs keep its address: it is neither copied
// nor moved. It is the main window's handler.
//
// What the user builds is the document (workbench/document.h); the four
// lists below are its lists under their old names, for reading. Every change
// goes through the document's edits (workbench/edits.h), which the undo
// history records. "The" model, path or controller of a command is the last
// element of its list.
class Application final : public ViewHost, public WindowHandler {
public:
    GlFunctions glFunctions;  // the models' buffers keep a pointer to this table
    GlUint axesList = 0;
    GlUint groundList = 0;
    GlUint vertexShader = 0;
    GlUint fragmentShader = 0;
    GlUint shaderProgram = 0;
    GlUint studioProgram = 0;
    FramebufferFunctions framebuffers;  // the Studio look's multisampling, when the driver has them
    bool hasFramebuffers = false;
    Look look = Look::Classic;  // View > Look, for every view
    Document document;
    SceneList<Model>& models = document.models;
    SceneList<Path>& paths = document.paths;
    SceneList<PathBinding>& bindings = document.bindings;
    SceneList<IkController>& ikControllers = document.ikControllers;
    ChildWindowList childWindows;  // open views, in opening order
    WindowHandle mainWindow = kNoWindow;
    std::unique_ptr<GlContext> glContext;  // offscreen, shared with every view
    std::string title;
    SceneInformationDialog* sceneInfoDialog = nullptr;  // the last one opened while open; not owned
    Playback playback;               // scales (or stops) the dt the scene update receives
    std::size_t selectedModel = 0;   // the transport's model (transport.h)
    TransportShown transportShown;
    std::string frameTitle;  // the frame statistics the title shows after the scene's name
    // What the title and the Edit menu show now, by what they are made of:
    // compared every frame without allocating, refreshed when it changes.
    struct ShownDocument {
        std::uint64_t serial = ~std::uint64_t{0};
        std::uint64_t savedSerial = 0;
        std::size_t undoSteps = 0;
        std::size_t redoSteps = 0;
        std::string file;
    } shownDocument;
    // The recovery file: written a few seconds after a change (recovery.cpp).
    std::string recoveryFile;
    std::uint64_t recoverySerial = 0;  // the history's serial the recovery file holds
    std::chrono::steady_clock::time_point changedAt{};
    std::vector<std::string> recentFiles;  // newest first, at most kRecentFileCount
    bool syncToDisplay = true;       // a moving scene is drawn at the display's rate, not as fast as it can

    // Start-up: main window with its menu, GL context and GL objects, one
    // GlWindow. Throws StartupError when any of them cannot be made.
    Application();
    // Shutdown: child windows, GL objects (while the context is current),
    // the scene, the main window.
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // One frame of dt seconds: the scene update (with the Application's
    // context current) by the playback's share of dt, then every child window
    // draws and presents, then the tool bar and status bar follow. True when
    // some view drew a picture.
    bool frame(float dt);

    // The name shown for the model at index in the lists (model is that
    // one): its file's name, or "Model <index + 1>" for a model that came
    // from no file.
    std::string modelName(const Model& model, std::size_t index) const;

    // Advances every binding, then makes the buffers of models that have
    // none, and animates, poses and uploads every model.
    // A binding whose IK generation fails is reported in an error box; the
    // program goes on.
    void updateScene(float dt);

    // What the views use (ui/view_host.h).
    SceneList<Model>& sceneModels() override { return models; }
    SceneList<Path>& scenePaths() override { return paths; }
    SceneList<IkController>& sceneIkControllers() override { return ikControllers; }
    Document& sceneDocument() override { return document; }
    void renderScene(int width, int height, const Camera& camera, GroundBackdrop* backdrop) override;
    // What a view draws: the scene, its GL objects and the look.
    SceneView sceneView(GroundBackdrop* backdrop) const;
    WindowHandle hostWindow() const override { return mainWindow; }
    ChildWindowList& views() override { return childWindows; }
    SceneInformationDialog*& currentSceneInformation() override { return sceneInfoDialog; }

    // The title (scene name, a "*" while it has unsaved changes, then the
    // frame statistics; a fresh untitled scene shows the statistics alone)
    // and the Edit menu's Undo and Redo, when they changed;
    // writes the recovery file when it is due. Run by every frame.
    void showDocumentState(bool titleChanged = false);

    // The main window's input. Its destruction saves its place and size and
    // ends the frame loop; dropped files are opened one by one; keys go to
    // every view, so that they all move at once; commands are the menu's
    // (commands.h), the tool bar's (transport.h) and the recent files'.
    // Closing the main window with unsaved changes asks first (Cancel keeps
    // it open).
    bool onClose() override;
    void onDestroy() override;
    void onDrop(const std::vector<std::string>& files) override;
    void onKey(const KeyPress& press) override;
    void onCommand(const Command& command) override;

    // Fetches the entry points, the display lists and the shader program.
    // Requires the context to be current.
    void initGl();

    // Makes the Application's own context current, for GL work outside a
    // frame (creating or deleting buffers, display lists).
    bool makeGlCurrent();

    // Where data files (the shaders) are looked for, in order: the current
    // directory, the executable's folder, the installed data folder.
    static std::vector<std::string> dataDirs();

private:
    void createMainWindow();
    void restoreSettings();
    void createGlContext();
    void releaseGl();
};

}  // namespace fyrel
