#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "math/cpu_features.h"
#include "render/model_buffers.h"
#include "scene/model.h"
#include "scene/scene_list.h"
#include "support/fake_gl.h"

using namespace fyrel;
using fyrel::test::makeFakeGl;

namespace {

Bone namedBone(const std::string& name)
{
    Bone b;
    b.name = name;
    return b;
}

// Root "" -> A -> (B -> D), C, and a second "D" under the root; two clips
// keyed on A (moved 3 along x) and the first D (moved 5).
Model makeAnimatedModel()
{
    Model m;
    m.vertices.resize(3);
    m.rootBone.addChild(namedBone("A"));
    m.rootBone.addChild(namedBone("D"));
    m.rootBone.children[0].addChild(namedBone("B"));
    m.rootBone.children[0].addChild(namedBone("C"));
    m.rootBone.children[0].children[0].addChild(namedBone("D"));
    for (const char* clipName : {"walk", "run"}) {
        Animation clip;
        clip.name = clipName;
        for (const char* boneName : {"A", "D"}) {
            KeyFrame k;
            k.boneIndex = boneIndexByName(m.rootBone).at(boneName);
            k.boneName = boneName;
            k.time = 1.0f;
            k.translation.x = boneName[0] == 'A' ? 3.0f : 5.0f;
            clip.addKey(k);
        }
        m.animator.animations.push_back(clip);
    }
    m.animator.rate = 1.0f;
    return m;
}

}  // namespace

TEST(Model, BonesAreFoundDepthFirstByExactName)
{
    Model m = makeAnimatedModel();
    Bone& a = m.rootBone.children[0];
    // The D under B is reached before C and before the root's own D.
    EXPECT_EQ(m.rootBone.find("D"), &a.children[0].children[0]);
    EXPECT_EQ(m.rootBone.find("C"), &a.children[1]);
    EXPECT_EQ(m.rootBone.find("d"), nullptr);
    // Keys count bones in the same order; a name stands for its first bone.
    std::vector<Bone*> bones;
    listBones(m.rootBone, bones);
    ASSERT_EQ(bones.size(), 6u);
    const auto byName = boneIndexByName(m.rootBone);
    EXPECT_EQ(bones.at(static_cast<std::size_t>(byName.at("D"))), &a.children[0].children[0]);
    EXPECT_EQ(bones.at(static_cast<std::size_t>(byName.at("C"))), &a.children[1]);
    EXPECT_EQ(bones.back(), &m.rootBone.children[1]);
    EXPECT_EQ(byName.count("d"), 0u);
}

