// File > Save Picture, File > Save Clip as Video and View > Look: the
// pictures of fyrel-render (offscreen/) made from a view of the program.

#include <cmath>
#include <filesystem>
#include <fstream>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "app/application.h"
#include "app/commands.h"
#include "offscreen/picture.h"
#include "offscreen/render_job.h"
#include "offscreen/video_writer.h"
#include "platform/dialogs.h"
#include "platform/gl_context.h"
#include "platform/settings.h"
#include "platform/window.h"
#include "render/model_buffers.h"
#include "ui/gl_window.h"
#include "ui/resources.h"

namespace fyrel {

namespace {

const char* const kPictureCaption = "Save Picture";
const char* const kVideoCaption = "Save Clip as Video";

// The view in front, else the first perspective view; null without one.
GlWindow* pictureView(Application& app)
{
    const WindowHandle active = activeChildWindow(app.mainWindow);
    GlWindow* first = nullptr;
    for (const std::unique_ptr<ChildWindow>& window : app.childWindows) {
        auto* view = dynamic_cast<GlWindow*>(window.get());
        if (view && view->windowHandle == active) {
            return view;
        }
        first = first ? first : view;
    }
    return first;
}

struct PictureSize {
    int width = 0;
    int height = 0;
};

// The view's size in device pixels, or the width the user picks at the
// view's shape; none when cancelled.
std::optional<PictureSize> askPictureSize(const Application& app, const GlWindow& view)
{
    const ClientSize client = clientSize(view.windowHandle);
    const double ratio = devicePixelRatio(view.windowHandle);
    PictureSize size{std::max(1, static_cast<int>(std::lround(client.width * ratio))),
                     std::max(1, static_cast<int>(std::lround(client.height * ratio)))};
    const int button = dialogBox(app.mainWindow, pictureSizeDialogTemplate(), [](int) { return true; });
    const int width = button == kIdWidth1280 ? 1280 : button == kIdWidth1920 ? 1920 : button == kIdWidth3840 ? 3840 : 0;
    if (button != kIdSizeOfView && width == 0) {
        return std::nullopt;
    }
    if (width != 0) {
        size.height = std::max(1, static_cast<int>(std::lround(static_cast<double>(width) * size.height / size.width)));
        size.width = width;
    }
    return size;
}

// The picture GL of the program's own context: its GL objects are the
// Application's, the render targets the picture's.
bool pictureGl(Application& app, PictureGl& gl, std::string& reason)
{
    if (!app.makeGlCurrent()) {
        reason = "there is no OpenGL context";
        return false;
    }
    if (!loadFramebufferFunctions(gl.framebuffers, glProcAddress, nullptr)) {
        reason = "the OpenGL driver offers no framebuffer objects (OpenGL 3.0)";
        return false;
    }
    return true;
}

// The view's camera at the picture's shape.
EulerCameraFov pictureCamera(const GlWindow& view, const PictureSize& size)
{
    EulerCameraFov camera = view.camera;
    camera.aspect = static_cast<float>(size.width) / static_cast<float>(size.height);
    camera.updateProjection();
    return camera;
}

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return static_cast<bool>(file);
}

void setLook(Application& app, Look look)
{
    app.look = look;
    setMenuItemChecked(app.mainWindow, kCommandLookStudio, look == Look::Studio);
    setMenuItemChecked(app.mainWindow, kCommandLookClassic, look == Look::Classic);
    saveSetting(kSettingLook, lookName(look));
}

}  // namespace

