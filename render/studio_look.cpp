#include "render/studio_look.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "animation/bounds.h"
#include "render/gl_resources.h"

namespace fyrel {

namespace {

// The vertex stage is the Classic one's; the fragment stage lights in linear
// light (colours and textures are authored in sRGB: the standard's curve,
// not a plain power) with the three lights and a sky/ground ambient, and
// writes sRGB, so that a lit surface falls off
// as light does instead of going dark too soon.
const char* const kStudioVertex = R"(#version 120
varying vec3 eyePosition;
varying vec3 eyeNormal;
void main()
{
    vec4 p = gl_ModelViewMatrix * gl_Vertex;
    eyePosition = p.xyz / p.w;
    eyeNormal = gl_NormalMatrix * gl_Normal;
    gl_FrontColor = gl_Color;
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_Position = gl_ProjectionMatrix * p;
}
)";

const char* const kStudioFragment = R"(#version 120
varying vec3 eyePosition;
varying vec3 eyeNormal;
uniform sampler2D diffuseMap;
vec3 toLinear(vec3 c)
{
    c = clamp(c, 0.0, 1.0);
    return mix(c / 12.92, pow((c + 0.055) / 1.055, vec3(2.4)), step(vec3(0.04045), c));
}
vec3 toSrgb(vec3 c)
{
    c = clamp(c, 0.0, 1.0);
    return mix(c * 12.92, 1.055 * pow(c, vec3(1.0 / 2.4)) - 0.055, step(vec3(0.0031308), c));
}
void main()
{
    bool orthographic = gl_ProjectionMatrix[3][3] != 0.0;
    vec3 toEye = orthographic ? vec3(0.0, 0.0, 1.0) : normalize(-eyePosition);
    vec3 n = normalize(eyeNormal);
    if (dot(n, toEye) < 0.0) {
        n = -n;
    }
    vec4 texel = texture2D(diffuseMap, gl_TexCoord[0].st);
    vec3 albedo = toLinear(gl_FrontMaterial.diffuse.rgb * texel.rgb);
    vec3 specularColour = toLinear(gl_FrontMaterial.specular.rgb);
    float shininess = max(gl_FrontMaterial.shininess, 4.0);
    vec3 colour = toLinear(gl_FrontMaterial.emission.rgb * texel.rgb);
    colour += albedo * mix(vec3(0.05, 0.045, 0.04), vec3(0.16, 0.17, 0.19), 0.5 + 0.5 * n.y);
    for (int i = 0; i < 3; ++i) {
        vec3 toLight = normalize(gl_LightSource[i].position.xyz);
        float diffuse = max(dot(n, toLight), 0.0);
        colour += albedo * gl_LightSource[i].diffuse.rgb * diffuse;
        if (diffuse > 0.0) {
            vec3 halfway = normalize(toLight + toEye);
            colour += specularColour * gl_LightSource[i].specular.rgb * pow(max(dot(n, halfway), 1.0e-6), shininess);
        }
    }
    gl_FragColor = vec4(toSrgb(colour), gl_FrontMaterial.diffuse.a * texel.a);
}
)";

// Eye-space directions towards each light and their linear-light colours:
// the key warm from above right in front, the fill cool and weak from the
// left, the rim from behind and above, which outlines the silhouette
// against the background.
struct StudioLight {
    GLfloat direction[4];
    GLfloat diffuse[4];
    GLfloat specular[4];
};
const StudioLight kLights[3] = {
    {{0.55f, 0.65f, 0.55f, 0.0f}, {1.45f, 1.38f, 1.25f, 1.0f}, {0.6f, 0.6f, 0.6f, 1.0f}},
    {{-0.75f, 0.15f, 0.45f, 0.0f}, {0.30f, 0.34f, 0.42f, 1.0f}, {0.0f, 0.0f, 0.0f, 1.0f}},
    {{-0.2f, 0.55f, -0.8f, 0.0f}, {0.75f, 0.75f, 0.8f, 1.0f}, {0.4f, 0.4f, 0.4f, 1.0f}},
};

constexpr float kFloatMax = std::numeric_limits<float>::max();

// 1, 2 or 5 times a power of ten, the nearest at or above value.
float niceStep(float value)
{
    const float power = std::pow(10.0f, std::floor(std::log10(value)));
    for (float m : {1.0f, 2.0f, 5.0f}) {
        if (m * power >= value) {
            return m * power;
        }
    }
    return 10.0f * power;
}

// Lines fade out towards the grid's edge: each is drawn in pieces with the
// fade of their distance from the centre.
void gridLine(float x0, float y0, float x1, float y1, float cx, float cy, float half, float strength)
{
    constexpr int kPieces = 16;
    for (int i = 0; i <= kPieces; ++i) {
        const float t = static_cast<float>(i) / kPieces;
        const float x = x0 + (x1 - x0) * t;
        const float y = y0 + (y1 - y0) * t;
        const float d = std::min(std::hypot(x - cx, y - cy) / half, 1.0f);
        glColor4f(0.82f, 0.85f, 0.9f, strength * (1.0f - d * d));
        glVertex3f(x, y, 0.0f);
    }
}

