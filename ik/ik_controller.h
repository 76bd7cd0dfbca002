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
// result as the model's "IKAnimation" clip. The model lives in the scene's
// stable list, so the pointer stays valid while that list grows.
struct IkController {
    std::vector<Bone*> chain;  // root to end effector, rebuilt by each generation
    Model* model = nullptr;
    std::string endEffectorName;
    Vector3 target{-2.0f, 5.0f, 5.0f};

    static constexpr int kMaxSolveSteps = 500;

    IkController() = default;
    IkController(std::string effectorName, Vector3 targetPoint, Model* owner);

    // Depth-first search with backtracking; fills chain with the path from
    // bone to the first bone in pre-order named endEffectorName.
    bool buildChain(Bone& bone);

    // Forward kinematics of the chain from position k down, under frame F.
    Vector3 chainEffector(const Matrix4& frame, std::size_t k) const;

    // One downward pass from position k that turns the inner joints; returns
    // the end effector's position after the pass.
    Vector3 sweep(const Matrix4& frame, std::size_t k);

    // One pass over the whole chain; true when the end effector lies within
    // kEpsilon of the target.
    bool solveStep();

    // One to kMaxSolveSteps steps; returns the number of steps run.
    int solve();

    // Builds the chain, records the pose, solves, records the solved pose and
    // appends the looping "IKAnimation" clip. Throws ImportError with the text
    // "Danger Zarnok!  Root bone not found bone bone bone" when the end
    // effector is not in the skeleton.
    void generateAnimation();

    // Selects the model's first "IKAnimation", if any, at time 0 and rate 0.1.
    void playAnimation();
};

}  // namespace fyrel
