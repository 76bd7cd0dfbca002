#include "offscreen/picture.h"

#include <GL/gl.h>

#include <algorithm>
#include <limits>

#include "animation/bounds.h"
#include "render/gl_resources.h"

namespace fyrel {

namespace {

constexpr int kSamples = 4;

struct AngleName {
    const char* name;
    CameraAngle angle;
    float pitch;
    float yaw;
};

// The front looks towards −Y (the models face +Y), the side towards −X.
constexpr AngleName kAngles[] = {
    {"three-quarter", CameraAngle::ThreeQuarter, kFrontThreeQuarterPitch, kFrontThreeQuarterYaw},
    {"front", CameraAngle::Front, -0.12f, 3.14159265f},
    {"side", CameraAngle::Side, -0.12f, 1.5707963f},
    {"top", CameraAngle::Top, -1.5707963f, 3.14159265f},
};

}  // namespace

bool parseCameraAngle(const std::string& text, CameraAngle& out)
{
    for (const AngleName& entry : kAngles) {
        if (text == entry.name) {
            out = entry.angle;
            return true;
        }
    }
    return false;
}

bool initPictureGl(PictureGl& gl, GlProcLoader loader, void* context, Look look,
                   const std::vector<std::string>& shaderDirs, std::string& reason)
{
    loadGlFunctions(gl.functions, loader, context);
    if (!loadFramebufferFunctions(gl.framebuffers, loader, context)) {
        reason = "the OpenGL driver offers no framebuffer objects (OpenGL 3.0)";
        return false;
    }
    if (look == Look::Studio) {
        gl.studioProgram = createStudioProgram(gl.functions);
        return true;
    }
    genDisplayLists(gl.axesList, gl.groundList);
    compileAxesList(gl.axesList);
    compileGroundList(gl.groundList);
    GlUint vertex = 0;
    GlUint fragment = 0;
    createShaderProgram(gl.functions, loadShaderSource("shader.vert", shaderDirs),
                        loadShaderSource("shader.frag", shaderDirs), vertex, fragment, gl.shaderProgram);
    return true;
}

bool framePicture(const SceneList<Model>& models, CameraAngle angle, int width, int height, EulerCameraFov& camera,
                  float turn)
{
    camera = EulerCameraFov(static_cast<float>(width) / static_cast<float>(height), 1.0471976f, 1.0f, 1000.0f);
    for (const AngleName& entry : kAngles) {
        if (entry.angle == angle) {
            camera.angles = Vector3{entry.pitch, 0.0f, entry.yaw + turn};
        }
    }
    camera.position = Vector3{0.0f, 10.0f, 0.0f};
    camera.updateView();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    Vector3 low{kInf, kInf, kInf};
    Vector3 high{-kInf, -kInf, -kInf};
    bool any = false;
    for (const Model& model : models) {
        any = growByDrawnBox(model, low, high) || any;
    }
    if (any) {
        frameBoxAlongView(camera, low, high);
    }
    return any;
}

SceneView pictureScene(const PictureGl& gl, const SceneList<Model>& models, Look look)
{
    SceneView scene;
    scene.glFunctions = &gl.functions;
    scene.axesList = gl.axesList;
    scene.groundList = gl.groundList;
    scene.shaderProgram = gl.shaderProgram;
    scene.studioProgram = gl.studioProgram;
    scene.models = &models;
    scene.look = look;
    return scene;
}

bool drawPicture(PictureGl& gl, const SceneView& scene, int width, int height, const Matrix4& projection,
                 const Matrix4& view, Image& out, std::string& reason)
{
    const GlUint previous = currentDrawFramebuffer();
    if (!ensureRenderTarget(gl.framebuffers, gl.multisampled, width, height, kSamples) ||
        !ensureRenderTarget(gl.framebuffers, gl.resolved, width, height, 0)) {
        reason = "a picture of " + std::to_string(width) + "x" + std::to_string(height) +
                 " pixels is more than the OpenGL driver can draw";
        gl.framebuffers.bindFramebuffer(GL_FRAMEBUFFER, previous);
        return false;
    }
    bindRenderTarget(gl.framebuffers, gl.multisampled);
    renderScene(scene, width, height, projection, view);
    resolveRenderTarget(gl.framebuffers, gl.multisampled, gl.resolved.framebuffer);
    out.width = width;
    out.height = height;
    out.format = ImageFormat::Rgba8;
    out.data.resize(static_cast<std::size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, out.data.data());
    gl.framebuffers.bindFramebuffer(GL_FRAMEBUFFER, previous);
    // GL's rows run bottom first, an image's top first.
    const std::size_t row = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height / 2; ++y) {
        std::uint8_t* a = out.data.data() + row * y;
        std::swap_ranges(a, a + row, out.data.data() + row * (height - 1 - y));
    }
    for (std::size_t i = 3; i < out.data.size(); i += 4) {
        out.data[i] = 255;
    }
    return true;
}

void releasePictureGl(PictureGl& gl)
{
    if (gl.framebuffers.deleteFramebuffers) {
        releaseRenderTarget(gl.framebuffers, gl.multisampled);
        releaseRenderTarget(gl.framebuffers, gl.resolved);
    }
}

}  // namespace fyrel
