#include "ik_rigs.h"
#include "animation/pose.h"

#include <cmath>

namespace fyrel::test {

namespace {

float uniform(std::mt19937& rng, float lo, float hi)
{
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

Bone makeBone(const std::string& name, float unit, std::mt19937& rng)
{
    Bone b;
    b.name = name;
    Vector3 dir{uniform(rng, -0.5f, 0.5f), 1.0f, uniform(rng, -0.5f, 0.5f)};
    Vector3 unitDir;
    normalize(dir, unitDir);
    const float len = uniform(rng, 0.5f, 1.5f) * unit;
    Matrix4 t, r;
    translationMatrix(Vector3{unitDir.x * len, unitDir.y * len, unitDir.z * len}, t);
    eulerToMatrix(uniform(rng, -0.6f, 0.6f), uniform(rng, -0.6f, 0.6f), uniform(rng, -0.6f, 0.6f), r);
    mul(t, r, b.localMatrix);
    invert(b.localMatrix, b.inverseLocalMatrix);
    const float jiggle = 0.1f * unit;
    b.translation = Vector3{uniform(rng, -jiggle, jiggle), uniform(rng, -jiggle, jiggle), uniform(rng, -jiggle, jiggle)};
    return b;
}

// Builds chain bone i with everything below it.
Bone makeChainFrom(int i, Shape shape, int bones, float unit, std::mt19937& rng)
{
    Bone b = makeBone("b" + std::to_string(i), unit, rng);
    if (i + 1 < bones) {
        if (shape == Shape::Tree) {
            Bone side = makeBone("s" + std::to_string(i), unit, rng);
            side.addChild(makeBone("s" + std::to_string(i) + "x", unit, rng));
            b.addChild(side);
        }
        b.addChild(makeChainFrom(i + 1, shape, bones, unit, rng));
    }
    return b;
}

void collect(Bone& bone, std::vector<Bone*>& out)
{
    out.push_back(&bone);
    for (Bone& child : bone.children) {
        collect(child, out);
    }
}

}  // namespace

Matrix4 xFileBaseTransform()
{
    Matrix4 m;
    m(0, 0) = -0.01f;
    m(1, 1) = 0.0f;
    m(1, 2) = 0.01f;
    m(2, 1) = 0.01f;
    m(2, 2) = 0.0f;
    return m;
}

Quaternion randomRotation(std::mt19937& rng)
{
    Quaternion q;
    eulerToQuat(uniform(rng, -3.14159f, 3.14159f), uniform(rng, -1.5f, 1.5f), uniform(rng, -3.14159f, 3.14159f), q);
    return q;
}

Model makeRig(Shape shape, int bones, Placement placement, std::mt19937& rng)
{
    Model model;
    const float unit = placement == Placement::XFile ? 100.0f : 1.0f;
    model.rootBone = makeChainFrom(0, shape, bones, unit, rng);
    model.rootBone.rotation = randomRotation(rng);
    switch (placement) {
    case Placement::Identity:
        break;
    case Placement::Moved:
        model.position = Vector3{12.5f, -7.0f, 3.0f};
        eulerToQuat(0.3f, -0.4f, 2.1f, model.orientation);
        break;
    case Placement::XFile:
        model.position = Vector3{-3.0f, 4.0f, 0.0f};
        eulerToQuat(0.0f, 0.0f, 0.8f, model.orientation);
        model.baseTransform = xFileBaseTransform();
        break;
    }
    model.animator.bind(&model);
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
    collect(root, out);
    return out;
}

}  // namespace fyrel::test
