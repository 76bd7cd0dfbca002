#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "ik/ik_controller.h"
#include "ik/joint_rotation.h"
#include "ik_rigs.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

bool finite(const Quaternion& q)
{
    return std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
}

float distance(const Vector3& a, const Vector3& b)
{
    Vector3 d;
    return length(difference(a, b, d));
}

Vector3 turned(const Quaternion& q, const Vector3& v)
{
    Matrix4 r;
    Vector4 out;
    transform(quatToMatrix(q, r), Vector4{v.x, v.y, v.z, 0.0f}, out);
    return Vector3{out.x, out.y, out.z};
}

// Root "b0" at the origin, "b1" one unit up +y, "b2" another unit up, and so
// on up to "b<count-1>".
Model straightChain(int count = 3)
{
    Model m;
    std::vector<Bone> b(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        b[i].name = "b" + std::to_string(i);
        if (i > 0) {
            translationMatrix(Vector3{0, 1, 0}, b[i].localMatrix);
        }
    }
    for (int i = count - 1; i > 0; --i) {
        b[i - 1].addChild(b[i]);
    }
    m.rootBone = b[0];
    return m;
}

}  // namespace

TEST(JointRotation, TurnsExactlyByTheAngleBetween)
{
    for (float angle : {1e-4f, 1e-3f, 0.5f, 2.0f, 3.1f}) {
        const Vector3 from{2, 0, 0};
        const Vector3 to{std::cos(angle) * 5, std::sin(angle) * 5, 0};
        Quaternion q;
        ASSERT_TRUE(unitRotationBetween(from, to, q));
        EXPECT_NEAR(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z, 1.0f, 1e-6f);
        const Vector3 r = turned(q, Vector3{1, 0, 0});
        EXPECT_NEAR(r.x, std::cos(angle), 2e-6f) << angle;
        EXPECT_NEAR(r.y, std::sin(angle), 2e-6f) << angle;
        EXPECT_NEAR(r.z, 0.0f, 1e-6f);
    }
}

TEST(JointRotation, OppositeDirectionsGetAHalfTurnAndZeroGetsNothing)
{
    Quaternion q;
    ASSERT_TRUE(unitRotationBetween(Vector3{0, 0, 3}, Vector3{0, 0, -1}, q));
    const Vector3 r = turned(q, Vector3{0, 0, 1});
    EXPECT_NEAR(r.z, -1.0f, 1e-6f);
    EXPECT_TRUE(finite(q));

    EXPECT_FALSE(unitRotationBetween(Vector3{}, Vector3{1, 0, 0}, q));
    EXPECT_EQ(q.w, 1.0f);
    EXPECT_FALSE(unitRotationBetween(Vector3{1, 0, 0}, Vector3{}, q));
    EXPECT_FALSE(unitRotationBetween(Vector3{NAN, 0, 0}, Vector3{1, 0, 0}, q));
    EXPECT_FALSE(unitRotationBetween(Vector3{1, 0, 0}, Vector3{INFINITY, 0, 0}, q));
    EXPECT_TRUE(finite(q));
}

