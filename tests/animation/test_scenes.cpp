#include "tests/animation/test_scenes.h"

#include <algorithm>
#include <functional>

#include "animation/pose.h"

namespace fyrel::test {

namespace {

using Rng = std::mt19937;

float uniform(Rng& rng, float lo, float hi)
{
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

Quaternion randomRotation(Rng& rng)
{
    Quaternion q;
    eulerToQuat(uniform(rng, -3.14159f, 3.14159f), uniform(rng, -1.5f, 1.5f), uniform(rng, -3.14159f, 3.14159f), q);
    return q;
}

// A bone whose bind frame is offset by about `unit` along (mostly) +y and
// turned a little.
Bone bindBone(const std::string& name, float unit, Rng& rng)
{
    Bone b;
    b.name = name;
    Vector3 dir;
    normalize(Vector3{uniform(rng, -0.5f, 0.5f), 1.0f, uniform(rng, -0.5f, 0.5f)}, dir);
    const float len = uniform(rng, 0.5f, 1.5f) * unit;
    Matrix4 t, r;
    translationMatrix(Vector3{dir.x * len, dir.y * len, dir.z * len}, t);
    eulerToMatrix(uniform(rng, -0.6f, 0.6f), uniform(rng, -0.6f, 0.6f), uniform(rng, -0.6f, 0.6f), r);
    mul(t, r, b.localMatrix);
    invert(b.localMatrix, b.inverseLocalMatrix);
    return b;
}

void visit(Bone& bone, const std::function<void(Bone&)>& f)
{
    f(bone);
    for (Bone& child : bone.children) {
        visit(child, f);
    }
}

// Parent of every bone (-1: hangs from the root bone); a child always has a
// larger index. Ordered: a spine of eight with limbs of up to eight bones.
std::vector<int> treeShape(Rng& rng, std::size_t boneCount, bool random)
{
    std::vector<int> parent(boneCount, -1);
    for (std::size_t i = 1; i < boneCount; ++i) {
        const int n = static_cast<int>(i);
        parent[i] = random ? static_cast<int>(std::uniform_int_distribution<std::size_t>(0, i - 1)(rng))
                           : (i < 8 || i % 8 != 0 ? n - 1 : n / 8 - 1);
    }
    return parent;
}

void weightInOrder(std::vector<Bone>& flat, const std::vector<int>& parent, const CharacterShape& shape)
{
    const std::size_t bones = flat.size();
    for (std::size_t v = 0; v < shape.vertexCount; ++v) {
        std::size_t b = v * bones / shape.vertexCount;
        float left = 1.0f;
        for (int j = 0; j < shape.weightsPerVertex; ++j) {
            const float w = j + 1 == shape.weightsPerVertex ? left : left * 0.6f;
            left -= w;
            flat[b].addWeight(static_cast<std::int32_t>(v), w);
            b = parent[b] >= 0 ? static_cast<std::size_t>(parent[b]) : (b + 1) % bones;
        }
    }
    for (Bone& b : flat) {  // ascending vertex order, as importers list them
        std::stable_sort(b.weights.begin(), b.weights.end(),
                         [](const VertexWeight& a, const VertexWeight& c) { return a.vertex < c.vertex; });
    }
}

void weightAtRandom(std::vector<Bone>& flat, const CharacterShape& shape, Rng& rng)
{
    const auto vertexCount = static_cast<std::int32_t>(shape.vertexCount);
    std::uniform_int_distribution<std::size_t> pickBone(0, flat.size() - 1);
    std::uniform_int_distribution<int> pickCount(0, shape.weightsPerVertex);
    for (std::int32_t v = 0; v < vertexCount; ++v) {
        for (int j = pickCount(rng); j > 0; --j) {
            // Mostly ordinary weights; some zero of either sign and some
            // negative, so that products of ±0 occur.
            const float roll = uniform(rng, 0.0f, 1.0f);
            flat[pickBone(rng)].addWeight(v, roll < 0.1f ? 0.0f : roll < 0.15f ? -0.0f : roll < 0.25f ? -roll : roll);
        }
    }
    for (Bone& b : flat) {
        std::shuffle(b.weights.begin(), b.weights.end(), rng);
        if (!b.weights.empty() && uniform(rng, 0, 1) < 0.3f) {
            b.addWeight(vertexCount + 3, 1.0f);  // out of range
            b.addWeight(-1, 1.0f);               // out of range
            b.addWeight(b.weights.front().vertex, 0.25f);  // the same vertex again
            b.addWeight(b.weights.front().vertex, 0.0f);
            b.addWeight(b.weights.back().vertex, -0.5f);
        }
    }
}

// A chain or side bone: a bind frame and a small animated shift.
Bone rigBone(const std::string& name, float unit, Rng& rng)
{
    Bone b = bindBone(name, unit, rng);
    const float jiggle = 0.1f * unit;
    b.translation = Vector3{uniform(rng, -jiggle, jiggle), uniform(rng, -jiggle, jiggle), uniform(rng, -jiggle, jiggle)};
    return b;
}

Bone chainFrom(int i, Shape shape, int bones, float unit, Rng& rng)
{
    Bone b = rigBone("b" + std::to_string(i), unit, rng);
    if (i + 1 < bones) {
        if (shape == Shape::Tree) {
            Bone side = rigBone("s" + std::to_string(i), unit, rng);
            side.addChild(rigBone("s" + std::to_string(i) + "x", unit, rng));
            b.addChild(side);
        }
        b.addChild(chainFrom(i + 1, shape, bones, unit, rng));
    }
    return b;
}

}  // namespace

Model makeCharacter(const CharacterShape& shape)
{
    Rng rng(shape.seed);
    Model model;
    model.rootBone.name = "root";
    model.vertices.resize(shape.vertexCount);
    for (Vertex& v : model.vertices) {
        v.position = {uniform(rng, -2, 2), uniform(rng, 0, 8), uniform(rng, -2, 2)};
        normalize(Vector3{uniform(rng, -1, 1), uniform(rng, -1, 1), uniform(rng, 1, 3)}, v.normal);
    }
    const std::size_t bones = std::max<std::size_t>(shape.boneCount, 1);
    const std::vector<int> parent = treeShape(rng, bones, shape.randomLayout);
    std::vector<Bone> flat;
    for (std::size_t i = 0; i < bones; ++i) {
        flat.push_back(bindBone("bone" + std::to_string(i), 1.0f, rng));
    }
    if (shape.randomLayout) {
        weightAtRandom(flat, shape, rng);
    } else {
        weightInOrder(flat, parent, shape);
    }
    for (std::size_t i = bones; i-- > 0;) {
        Bone& into = parent[i] >= 0 ? flat[static_cast<std::size_t>(parent[i])] : model.rootBone;
        into.children.insert(into.children.begin(), std::move(flat[i]));
    }
    return model;
}

void addClip(Model& model, std::size_t keyCount, float keySpacing, std::uint32_t seed)
{
    Rng rng(seed);
    Animation clip;
    clip.name = "synthetic";
    clip.loop = true;
    std::int32_t index = 0;  // the root's; visit goes in pre-order
    for (Bone& child : model.rootBone.children) {
        visit(child, [&](Bone& bone) {
            ++index;
            for (std::size_t k = 0; k < keyCount; ++k) {
                KeyFrame key;
                key.time = static_cast<float>(k) * keySpacing;
                key.boneIndex = index;
                key.boneName = bone.name;
                eulerToQuat(uniform(rng, -0.6f, 0.6f), uniform(rng, -0.6f, 0.6f), uniform(rng, -0.6f, 0.6f),
                            key.rotation);
                key.translation = {uniform(rng, -0.1f, 0.1f), uniform(rng, -0.1f, 0.1f), uniform(rng, -0.1f, 0.1f)};
                clip.addKey(key);
            }
        });
    }
    model.animator.animations.push_back(clip);
    model.animator.current = static_cast<std::int32_t>(model.animator.animations.size() - 1);
}

void randomPose(Model& model, std::uint32_t seed)
{
    Rng rng(seed);
    visit(model.rootBone, [&](Bone& bone) {
        eulerToQuat(uniform(rng, -1, 1), uniform(rng, -1, 1), uniform(rng, -1, 1), bone.rotation);
        bone.translation = {uniform(rng, -0.3f, 0.3f), uniform(rng, -0.3f, 0.3f), uniform(rng, -0.3f, 0.3f)};
        bone.scale = {uniform(rng, 0.5f, 1.5f), uniform(rng, 0.5f, 1.5f), uniform(rng, 0.5f, 1.5f)};
    });
}

Model makeRig(Shape shape, int bones, Placement placement, std::mt19937& rng)
{
    Model model;
    const float unit = placement == Placement::XFile ? 100.0f : 1.0f;
    model.rootBone = chainFrom(0, shape, bones, unit, rng);
    model.rootBone.rotation = randomRotation(rng);
    if (placement == Placement::Moved) {
        model.position = Vector3{12.5f, -7.0f, 3.0f};
        eulerToQuat(0.3f, -0.4f, 2.1f, model.orientation);
    } else if (placement == Placement::XFile) {
        model.position = Vector3{-3.0f, 4.0f, 0.0f};
        eulerToQuat(0.0f, 0.0f, 0.8f, model.orientation);
        Matrix4& m = model.baseTransform;
        m(0, 0) = -0.01f;
        m(1, 1) = m(2, 2) = 0.0f;
        m(1, 2) = m(2, 1) = 0.01f;
    }
    return model;
}

Vector3 evaluatedOrigin(Model& model, const std::string& boneName)
{
    evaluateBone(nullptr, model.rootBone);
    const Bone* bone = model.rootBone.find(boneName);
    Matrix4 placement, w;
    model.worldTransform(placement);
    mul(placement, bone->worldMatrix, w);
    return Vector3{w(0, 3), w(1, 3), w(2, 3)};
}

void randomizeInnerBones(Model& model, int bones, std::mt19937& rng)
{
    for (int i = 1; i + 1 < bones; ++i) {
        model.rootBone.find("b" + std::to_string(i))->rotation = randomRotation(rng);
    }
}

std::vector<Bone*> preOrder(Bone& root)
{
    std::vector<Bone*> out;
    visit(root, [&](Bone& b) { out.push_back(&b); });
    return out;
}

Bone namedBone(const std::string& name, std::initializer_list<Bone> children)
{
    Bone b;
    b.name = name;
    for (const Bone& c : children) {
        b.addChild(c);
    }
    return b;
}

Path builtPath(std::initializer_list<Vector3> points, std::uint32_t seed)
{
    Path path;
    path.splitRandom.state = seed;
    for (const Vector3& p : points) {
        path.addControlPoint(p);
    }
    path.buildCurve();
    path.buildArcLengthTable();
    return path;
}

float distance(const Vector3& a, const Vector3& b)
{
    Vector3 d;
    return length(difference(a, b, d));
}

const GlFunctions& silentGl()
{
    static const GlFunctions table{
        .genBuffers = [](GlSizei n, GlUint* names) {
            for (GlSizei i = 0; i < n; ++i) {
                names[i] = static_cast<GlUint>(i + 1);
            }
        },
        .bindBuffer = [](GlEnum, GlUint) {},
        .bufferData = [](GlEnum, GlSizeiptr, const void*, GlEnum) {},
        .deleteBuffers = [](GlSizei, const GlUint*) {},
    };
    return table;
}

}  // namespace fyrel::test
