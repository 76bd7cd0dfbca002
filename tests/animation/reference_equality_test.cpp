// The fast paths of sampling, pose evaluation and staging against the plain
// evaluation (reference_animation.h): with the bone-by-bone walk, bones must
// be identical bit for bit, signed zeros included, for every vector backend
// the machine runs, and the four-wide backends' flat pose and skinning
// identical to the portable one's. The flattened skeleton forms its sums
// otherwise (fused multiply-adds, the local transform first), and skinning
// with two or more influences blends the matrices before it multiplies, so
// their results must lie within kFlatUlps units in the last place of the
// walk's, measured against the largest magnitude of the matrix column or of
// the mesh (one influence unfused: the same bits); and a matrix or coordinate the
// walk makes not finite (NaN poses) must be not finite there too. Staging
// copies the skinned vertices bit for bit. Sampling gives every bone the
// reference's translation and scale bit for bit and its rotation within
// kSlerpTolerance of the math library's slerp in each component (keys at most
// 106 degrees of turn apart are interpolated by a polynomial, the rest by
// slerp itself); the reference then takes the sampled rotations, so that the
// poses that follow are compared as above.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "animation/animation_cache.h"
#include "animation/pose.h"
#include "animation/sampling.h"
#include "animation/skinning.h"
#include "math/cpu_features.h"
#include "render/model_buffers.h"
#include "support/fake_gl.h"
#include "tests/animation/reference_animation.h"
#include "tests/animation/test_scenes.h"

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

void expectSameBones(const Bone& a, const Bone& b)
{
    EXPECT_TRUE(sameBytes(a.worldMatrix, b.worldMatrix) && sameBytes(a.inverseBindMatrix, b.inverseBindMatrix) &&
                sameBytes(a.rotation, b.rotation) && sameBytes(a.translation, b.translation))
        << a.name;
    ASSERT_EQ(a.children.size(), b.children.size());
    for (std::size_t i = 0; i < a.children.size(); ++i) {
        expectSameBones(a.children[i], b.children[i]);
    }
}

// Bit for bit, except that any two NaNs match: keys at NaN times give NaN
// poses, whose sign bits differ between kernels.
bool sameVertex(const Vertex& a, const Vertex& b)
{
    static_assert(sizeof(Vertex) % sizeof(float) == 0);
    float x[sizeof(Vertex) / sizeof(float)], y[sizeof(Vertex) / sizeof(float)];
    std::memcpy(x, &a, sizeof(Vertex));
    std::memcpy(y, &b, sizeof(Vertex));
    for (std::size_t i = 0; i < sizeof(Vertex) / sizeof(float); ++i) {
        if (!sameBytes(x[i], y[i]) && !(std::isnan(x[i]) && std::isnan(y[i]))) {
            return false;
        }
    }
    return true;
}

// The largest difference seen on this suite is 8.1 units, in the world
// matrix of a bone under fifteen others with non-uniform scales; it grows
// with the depth of the skeleton.
constexpr float kFlatUlps = 16.0f;

// The polynomial is within 2.1e-7 of slerp (animation/sampling.cpp); slerp in
// single precision adds its own rounding.
constexpr float kSlerpTolerance = 1e-6f;

bool nearRotation(const Quaternion& a, const Quaternion& reference)
{
    const float x[4] = {a.w, a.x, a.y, a.z};
    const float y[4] = {reference.w, reference.x, reference.y, reference.z};
    for (int i = 0; i < 4; ++i) {
        if (std::isnan(y[i]) ? !std::isnan(x[i]) : !(std::fabs(x[i] - y[i]) <= kSlerpTolerance)) {
            return false;
        }
    }
    return true;
}

