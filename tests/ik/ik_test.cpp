#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "animation/sampling.h"
#include "ik/ik_controller.h"
#include "ik/ik_error.h"
#include "ik/joint_rotation.h"
#include "scene/scene_list.h"
#include "tests/animation/test_scenes.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

using Names = std::vector<std::string>;
const char* const kMissing = "Danger Zarnok!  Root bone not found bone bone bone";

float dot(const Quaternion& a, const Quaternion& b)
{
    return a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
}

float gap(const Quaternion& a, const Quaternion& b)
{
    return std::max({std::fabs(a.w - b.w), std::fabs(a.x - b.x), std::fabs(a.y - b.y), std::fabs(a.z - b.z)});
}

Names names(const std::vector<Bone*>& bones)
{
    Names out;
    for (const Bone* b : bones) {
        out.push_back(b->name);
    }
    return out;
}

Names clipNames(const Model& model)
{
    Names out;
    for (const Animation& a : model.animator.animations) {
        out.push_back(a.name);
    }
    return out;
}

std::vector<Quaternion> rotations(Model& model)
{
    std::vector<Quaternion> out;
    for (Bone* b : preOrder(model.rootBone)) {
        out.push_back(b->rotation);
    }
    return out;
}

// The effector's place in a random pose of the inner bones; the rig returns
// to the pose it had.
Vector3 reachableTarget(Model& model, int bones, std::mt19937& rng)
{
    const std::vector<Quaternion> start = rotations(model);
    randomizeInnerBones(model, bones, rng);
    const Vector3 goal = evaluatedOrigin(model, "b" + std::to_string(bones - 1));
    std::size_t i = 0;
    for (Bone* b : preOrder(model.rootBone)) {
        b->rotation = start[i++];
    }
    return goal;
}

// A clip of one key per bone, standing in for an imported animation.
Animation clipNamed(Model& model, const std::string& name)
{
    Animation clip;
    clip.name = name;
    clip.recordPose(1.0f, model, &model.rootBone);
    return clip;
}

// "b0" at the origin, each further bone one unit up +y.
Model straightChain(int count)
{
    Model m;
    Bone tip = namedBone("b" + std::to_string(count - 1));
    for (int i = count - 2; i >= 0; --i) {
        translationMatrix(Vector3{0, 1, 0}, tip.localMatrix);
        tip = namedBone("b" + std::to_string(i), {tip});
    }
    m.rootBone = tip;
    return m;
}

}  // namespace

TEST(JointRotation, TurnsExactlyByTheAngleBetweenAndRefusesWhatHasNoDirection)
{
    for (float angle : {1e-4f, 1e-3f, 0.5f, 2.0f, 3.1f, 3.14159265f}) {
        Quaternion q;
        ASSERT_TRUE(unitRotationBetween({2, 0, 0}, {std::cos(angle) * 5, std::sin(angle) * 5, 0}, q));
        EXPECT_NEAR(dot(q, q), 1.0f, 1e-6f);
        Matrix4 r;
        Vector4 v;
        transform(quatToMatrix(q, r), Vector4{1, 0, 0, 0}, v);
        EXPECT_NEAR(v.x, std::cos(angle), 2e-6f) << angle;
        EXPECT_NEAR(v.y, std::sin(angle), 2e-6f) << angle;
        EXPECT_NEAR(v.z, 0.0f, 1e-6f) << angle;
    }
    for (const auto& [from, to] : {std::pair<Vector3, Vector3>{{}, {1, 0, 0}}, {{1, 0, 0}, {}},
                                   {{NAN, 0, 0}, {1, 0, 0}}, {{1, 0, 0}, {INFINITY, 0, 0}}}) {
        Quaternion q;
        EXPECT_FALSE(unitRotationBetween(from, to, q));
        EXPECT_EQ(q.w, 1.0f);
    }
}

