#include "render/scene_render.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "math/quaternion.h"
#include "render/model_buffers.h"
#include "render/textures.h"

namespace fyrel {

namespace {

// Light 0 goes with the camera: a directional light in eye space, from a
// little above and to the right of the viewer, so that whatever a view looks
// at from whichever side is lit, at any size of model (a light that stood at
// a place in the world lit characters from behind once the views looked at
// their fronts, and a positional one lights a 2 cm model and a 50 m one
// differently).
const GLfloat kLightDiffuse[] = {0.8f, 0.8f, 0.8f, 1.0f};
const GLfloat kLightSpecular[] = {0.5f, 0.5f, 0.5f, 1.0f};
const GLfloat kLightPosition[] = {0.3f, 0.5f, 1.0f, 0.0f};
const GLfloat kLightModelAmbient[] = {0.2f, 0.2f, 0.2f, 1.0f};

// The z-up world to GL's y-up eye space: (x, y, z) -> (x, z, -y), in the
// column order glLoadMatrixf reads.
const GLfloat kAxisSwap[16] = {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1};

constexpr float kWorldAxisLength = 1000.0f;

void loadMatrix(const Matrix4& m)
{
    GlMatrix g;
    glLoadMatrixf(toGlMatrix(m, g).m);
}

void multMatrix(const Matrix4& m)
{
    GlMatrix g;
    glMultMatrixf(toGlMatrix(m, g).m);
}

// Where the model stands: its position and orientation, the frame of its
// axes tripod.
void applyStand(const Model& model)
{
    glTranslatef(model.position.x, model.position.y, model.position.z);
    Matrix4 rotation;
    multMatrix(quatToMatrix(model.orientation, rotation));
}

// Its mesh and skeleton: the whole world transform, lift included.
void applyPlacement(const Model& model)
{
    Matrix4 world;
    multMatrix(model.worldTransform(world));
}

void setLight()
{
    glLightfv(GL_LIGHT0, GL_DIFFUSE, kLightDiffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, kLightSpecular);
    glLightfv(GL_LIGHT0, GL_POSITION, kLightPosition);
    glEnable(GL_LIGHT0);
    glDisable(GL_LIGHT1);  // the Studio look's fill and rim
    glDisable(GL_LIGHT2);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, kLightModelAmbient);
}

void useProgram(const GlFunctions& gl, GlUint program)
{
    if (gl.useProgram) {
        gl.useProgram(program);
    }
}

void drawWorldAxes()
{
    glBegin(GL_LINES);
    glColor3f(1.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(kWorldAxisLength, 0.0f, 0.0f);
    glColor3f(0.0f, 1.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, kWorldAxisLength, 0.0f);
    glColor3f(0.0f, 0.0f, 1.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, kWorldAxisLength);
    glEnd();
}

// How much the matrix stretches its first axis: the axes list is drawn in
// the bone's frame, which carries the model's scale (an .X model's 1/100).
float columnLength(const Matrix4& m)
{
    return std::sqrt(m(0, 0) * m(0, 0) + m(1, 0) * m(1, 0) + m(2, 0) * m(2, 0));
}

Vector3 jointPosition(const Bone& bone)
{
    Vector4 p;
    transform(bone.worldMatrix, Vector4{0.0f, 0.0f, 0.0f, 1.0f}, p);
    return {p.x, p.y, p.z};
}

// A skeleton's lines and joints, gathered so that a model's skeleton is two
// draw calls instead of several per bone (each call costs the software
// rasterizer more than the few pixels it draws). The arrays grow to the
// largest skeleton drawn and are reused, so a frame allocates nothing.
struct ColouredVertex {
    Vector3 position;
    Vector3 colour;
};

struct SkeletonBatch {
    std::vector<Vector3> joints;
    std::vector<ColouredVertex> lines;
};

SkeletonBatch& skeletonBatch()
{
    static SkeletonBatch batch;
    return batch;
}

constexpr Vector3 kBoneColour{0.5f, 0.5f, 1.0f};
constexpr Vector3 kStudioBoneColour{0.92f, 0.92f, 0.88f};
constexpr Vector3 kStudioJointColour{0.95f, 0.62f, 0.25f};
constexpr Vector3 kAxisColours[3] = {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}};

// A joint's axes are drawn a quarter as long as its longest bone (a leaf's
// as its parent's bone), so that they show the joint's turn at any model
// size instead of a unit-long tripod hiding a small character. A joint's
// axes follow its children's lines, and so are drawn over them.
void collectBone(const Bone& bone, float parentBone, SkeletonBatch& batch, bool axes)
{
    const Vector3 p = jointPosition(bone);
    batch.joints.push_back(p);
    // The bones to the children first: their lengths size this joint's axes.
    float longest = 0.0f;
    for (const Bone& child : bone.children) {
        const Vector3 q = jointPosition(child);
        batch.lines.push_back({p, kBoneColour});
        batch.lines.push_back({q, kBoneColour});
        Vector3 d;
        longest = std::max(longest, length(difference(q, p, d)));
    }
    const float own = longest > 0.0f ? longest : parentBone;
    for (const Bone& child : bone.children) {
        collectBone(child, own, batch, axes);
    }
    if (!axes || !(own > 0.0f) || !std::isfinite(own)) {
        return;  // a lone joint, or one that is not a number: no length to draw at
    }
    // The bone's frame carries the model's scale (an .X model's 1/100): the
    // axes' length is measured in it.
    const float scale = 0.25f * own / std::max(columnLength(bone.worldMatrix), 1e-20f);
    const Vector4 ends[3] = {{scale, 0.0f, 0.0f, 1.0f}, {0.0f, scale, 0.0f, 1.0f}, {0.0f, 0.0f, scale, 1.0f}};
    for (int axis = 0; axis < 3; ++axis) {
        Vector4 q;
        transform(bone.worldMatrix, ends[axis], q);
        batch.lines.push_back({p, kAxisColours[axis]});
        batch.lines.push_back({{q.x, q.y, q.z}, kAxisColours[axis]});
    }
}

void drawIkTargets(const SceneList<IkController>& controllers)
{
    glColor3f(1.0f, 0.0f, 0.0f);
    glBegin(GL_POINTS);
    for (const IkController& controller : controllers) {
        glVertex3f(controller.target.x, controller.target.y, controller.target.z);
    }
    glEnd();
}

}  // namespace

