// The fast paths of sampling, pose evaluation and staging against the plain
// evaluation (reference_animation.h): results must be identical bit for bit,
// signed zeros included, for every skinning kernel the machine runs.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "animation/skinning.h"
#include "render/model_buffers.h"
#include "support/fake_gl.h"
#include "tests/animation/reference_animation.h"
#include "tests/animation/synthetic_character.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

template <typename T>
bool sameBytes(const std::vector<T>& a, const std::vector<T>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

template <typename T>
bool sameBytes(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// The first vertex whose skinned data differs, or -1.
long firstDifference(const Model& a, const Model& b)
{
    if (a.skinnedVertices.size() != b.skinnedVertices.size()) {
        return 0;
    }
    for (std::size_t i = 0; i < a.skinnedVertices.size(); ++i) {
        if (!sameBytes(a.skinnedVertices[i], b.skinnedVertices[i])) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

void expectSameBones(const Bone& a, const Bone& b)
{
    EXPECT_TRUE(sameBytes(a.worldMatrix, b.worldMatrix)) << a.name;
    EXPECT_TRUE(sameBytes(a.inverseBindMatrix, b.inverseBindMatrix)) << a.name;
    EXPECT_TRUE(sameBytes(a.rotation, b.rotation)) << a.name;
    EXPECT_TRUE(sameBytes(a.translation, b.translation)) << a.name;
    ASSERT_EQ(a.children.size(), b.children.size());
    for (std::size_t i = 0; i < a.children.size(); ++i) {
        expectSameBones(a.children[i], b.children[i]);
    }
}

void expectSamePose(const Model& fast, const Model& reference)
{
    EXPECT_EQ(firstDifference(fast, reference), -1);
    expectSameBones(fast.rootBone, reference.rootBone);
}

// Skinning kernels this machine runs, each made the active one in turn.
std::vector<SkinKernel> kernels()
{
    std::vector<SkinKernel> all;
    for (SkinKernel k : {SkinKernel::Portable, SkinKernel::Sse2, SkinKernel::Avx2}) {
        if (skinKernelAvailable(k)) {
            all.push_back(k);
        }
    }
    return all;
}

const char* name(SkinKernel k)
{
    return k == SkinKernel::Portable ? "portable" : k == SkinKernel::Sse2 ? "sse2" : "avx2";
}

struct KernelScope {
    SkinKernel saved = activeSkinKernel();
    explicit KernelScope(SkinKernel k) { useSkinKernel(k); }
    ~KernelScope() { useSkinKernel(saved); }
};

// Signed zeros and exact cancellations: vertices at the origin and on the
// axes, bones at the identity, so that many products are ±0.
void addZeros(Model& model)
{
    for (std::size_t i = 0; i < model.vertices.size(); i += 5) {
        Vertex& v = model.vertices[i];
        v.position = i % 10 == 0 ? Vector3{0.0f, -0.0f, 0.0f} : Vector3{-1.0f, 0.0f, 0.0f};
        v.normal = Vector3{0.0f, -1.0f, -0.0f};
    }
    if (!model.rootBone.children.empty()) {
        Bone& first = model.rootBone.children.front();
        first.localMatrix = Matrix4{};
        first.inverseLocalMatrix = Matrix4{};
    }
}

void setPose(Model& model, std::uint32_t seed)
{
    randomPose(model, seed);
    if (!model.rootBone.children.empty()) {
        Bone& first = model.rootBone.children.front();
        first.rotation = Quaternion{};
        first.translation = Vector3{};
    }
}

}  // namespace

TEST(ReferenceEquality, RandomSkeletonsAndWeightsSkinIdentically)
{
    const std::size_t counts[] = {1, 2, 3, 7, 64, 1000};
    for (SkinKernel kernel : kernels()) {
        KernelScope scope(kernel);
        std::uint32_t seed = 1;
        for (std::size_t vertices : counts) {
            for (int weights : {1, 3, 6}) {
                CharacterShape shape;
                shape.vertexCount = vertices;
                shape.boneCount = 1 + seed % 40;
                shape.weightsPerVertex = weights;
                shape.randomLayout = true;
                shape.seed = seed++;
                Model source = makeCharacter(shape);
                addZeros(source);
                Model fast(source), reference(source);
                for (std::uint32_t frame = 0; frame < 3; ++frame) {
                    setPose(fast, seed * 10 + frame);
                    setPose(reference, seed * 10 + frame);
                    updatePose(fast);
                    referenceUpdatePose(reference);
                    SCOPED_TRACE(std::string(name(kernel)) + " vertices " + std::to_string(vertices) +
                                 " weights " + std::to_string(weights) + " frame " + std::to_string(frame));
                    expectSamePose(fast, reference);
                }
            }
        }
    }
}

TEST(ReferenceEquality, OrderedCharactersSkinIdenticallyWithOneAndFourWeights)
{
    for (SkinKernel kernel : kernels()) {
        KernelScope scope(kernel);
        for (int weights : {1, 4}) {
            CharacterShape shape;
            shape.vertexCount = 5000;
            shape.weightsPerVertex = weights;
            Model source = makeCharacter(shape);
            Model fast(source), reference(source);
            setPose(fast, 9);
            setPose(reference, 9);
            updatePose(fast);
            referenceUpdatePose(reference);
            SCOPED_TRACE(std::string(name(kernel)) + " weights " + std::to_string(weights));
            expectSamePose(fast, reference);
        }
    }
}

TEST(ReferenceEquality, PlaybackSamplesAndPosesIdenticallyFrameAfterFrame)
{
    CharacterShape shape;
    shape.vertexCount = 300;
    shape.boneCount = 12;
    shape.weightsPerVertex = 3;
    shape.randomLayout = true;
    Model source = makeCharacter(shape);
    addClip(source, 9, 0.25f, 5);
    // A second clip, not looping, with a single-key track and two keys at one time.
    Animation still;
    still.name = "still";
    Bone* bone = source.rootBone.children.front().find(source.rootBone.children.front().name);
    KeyFrame key;
    key.bone = bone;
    key.boneName = bone->name;
    key.time = 0.5f;
    key.translation = {1, 2, 3};
    still.addKey(key);
    Bone* other = &source.rootBone.children.back();
    key.bone = other;
    key.boneName = other->name;
    still.addKey(key);
    key.translation = {4, 5, 6};
    still.addKey(key);
    source.animator.animations.push_back(still);
    source.animator.bind(&source);

    Model fast(source), reference(source);
    fast.animator.rate = reference.animator.rate = 1.0f;
    // Normal playback, big steps, a step back, NaN, a clip switch and a jump.
    const float steps[] = {1.0f / 60, 1.0f / 60, 0.1f, 0.3f, 1.7f, -0.4f, NAN, 1.0f / 30, 2.5f, 0.0f, 1.0f / 60};
    for (int round = 0; round < 3; ++round) {
        for (float dt : steps) {
            updateAnimator(fast.animator, dt);
            referenceAnimatorUpdate(reference.animator, dt);
            ASSERT_TRUE(sameBytes(fast.animator.time, reference.animator.time));
            updatePose(fast);
            referenceUpdatePose(reference);
            expectSamePose(fast, reference);
        }
        const std::int32_t clip = round == 0 ? 1 : 0;
        fast.animator.current = reference.animator.current = clip;
        fast.animator.time = reference.animator.time = 0.1f * static_cast<float>(round);
    }
}

TEST(ReferenceEquality, KeysAddedDuringPlaybackAreFound)
{
    CharacterShape shape;
    shape.vertexCount = 10;
    shape.boneCount = 3;
    Model source = makeCharacter(shape);
    addClip(source, 5, 1.0f, 2);
    Model fast(source), reference(source);
    fast.animator.rate = reference.animator.rate = 1.0f;
    for (int frame = 0; frame < 20; ++frame) {
        if (frame % 4 == 2) {
            // A key between two existing ones, for the first bone.
            for (Model* m : {&fast, &reference}) {
                Animation& clip = m->animator.animations[0];
                KeyFrame key = clip.tracks[0][0];
                key.time = m->animator.time + 0.05f;
                key.translation = {static_cast<float>(frame), 0, 0};
                clip.addKey(key);
            }
        }
        updateAnimator(fast.animator, 0.3f);
        referenceAnimatorUpdate(reference.animator, 0.3f);
        expectSameBones(fast.rootBone, reference.rootBone);
    }
}

TEST(ReferenceEquality, ChangedSkinIsNoticedOnTheNextPose)
{
    CharacterShape shape;
    shape.vertexCount = 200;
    shape.boneCount = 10;
    shape.weightsPerVertex = 2;
    shape.randomLayout = true;
    Model source = makeCharacter(shape);
    Model fast(source), reference(source);
    auto both = [&](const std::function<void(Model&)>& change) {
        change(fast);
        change(reference);
        updatePose(fast);
        referenceUpdatePose(reference);
        expectSamePose(fast, reference);
    };
    both([](Model&) {});
    {
        SCOPED_TRACE("weights of a bone replaced");
        both([](Model& m) {
            Bone& b = m.rootBone.children.front();
            std::vector<VertexWeight> fresh = {{3, 1.0f}, {4, 0.5f}, {3, 0.25f}};
            b.weights = fresh;
            b.weights.shrink_to_fit();
        });
    }
    {
        SCOPED_TRACE("a weight added");
        both([](Model& m) { m.rootBone.children.back().addWeight(7, 2.0f); });
    }
    {
        SCOPED_TRACE("a bone added");
        both([](Model& m) {
            Bone extra;
            extra.name = "extra";
            extra.addWeight(0, 1.0f);
            extra.addWeight(199, 1.0f);
            m.rootBone.children.back().addChild(extra);
        });
    }
    {
        SCOPED_TRACE("vertices added and removed");
        both([](Model& m) { m.vertices.resize(250, m.vertices[5]); });
        both([](Model& m) { m.vertices.resize(150); });
    }
    {
        SCOPED_TRACE("a weight edited in place, announced");
        fast.rootBone.children.front().weights[0].weight = -3.0f;
        reference.rootBone.children.front().weights[0].weight = -3.0f;
        skinChanged(fast);
        updatePose(fast);
        referenceUpdatePose(reference);
        expectSamePose(fast, reference);
    }
    {
        SCOPED_TRACE("every weight removed: bind pose");
        auto clear = [](Model& m) {
            std::function<void(Bone&)> strip = [&](Bone& b) {
                b.weights.clear();
                for (Bone& c : b.children) {
                    strip(c);
                }
            };
            strip(m.rootBone);
        };
        both(clear);
        EXPECT_TRUE(sameBytes(fast.skinnedVertices, fast.vertices));
    }
    {
        SCOPED_TRACE("only out-of-range weights: everything at the origin");
        both([](Model& m) { m.rootBone.children.front().addWeight(100000, 1.0f); });
        for (const Vertex& v : fast.skinnedVertices) {
            EXPECT_TRUE(sameBytes(v, Vertex{}));
        }
    }
    {
        SCOPED_TRACE("the skeleton removed: nothing is skinned");
        both([](Model& m) { m.rootBone.children.clear(); });
    }
}

TEST(ReferenceEquality, StagingHoldsThePoseThatIsUploaded)
{
    for (SkinKernel kernel : kernels()) {
        KernelScope scope(kernel);
        for (std::size_t vertices : {1, 3, 4, 5, 8, 9, 501}) {
            SCOPED_TRACE(std::string(name(kernel)) + " vertices " + std::to_string(vertices));
            CharacterShape shape;
            shape.vertexCount = vertices;
            shape.weightsPerVertex = 4;
            shape.randomLayout = true;
            Model source = makeCharacter(shape);
            addClip(source, 7, 0.5f, 4);
            GlFunctions gl = makeFakeGl();
            Model fast(source), reference(source);
            createBuffers(fast, &gl);
            for (int frame = 0; frame < 3; ++frame) {
                updateAnimator(fast.animator, 0.2f);
                referenceAnimatorUpdate(reference.animator, 0.2f);
                updatePose(fast);
                referenceUpdatePose(reference);
                uploadSkinned(fast);
                std::vector<float> referencePositions, referenceNormals;
                referenceStage(reference, referencePositions, referenceNormals);
                const ModelBuffers& staged = *modelBuffers(fast);
                ASSERT_TRUE(sameBytes(staged.positions, referencePositions));
                ASSERT_TRUE(sameBytes(staged.normals, referenceNormals));
                const auto& positions = fakeGl().data[staged.names[0]];
                const auto& normals = fakeGl().data[staged.names[1]];
                ASSERT_EQ(positions.size(), vertices * 12);
                ASSERT_EQ(normals.size(), vertices * 12);
                EXPECT_EQ(std::memcmp(positions.data(), referencePositions.data(), positions.size()), 0);
                EXPECT_EQ(std::memcmp(normals.data(), referenceNormals.data(), normals.size()), 0);
            }
        }
    }
}

TEST(ReferenceEquality, KeysWithNaNTimesAreSkippedAsByTheScan)
{
    CharacterShape shape;
    shape.vertexCount = 4;
    shape.boneCount = 2;
    Model source = makeCharacter(shape);
    Bone* bone = &source.rootBone.children.front();
    Animation clip;
    clip.loop = true;
    for (float t : {0.0f, NAN, 1.0f, 2.0f, NAN, 3.0f, 2.5f}) {
        KeyFrame key;
        key.time = t;
        key.bone = bone;
        key.boneName = bone->name;
        key.translation = {t, 1.0f, 0.0f};
        eulerToQuat(0.1f, 0.2f, std::isnan(t) ? 2.0f : t, key.rotation);
        clip.addKey(key);
    }
    source.animator.animations.push_back(clip);
    source.animator.bind(&source);
    Model fast(source), reference(source);
    fast.animator.rate = reference.animator.rate = 1.0f;
    for (float dt : {0.3f, 0.3f, 0.5f, 0.9f, 0.05f, 1.4f, 0.6f, 0.6f, 0.6f, 2.2f, 0.1f}) {
        updateAnimator(fast.animator, dt);
        referenceAnimatorUpdate(reference.animator, dt);
        SCOPED_TRACE(reference.animator.time);
        expectSameBones(fast.rootBone, reference.rootBone);
    }
}