// After both sampled the same clip at the same time: translations and scales
// the same bits, rotations within kSlerpTolerance; then the reference takes
// the fast path's rotations, so that the poses can be compared bit for bit.
void expectSampledAlike(Model& fast, Model& reference)
{
    const std::vector<Bone*> a = preOrder(fast.rootBone);
    const std::vector<Bone*> b = preOrder(reference.rootBone);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_TRUE(sameBytes(a[i]->translation, b[i]->translation) && sameBytes(a[i]->scale, b[i]->scale))
            << a[i]->name;
        EXPECT_TRUE(nearRotation(a[i]->rotation, b[i]->rotation))
            << a[i]->name << ": " << a[i]->rotation.w << " " << a[i]->rotation.x << " " << a[i]->rotation.y << " "
            << a[i]->rotation.z << " against " << b[i]->rotation.w << " " << b[i]->rotation.x << " "
            << b[i]->rotation.y << " " << b[i]->rotation.z;
        b[i]->rotation = a[i]->rotation;
    }
}

// Within kFlatUlps units in the last place of scale, or not finite where the
// reference is not.
bool near(float a, float reference, float scale)
{
    if (!std::isfinite(reference)) {
        return !std::isfinite(a);
    }
    return std::fabs(a - reference) <= kFlatUlps * std::numeric_limits<float>::epsilon() * scale;
}

bool finite(const Matrix4& m)
{
    return std::all_of(m.m, m.m + 16, [](float x) { return std::isfinite(x); });
}

// Each element near the reference's, against the largest magnitude in its
// column; a matrix the walk makes not finite is not finite here either.
bool nearMatrix(const Matrix4& a, const Matrix4& reference)
{
    if (!finite(reference)) {
        return !finite(a);
    }
    for (int c = 0; c < 4; ++c) {
        float scale = 0.0f;
        for (int r = 0; r < 4; ++r) {
            scale = std::max(scale, std::fabs(reference(r, c)));
        }
        for (int r = 0; r < 4; ++r) {
            if (!near(a(r, c), reference(r, c), scale)) {
                return false;
            }
        }
    }
    return true;
}

void expectNear(const Bone& a, const Bone& b)
{
    EXPECT_TRUE(nearMatrix(a.worldMatrix, b.worldMatrix) && nearMatrix(a.inverseBindMatrix, b.inverseBindMatrix))
        << a.name;
    ASSERT_EQ(a.children.size(), b.children.size());
    for (std::size_t i = 0; i < a.children.size(); ++i) {
        expectNear(a.children[i], b.children[i]);
    }
}

// The largest finite magnitude among the x, y, z of a member of the
// vertices, at least 1.
float largest(const std::vector<Vertex>& vertices, Vector3 Vertex::*member)
{
    float scale = 1.0f;
    for (const Vertex& v : vertices) {
        for (float x : {(v.*member).x, (v.*member).y, (v.*member).z}) {
            if (std::isfinite(x)) {
                scale = std::max(scale, std::fabs(x));
            }
        }
    }
    return scale;
}

bool nearVector(const Vector3& a, const Vector3& reference, float scale)
{
    return near(a.x, reference.x, scale) && near(a.y, reference.y, scale) && near(a.z, reference.z, scale);
}

// Poses the fast path with the flattened skeleton, which must notice on its
// own what changed since the last pose, and the reference, and compares them
// within kFlatUlps; then poses the fast path again by the walk and compares
// its bones bit for bit, its vertices within kFlatUlps (bit for bit where
// every vertex has at most one influence and the kernel does not fuse).
void expectNearVertices(const Model& fast, const Model& reference, const char* how)
{
    ASSERT_EQ(fast.skinnedVertices.size(), reference.skinnedVertices.size());
    const float positions = largest(reference.skinnedVertices, &Vertex::position);
    const float normals = largest(reference.skinnedVertices, &Vertex::normal);
    for (std::size_t i = 0; i < fast.skinnedVertices.size(); ++i) {
        const Vertex& a = fast.skinnedVertices[i];
        const Vertex& b = reference.skinnedVertices[i];
        ASSERT_TRUE(nearVector(a.position, b.position, positions) && nearVector(a.normal, b.normal, normals))
            << how << ", vertex " << i;
    }
}

