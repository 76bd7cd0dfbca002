#pragma once

#include <array>

#include "ik/ik_controller.h"
#include "math/matrix.h"
#include "paths/path.h"
#include "render/framebuffer.h"
#include "render/gl_functions.h"
#include "render/studio_look.h"
#include "scene/model.h"
#include "scene/scene_list.h"

// The render pass that every view runs once per frame with its own camera:
// meshes, ground, world axes, placement tripods, paths, skeletons and IK
// targets. Requires a current context in which the GL objects of
// gl_resources.h exist.

namespace fyrel {

// A view's picture of the ground (colour and depth), kept between frames by
// whoever owns the view's surface: under a software rasterizer the ground
// costs as much as all the rest of the scene, yet it changes only with the
// viewport, the camera and the light. The pass draws the ground and keeps
// it, or restores it when it was kept with the same of these.
class GroundBackdrop {
public:
    // Copies the kept picture over the current surface; false when none.
    virtual bool restore() = 0;
    // Keeps the current surface's picture; false when it could not.
    virtual bool keep() = 0;

    // What the kept picture was drawn with, when kept: viewport width and
    // height, projection, view and the light's eye-space position.
    std::array<float, 38> keptWith{};
    bool kept = false;
    // The Studio look's 4× multisampled picture of the view, kept with it
    // and resolved onto its surface each frame. Its framebuffer belongs to
    // the view's context: whoever owns the surface releases it there.
    RenderTarget studioTarget;

protected:
    ~GroundBackdrop() = default;
};

// What the pass reads; it changes nothing but the backdrop. A model without
// buffers (render/model_buffers.h) is not drawn.
struct SceneView {
    const GlFunctions* glFunctions = nullptr;
    GlUint axesList = 0;
    GlUint groundList = 0;
    GlUint shaderProgram = 0;
    const SceneList<Model>* models = nullptr;
    const SceneList<Path>* paths = nullptr;
    const SceneList<IkController>* ikControllers = nullptr;
    GroundBackdrop* backdrop = nullptr;  // none: the ground is drawn every time
    Look look = Look::Classic;
    GlUint studioProgram = 0;  // the Studio look's (createStudioProgram)
    // With both, the Studio look draws 4× multisampled into the backdrop's
    // studioTarget and resolves it onto the surface bound before.
    const FramebufferFunctions* framebuffers = nullptr;
};

// Clears colour (to opaque black) and depth of the current surface.
void clearView();

// Clears the current surface and draws the scene into the viewport (0, 0,
// width, height), in device pixels, in the scene's look (the Studio look
// keeps no backdrop). projection and view are the camera's
// matrices; the world is z-up. Presents nothing.
void renderScene(const SceneView& scene, int width, int height, const Matrix4& projection, const Matrix4& view);

// The pieces of the pass, for the views that draw a part of it on its own.
void drawModelMesh(const GlFunctions& gl, const Model& model);
void drawPath(const Path& path);
// Classic: bones, joints and each joint's axes in the workbench's colours.
// Studio: bones and joints only, thicker and light, for a model that has
// nothing else to show (a motion capture without a mesh).
void drawSkeleton(const Model& model, Look look = Look::Classic);

// Finishes the GL work queued so far, so that buffers filled in one context
// are complete before another context of the share group reads them.
void flushGl();

}  // namespace fyrel
