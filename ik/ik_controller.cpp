#include "ik/ik_controller.h"

#include <cassert>
#include <cmath>
#include <utility>
#include <vector>

#include "ik/joint_rotation.h"
#include "ik/ik_error.h"
#include "math/quaternion.h"

namespace fyrel {

namespace {

const char* const kClipName = "IKAnimation";
const char* const kNoEffectorMessage = "Danger Zarnok!  Root bone not found bone bone bone";
constexpr float kReachTime = 0.5f;
constexpr float kClipTicksPerSecond = 0.1f;  // the reach plays in slow motion

// A = F · localMatrix · T(translation): the bone's frame before its own rotation.
Matrix4& jointFrame(const Matrix4& parent, const Bone& bone, Matrix4& out)
{
    Matrix4 t, fl;
    translationMatrix(bone.translation, t);
    mul(parent, bone.localMatrix, fl);
    return mul(fl, t, out);
}

// W = A · R(rotation) · S(the bone's scale).
Matrix4& rotatedFrame(const Matrix4& joint, const Quaternion& rotation, const Bone& bone, Matrix4& out)
{
    Matrix4 r;
    quatToMatrix(rotation, r);
    scaleColumns(r, bone.scale);
    return mul(joint, r, out);
}

Vector3 origin(const Matrix4& frame)
{
    Vector4 o;
    transform(frame, Vector4{0.0f, 0.0f, 0.0f, 1.0f}, o);
    return Vector3{o.x, o.y, o.z};
}

Vector3 pointIn(const Matrix4& inverse, const Vector3& p)
{
    Vector4 o;
    transform(inverse, Vector4{p.x, p.y, p.z, 1.0f}, o);
    return Vector3{o.x, o.y, o.z};
}

bool finite(const Quaternion& q)
{
    return std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
}

// The turn that takes a joint out of line with the effector and the target.
constexpr float kNudgeAngle = 0.1f;

// True when, seen from the joint, the effector lies on the ray to the target
// but beyond it (the joint's correction has no axis, yet the chain must bend
// to pull the effector in): a straight chain aimed at a target on its own
// line, nearer than its end. Every joint sees the same, no correction turns
// any of them, and the solver would spend its whole budget where it stands.
// A target beyond the effector is left alone: pointing at it is the best
// this joint can do.
bool inLineBeyondTarget(const Vector3& toEffector, const Vector3& toTarget, const Vector3& effector,
                        const Vector3& target)
{
    Vector3 c, miss;
    cross(toEffector, toTarget, c);
    const float reach = length(toEffector), distance = length(toTarget);
    return distance > 0.0f && reach > distance && length(c) <= 1e-6f * reach * distance &&
           dot(toEffector, toTarget) > 0.0f && length(difference(target, effector, miss)) >= kEpsilon;
}

// Turns the bone whose pre-rotation frame is `joint` so that the end effector,
// now at `effector`, swings onto the ray from the joint through `target`. The
// turn is formed in the joint's own frame, where the bone's rotation acts, so
// it stays a proper rotation under scaled or mirrored placements. Returns
// false, leaving the rotation alone, when the turn is undefined.
bool turnTowards(const Matrix4& joint, const Vector3& effector, const Vector3& target, Quaternion& rotation)
{
    Matrix4 inverse;
    if (!invert(joint, inverse)) {
        return false;
    }
    const Vector3 toEffector = pointIn(inverse, effector);
    const Vector3 toTarget = pointIn(inverse, target);
    Quaternion correction;
    if (inLineBeyondTarget(toEffector, toTarget, effector, target)) {
        if (!turnAcross(toEffector, kNudgeAngle, correction)) {
            return false;
        }
    } else if (!unitRotationBetween(toEffector, toTarget, correction)) {
        return false;
    }
    Quaternion combined, unit;
    quatMul(correction, rotation, combined);
    quatNormalize(combined, unit);
    if (!finite(unit)) {
        return false;
    }
    rotation = unit;
    return true;
}

}  // namespace

IkController::IkController(std::string effectorName, Vector3 targetPoint, Model* owner)
    : model(owner), endEffectorName(std::move(effectorName)), target(targetPoint), targetPlaced(true)
{
}

bool IkController::buildChain(Bone& bone)
{
    chain.push_back(&bone);
    if (bone.name == endEffectorName) {
        return true;
    }
    for (Bone& child : bone.children) {
        if (buildChain(child)) {
            return true;
        }
    }
    chain.pop_back();
    return false;
}

Vector3 IkController::chainEffector(const Matrix4& frame, std::size_t k) const
{
    assert(k < chain.size());
    Matrix4 joint, w;
    jointFrame(frame, *chain[k], joint);
    rotatedFrame(joint, chain[k]->rotation, *chain[k], w);
    if (k + 1 == chain.size()) {
        return origin(w);
    }
    return chainEffector(w, k + 1);
}

Vector3 IkController::sweep(const Matrix4& frame, std::size_t k)
{
    assert(k < chain.size());
    Bone& bone = *chain[k];
    Matrix4 joint, w;
    jointFrame(frame, bone, joint);
    rotatedFrame(joint, bone.rotation, bone, w);
    if (k + 1 == chain.size()) {
        return origin(w);
    }
    const Vector3 effector = sweep(w, k + 1);
    if (k == 0) {
        return effector;  // the root is never turned
    }
    if (!turnTowards(joint, effector, target, bone.rotation)) {
        return effector;
    }
    rotatedFrame(joint, bone.rotation, bone, w);
    return chainEffector(w, k + 1);
}

bool IkController::solveStep()
{
    if (!model || chain.empty()) {
        return false;
    }
    Matrix4 placement;
    model->worldTransform(placement);
    const Vector3 effector = sweep(placement, 0);
    Vector3 miss;
    difference(target, effector, miss);
    return kEpsilon > length(miss);
}

int IkController::solve()
{
    if (!model || chain.empty()) {
        return 0;
    }
    int steps = 0;
    while (steps < kMaxSolveSteps) {
        ++steps;
        if (solveStep()) {
            break;
        }
    }
    return steps;
}

void IkController::generateAnimation()
{
    chain.clear();
    if (!model) {
        throw IkError(kNoEffectorMessage);
    }
    Animator& animator = model->animator;
    for (std::size_t i = 0; i < animator.animations.size(); ++i) {
        if (animator.animations[i].name != kClipName) {
            continue;
        }
        const auto removed = static_cast<std::int32_t>(i);
        if (animator.current == removed) {
            animator.current = 0;
        } else if (animator.current > removed) {
            --animator.current;  // keep the selected clip selected
        }
        animator.animations.erase(animator.animations.begin() + static_cast<std::ptrdiff_t>(i));
        break;
    }

    Animation clip;
    clip.name = kClipName;
    clip.loop = true;
    clip.ticksPerSecond = kClipTicksPerSecond;
    if (!buildChain(model->rootBone)) {
        throw IkError(kNoEffectorMessage);
    }
    clip.recordPose(0.0f, *model);
    std::vector<Quaternion> start;
    start.reserve(chain.size());
    for (const Bone* bone : chain) {
        start.push_back(bone->rotation);
    }
    solve();
    // The solver builds rotations by repeated products, so a solved rotation
    // often comes out with the opposite sign to its start: the same pose, but
    // a clip between the two would swing the bone the long way round.
    for (std::size_t i = 0; i < chain.size(); ++i) {
        Quaternion& q = chain[i]->rotation;
        const Quaternion& s = start[i];
        if (q.w * s.w + q.x * s.x + q.y * s.y + q.z * s.z < 0.0f) {
            q = Quaternion{-q.w, -q.x, -q.y, -q.z};
        }
    }
    clip.recordPose(kReachTime, *model);
    animator.animations.push_back(std::move(clip));
}

void IkController::playAnimation()
{
    if (!model) {
        return;
    }
    Animator& animator = model->animator;
    for (std::size_t i = 0; i < animator.animations.size(); ++i) {
        if (animator.animations[i].name == kClipName) {
            animator.current = static_cast<std::int32_t>(i);
            animator.time = 0.0f;
            animator.rate = 1.0f;  // the clip's own time base slows it down
            return;
        }
    }
}

}  // namespace fyrel
