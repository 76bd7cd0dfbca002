#pragma once

#include "ik/ik_controller.h"
#include "math/matrix.h"
#include "paths/path.h"
#include "render/gl_functions.h"
#include "scene/model.h"
#include "scene/scene_list.h"

// The render pass that every view runs once per frame with its own camera:
// meshes, ground, world axes, placement tripods, paths, skeletons and IK
// targets. Requires a current context in which the GL objects of
// gl_resources.h exist.

namespace fyrel {

// What the pass reads; it changes nothing. A model without buffers
// (render/model_buffers.h) is not drawn.
struct SceneView {
    const GlFunctions* glFunctions = nullptr;
    GlUint axesList = 0;
    GlUint groundList = 0;
    GlUint shaderProgram = 0;
    const SceneList<Model>* models = nullptr;
    const SceneList<Path>* paths = nullptr;
    const SceneList<IkController>* ikControllers = nullptr;
};

// Clears colour (to opaque black) and depth of the current surface.
void clearView();

// Draws the scene into the viewport (0, 0, width, height) of the current
// surface, in device pixels. projection and view are the camera's matrices;
// the world is z-up. Clears nothing, presents nothing.
void renderScene(const SceneView& scene, int width, int height, const Matrix4& projection, const Matrix4& view);

// The pieces of the pass, for the views that draw a part of it on its own.
void drawModelMesh(const GlFunctions& gl, const Model& model);
void drawPath(const Path& path);
void drawSkeleton(const Model& model);

// Finishes the GL work queued so far, so that buffers filled in one context
// are complete before another context of the share group reads them.
void flushGl();

}  // namespace fyrel
