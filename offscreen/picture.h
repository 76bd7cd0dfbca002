#pragma once

#include <string>
#include <vector>

#include "images/texture_image.h"
#include "render/framebuffer.h"
#include "render/gl_functions.h"
#include "render/scene_render.h"
#include "scene/model.h"
#include "scene/scene_list.h"
#include "ui/camera.h"

// Pictures of the scene drawn into memory instead of a window, with the
// views' render pass: what fyrel-render, fyrel-thumbnail and the program's
// File > Save Picture and Save Clip as Video make. The picture is drawn
// 4× multisampled into a render target of its own and read back, so it
// depends neither on a window's size nor on its surface's format. Needs a
// current compatibility-profile context (OpenGL 3.0 framebuffer objects)
// of whatever kind: the program's, or the EGL one of offscreen/headless_gl.h.

namespace fyrel {

// The directions fyrel-render offers. ThreeQuarter is the views' automatic
// framing; Front looks at the models' front a little from above; Side at
// their right; Top straight down with their front at the bottom.
enum class CameraAngle { ThreeQuarter, Front, Side, Top };

// "three-quarter", "front", "side", "top"; false for anything else.
bool parseCameraAngle(const std::string& text, CameraAngle& out);

// The GL objects a picture is drawn with, in one context. Only the look's
// are made: Classic needs the display lists and the program of the shader
// files, Studio only its own program.
struct PictureGl {
    GlFunctions functions;  // the models' buffers keep a pointer to this table
    FramebufferFunctions framebuffers;
    GlUint axesList = 0;
    GlUint groundList = 0;
    GlUint shaderProgram = 0;
    GlUint studioProgram = 0;
    RenderTarget multisampled;
    RenderTarget resolved;
};

// Fetches the tables through loader and makes the GL objects of the look
// (Classic looks for shader.vert and shader.frag in shaderDirs). False, with
// the reason, when the context offers no framebuffer objects.
bool initPictureGl(PictureGl& gl, GlProcLoader loader, void* context, Look look,
                   const std::vector<std::string>& shaderDirs, std::string& reason);

// The camera that frames the models' posed box as the views' Frame All does,
// turned to angle and then by turn radians about the vertical (a
// turntable's frames), for a picture of width × height. False when no model
// has a vertex to frame (the camera is then left looking at the origin
// from the angle).
bool framePicture(const SceneList<Model>& models, CameraAngle angle, int width, int height, EulerCameraFov& camera,
                  float turn = 0.0f);

// Draws scene (its glFunctions and GL objects are the caller's) at width ×
// height through the camera's matrices into out (RGBA, top row first,
// alpha 255). False, with the reason, when the render target cannot be
// made (a size the driver refuses). The framebuffer bound before is bound
// again afterwards.
bool drawPicture(PictureGl& gl, const SceneView& scene, int width, int height, const Matrix4& projection,
                 const Matrix4& view, Image& out, std::string& reason);

// The scene view of the picture's own GL objects over these models.
SceneView pictureScene(const PictureGl& gl, const SceneList<Model>& models, Look look);

// Lets go of the render targets (the context must be current).
void releasePictureGl(PictureGl& gl);

}  // namespace fyrel