void clearView()
{
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

namespace {

void setMaterial(const Material& m)
{
    glMaterialfv(GL_FRONT, GL_AMBIENT, m.ambient);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, m.diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, m.specular);
    glMaterialfv(GL_FRONT, GL_EMISSION, m.emissive);
    glMaterialf(GL_FRONT, GL_SHININESS, std::clamp(m.shininess, 0.0f, 128.0f));
}

// The model's opaque or its transparent material ranges.
void drawRanges(const GlFunctions& gl, const Model& model, bool transparent)
{
    // Without buffers (not made yet, or an incomplete table) there is nothing
    // to draw from.
    const ModelBuffers* buffers = modelBuffers(model);
    if (!buffers || model.triangles.size() > static_cast<std::size_t>(INT_MAX / 3)) {
        return;
    }
    const bool any = std::any_of(buffers->ranges.begin(), buffers->ranges.end(),
                                 [&](const MaterialRange& r) { return r.transparent == transparent; });
    if (!any) {
        return;
    }
    glPushMatrix();
    applyPlacement(model);
    gl.bindBuffer(kGlArrayBuffer, buffers->names[1]);
    glNormalPointer(GL_FLOAT, 0, nullptr);
    gl.bindBuffer(kGlArrayBuffer, buffers->names[0]);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    if (buffers->texCoordBuffer != 0) {
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        gl.bindBuffer(kGlArrayBuffer, buffers->texCoordBuffer);
        glTexCoordPointer(2, GL_FLOAT, 0, nullptr);
    }
    gl.bindBuffer(kGlElementArrayBuffer, buffers->names[2]);
    for (const MaterialRange& range : buffers->ranges) {
        if (range.transparent != transparent) {
            continue;
        }
        const Material& material =
            range.material < model.materials.size() ? model.materials[range.material] : model.material;
        setMaterial(material);
        glBindTexture(GL_TEXTURE_2D, range.texture ? range.texture->name : whiteTexture());
        const bool cutOut = material.alphaCutoff > 0;  // NaN: not a cut-out
        if (cutOut) {
            glEnable(GL_ALPHA_TEST);
            glAlphaFunc(GL_GEQUAL, material.alphaCutoff);
        }
        glDrawElements(GL_TRIANGLES, range.count, GL_UNSIGNED_INT,
                       reinterpret_cast<const void*>(static_cast<std::uintptr_t>(range.first) * 4));
        if (cutOut) {
            glDisable(GL_ALPHA_TEST);
        }
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glPopMatrix();
}

// Transparent triangles after every opaque one, blended over them without
// hiding what lies behind.
void drawMeshes(const GlFunctions& gl, const SceneList<Model>& models)
{
    glEnable(GL_TEXTURE_2D);
    for (const Model& model : models) {
        drawRanges(gl, model, false);
    }
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDepthMask(GL_FALSE);
    for (const Model& model : models) {
        drawRanges(gl, model, true);
    }
    glDepthMask(GL_TRUE);
    glDisable(GL_BLEND);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
}

// The models' meshes with the program bound and lighting on: the vertex and
// normal arrays enabled around them, normals renormalised (models are scaled).
void drawLitMeshes(const GlFunctions& gl, const SceneList<Model>* models)
{
    if (!models) {
        return;
    }
    glEnable(GL_NORMALIZE);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    drawMeshes(gl, *models);
    glDisable(GL_NORMALIZE);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
}

}  // namespace

void drawModelMesh(const GlFunctions& gl, const Model& model)
{
    drawRanges(gl, model, false);
    drawRanges(gl, model, true);
}

void drawPath(const Path& path)
{
    glColor3f(0.2f, 0.2f, 0.8f);
    glBegin(GL_POINTS);
    for (const Vector3& p : path.bezierPoints) {
        glVertex3f(p.x, p.y, p.z);
    }
    glEnd();

    glBegin(GL_LINES);
    for (std::size_t i = 0; i + 1 < path.table.size(); ++i) {
        const ArcLengthEntry& row = path.table[i];
        const ArcLengthEntry& next = path.table[i + 1];
        glColor3f(0.2f, 0.2f, 0.8f);
        glVertex3f(row.position.x, row.position.y, row.position.z);
        glVertex3f(next.position.x, next.position.y, next.position.z);
        glColor3f(1.0f, 1.0f, 0.0f);
        glVertex3f(row.position.x, row.position.y, row.position.z);
        glVertex3f(row.position.x + row.tangent.x, row.position.y + row.tangent.y, row.position.z + row.tangent.z);
    }
    glEnd();
}

void drawSkeleton(const Model& model, Look look)
{
    const bool studio = look == Look::Studio;
    SkeletonBatch& batch = skeletonBatch();
    batch.joints.clear();
    batch.lines.clear();
    collectBone(model.rootBone, 0.0f, batch, !studio);
    if (studio) {
        for (ColouredVertex& v : batch.lines) {
            v.colour = kStudioBoneColour;
        }
    }

    glPushMatrix();
    applyPlacement(model);
    glLineWidth(studio ? 3.0f : 1.0f);
    glPointSize(studio ? 7.0f : 5.0f);
    glEnableClientState(GL_VERTEX_ARRAY);
    const Vector3& joint = studio ? kStudioJointColour : kBoneColour;
    glColor3f(joint.x, joint.y, joint.z);
    glVertexPointer(3, GL_FLOAT, sizeof(Vector3), batch.joints.data());
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(batch.joints.size()));
    if (!batch.lines.empty()) {
        glEnableClientState(GL_COLOR_ARRAY);
        glVertexPointer(3, GL_FLOAT, sizeof(ColouredVertex), &batch.lines[0].position);
        glColorPointer(3, GL_FLOAT, sizeof(ColouredVertex), &batch.lines[0].colour);
        glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(batch.lines.size()));
        glDisableClientState(GL_COLOR_ARRAY);
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    glLineWidth(1.0f);
    glPointSize(5.0f);
    glPopMatrix();
}