void drawGrid(const Vector3& low, const Vector3& high)
{
    const float cx = 0.5f * (low.x + high.x);
    const float cy = 0.5f * (low.y + high.y);
    const float size = std::max({high.x - low.x, high.y - low.y, high.z - low.z, 1e-3f});
    const float half = 2.0f * size;
    const float step = niceStep(half / 8.0f);
    const int count = static_cast<int>(std::ceil(half / step));
    const float gx = std::round(cx / step) * step;
    const float gy = std::round(cy / step) * step;
    const float extent = count * step;
    for (int i = -count; i <= count; ++i) {
        const float strength = i % 5 == 0 ? 0.42f : 0.22f;
        glBegin(GL_LINE_STRIP);
        gridLine(gx + i * step, gy - extent, gx + i * step, gy + extent, cx, cy, half, strength);
        glEnd();
        glBegin(GL_LINE_STRIP);
        gridLine(gx - extent, gy + i * step, gx + extent, gy + i * step, cx, cy, half, strength);
        glEnd();
    }
}

// A soft dark ellipse under the model's footprint, darkest in the middle and
// gone at its rim: what a diffuse studio light leaves under an object that
// stands on the floor.
void drawContactShadow(const Vector3& low, const Vector3& high)
{
    constexpr int kSegments = 40;
    const float cx = 0.5f * (low.x + high.x);
    const float cy = 0.5f * (low.y + high.y);
    const float height = high.z - low.z;
    // A little wider than the footprint, and never a sliver under a tall,
    // thin model.
    const float rx = 0.7f * std::max(high.x - low.x, 0.3f * height) + 0.03f * height;
    const float ry = 0.7f * std::max(high.y - low.y, 0.3f * height) + 0.03f * height;
    constexpr float z = 0.0f;
    const float rings[3][2] = {{0.0f, 0.62f}, {0.55f, 0.38f}, {1.0f, 0.0f}};  // radius, opacity
    for (int r = 0; r < 2; ++r) {
        glBegin(GL_TRIANGLE_STRIP);
        for (int i = 0; i <= kSegments; ++i) {
            const float a = 6.2831853f * static_cast<float>(i) / kSegments;
            const float c = std::cos(a);
            const float s = std::sin(a);
            for (int k = r; k <= r + 1; ++k) {
                glColor4f(0.0f, 0.0f, 0.0f, rings[k][1]);
                glVertex3f(cx + rx * rings[k][0] * c, cy + ry * rings[k][0] * s, z);
            }
        }
        glEnd();
    }
}

}  // namespace

const char* lookName(Look look)
{
    return look == Look::Studio ? "studio" : "classic";
}

bool parseLook(const std::string& text, Look& out)
{
    if (text == "studio" || text == "classic") {
        out = text == "studio" ? Look::Studio : Look::Classic;
        return true;
    }
    return false;
}

GlUint createStudioProgram(const GlFunctions& gl)
{
    GlUint vertex = 0;
    GlUint fragment = 0;
    GlUint program = 0;
    createShaderProgram(gl, kStudioVertex, kStudioFragment, vertex, fragment, program);
    return program;
}

void drawStudioBackground()
{
    glClear(GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glBegin(GL_QUADS);
    glColor3ub(kStudioBottom[0], kStudioBottom[1], kStudioBottom[2]);
    glVertex2f(-1.0f, -1.0f);
    glVertex2f(1.0f, -1.0f);
    glColor3ub(kStudioTop[0], kStudioTop[1], kStudioTop[2]);
    glVertex2f(1.0f, 1.0f);
    glVertex2f(-1.0f, 1.0f);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

void drawStudioGround(const SceneList<Model>& models)
{
    Vector3 low{kFloatMax, kFloatMax, kFloatMax};
    Vector3 high{-kFloatMax, -kFloatMax, -kFloatMax};
    bool any = false;
    for (const Model& model : models) {
        any = growByDrawnBox(model, low, high) || any;
    }
    if (!any) {
        return;
    }
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    drawGrid(low, high);
    for (const Model& model : models) {
        Vector3 l{kFloatMax, kFloatMax, kFloatMax};
        Vector3 h{-kFloatMax, -kFloatMax, -kFloatMax};
        if (growByDrawnBox(model, l, h)) {
            drawContactShadow(l, h);
        }
    }
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
}

void setStudioLights()
{
    for (int i = 0; i < 3; ++i) {
        const GLenum light = GL_LIGHT0 + i;
        glLightfv(light, GL_POSITION, kLights[i].direction);
        glLightfv(light, GL_DIFFUSE, kLights[i].diffuse);
        glLightfv(light, GL_SPECULAR, kLights[i].specular);
        glEnable(light);
    }
}

}  // namespace fyrel