// A copy or a move is the compiler's: everything but the derived state
// (skin form, GPU buffers, sampling state) comes along, and the new model
// plays and poses its own bones, not its source's.
TEST(Model, CopiesAndMovesPlayAndPoseTheirOwnBonesAndDropTheGpuSide)
{
    GlFunctions gl = makeFakeGl();
    Model original = makeAnimatedModel();
    createBuffers(original, &gl);
    updatePose(original);
    ASSERT_EQ(original.skinnedVertices.size(), 3u);
    original.lift = 2.5f;  // the placement goes with the model, into its world transform
    Matrix4 base, world;
    original.worldTransform(base);
    original.lift = 0.0f;
    original.worldTransform(world);
    EXPECT_FLOAT_EQ(base(2, 3), world(2, 3) + 2.5f);
    original.lift = 2.5f;
    // The original has its sampling state (pointers to its bones) when it
    // is copied, and its bones at rest.
    updateAnimator(original, 0.25f);
    ASSERT_EQ(original.rootBone.children[0].translation.x, 3.0f);
    original.rootBone.children[0].translation = Vector3{};
    original.rootBone.children[0].children[0].children[0].translation = Vector3{};
    updatePose(original);

    // The targets of the assignments had buffers and sampling state of their own.
    Model copy(original);
    Model assigned = makeAnimatedModel(), moveAssigned = makeAnimatedModel();
    for (Model* target : {&assigned, &moveAssigned}) {
        createBuffers(*target, &gl);
        updateAnimator(*target, 0.25f);
        updatePose(*target);
    }
    assigned = original;
    Model source(original), moved(std::move(source));
    moveAssigned = Model(original);
    for (Model* m : {&copy, &assigned, &moved, &moveAssigned}) {
        ASSERT_EQ(m->animator.animations.size(), 2u);
        EXPECT_EQ(m->animator.animations[1].tracks.size(), 2u);
        EXPECT_EQ(m->skinnedVertices.size(), 3u);
        EXPECT_EQ(bufferFunctions(*m), nullptr);
        EXPECT_EQ(m->lift, 2.5f);
        updateAnimator(*m, 0.75f);
        updatePose(*m);
        const Bone& a = m->rootBone.children[0];
        EXPECT_EQ(a.translation.x, 3.0f);
        EXPECT_EQ(a.worldMatrix(0, 3), 3.0f);
        EXPECT_EQ(a.children[0].children[0].translation.x, 5.0f);
    }
    EXPECT_NE(bufferFunctions(original), nullptr);
    EXPECT_EQ(original.rootBone.children[0].translation.x, 0.0f);
    EXPECT_EQ(original.rootBone.children[0].worldMatrix(0, 3), 0.0f);

    // A scene's list keeps its models where they are while it grows.
    SceneList<Model> models;
    models.push_back(makeAnimatedModel());
    Model* first = &models.front();
    for (int i = 0; i < 100; ++i) {
        models.push_back(makeAnimatedModel());
    }
    EXPECT_EQ(&models.front(), first);
}

TEST(Model, AddKeyOrdersKeysStablyAndOpensTracksByBone)
{
    Animation clip;
    for (float t : {0.5f, 0.2f, 0.5f}) {
        KeyFrame k;
        k.boneIndex = 0;
        k.time = t;
        k.translation.x = static_cast<float>(clip.tracks.empty() ? 0 : clip.tracks[0].size());
        clip.addKey(k);
    }
    KeyFrame early;
    early.time = 0.1f;
    early.boneIndex = 1;
    clip.addKey(early);
    ASSERT_EQ(clip.tracks.size(), 2u);
    ASSERT_EQ(clip.tracks[0].size(), 3u);
    EXPECT_EQ(clip.tracks[0][0].time, 0.2f);
    EXPECT_EQ(clip.tracks[0][1].translation.x, 0.0f);  // the first 0.5 stays first
    EXPECT_EQ(clip.tracks[0][2].translation.x, 2.0f);
    EXPECT_EQ(clip.length, 0.5f);
    EXPECT_EQ(clip.tracks[1][0].boneIndex, 1);
}