bool singleInfluences(const Model& model)
{
    std::vector<int> count(model.vertices.size(), 0);
    std::vector<const Bone*> bones;
    listBones(model.rootBone, bones);
    for (const Bone* bone : bones) {
        for (const VertexWeight& w : bone->weights) {
            const auto v = static_cast<std::size_t>(w.vertex);
            if (w.vertex >= 0 && v < count.size() && ++count[v] > 1) {
                return false;
            }
        }
    }
    return true;
}

void poseAndCompare(Model& fast, Model& reference)
{
    usePoseEvaluation(PoseEvaluation::Flat);
    updatePose(fast);
    referenceUpdatePose(reference);
    expectNear(fast.rootBone, reference.rootBone);
    expectNearVertices(fast, reference, "flat");

    usePoseEvaluation(PoseEvaluation::Walk);
    updatePose(fast);
    usePoseEvaluation(PoseEvaluation::Flat);
    expectSameBones(fast.rootBone, reference.rootBone);
    if (singleInfluences(fast) && activeVectorBackend() != VectorBackend::Avx2) {
        for (std::size_t i = 0; i < fast.skinnedVertices.size(); ++i) {
            ASSERT_TRUE(sameVertex(fast.skinnedVertices[i], reference.skinnedVertices[i])) << "walk, vertex " << i;
        }
    } else {
        expectNearVertices(fast, reference, "walk");
    }
}

// Each skinning kernel this machine runs, made the active one in turn.
void forEachKernel(const std::function<void(const char*)>& body)
{
    const VectorBackend saved = activeVectorBackend();
    const std::pair<VectorBackend, const char*> all[] = {
        {VectorBackend::Portable, "portable"}, {VectorBackend::Sse2, "sse2"}, {VectorBackend::Avx2, "avx2"},
        {VectorBackend::Neon, "neon"}};
    for (const auto& [kernel, name] : all) {
        if (vectorBackendAvailable(kernel)) {
            useVectorBackend(kernel);
            SCOPED_TRACE(name);
            body(name);
        }
    }
    useVectorBackend(saved);
}

// The four-wide backends pose and skin a copy of model with the portable
// backend's bits, signed zeros included.
void expectFourWideAsPortable(const Model& model)
{
    const VectorBackend backend = activeVectorBackend();
    if (backend == VectorBackend::Avx2) {
        return;  // eight wide and fused: near the reference, as poseAndCompare checks
    }
    Model wide(model), portable(model);
    updatePose(wide);
    useVectorBackend(VectorBackend::Portable);
    updatePose(portable);
    useVectorBackend(backend);
    expectSameBones(wide.rootBone, portable.rootBone);
    EXPECT_TRUE(sameBytes(wide.skinnedVertices, portable.skinnedVertices));
}

// Signed zeros and exact cancellations: vertices at the origin and on the
// axes, the first bone at the identity, so that many products are ±0.
void addZeros(Model& model)
{
    for (std::size_t i = 0; i < model.vertices.size(); i += 5) {
        Vertex& v = model.vertices[i];
        v.position = i % 10 == 0 ? Vector3{0.0f, -0.0f, 0.0f} : Vector3{-1.0f, 0.0f, 0.0f};
        v.normal = Vector3{0.0f, -1.0f, -0.0f};
    }
    Bone& first = model.rootBone.children.front();
    first.localMatrix = first.inverseLocalMatrix = Matrix4{};
}

// Halves the weights of some vertices: blocks of 3, 20 and 1 after runs
// long enough to drop their last weights, and one vertex of every 50.
void scaleWeightsInBlocks(Model& model)
{
    for (Bone* bone : preOrder(model.rootBone)) {
        for (VertexWeight& w : bone->weights) {
            const std::int32_t v = w.vertex % 200;
            if ((v >= 40 && v < 43) || (v >= 60 && v < 80) || v == 150 || w.vertex % 50 == 27) {
                w.weight *= 0.5f;
            }
        }
    }
}