// The core promise: reachable targets are reached, under every placement, for
// lines and branching trees of 3 to 8 bones, turning only inner chain bones.
TEST(IkSolver, ReachableTargetsConvergeUnderEveryPlacement)
{
    std::mt19937 rng(20240917u);
    int tried = 0, reached = 0, totalSteps = 0;
    for (Placement placement : {Placement::Identity, Placement::Moved, Placement::XFile}) {
        for (Shape shape : {Shape::Line, Shape::Tree}) {
            for (int bones = 3; bones <= 8; ++bones) {
                for (int trial = 0; trial < 20; ++trial) {
                    Model model = makeRig(shape, bones, placement, rng);
                    const std::string effector = "b" + std::to_string(bones - 1);
                    if (trial % 2 == 0) {
                        randomizeInnerBones(model, bones, rng);
                    }
                    const Vector3 goal = reachableTarget(model, bones, rng);
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
                    reached += distance(evaluatedOrigin(model, effector), goal) < kEpsilon * 1.05f ? 1 : 0;
                    const std::vector<Bone*> after = preOrder(model.rootBone);
                    for (std::size_t i = 0; i < after.size(); ++i) {
                        const Bone& was = before[i];
                        const Bone& now = *after[i];
                        ASSERT_TRUE(std::isfinite(dot(now.rotation, now.rotation))) << now.name;
                        EXPECT_TRUE(std::memcmp(&now.translation, &was.translation, sizeof(Vector3)) == 0);
                        const bool inner = now.name[0] == 'b' && now.name != "b0" && now.name != effector;
                        if (!inner) {
                            EXPECT_TRUE(std::memcmp(&now.rotation, &was.rotation, sizeof(Quaternion)) == 0)
                                << now.name;
                        }
                    }
                }
            }
        }
    }
    const double rate = static_cast<double>(reached) / tried;
    EXPECT_GE(tried, 700);
    EXPECT_GE(rate, 0.97);
    EXPECT_LT(static_cast<double>(totalSteps) / tried, 60.0);
}

TEST(IkSolver, UnreachableAndDegenerateTargetsStayFinite)
{
    std::mt19937 rng(7u);
    for (Placement placement : {Placement::Identity, Placement::XFile}) {
        Model model = makeRig(Shape::Tree, 6, placement, rng);
        IkController ik("b5", Vector3{400.0f, -300.0f, 250.0f}, &model);
        ASSERT_TRUE(ik.buildChain(model.rootBone));
        EXPECT_EQ(ik.solve(), IkController::kMaxSolveSteps);
        for (Bone* b : preOrder(model.rootBone)) {
            ASSERT_NEAR(dot(b->rotation, b->rotation), 1.0f, 1e-5f) << b->name;
        }
        // Stretched out towards it: the effector ends nearer than the first turning joint.
        EXPECT_LT(distance(evaluatedOrigin(model, "b5"), ik.target), distance(evaluatedOrigin(model, "b1"), ik.target));
    }
    struct Case {
        const char* what;
        int bones;
        Vector3 target;
        int steps;        // -1: fewer than 100
        Vector3 endsAt;   // where the effector ends
    };
    const Case cases[] = {
        {"straight behind the joint: a half turn", 3, {0, 0, 0}, 1, {0, 0, 0}},
        {"on the chain's line, nearer than its end", 4, {0, 2.5f, 0}, -1, {0, 2.5f, 0}},
        {"on the line, nearer still", 4, {0, 1.2f, 0}, -1, {0, 1.2f, 0}},
        {"beyond the end: stretched is best", 4, {0, 5, 0}, IkController::kMaxSolveSteps, {0, 3, 0}},
        {"on the turning joint itself: nothing turns", 3, {0, 1, 0}, IkController::kMaxSolveSteps, {0, 2, 0}},
    };
    for (const Case& c : cases) {
        Model line = straightChain(c.bones);
        const std::string effector = "b" + std::to_string(c.bones - 1);
        IkController ik(effector, c.target, &line);
        ASSERT_TRUE(ik.buildChain(line.rootBone));
        const int steps = ik.solve();
        if (c.steps < 0) {
            EXPECT_LT(steps, 100) << c.what;
        } else {
            EXPECT_EQ(steps, c.steps) << c.what;
        }
        EXPECT_LT(distance(evaluatedOrigin(line, effector), c.endsAt), kEpsilon) << c.what;
    }
    // A joint frame that cannot be inverted (a collapsed bind matrix) is left alone.
    Model collapsed = straightChain(3);
    collapsed.rootBone.children[0].localMatrix(0, 0) = 0.0f;
    IkController flat("b2", Vector3{1, 1, 0}, &collapsed);
    ASSERT_TRUE(flat.buildChain(collapsed.rootBone));
    flat.solve();
    EXPECT_EQ(collapsed.rootBone.children[0].rotation.w, 1.0f);
    // Chains of one or two bones have no inner joint; without a model or a chain nothing is solved.
    Model rig = makeRig(Shape::Line, 4, Placement::Identity, rng);
    const std::vector<Quaternion> pose = rotations(rig);
    for (const char* effector : {"b0", "b1"}) {
        IkController shortChain(effector, Vector3{5, 5, 5}, &rig);
        ASSERT_TRUE(shortChain.buildChain(rig.rootBone));
        EXPECT_EQ(shortChain.solve(), IkController::kMaxSolveSteps);
    }
    EXPECT_EQ(std::memcmp(rotations(rig).data(), pose.data(), pose.size() * sizeof(Quaternion)), 0);
    IkController lonely("x", Vector3{}, nullptr), unbuilt("b2", Vector3{}, &rig);
    EXPECT_EQ(lonely.solve(), 0);
    EXPECT_EQ(unbuilt.solve(), 0);
}