// The core promise: reachable targets are reached, under every placement, for
// lines and branching trees of 3 to 8 bones, turning only inner chain bones.
TEST(IkSolver, ReachableTargetsConvergeUnderEveryPlacement)
{
    std::mt19937 rng(20240917u);
    int tried = 0, reached = 0;
    int totalSteps = 0;
    for (Placement placement : {Placement::Identity, Placement::Moved, Placement::XFile}) {
        for (Shape shape : {Shape::Line, Shape::Tree}) {
            for (int bones = 3; bones <= 8; ++bones) {
                for (int trial = 0; trial < 20; ++trial) {
                    Model model = makeRig(shape, bones, placement, rng);
                    const std::string effector = "b" + std::to_string(bones - 1);
                    randomizeInnerBones(model, bones, rng);
                    const Vector3 goal = evaluatedOrigin(model, effector);
                    if (trial % 2 == 0) {
                        randomizeInnerBones(model, bones, rng);
                    } else {
                        for (int i = 1; i + 1 < bones; ++i) {
                            model.rootBone.find("b" + std::to_string(i))->rotation = Quaternion{};
                        }
                    }
                    std::vector<Bone> before;
                    for (Bone* b : preOrder(model.rootBone)) {
                        before.push_back(*b);
                    }

                    IkController ik(effector, goal, &model);
                    ASSERT_TRUE(ik.buildChain(model.rootBone));
                    const int steps = ik.solve();
                    ASSERT_GE(steps, 1);
                    ASSERT_LE(steps, IkController::kMaxSolveSteps);
                    ++tried;
                    totalSteps += steps;
                    // Checked by pose evaluation, not by the solver's own sums.
                    if (distance(evaluatedOrigin(model, effector), goal) < kEpsilon * 1.05f) {
                        ++reached;
                    }

                    const std::vector<Bone*> after = preOrder(model.rootBone);
                    for (std::size_t i = 0; i < after.size(); ++i) {
                        const Bone& was = before[i];
                        const Bone& now = *after[i];
                        EXPECT_EQ(now.translation.x, was.translation.x);
                        EXPECT_EQ(now.translation.y, was.translation.y);
                        EXPECT_EQ(now.translation.z, was.translation.z);
                        ASSERT_TRUE(finite(now.rotation)) << now.name;
                        const bool inner = now.name[0] == 'b' && now.name != "b0" && now.name != effector;
                        if (!inner) {
                            EXPECT_EQ(now.rotation.w, was.rotation.w) << now.name;
                            EXPECT_EQ(now.rotation.x, was.rotation.x) << now.name;
                        }
                    }
                }
            }
        }
    }
    const double rate = static_cast<double>(reached) / tried;
    std::printf("IK convergence: %d of %d targets reached (%.1f%%), %.1f steps on average\n", reached, tried,
                100.0 * rate, static_cast<double>(totalSteps) / tried);
    RecordProperty("reached", reached);
    RecordProperty("tried", tried);
    EXPECT_GE(tried, 700);
    EXPECT_GE(rate, 0.97);
}

TEST(IkSolver, UnreachableTargetRunsTheFullBudgetAndStaysFinite)
{
    std::mt19937 rng(7u);
    for (Placement placement : {Placement::Identity, Placement::XFile}) {
        Model model = makeRig(Shape::Tree, 6, placement, rng);
        IkController ik("b5", Vector3{400.0f, -300.0f, 250.0f}, &model);
        ASSERT_TRUE(ik.buildChain(model.rootBone));
        EXPECT_EQ(ik.solve(), IkController::kMaxSolveSteps);
        for (Bone* b : preOrder(model.rootBone)) {
            EXPECT_TRUE(finite(b->rotation)) << b->name;
            const Quaternion& q = b->rotation;
            EXPECT_NEAR(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z, 1.0f, 1e-5f) << b->name;
        }
        // Stretched out towards it: the last turn of every pass swings the
        // effector onto the ray from the first turning joint to the target.
        const Vector3 e = evaluatedOrigin(model, "b5");
        const Vector3 j = evaluatedOrigin(model, "b1");
        EXPECT_LT(distance(e, ik.target), distance(j, ik.target));
    }
}

TEST(IkSolver, ShortChainsTurnNothing)
{
    std::mt19937 rng(3u);
    Model model = makeRig(Shape::Line, 4, Placement::Identity, rng);
    const Quaternion rootTurn = model.rootBone.rotation;
    // The root as end effector: a one-bone chain, the whole budget unless it
    // already stands on the target.
    IkController root("b0", Vector3{5, 5, 5}, &model);
    ASSERT_TRUE(root.buildChain(model.rootBone));
    EXPECT_EQ(root.solve(), IkController::kMaxSolveSteps);
    root.target = evaluatedOrigin(model, "b0");
    EXPECT_EQ(root.solve(), 1);

    IkController two("b1", Vector3{5, 5, 5}, &model);
    ASSERT_TRUE(two.buildChain(model.rootBone));
    EXPECT_EQ(two.solve(), IkController::kMaxSolveSteps);
    for (Bone* b : preOrder(model.rootBone)) {
        EXPECT_EQ(b->rotation.w, b == &model.rootBone ? rootTurn.w : 1.0f) << b->name;
    }
}

TEST(IkSolver, TargetAlreadyReachedEndsAfterOneStep)
{
    std::mt19937 rng(11u);
    Model model = makeRig(Shape::Tree, 5, Placement::Moved, rng);
    IkController ik("b4", evaluatedOrigin(model, "b4"), &model);
    ASSERT_TRUE(ik.buildChain(model.rootBone));
    EXPECT_EQ(ik.solve(), 1);
    EXPECT_LT(distance(evaluatedOrigin(model, "b4"), ik.target), kEpsilon);
}