namespace {

// The ground on a cleared surface, or the picture of both restored when it
// was kept with the same viewport, camera and light. Drawn before the meshes,
// so that what is transparent shows the ground behind it.
void drawGround(const SceneView& scene, int width, int height, const Matrix4& projection, const Matrix4& view)
{
    std::array<float, 38> drawnWith{};
    drawnWith[0] = static_cast<float>(width);
    drawnWith[1] = static_cast<float>(height);
    std::copy(std::begin(projection.m), std::end(projection.m), drawnWith.begin() + 2);
    std::copy(std::begin(view.m), std::end(view.m), drawnWith.begin() + 18);
    glGetLightfv(GL_LIGHT0, GL_POSITION, drawnWith.data() + 34);
    GroundBackdrop* backdrop = scene.backdrop;
    if (backdrop && backdrop->kept && backdrop->keptWith == drawnWith && backdrop->restore()) {
        return;
    }
    clearView();
    // The ground is drawn by the same shader as the meshes, which multiplies
    // by a texel.
    glBindTexture(GL_TEXTURE_2D, whiteTexture());
    glCallList(scene.groundList);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (backdrop) {
        backdrop->kept = backdrop->keep();
        backdrop->keptWith = drawnWith;
    }
}

}  // namespace

namespace {

// Meshes, paths and IK targets over the Studio background and ground; the
// workbench's overlays stay out of the picture.
void renderStudio(const SceneView& scene, int width, int height, const Matrix4& projection, const Matrix4& view)
{
    const GlFunctions& gl = *scene.glFunctions;
    glViewport(0, 0, width, height);
    drawStudioBackground();
    glMatrixMode(GL_PROJECTION);
    loadMatrix(projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    setStudioLights();
    glLoadMatrixf(kAxisSwap);
    multMatrix(view);
    if (scene.models) {
        drawStudioGround(*scene.models);
    }
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glShadeModel(GL_SMOOTH);
    glFrontFace(GL_CW);
    useProgram(gl, scene.studioProgram);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    drawLitMeshes(gl, scene.models);
    useProgram(gl, 0);
    glDisable(GL_LIGHTING);
    glPointSize(5.0f);
    if (scene.paths) {
        for (const Path& path : *scene.paths) {
            drawPath(path);
        }
    }
    if (scene.models) {
        // A model with nothing to draw but its bones (a motion capture)
        // would leave an empty picture: its skeleton is its picture.
        if (gl.bindBuffer) {
            gl.bindBuffer(kGlArrayBuffer, 0);
        }
        for (const Model& model : *scene.models) {
            if (model.vertices.empty()) {
                drawSkeleton(model, Look::Studio);
            }
        }
    }
    glDisable(GL_DEPTH_TEST);
    if (scene.ikControllers) {
        drawIkTargets(*scene.ikControllers);
    }
    glFlush();
}

}  // namespace

void renderScene(const SceneView& scene, int width, int height, const Matrix4& projection, const Matrix4& view)
{
    if (scene.look == Look::Studio) {
        RenderTarget* target = scene.backdrop ? &scene.backdrop->studioTarget : nullptr;
        const GlUint surface = scene.framebuffers && target ? currentDrawFramebuffer() : 0;
        const bool multisampled =
            scene.framebuffers && target && ensureRenderTarget(*scene.framebuffers, *target, width, height, 4);
        if (multisampled) {
            bindRenderTarget(*scene.framebuffers, *target);
        }
        renderStudio(scene, width, height, projection, view);
        if (multisampled) {
            resolveRenderTarget(*scene.framebuffers, *target, surface);
        }
        return;
    }
    const GlFunctions& gl = *scene.glFunctions;
    glViewport(0, 0, width, height);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glShadeModel(GL_SMOOTH);

    glMatrixMode(GL_PROJECTION);
    loadMatrix(projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    setLight();  // in eye space
    glLoadMatrixf(kAxisSwap);
    multMatrix(view);

    glFrontFace(GL_CW);
    useProgram(gl, scene.shaderProgram);
    drawGround(scene, width, height, projection, view);
    drawLitMeshes(gl, scene.models);
    useProgram(gl, 0);
    glDisable(GL_LIGHTING);

    drawWorldAxes();
    glPointSize(5.0f);

    if (scene.models) {
        for (const Model& model : *scene.models) {
            glPushMatrix();
            applyStand(model);
            glCallList(scene.axesList);
            glPopMatrix();
        }
    }
    if (scene.paths) {
        for (const Path& path : *scene.paths) {
            drawPath(path);
        }
    }
    glDisable(GL_DEPTH_TEST);
    if (scene.models) {
        // The skeletons' arrays are the program's memory, not a buffer's.
        if (gl.bindBuffer) {
            gl.bindBuffer(kGlArrayBuffer, 0);
        }
        for (const Model& model : *scene.models) {
            drawSkeleton(model);
        }
    }
    if (scene.ikControllers) {
        drawIkTargets(*scene.ikControllers);
    }
    glFlush();
}

void flushGl()
{
    glFlush();
}

}  // namespace fyrel
