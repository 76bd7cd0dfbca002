#pragma once

#include <string>

#include "render/gl_functions.h"
#include "scene/model.h"
#include "scene/scene_list.h"

// The two looks of a picture. Classic is the workbench's: black clear, the
// blue ground square, one light that goes with the camera, world axes,
// tripods and skeletons. Studio is the picture people expect from a model
// viewer and what pictures without a window are made with: a soft vertical
// gradient behind, a key, a fill and a rim light with the lighting done in
// linear light and written as sRGB, a grid on the ground sized to the
// models, a soft contact shadow under each model, and none of the
// workbench's overlays (axes, tripods, skeletons). Antialiasing (4×) comes
// from the render target the caller draws into (render/framebuffer.h).

namespace fyrel {

enum class Look { Classic, Studio };

// "classic" or "studio".
const char* lookName(Look look);
// The look of that name (as lookName writes it); false for any other text.
bool parseLook(const std::string& text, Look& out);

// The Studio look's shader program, made in the current context with the
// shared program maker (render/gl_resources.h); 0 when the table lacks
// shader entry points.
GlUint createStudioProgram(const GlFunctions& gl);

// The gradient's colours at the top and the bottom of the picture, 8-bit
// sRGB as written to the picture.
inline constexpr unsigned char kStudioTop[3] = {118, 126, 138};
inline constexpr unsigned char kStudioBottom[3] = {46, 48, 54};

// Fills the viewport with the gradient and clears depth.
void drawStudioBackground();

// The grid and the contact shadows, on the ground (z = 0) of the current
// modelview: the grid centred under the models' box and about four times
// its size, its spacing 1, 2 or 5 times a power of ten; one shadow under
// each model's posed box. Draws nothing for an empty scene.
void drawStudioGround(const SceneList<Model>& models);

// Sets lights 0 to 2 (key, fill, rim) in eye space: call with the
// modelview at the identity.
void setStudioLights();

}  // namespace fyrel