TEST(IkSolver, ChainEffectorMatchesPoseEvaluationAndChangesNothing)
{
    std::mt19937 rng(5u);
    for (Placement placement : {Placement::Identity, Placement::Moved, Placement::XFile}) {
        Model model = makeRig(Shape::Tree, 7, placement, rng);
        randomizeInnerBones(model, 7, rng);
        IkController ik("b6", Vector3{}, &model);
        ASSERT_TRUE(ik.buildChain(model.rootBone));
        const std::vector<Quaternion> pose = rotations(model);
        Matrix4 p;
        model.worldTransform(p);
        EXPECT_LT(distance(ik.chainEffector(p, 0), evaluatedOrigin(model, "b6")), 1e-4f);
        EXPECT_EQ(std::memcmp(rotations(model).data(), pose.data(), pose.size() * sizeof(Quaternion)), 0);
        // Already there: one step.
        ik.target = evaluatedOrigin(model, "b6");
        EXPECT_EQ(ik.solve(), 1);
    }
}

TEST(IkChain, BuildChainFindsTheFirstBoneInPreOrderDepthFirst)
{
    // root -> A -> (B -> (D, X), C -> X), X
    Model model;
    model.rootBone = namedBone(
        "root", {namedBone("A", {namedBone("B", {namedBone("D"), namedBone("X")}), namedBone("C", {namedBone("X")})}),
                 namedBone("X")});
    const std::pair<const char*, Names> cases[] = {
        {"root", {"root"}},          {"D", {"root", "A", "B", "D"}}, {"X", {"root", "A", "B", "X"}},
        {"C", {"root", "A", "C"}},   {"Nobody", {}},                  {"x", {}}, {"D ", {}}, {"", {}}};
    for (const auto& [effector, chain] : cases) {
        IkController ik(effector, Vector3{}, &model);
        EXPECT_EQ(ik.buildChain(model.rootBone), !chain.empty()) << effector;
        EXPECT_EQ(names(ik.chain), chain) << effector;
    }
}

TEST(IkGeneration, ClipHoldsThePoseBeforeAndAfterTheSolveTurningTheShortWay)
{
    std::mt19937 rng(42u);
    for (int trial = 0; trial < 60; ++trial) {
        const int bones = 3 + trial % 5;
        const std::string effector = "b" + std::to_string(bones - 1);
        Model model = makeRig(trial % 2 ? Shape::Line : Shape::Tree, bones,
                              trial % 3 == 0 ? Placement::XFile : Placement::Moved, rng);
        if (trial % 2 == 0) {
            randomizeInnerBones(model, bones, rng);
        }
        const Vector3 goal = reachableTarget(model, bones, rng);
        model.animator.animations.push_back(clipNamed(model, "Walk"));
        model.animator.time = 0.3f;
        model.animator.rate = 0.7f;
        const std::vector<Quaternion> before = rotations(model);
        const float startMiss = distance(evaluatedOrigin(model, effector), goal);
        IkController ik(effector, goal, &model);
        ik.generateAnimation();

        ASSERT_EQ(clipNames(model), (Names{"Walk", "IKAnimation"}));
        EXPECT_EQ(model.animator.time, 0.3f);  // generation leaves playback alone
        EXPECT_EQ(model.animator.rate, 0.7f);
        EXPECT_LT(distance(evaluatedOrigin(model, effector), goal), std::max(startMiss * 0.1f, kEpsilon));
        const Animation& clip = model.animator.animations.back();
        EXPECT_TRUE(clip.loop);
        EXPECT_EQ(clip.length, 0.5f);
        const std::vector<Bone*> all = preOrder(model.rootBone);
        ASSERT_EQ(clip.tracks.size(), all.size());
        for (std::size_t i = 0; i < all.size(); ++i) {
            const std::vector<KeyFrame>& track = clip.tracks[i];
            ASSERT_EQ(track.size(), 2u);
            EXPECT_EQ(track[0].boneIndex, static_cast<std::int32_t>(i));
            EXPECT_EQ(track[1].boneIndex, static_cast<std::int32_t>(i));
            EXPECT_EQ(track[0].time, 0.0f);
            EXPECT_EQ(track[1].time, 0.5f);
            EXPECT_EQ(std::memcmp(&track[0].rotation, &before[i], sizeof(Quaternion)), 0) << all[i]->name;
            EXPECT_EQ(std::memcmp(&track[1].rotation, &all[i]->rotation, sizeof(Quaternion)), 0) << all[i]->name;
            EXPECT_EQ(track[1].translation.y, all[i]->translation.y);
            EXPECT_GE(dot(track[0].rotation, track[1].rotation), 0.0f) << "trial " << trial << ", " << all[i]->name;
        }
    }
}