// 2200 more bones under the root, every hundredth weighting a vertex.
void addManyBones(Model& model)
{
    for (std::int32_t i = 0; i < 2200; ++i) {
        Bone bone = namedBone("many" + std::to_string(i));
        if (i % 100 == 99) {
            bone.addWeight(i / 100, 0.75f);
        }
        model.rootBone.children.push_back(std::move(bone));
    }
}

// The active kernel skins into an array that does not start on 16 bytes
// exactly as into the model's own.
void expectSkinnedAnywhere(Model& model)
{
    const std::size_t count = model.vertices.size();
    std::vector<Vertex> shifted(count + 1);
    skinVertices(model.skin.get<SkinCache>(), model.vertices.data(), count, shifted.data() + 1);
    EXPECT_EQ(std::memcmp(shifted.data() + 1, model.skinnedVertices.data(), count * sizeof(Vertex)), 0);
}

void setPose(Model& model, std::uint32_t seed)
{
    randomPose(model, seed);
    model.rootBone.children.front().rotation = Quaternion{};
    model.rootBone.children.front().translation = Vector3{};
}

KeyFrame keyFor(Model& model, const Bone* bone, float time, const Vector3& translation)
{
    std::vector<Bone*> bones;
    listBones(model.rootBone, bones);
    KeyFrame key;
    key.boneIndex = static_cast<std::int32_t>(std::find(bones.begin(), bones.end(), bone) - bones.begin());
    key.boneName = bone->name;
    key.time = time;
    key.translation = translation;
    eulerToQuat(0.1f, 0.2f, std::isnan(time) ? 2.0f : time, key.rotation);
    return key;
}

}  // namespace

TEST(ReferenceEquality, EveryKernelSkinsRandomAndOrderedCharactersIdentically)
{
    forEachKernel([](const char*) {
        std::uint32_t seed = 1;
        std::vector<CharacterShape> shapes;
        for (std::size_t vertices : {1, 2, 3, 7, 64, 1000}) {
            for (int weights : {1, 3, 6}) {
                shapes.push_back({vertices, 1 + seed % 40, weights, true, seed});
                ++seed;
            }
        }
        shapes.push_back({5000, 64, 1, false, 1});
        shapes.push_back({5000, 64, 4, false, 1});
        // Weights that do not add up to 1 in blocks among ones that do (each
        // run keeps or drops its last weights), and more bones than 16-bit
        // palette offsets reach.
        const std::size_t blocksFrom = shapes.size();
        shapes.push_back({4000, 64, 1, false, 1});
        shapes.push_back({4000, 64, 4, false, 1});
        const std::size_t wideFrom = shapes.size();
        shapes.push_back({300, 4, 3, true, 3});
        for (std::size_t row = 0; row < shapes.size(); ++row) {
            const CharacterShape& shape = shapes[row];
            SCOPED_TRACE("vertices " + std::to_string(shape.vertexCount) + " weights " +
                         std::to_string(shape.weightsPerVertex) + " seed " + std::to_string(shape.seed));
            Model source = makeCharacter(shape);
            if (row >= wideFrom) {
                addManyBones(source);
            } else if (row >= blocksFrom) {
                scaleWeightsInBlocks(source);
            } else if (shape.randomLayout) {
                addZeros(source);
            }
            Model fast(source), reference(source);
            for (std::uint32_t frame = 0; frame < 3; ++frame) {
                setPose(fast, shape.seed * 10 + frame);
                setPose(reference, shape.seed * 10 + frame);
                expectFourWideAsPortable(fast);
                poseAndCompare(fast, reference);
            }
            expectSkinnedAnywhere(fast);
        }
    });
}