void commandSavePicture(Application& app)
{
    GlWindow* view = pictureView(app);
    if (!view) {
        messageBox(app.mainWindow, "There is no view to make a picture of: open one first.", kPictureCaption,
                   MessageBoxIcon::Warning);
        return;
    }
    const std::optional<PictureSize> size = askPictureSize(app, *view);
    if (!size) {
        return;
    }
    const std::optional<std::string> path = saveFileDialog(app.mainWindow, {{"PNG picture", "*.png"}}, ".png");
    if (!path) {
        return;
    }
    PictureGl gl;
    std::string reason;
    Image picture;
    const EulerCameraFov camera = pictureCamera(*view, *size);
    const bool drawn = pictureGl(app, gl, reason) &&
                       drawPicture(gl, app.sceneView(nullptr), size->width, size->height, camera.projection,
                                   camera.view, picture, reason);
    releasePictureGl(gl);
    if (!drawn) {
        messageBox(app.mainWindow, "The picture could not be drawn: " + reason + ".", kPictureCaption,
                   MessageBoxIcon::Error);
    } else if (!writeBytes(*path, encodePng(picture))) {
        messageBox(app.mainWindow, "\"" + *path + "\" could not be written.", kPictureCaption, MessageBoxIcon::Error);
    }
}

namespace {

// Draws every frame of the clip into the video; false, with the reason,
// when one cannot be drawn or written.
bool writeClip(Application& app, PictureGl& gl, const GlWindow& view, const std::string& path, std::string& reason)
{
    constexpr int kFps = 30;
    const ClientSize client = clientSize(view.windowHandle);
    const PictureSize size{std::max(2, client.width & ~1), std::max(2, client.height & ~1)};
    const float seconds = clipSeconds(app.models);
    const int frames = std::max(1, static_cast<int>(std::lround(seconds * kFps)));
    std::unique_ptr<VideoWriter> video = VideoWriter::open(path, size.width, size.height, kFps, reason);
    if (!video) {
        return false;
    }
    const EulerCameraFov camera = pictureCamera(view, size);
    const SceneView scene = app.sceneView(nullptr);
    Image picture;
    for (int i = 0; i < frames; ++i) {
        poseModels(app.models, static_cast<float>(i) / kFps);
        if (!drawPicture(gl, scene, size.width, size.height, camera.projection, camera.view, picture, reason) ||
            !video->write(picture, reason)) {
            return false;
        }
    }
    return video->finish(reason);
}

}  // namespace

void commandSaveClipVideo(Application& app)
{
    GlWindow* view = pictureView(app);
    if (!view || clipSeconds(app.models) <= 0.0f) {
        messageBox(app.mainWindow,
                   view ? "No model plays a clip: import an animated model first."
                        : "There is no view to make a video of: open one first.",
                   kVideoCaption, MessageBoxIcon::Warning);
        return;
    }
    const std::optional<std::string> path = saveFileDialog(
        app.mainWindow, {{"MP4 video", "*.mp4"}, {"WebM video", "*.webm"}, {"GIF animation", "*.gif"}}, ".mp4");
    if (!path) {
        return;
    }
    // The clips play from their start in the video; afterwards every model
    // stands where playback left it.
    std::vector<float> times;
    for (const Model& model : app.models) {
        times.push_back(model.animator.time);
    }
    PictureGl gl;
    std::string reason;
    const bool written = pictureGl(app, gl, reason) && writeClip(app, gl, *view, *path, reason);
    releasePictureGl(gl);
    for (std::size_t i = 0; i < app.models.size(); ++i) {
        app.models[i].animator.time = times[i];
        updateAnimator(app.models[i], 0.0f);
        updatePose(app.models[i]);
        uploadSkinned(app.models[i]);
    }
    if (!written) {
        messageBox(app.mainWindow, "The video could not be made: " + reason + ".", kVideoCaption,
                   MessageBoxIcon::Error);
    }
}

void commandLookStudio(Application& app)
{
    setLook(app, Look::Studio);
}

void commandLookClassic(Application& app)
{
    setLook(app, Look::Classic);
}

void showLook(Application& app, const std::string& name)
{
    setSubmenuItems(app.mainWindow, kCommandLook,
                    {{"&Studio", kCommandLookStudio, true, "", true}, {"&Classic", kCommandLookClassic, true, "", true}});
    Look look = Look::Classic;
    parseLook(name, look);
    app.look = look;
    setMenuItemChecked(app.mainWindow, kCommandLookStudio, look == Look::Studio);
    setMenuItemChecked(app.mainWindow, kCommandLookClassic, look == Look::Classic);
}

}  // namespace fyrel