// The earlier clip goes first, also when the generation then fails; the
// selection follows the clip it selected, or falls back to 0 with it.
TEST(IkGeneration, GeneratingAgainOrFailingReplacesTheClipAndKeepsTheSelection)
{
    std::mt19937 rng(8u);
    Model model = makeRig(Shape::Tree, 4, Placement::Identity, rng);
    model.animator.animations = {clipNamed(model, "Walk"), clipNamed(model, "Run")};
    IkController ik("b3", reachableTarget(model, 4, rng), &model), bad("Tail", Vector3{1, 2, 3}, &model);
    const auto generate = [&](IkController& controller, std::int32_t current, const Names& clips, std::int32_t after) {
        model.animator.current = current;
        const std::vector<Quaternion> pose = rotations(model);
        bad.chain.push_back(&model.rootBone);  // stale contents are cleared too
        try {
            controller.generateAnimation();
            EXPECT_EQ(&controller, &ik) << "no error raised";
        } catch (const IkError& e) {
            EXPECT_STREQ(e.what(), kMissing);
            EXPECT_TRUE(bad.chain.empty());
            EXPECT_EQ(std::memcmp(rotations(model).data(), pose.data(), pose.size() * sizeof(Quaternion)), 0);
        }
        EXPECT_EQ(clipNames(model), clips);
        EXPECT_EQ(model.animator.current, after);
    };
    generate(ik, 1, {"Walk", "Run", "IKAnimation"}, 1);
    generate(ik, 2, {"Walk", "Run", "IKAnimation"}, 0);
    generate(bad, 2, {"Walk", "Run"}, 0);
    generate(ik, 1, {"Walk", "Run", "IKAnimation"}, 1);
    model.animator.animations.push_back(clipNamed(model, "Jump"));
    generate(bad, 3, {"Walk", "Run", "Jump"}, 2);
    // Playback without a clip, and a controller without a model, do nothing.
    model.animator.time = 0.2f;
    bad.playAnimation();
    EXPECT_EQ(model.animator.current, 2);
    EXPECT_EQ(model.animator.time, 0.2f);
    IkController orphan("b1", Vector3{}, nullptr);
    EXPECT_THROW(orphan.generateAnimation(), IkError);
    orphan.playAnimation();
}

TEST(IkPlayback, SelectsTheClipAndSamplingMovesHalfwayAtQuarterTime)
{
    std::mt19937 rng(21u);
    SceneList<Model> models;  // the model's place survives the list growing
    models.push_back(makeRig(Shape::Line, 5, Placement::XFile, rng));
    Model& model = models.back();
    model.animator.animations.push_back(clipNamed(model, "Walk"));
    randomizeInnerBones(model, 5, rng);
    const std::vector<Quaternion> start = rotations(model);
    IkController ik("b4", reachableTarget(model, 5, rng), &model);
    for (int i = 0; i < 200; ++i) {
        models.push_back(Model{});
    }
    ik.generateAnimation();
    EXPECT_EQ(ik.chain.front(), &models.front().rootBone);
    const std::vector<Quaternion> solved = rotations(model);

    model.animator.time = 3.0f;
    model.animator.rate = 2.0f;
    ik.playAnimation();
    EXPECT_EQ(model.animator.current, 1);
    EXPECT_EQ(model.animator.time, 0.0f);
    EXPECT_EQ(model.animator.rate, 1.0f);  // the slow motion is the clip's, not the player's
    EXPECT_EQ(model.animator.animations[1].ticksPerSecond, 0.1f);

    // 2.5 s at 0.1 key units a second lands on time 0.25: each bone halfway along the great
    // arc between its two keys, which is the normalised sum of the two.
    updateAnimator(model, 2.5f);
    EXPECT_NEAR(model.animator.time, 0.25f, 1e-6f);
    const std::vector<Bone*> bones = preOrder(model.rootBone);
    int moved = 0;
    for (std::size_t i = 0; i < bones.size(); ++i) {
        const Quaternion &a = start[i], &b = solved[i];
        Quaternion mid;
        quatNormalize(Quaternion{a.w + b.w, a.x + b.x, a.y + b.y, a.z + b.z}, mid);
        const Quaternion& q = bones[i]->rotation;
        EXPECT_LT(gap(q, mid), 1e-4f) << bones[i]->name;
        moved += std::fabs(a.w - b.w) > 1e-3f ? 1 : 0;
    }
    EXPECT_GT(moved, 0);
    // Another 2.5 s wraps time to 0 and the start pose returns.
    updateAnimator(model, 2.5f);
    for (std::size_t i = 0; i < bones.size(); ++i) {
        EXPECT_LT(gap(bones[i]->rotation, start[i]), 1e-5f) << bones[i]->name;
    }
    // The clip played before it plays at its own speed again.
    model.animator.current = 0;
    model.animator.time = 0.0f;
    updateAnimator(model, 0.25f);
    EXPECT_FLOAT_EQ(model.animator.time, 0.25f);
}