// Normal playback, big steps, a step back, NaN, clip switches and jumps, over
// a random clip, a clip with a single-key track and two keys at one time, and
// a clip with keys at NaN times (skipped as by the reference's scan); keys
// added during playback are found.
TEST(ReferenceEquality, PlaybackSamplesAndPosesIdenticallyFrameAfterFrame)
{
    Model source = makeCharacter({300, 12, 3, true, 1});
    addClip(source, 9, 0.25f, 5);
    Bone* first = &source.rootBone.children.front();
    Bone* last = &source.rootBone.children.back();
    Animation still;
    still.addKey(keyFor(source, first, 0.5f, {1, 2, 3}));
    still.addKey(keyFor(source, last, 0.5f, {1, 2, 3}));
    still.addKey(keyFor(source, last, 0.5f, {4, 5, 6}));
    source.animator.animations.push_back(still);
    Animation gaps;
    gaps.loop = true;
    for (float t : {0.0f, NAN, 1.0f, 2.0f, NAN, 3.0f, 2.5f}) {
        gaps.addKey(keyFor(source, first, t, {t, 1.0f, 0.0f}));
    }
    source.animator.animations.push_back(gaps);
    // Turns between keys of 0.5 up to 3 radians about z (the polynomial
    // takes up to 2.09, slerp the rest), and the same about a tilted axis.
    Animation turns;
    turns.loop = true;
    float angle = 0.0f;
    for (float step : {0.5f, 2.0f, 2.2f, 3.0f, 1.0f, 2.08f, 2.1f}) {
        KeyFrame key = keyFor(source, first, angle, {angle, 0.0f, 0.0f});
        eulerToQuat(0.0f, 0.0f, angle, key.rotation);
        turns.addKey(key);
        KeyFrame tilted = keyFor(source, last, angle, {0.0f, angle, 0.0f});
        eulerToQuat(0.3f * angle, -0.2f * angle, angle, tilted.rotation);
        turns.addKey(tilted);
        angle += step;
    }
    source.animator.animations.push_back(turns);
    source.animator.current = 0;

    Model fast(source), reference(source);
    fast.animator.rate = reference.animator.rate = 1.0f;
    const float steps[] = {1.0f / 60, 1.0f / 60, 0.1f, 0.3f, 1.7f, -0.4f, NAN, 1.0f / 30, 2.5f, 0.0f, 0.6f, 2.2f};
    const int nextClip[] = {1, 3, 0, 2, 3, 0};  // clip 0 also plays on after a key was added
    for (int round = 0; round < 6; ++round) {
        for (float dt : steps) {
            updateAnimator(fast, dt);
            referenceAnimatorUpdate(reference, dt);
            ASSERT_TRUE(sameBytes(fast.animator.time, reference.animator.time));
            SCOPED_TRACE("round " + std::to_string(round) + " dt " + std::to_string(dt));
            expectSampledAlike(fast, reference);
            poseAndCompare(fast, reference);
        }
        for (Model* m : {&fast, &reference}) {
            Animation& clip = m->animator.animations[0];
            KeyFrame key = clip.tracks[0][0];  // a key between two others
            key.time = m->animator.time + 0.05f;
            key.translation = {static_cast<float>(round), 0, 0};
            clip.addKey(key);
            m->animator.current = nextClip[round];
            m->animator.time = 0.1f * static_cast<float>(round);
        }
    }
}

