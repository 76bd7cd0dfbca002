#include "tests/animation/synthetic_character.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

namespace fyrel::test {

namespace {

using Rng = std::mt19937;

float uniform(Rng& rng, float lo, float hi)
{
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

Vector3 unitVector(Rng& rng)
{
    Vector3 v{uniform(rng, -1, 1), uniform(rng, -1, 1), uniform(rng, -1, 1) + 2.0f};
    Vector3 n;
    return normalize(v, n);
}

Bone makeBone(Rng& rng, std::size_t index)
{
    Bone b;
    b.name = "bone" + std::to_string(index);
    Matrix4 turn, shift;
    eulerToMatrix(uniform(rng, -0.5f, 0.5f), uniform(rng, -0.5f, 0.5f), uniform(rng, -0.5f, 0.5f), turn);
    translationMatrix(Vector3{uniform(rng, -1, 1), uniform(rng, 0.5f, 2), uniform(rng, -1, 1)}, shift);
    mul(shift, turn, b.localMatrix);
    invert(b.localMatrix, b.inverseLocalMatrix);
    return b;
}

// Parent of every bone (index 0 hangs from the root bone, parent -1).
std::vector<int> treeShape(Rng& rng, std::size_t boneCount, bool random)
{
    std::vector<int> parent(boneCount, -1);
    for (std::size_t i = 1; i < boneCount; ++i) {
        if (random) {
            parent[i] = static_cast<int>(std::uniform_int_distribution<std::size_t>(0, i - 1)(rng));
        } else {
            // A spine of eight with limbs of up to eight bones hanging from it.
            parent[i] = i < 8 ? static_cast<int>(i) - 1 : (i % 8 == 0 ? static_cast<int>(i / 8 - 1) : static_cast<int>(i) - 1);
        }
    }
    return parent;
}

// Builds the nested tree from flat bones; a child always has a larger index.
void attach(std::vector<Bone>& flat, const std::vector<int>& parent, Bone& root)
{
    for (std::size_t i = flat.size(); i-- > 0;) {
        if (parent[i] >= 0) {
            Bone& p = flat[static_cast<std::size_t>(parent[i])];
            p.children.insert(p.children.begin(), std::move(flat[i]));
        }
    }
    for (std::size_t i = 0; i < flat.size(); ++i) {
        if (parent[i] < 0) {
            root.children.push_back(std::move(flat[i]));
        }
    }
}

void visit(Bone& bone, const std::function<void(Bone&)>& f)
{
    f(bone);
    for (Bone& child : bone.children) {
        visit(child, f);
    }
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
        v.normal = unitVector(rng);
    }

    const std::size_t bones = std::max<std::size_t>(shape.boneCount, 1);
    const std::vector<int> parent = treeShape(rng, bones, shape.randomLayout);
    std::vector<Bone> flat;
    for (std::size_t i = 0; i < bones; ++i) {
        flat.push_back(makeBone(rng, i));
    }

    const auto vertexCount = static_cast<std::int32_t>(shape.vertexCount);
    if (!shape.randomLayout) {
        for (std::int32_t v = 0; v < vertexCount; ++v) {
            std::size_t b = static_cast<std::size_t>(v) * bones / shape.vertexCount;
            const int k = shape.weightsPerVertex;
            float left = 1.0f;
            for (int j = 0; j < k; ++j) {
                const float w = j + 1 == k ? left : left * 0.6f;
                left -= w;
                flat[b].addWeight(v, w);
                if (parent[b] >= 0) {
                    b = static_cast<std::size_t>(parent[b]);
                } else {
                    b = (b + 1) % bones;
                }
            }
        }
        // Ascending vertex order within every bone, as importers list them.
        for (Bone& b : flat) {
            std::stable_sort(b.weights.begin(), b.weights.end(),
                             [](const VertexWeight& a, const VertexWeight& c) { return a.vertex < c.vertex; });
        }
    } else {
        std::uniform_int_distribution<std::size_t> pickBone(0, bones - 1);
        std::uniform_int_distribution<int> pickCount(0, shape.weightsPerVertex);
        for (std::int32_t v = 0; v < vertexCount; ++v) {
            const int k = pickCount(rng);
            for (int j = 0; j < k; ++j) {
                // Mostly ordinary weights; some zero of either sign and some
                // negative, so that products of ±0 occur.
                const float roll = uniform(rng, 0.0f, 1.0f);
                const float w = roll < 0.1f ? 0.0f : roll < 0.15f ? -0.0f : roll < 0.25f ? -roll : roll;
                flat[pickBone(rng)].addWeight(v, w);
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
    attach(flat, parent, model.rootBone);
    return model;
}

void addClip(Model& model, std::size_t keyCount, float keySpacing, std::uint32_t seed)
{
    Rng rng(seed);
    Animation clip;
    clip.name = "synthetic";
    clip.loop = true;
    for (Bone& child : model.rootBone.children) {
        visit(child, [&](Bone& bone) {
            for (std::size_t k = 0; k < keyCount; ++k) {
                KeyFrame key;
                key.time = static_cast<float>(k) * keySpacing;
                key.bone = &bone;
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
    model.animator.bind(&model);
}

void randomPose(Model& model, std::uint32_t seed)
{
    Rng rng(seed);
    visit(model.rootBone, [&](Bone& bone) {
        eulerToQuat(uniform(rng, -1, 1), uniform(rng, -1, 1), uniform(rng, -1, 1), bone.rotation);
        bone.translation = {uniform(rng, -0.3f, 0.3f), uniform(rng, -0.3f, 0.3f), uniform(rng, -0.3f, 0.3f)};
    });
}

}  // namespace fyrel::test
