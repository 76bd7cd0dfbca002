#include <gtest/gtest.h>

#include "animation/pose.h"
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

// Root "" -> A -> (B -> D), C ; two clips keyed on A and D.
Model makeAnimatedModel()
{
    Model m;
    m.vertices.resize(3);
    Bone a = namedBone("A");
    Bone b = namedBone("B");
    b.addChild(namedBone("D"));
    a.addChild(b);
    a.addChild(namedBone("C"));
    m.rootBone.addChild(a);
    for (const char* clipName : {"walk", "run"}) {
        Animation clip;
        clip.name = clipName;
        for (const char* boneName : {"A", "D"}) {
            KeyFrame k;
            k.bone = m.rootBone.find(boneName);
            k.boneName = boneName;
            k.time = 1.0f;
            clip.addKey(k);
        }
        m.animator.animations.push_back(clip);
    }
    m.animator.bind(&m);
    return m;
}

}  // namespace

TEST(Model, DefaultsAreTheDocumentedOnes)
{
    Model m;
    EXPECT_TRUE(m.vertices.empty());
    EXPECT_TRUE(m.triangles.empty());
    EXPECT_TRUE(m.rootBone.name.empty());
    EXPECT_TRUE(m.rootBone.children.empty());
    EXPECT_TRUE(m.animator.animations.empty());
    EXPECT_EQ(m.animator.rate, 0.1f);
    EXPECT_EQ(m.animator.time, 0.0f);
    EXPECT_EQ(m.orientation.w, 1.0f);
    EXPECT_EQ(m.baseTransform.m[5], 1.0f);
    EXPECT_EQ(bufferFunctions(m), nullptr);
    EXPECT_FLOAT_EQ(m.material.diffuse[0], 0.8f);
    EXPECT_FLOAT_EQ(m.material.shininess, 1.0f);
}

TEST(Model, FindIsDepthFirstAndExact)
{
    Model m = makeAnimatedModel();
    Bone& a = m.rootBone.children[0];
    // D (under B) is reached before C.
    EXPECT_EQ(m.rootBone.find("D"), &a.children[0].children[0]);
    EXPECT_EQ(m.rootBone.find("C"), &a.children[1]);
    EXPECT_EQ(m.rootBone.find("d"), nullptr);
    EXPECT_EQ(m.rootBone.find("Nowhere"), nullptr);
}

TEST(Model, CopyRebindsEverythingToTheCopyAndDropsTheGpuSide)
{
    GlFunctions gl = makeFakeGl();
    Model original = makeAnimatedModel();
    createBuffers(original, &gl);
    updatePose(original);
    ASSERT_EQ(original.skinnedVertices.size(), 3u);

    Model copy(original);
    EXPECT_EQ(copy.animator.model, &copy);
    ASSERT_EQ(copy.animator.animations.size(), 2u);
    for (const Animation& clip : copy.animator.animations) {
        EXPECT_EQ(clip.model, &copy);
        for (const auto& track : clip.tracks) {
            for (const KeyFrame& key : track) {
                ASSERT_NE(key.bone, nullptr);
                EXPECT_EQ(key.bone, copy.rootBone.find(key.boneName));
            }
        }
    }
    EXPECT_TRUE(copy.skinnedVertices.empty());
    EXPECT_EQ(bufferFunctions(copy), nullptr);

    Model assigned;
    assigned = original;
    EXPECT_EQ(assigned.animator.animations[1].tracks[1][0].bone, assigned.rootBone.find("D"));
}

TEST(Model, SceneListKeepsAddressesWhileItGrows)
{
    SceneList<Model> models;
    models.push_back(makeAnimatedModel());
    Model* first = &models.front();
    const Bone* d = first->rootBone.find("D");
    for (int i = 0; i < 100; ++i) {
        models.push_back(makeAnimatedModel());
    }
    EXPECT_EQ(&models.front(), first);
    EXPECT_EQ(first->animator.animations[0].tracks[1][0].bone, d);
}

TEST(Model, AddKeyOrdersKeysAndOpensTracksByBone)
{
    Bone a = namedBone("a"), b = namedBone("b");
    Animation clip;
    for (float t : {0.5f, 0.2f, 0.5f}) {
        KeyFrame k;
        k.bone = &a;
        k.time = t;
        k.translation.x = static_cast<float>(clip.tracks.empty() ? 0 : clip.tracks[0].size());
        clip.addKey(k);
    }
    KeyFrame other;
    other.bone = &b;
    other.time = 0.1f;
    clip.addKey(other);
    ASSERT_EQ(clip.tracks.size(), 2u);
    ASSERT_EQ(clip.tracks[0].size(), 3u);
    EXPECT_EQ(clip.tracks[0][0].time, 0.2f);
    EXPECT_EQ(clip.tracks[0][1].translation.x, 0.0f);  // the first 0.5 stays first
    EXPECT_EQ(clip.tracks[0][2].translation.x, 2.0f);
    EXPECT_EQ(clip.length, 0.5f);
    EXPECT_EQ(clip.tracks[1][0].bone, &b);
}

TEST(Model, ComputeNormals)
{
    Model m;
    m.vertices.resize(4);
    m.vertices[1].position = {1, 0, 0};
    m.vertices[2].position = {0, 1, 0};
    m.vertices[3].position = {0, 0, 1};
    m.triangles.push_back(Triangle{{0, 1, 2}, {}});
    m.computeNormals();
    EXPECT_FLOAT_EQ(m.triangles[0].normal.z, -1.0f);
    EXPECT_FLOAT_EQ(m.vertices[1].normal.z, -1.0f);

    // A large and a small face each count once at their shared vertex.
    m.vertices[3].position = {0, 0, 100};
    m.triangles.push_back(Triangle{{0, 3, 1}, {}});
    m.computeNormals();
    const float h = 1.0f / std::sqrt(2.0f);
    EXPECT_NEAR(m.vertices[0].normal.y, -h, 1e-6f);
    EXPECT_NEAR(m.vertices[0].normal.z, -h, 1e-6f);
    // A vertex on no face and a degenerate face stay finite.
    m.vertices.push_back(Vertex{});
    m.triangles.push_back(Triangle{{0, 0, 0}, {}});
    m.computeNormals();
    EXPECT_EQ(m.vertices[4].normal.x, 0.0f);
    EXPECT_EQ(m.triangles[2].normal.x, 0.0f);
}

TEST(Model, BindResolvesSharedNamesToTheFirstBoneInDepthFirstOrder)
{
    Model m;
    Bone deep = namedBone("twin");
    Bone holder = namedBone("holder");
    holder.addChild(deep);
    m.rootBone.addChild(holder);
    m.rootBone.addChild(namedBone("twin"));
    Animation clip;
    KeyFrame key;
    key.boneName = "twin";
    clip.addKey(key);
    key.boneName = "missing";
    clip.addKey(key);
    m.animator.animations.push_back(clip);
    m.animator.bind(&m);
    const auto& tracks = m.animator.animations[0].tracks;
    EXPECT_EQ(tracks[0][0].bone, &m.rootBone.children[0].children[0]);
    EXPECT_EQ(tracks[0][1].bone, nullptr);
}