TEST(IkSolver, DegenerateJointsStayFinite)
{
    // Target straight behind the joint: a half-turn reaches it in one step.
    Model model = straightChain();
    IkController behind("b2", Vector3{0, 0, 0}, &model);
    ASSERT_TRUE(behind.buildChain(model.rootBone));
    EXPECT_EQ(behind.solve(), 1);
    EXPECT_LT(distance(evaluatedOrigin(model, "b2"), Vector3{0, 0, 0}), kEpsilon);
    EXPECT_TRUE(finite(model.rootBone.children[0].rotation));

    // Target on the chain's own line, nearer than its end: no joint has a
    // correction axis, yet the chain must bend to reach it.
    for (const Vector3 target : {Vector3{0, 2.5f, 0}, Vector3{0, 1.2f, 0}}) {
        Model line = straightChain(4);
        IkController inLine("b3", target, &line);
        ASSERT_TRUE(inLine.buildChain(line.rootBone));
        EXPECT_LT(inLine.solve(), 100) << target.y;
        EXPECT_LT(distance(evaluatedOrigin(line, "b3"), target), kEpsilon) << target.y;
    }
    // Beyond its end: stretched straight at it is already the best pose.
    Model stretched = straightChain(4);
    IkController far("b3", Vector3{0, 5, 0}, &stretched);
    ASSERT_TRUE(far.buildChain(stretched.rootBone));
    EXPECT_EQ(far.solve(), IkController::kMaxSolveSteps);
    EXPECT_LT(distance(evaluatedOrigin(stretched, "b3"), Vector3{0, 3, 0}), 1e-5f);

    // Target on the turning joint itself: no direction to turn to, the bone
    // stays as it is.
    Model onJoint = straightChain();
    IkController atJoint("b2", Vector3{0, 1, 0}, &onJoint);
    ASSERT_TRUE(atJoint.buildChain(onJoint.rootBone));
    EXPECT_EQ(atJoint.solve(), IkController::kMaxSolveSteps);
    const Quaternion& q = onJoint.rootBone.children[0].rotation;
    EXPECT_EQ(q.w, 1.0f);
    EXPECT_EQ(q.x, 0.0f);

    // A joint frame that cannot be inverted (a collapsed bind matrix) is left alone.
    Model collapsed = straightChain();
    collapsed.rootBone.children[0].localMatrix = Matrix4{};
    collapsed.rootBone.children[0].localMatrix(0, 0) = 0.0f;
    IkController flat("b2", Vector3{1, 1, 0}, &collapsed);
    ASSERT_TRUE(flat.buildChain(collapsed.rootBone));
    flat.solve();
    EXPECT_TRUE(finite(collapsed.rootBone.children[0].rotation));
    EXPECT_EQ(collapsed.rootBone.children[0].rotation.w, 1.0f);
}

TEST(IkSolver, ChainEffectorMatchesPoseEvaluationAndChangesNothing)
{
    std::mt19937 rng(5u);
    for (Placement placement : {Placement::Identity, Placement::Moved, Placement::XFile}) {
        Model model = makeRig(Shape::Tree, 7, placement, rng);
        randomizeInnerBones(model, 7, rng);
        IkController ik("b6", Vector3{}, &model);
        ASSERT_TRUE(ik.buildChain(model.rootBone));
        Matrix4 p;
        model.worldTransform(p);
        const Quaternion q = model.rootBone.find("b3")->rotation;
        const Vector3 e = ik.chainEffector(p, 0);
        const Vector3 expected = evaluatedOrigin(model, "b6");
        EXPECT_LT(distance(e, expected), 1e-4f);
        EXPECT_EQ(model.rootBone.find("b3")->rotation.w, q.w);
    }
}

TEST(IkSolver, NoModelOrNoChainSolvesNothing)
{
    IkController lonely("x", Vector3{}, nullptr);
    EXPECT_FALSE(lonely.solveStep());
    EXPECT_EQ(lonely.solve(), 0);
    Model model = straightChain();
    IkController unbuilt("b2", Vector3{}, &model);
    EXPECT_FALSE(unbuilt.solveStep());
    EXPECT_EQ(unbuilt.solve(), 0);
}