TEST(ReferenceEquality, ChangedSkinIsNoticedOnTheNextPose)
{
    Model source = makeCharacter({200, 10, 2, true, 1});
    Model fast(source), reference(source);
    const std::pair<const char*, std::function<void(Model&)>> changes[] = {
        {"nothing", [](Model&) {}},
        {"weights of a bone replaced",
         [](Model& m) {
             m.rootBone.children.front().weights = {{3, 1.0f}, {4, 0.5f}, {3, 0.25f}};
             m.rootBone.children.front().weights.shrink_to_fit();
         }},
        {"a weight added", [](Model& m) { m.rootBone.children.back().addWeight(7, 2.0f); }},
        {"a bone added",
         [](Model& m) {
             Bone extra = namedBone("extra");
             extra.addWeight(0, 1.0f);
             extra.addWeight(199, 1.0f);
             m.rootBone.children.back().addChild(extra);
         }},
        {"vertices added", [](Model& m) { m.vertices.resize(250, m.vertices[5]); }},
        {"vertices removed", [](Model& m) { m.vertices.resize(150); }},
        {"a weight edited in place, announced",
         [](Model& m) {
             m.rootBone.children.front().weights[0].weight = -3.0f;
             skinChanged(m);
         }},
        {"a bind transform edited in place, announced",
         [](Model& m) {
             Bone& bone = m.rootBone.children.front();
             translationMatrix(Vector3{0.5f, -1.0f, 2.0f}, bone.localMatrix);
             invert(bone.localMatrix, bone.inverseLocalMatrix);
             skinChanged(m);
         }},
        {"a model of the same shape with another bind pose copied over it",
         [](Model& m) {
             Model other(m);
             translationMatrix(Vector3{-2.0f, 0.5f, 1.0f}, other.rootBone.children.back().localMatrix);
             invert(other.rootBone.children.back().localMatrix, other.rootBone.children.back().inverseLocalMatrix);
             m = other;  // equal sizes: the lists keep their storage
         }},
        {"a bind transform that is not affine",
         [](Model& m) {
             m.rootBone.children.back().localMatrix(3, 0) = 0.25f;
             skinChanged(m);
         }},
        {"every weight removed",
         [](Model& m) {
             for (Bone* b : preOrder(m.rootBone)) {
                 b->weights.clear();
             }
         }},
        {"only an out-of-range weight", [](Model& m) { m.rootBone.children.front().addWeight(100000, 1.0f); }},
        {"the skeleton removed", [](Model& m) { m.rootBone.children.clear(); }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        change(fast);
        change(reference);
        poseAndCompare(fast, reference);
        if (std::string(what) == "every weight removed") {
            EXPECT_TRUE(sameBytes(fast.skinnedVertices, fast.vertices));  // the bind pose
        } else if (std::string(what) == "only an out-of-range weight") {
            for (const Vertex& v : fast.skinnedVertices) {
                ASSERT_TRUE(sameBytes(v, Vertex{}));  // everything at the origin
            }
        }
    }
}

TEST(ReferenceEquality, StagingHoldsThePoseThatIsUploaded)
{
    forEachKernel([](const char*) {
        for (std::size_t vertices : {1, 3, 4, 5, 8, 9, 501}) {
            SCOPED_TRACE("vertices " + std::to_string(vertices));
            Model source = makeCharacter({vertices, 64, 4, true, 1});
            addClip(source, 7, 0.5f, 4);
            GlFunctions gl = makeFakeGl();
            Model fast(source), reference(source);
            createBuffers(fast, &gl);
            for (int frame = 0; frame < 3; ++frame) {
                updateAnimator(fast, 0.2f);
                referenceAnimatorUpdate(reference, 0.2f);
                expectSampledAlike(fast, reference);
                poseAndCompare(fast, reference);
                uploadSkinned(fast);
                std::vector<float> positions, normals;
                referenceStage(fast, positions, normals);
                const ModelBuffers& staged = *modelBuffers(fast);
                ASSERT_TRUE(sameBytes(staged.positions, positions));
                ASSERT_TRUE(sameBytes(staged.normals, normals));
                auto& uploaded = fakeGl().data;
                ASSERT_EQ(uploaded[staged.names[0]].size(), vertices * 12);
                ASSERT_EQ(uploaded[staged.names[1]].size(), vertices * 12);
                EXPECT_EQ(std::memcmp(uploaded[staged.names[0]].data(), positions.data(), vertices * 12), 0);
                EXPECT_EQ(std::memcmp(uploaded[staged.names[1]].data(), normals.data(), vertices * 12), 0);
            }
        }
    });
}
