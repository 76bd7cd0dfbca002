#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "math/matrix.h"
#include "math/vector.h"
#include "scene/model.h"

namespace fyrel {

// Ties a model to one of its bones, the end effector, and to a target point in
// world coordinates; solves by cyclic coordinate descent and records the
// result as the model's "IKAnimation" clip.
//
// The model lives in the scene's SceneList, which never moves its elements, so
// the pointer stays valid while that list grows. The chain's pointers lead
// into the model's bone tree and stay valid while no bone is added to it; each
// generation rebuilds them. Frames are computed from the bones' local fields
// (localMatrix, translation, rotation, scale) under the model's placement, never from
// worldMatrix, so the solver needs no prior pose evaluation.
struct IkController {
    std::vector<Bone*> chain;  // root to end effector, rebuilt by each generation
    Model* model = nullptr;
    std::string endEffectorName;
    Vector3 target{-2.0f, 5.0f, 5.0f};
    // Whether the user has put the target somewhere (or it was given at
    // construction). A default target is no request to reach: generating
    // towards it would walk the model off to a point nobody chose.
    bool targetPlaced = false;

    static constexpr int kMaxSolveSteps = 500;

    IkController() = default;
    // A controller with this target, counted as placed.
    IkController(std::string effectorName, Vector3 targetPoint, Model* owner);

    // Depth-first search with backtracking; appends the path from bone to the
    // first bone in pre-order named endEffectorName (exact, case-sensitive) and
    // returns true, or leaves chain as it found it and returns false.
    bool buildChain(Bone& bone);

    // Forward kinematics of the chain from position k down, under frame F, the
    // frame of chain[k]'s parent; changes nothing. Requires k < chain.size().
    Vector3 chainEffector(const Matrix4& frame, std::size_t k) const;

    // One downward pass from position k that turns the inner joints (neither
    // the chain's first bone nor the end effector), the effector's parent
    // first; returns the end effector's position after the pass. Only bone
    // rotations change, and a joint whose turn is undefined (the joint lies on
    // the end effector or the target, or its frame cannot be inverted) is left
    // as it was. A joint that sees the effector on the ray to the target but
    // beyond it is turned by a small angle across that ray, so that a straight
    // chain can bend. Requires k < chain.size().
    Vector3 sweep(const Matrix4& frame, std::size_t k);

    // One pass over the whole chain under the model's placement; true when the
    // end effector then lies within kEpsilon of the target. False, changing
    // nothing, without a model or a chain.
    bool solveStep();

    // Runs solveStep until it succeeds, at most kMaxSolveSteps times, and
    // returns the number of steps run: 0 without a model or a chain.
    int solve();

    // Empties chain, removes the model's first "IKAnimation" (the current
    // index follows the clip it selected; it becomes 0 when that clip was the
    // removed one), builds the chain, records the pose at time 0, solves,
    // records the solved pose at time 0.5 and appends the looping clip, whose
    // time base is 0.1 key units a second: the reach takes five seconds. Each
    // solved rotation is stored on its start key's side of the sphere (q or
    // −q, the same pose), so the clip turns every bone the short way.
    // Throws IkError "Danger Zarnok!  Root bone not found bone bone bone"
    // when the end effector is not in the skeleton, or there is no model; the
    // earlier clip is then already gone, chain is empty and nothing is added.
    void generateAnimation();

    // Selects the model's first "IKAnimation", if any, at time 0 and playback
    // speed 1 (the clip's own time base makes it slow);
    // otherwise (or without a model) does nothing.
    void playAnimation();
};

}  // namespace fyrel