TEST(Model, NormalsAverageTheFacesAtEachVertexOncePerFace)
{
    Model m;
    m.vertices.resize(4);
    m.vertices[1].position = {1, 0, 0};
    m.vertices[2].position = {0, 1, 0};
    m.vertices[3].position = {0, 0, 100};
    m.triangles.push_back(Triangle{{0, 1, 2}, {}});
    m.triangles.push_back(Triangle{{0, 3, 1}, {}});
    m.triangles.push_back(Triangle{{0, 0, 0}, {}});  // degenerate
    m.vertices.push_back(Vertex{});                  // on no face
    m.computeNormals();
    EXPECT_FLOAT_EQ(m.triangles[0].normal.z, -1.0f);
    EXPECT_FLOAT_EQ(m.vertices[2].normal.z, -1.0f);
    // A large and a small face each count once at their shared vertex.
    const float h = 1.0f / std::sqrt(2.0f);
    EXPECT_NEAR(m.vertices[0].normal.y, -h, 1e-6f);
    EXPECT_NEAR(m.vertices[0].normal.z, -h, 1e-6f);
    EXPECT_EQ(m.vertices[4].normal.x, 0.0f);
    EXPECT_EQ(m.triangles[2].normal.x, 0.0f);

    // A unit cube, each face wound to face out, with a face naming a vertex
    // that does not exist among them: many faces are computed side by side.
    Model cube;
    for (int corner = 0; corner < 8; ++corner) {
        cube.vertices.push_back(Vertex{{float(corner & 1), float((corner >> 1) & 1), float((corner >> 2) & 1)}, {}});
    }
    std::vector<Vector3> outward;
    for (int axis = 0; axis < 3; ++axis) {
        for (int side = 0; side < 2; ++side) {
            const int u = (axis + 1) % 3, v = (axis + 2) % 3;
            const auto c = [&](int i, int j) { return std::uint32_t((side << axis) | (i << u) | (j << v)); };
            const Triangle turns[2][2] = {{Triangle{{c(0, 0), c(1, 0), c(1, 1)}, {}}, Triangle{{c(0, 0), c(1, 1), c(0, 1)}, {}}},
                                          {Triangle{{c(0, 0), c(1, 1), c(1, 0)}, {}}, Triangle{{c(0, 0), c(0, 1), c(1, 1)}, {}}}};
            Vector3 out{};
            (&out.x)[axis] = side ? 1.0f : -1.0f;
            for (const Triangle& t : turns[side]) {
                cube.triangles.push_back(t);
                outward.push_back(out);
            }
        }
    }
    cube.triangles.insert(cube.triangles.begin() + 5, Triangle{{0, 1, 99}, {}});
    outward.insert(outward.begin() + 5, Vector3{});
    cube.computeNormals();
    for (std::size_t t = 0; t < cube.triangles.size(); ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(cube.triangles[t].normal.x, outward[t].x);
        EXPECT_EQ(cube.triangles[t].normal.y, outward[t].y);
        EXPECT_EQ(cube.triangles[t].normal.z, outward[t].z);
    }
}

// Faces are computed eight, four and one at a time, by every vector backend
// the processor runs; each must come out as the one-at-a-time formula gives
// it, bit for bit, wherever it falls.
TEST(Model, FaceNormalsComputedSideBySideEqualOneAtATime)
{
    Model m;
    for (int i = 0; i < 40; ++i) {
        const float f = static_cast<float>(i);
        m.vertices.push_back(Vertex{{std::sin(f) * 3.1f, std::cos(1.7f * f) + 0.01f * f, 0.37f * f - 5.0f}, {}});
    }
    for (std::uint32_t t = 0; t < 29; ++t) {
        m.triangles.push_back(Triangle{{(7 * t) % 40, (11 * t + 3) % 40, (13 * t + 5) % 40}, {}});
    }
    m.triangles[27].indices[1] = 40;  // beyond the vertices: a zero normal, the others as before
    const VectorBackend saved = activeVectorBackend();
    for (VectorBackend backend :
         {VectorBackend::Portable, VectorBackend::Sse2, VectorBackend::Avx2, VectorBackend::Neon}) {
        if (!vectorBackendAvailable(backend)) {
            continue;
        }
        SCOPED_TRACE(static_cast<int>(backend));
        useVectorBackend(backend);
        for (Triangle& t : m.triangles) {
            t.normal = Vector3{9.0f, 9.0f, 9.0f};
        }
        m.computeFaceNormals();
        for (std::size_t t = 0; t < m.triangles.size(); ++t) {
            SCOPED_TRACE(t);
            Vector3 expected;
            if (t != 27) {
                const std::uint32_t* c = m.triangles[t].indices;
                Vector3 a, b, n;
                difference(m.vertices[c[0]].position, m.vertices[c[1]].position, a);
                difference(m.vertices[c[2]].position, m.vertices[c[1]].position, b);
                normalize(cross(a, b, n), expected);
            }
            EXPECT_EQ(m.triangles[t].normal.x, expected.x);
            EXPECT_EQ(m.triangles[t].normal.y, expected.y);
            EXPECT_EQ(m.triangles[t].normal.z, expected.z);
        }
    }
    useVectorBackend(saved);
}
