#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "animation/sampling.h"
#include "ik/ik_controller.h"
#include "ik/ik_error.h"
#include "ik_rigs.h"
#include "scene/scene_list.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

const char* const kMissing = "Danger Zarnok!  Root bone not found bone bone bone";

Bone named(const std::string& name, std::initializer_list<Bone> children = {})
{
    Bone b;
    b.name = name;
    for (const Bone& c : children) {
        b.addChild(c);
    }
    return b;
}

std::vector<std::string> names(const std::vector<Bone*>& chain)
{
    std::vector<std::string> out;
    for (const Bone* b : chain) {
        out.push_back(b->name);
    }
    return out;
}

using Names = std::vector<std::string>;

float distance(const Vector3& a, const Vector3& b)
{
    Vector3 d;
    return length(difference(a, b, d));
}

// A clip of one key on the root, standing in for an imported animation.
Animation clipNamed(Model& model, const std::string& name)
{
    Animation clip;
    clip.name = name;
    clip.model = &model;
    clip.recordPose(1.0f, &model.rootBone);
    return clip;
}

std::vector<std::string> clipNames(const Model& model)
{
    std::vector<std::string> out;
    for (const Animation& a : model.animator.animations) {
        out.push_back(a.name);
    }
    return out;
}

// A reachable target for the effector "b<bones-1>" of a rig: the effector's
// place in a random pose, after which the rig returns to its start pose.
Vector3 reachableTarget(Model& model, int bones, std::mt19937& rng)
{
    std::vector<Quaternion> start;
    for (Bone* b : preOrder(model.rootBone)) {
        start.push_back(b->rotation);
    }
    randomizeInnerBones(model, bones, rng);
    const Vector3 goal = evaluatedOrigin(model, "b" + std::to_string(bones - 1));
    std::size_t i = 0;
    for (Bone* b : preOrder(model.rootBone)) {
        b->rotation = start[i++];
    }
    return goal;
}

}  // namespace

TEST(IkChain, BuildChainFindsThePathDepthFirst)
{
    // root -> A -> (B -> (D, X), C -> X), X
    Model model;
    model.rootBone = named("root", {named("A", {named("B", {named("D"), named("X")}), named("C", {named("X")})}),
                                    named("X")});

    IkController rootOnly("root", Vector3{}, &model);
    EXPECT_TRUE(rootOnly.buildChain(model.rootBone));
    EXPECT_EQ(names(rootOnly.chain), (Names{"root"}));

    IkController deep("D", Vector3{}, &model);
    EXPECT_TRUE(deep.buildChain(model.rootBone));
    EXPECT_EQ(names(deep.chain), (Names{"root", "A", "B", "D"}));
    EXPECT_EQ(deep.chain.back(), &model.rootBone.children[0].children[0].children[0]);

    // Three bones are named X: the first in pre-order is B's second child.
    IkController twin("X", Vector3{}, &model);
    EXPECT_TRUE(twin.buildChain(model.rootBone));
    EXPECT_EQ(names(twin.chain), (Names{"root", "A", "B", "X"}));
    EXPECT_EQ(twin.chain.back(), &model.rootBone.children[0].children[0].children[1]);

    // The search backs out of B's subtree before finding C.
    IkController sibling("C", Vector3{}, &model);
    EXPECT_TRUE(sibling.buildChain(model.rootBone));
    EXPECT_EQ(names(sibling.chain), (Names{"root", "A", "C"}));

    for (const char* absent : {"Nobody", "x", "D ", ""}) {
        IkController unknown(absent, Vector3{}, &model);
        EXPECT_FALSE(unknown.buildChain(model.rootBone)) << absent;
        EXPECT_TRUE(unknown.chain.empty()) << absent;
    }
}

TEST(IkGeneration, ClipHoldsThePoseBeforeAndAfterTheSolve)
{
    std::mt19937 rng(42u);
    Model model = makeRig(Shape::Tree, 5, Placement::Moved, rng);
    const Vector3 goal = reachableTarget(model, 5, rng);
    model.animator.animations.push_back(clipNamed(model, "Walk"));
    model.animator.time = 0.3f;
    model.animator.rate = 0.7f;
    std::vector<Bone> before;
    for (Bone* b : preOrder(model.rootBone)) {
        before.push_back(*b);
    }

    const float startMiss = distance(evaluatedOrigin(model, "b4"), goal);
    IkController ik("b4", goal, &model);
    ik.generateAnimation();

    EXPECT_EQ(names(ik.chain), (Names{"b0", "b1", "b2", "b3", "b4"}));
    ASSERT_EQ(clipNames(model), (Names{"Walk", "IKAnimation"}));
    const Animation& clip = model.animator.animations.back();
    EXPECT_EQ(clip.length, 0.5f);
    EXPECT_TRUE(clip.loop);
    EXPECT_EQ(clip.model, &model);
    EXPECT_EQ(model.animator.time, 0.3f);  // generation leaves playback alone
    EXPECT_EQ(model.animator.rate, 0.7f);
    // Reached or not, the solved pose stands nearer the target than the start.
    const Vector3 solvedAt = evaluatedOrigin(model, "b4");
    EXPECT_LT(distance(solvedAt, goal), startMiss * 0.1f);

    const std::vector<Bone*> bones = preOrder(model.rootBone);
    ASSERT_EQ(clip.tracks.size(), bones.size());
    for (std::size_t i = 0; i < bones.size(); ++i) {
        const std::vector<KeyFrame>& track = clip.tracks[i];
        ASSERT_EQ(track.size(), 2u);
        EXPECT_EQ(track[0].bone, bones[i]);
        EXPECT_EQ(track[0].boneName, bones[i]->name);
        EXPECT_EQ(track[1].bone, bones[i]);
        EXPECT_EQ(track[0].time, 0.0f);
        EXPECT_EQ(track[1].time, 0.5f);
        EXPECT_EQ(track[0].rotation.w, before[i].rotation.w);
        EXPECT_EQ(track[0].rotation.z, before[i].rotation.z);
        EXPECT_EQ(track[1].rotation.w, bones[i]->rotation.w);
        EXPECT_EQ(track[1].rotation.z, bones[i]->rotation.z);
        EXPECT_EQ(track[0].translation.x, track[1].translation.x);
        EXPECT_EQ(track[1].translation.y, bones[i]->translation.y);
        const bool inner = bones[i]->name == "b1" || bones[i]->name == "b2" || bones[i]->name == "b3";
        if (!inner) {
            EXPECT_EQ(track[0].rotation.x, track[1].rotation.x) << bones[i]->name;
            EXPECT_EQ(track[0].rotation.y, track[1].rotation.y) << bones[i]->name;
        }
    }
}

TEST(IkGeneration, SolvedKeysTurnTheShortWayFromTheStartKeys)
{
    // From the bind pose and from random poses, to targets near and far: the
    // solved rotation comes out of repeated products with either sign.
    std::mt19937 rng(99u);
    for (int trial = 0; trial < 120; ++trial) {
        const int bones = 3 + trial % 5;
        Model model = makeRig(Shape::Line, bones, trial % 3 == 0 ? Placement::XFile : Placement::Identity, rng);
        if (trial % 2 == 0) {
            randomizeInnerBones(model, bones, rng);
        }
        IkController ik("b" + std::to_string(bones - 1), reachableTarget(model, bones, rng), &model);
        ik.generateAnimation();
        for (const std::vector<KeyFrame>& track : model.animator.animations.back().tracks) {
            const Quaternion& a = track[0].rotation;
            const Quaternion& b = track[1].rotation;
            EXPECT_GE(a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z, 0.0f)
                << "trial " << trial << ", bone " << track[0].boneName;
        }
    }
}

TEST(IkGeneration, GeneratingAgainReplacesTheClip)
{
    std::mt19937 rng(8u);
    Model model = makeRig(Shape::Line, 4, Placement::Identity, rng);
    model.animator.animations.push_back(clipNamed(model, "Walk"));
    model.animator.animations.push_back(clipNamed(model, "Run"));
    IkController ik("b3", reachableTarget(model, 4, rng), &model);
    ik.generateAnimation();
    ik.playAnimation();
    ASSERT_EQ(model.animator.current, 2);

    // The clip being played is removed: current falls back to 0, and playback
    // then finds the new clip at its new index.
    ik.target = reachableTarget(model, 4, rng);
    ik.generateAnimation();
    EXPECT_EQ(clipNames(model), (Names{"Walk", "Run", "IKAnimation"}));
    EXPECT_EQ(model.animator.current, 0);
    ik.playAnimation();
    EXPECT_EQ(model.animator.current, 2);

    // A clip selected after the removed one stays selected.
    model.animator.animations.push_back(clipNamed(model, "Jump"));
    model.animator.current = 3;
    ik.generateAnimation();
    EXPECT_EQ(clipNames(model), (Names{"Walk", "Run", "Jump", "IKAnimation"}));
    EXPECT_EQ(model.animator.current, 2);
    EXPECT_EQ(model.animator.animations[2].name, "Jump");
}

TEST(IkGeneration, MissingEffectorRaisesAndLeavesTheModelAsDocumented)
{
    std::mt19937 rng(9u);
    Model model = makeRig(Shape::Tree, 4, Placement::Identity, rng);
    model.animator.animations.push_back(clipNamed(model, "Walk"));
    IkController good("b3", reachableTarget(model, 4, rng), &model);
    good.generateAnimation();
    model.animator.animations.push_back(clipNamed(model, "Run"));
    std::vector<Quaternion> pose;
    for (Bone* b : preOrder(model.rootBone)) {
        pose.push_back(b->rotation);
    }

    // Playing the earlier clip: it is removed and current falls back to 0.
    model.animator.current = 1;
    IkController bad("Tail", Vector3{1, 2, 3}, &model);
    bad.chain.push_back(&model.rootBone);  // stale contents are cleared too
    try {
        bad.generateAnimation();
        FAIL() << "no error raised";
    } catch (const IkError& e) {
        EXPECT_STREQ(e.what(), kMissing);
    }
    EXPECT_EQ(clipNames(model), (Names{"Walk", "Run"}));
    EXPECT_EQ(model.animator.current, 0);
    EXPECT_TRUE(bad.chain.empty());
    std::size_t i = 0;
    for (Bone* b : preOrder(model.rootBone)) {
        EXPECT_EQ(b->rotation.w, pose[i++].w) << b->name;
    }

    // Playing a clip after it: current follows that clip and stays in range.
    good.generateAnimation();
    ASSERT_EQ(clipNames(model), (Names{"Walk", "Run", "IKAnimation"}));
    model.animator.animations.push_back(clipNamed(model, "Jump"));
    model.animator.current = 3;
    EXPECT_THROW(bad.generateAnimation(), IkError);
    EXPECT_EQ(clipNames(model), (Names{"Walk", "Run", "Jump"}));
    EXPECT_EQ(model.animator.current, 2);

    // Playback without a clip does nothing.
    model.animator.time = 0.2f;
    model.animator.rate = 0.4f;
    bad.playAnimation();
    EXPECT_EQ(model.animator.current, 2);
    EXPECT_EQ(model.animator.time, 0.2f);
    EXPECT_EQ(model.animator.rate, 0.4f);
}

TEST(IkGeneration, ControllerWithoutModelRaisesInsteadOfCrashing)
{
    IkController orphan("b1", Vector3{}, nullptr);
    try {
        orphan.generateAnimation();
        FAIL() << "no error raised";
    } catch (const IkError& e) {
        EXPECT_STREQ(e.what(), kMissing);
    }
    orphan.playAnimation();
    EXPECT_TRUE(orphan.chain.empty());
}

TEST(IkPlayback, SelectsTheClipAndSamplingMovesHalfwayAtQuarterTime)
{
    std::mt19937 rng(21u);
    Model model = makeRig(Shape::Line, 5, Placement::XFile, rng);
    model.animator.animations.push_back(clipNamed(model, "Walk"));
    randomizeInnerBones(model, 5, rng);
    std::vector<Quaternion> start;
    for (Bone* b : preOrder(model.rootBone)) {
        start.push_back(b->rotation);
    }
    IkController ik("b4", reachableTarget(model, 5, rng), &model);
    ik.generateAnimation();
    std::vector<Quaternion> solved;
    for (Bone* b : preOrder(model.rootBone)) {
        solved.push_back(b->rotation);
    }

    model.animator.time = 3.0f;
    model.animator.rate = 2.0f;
    ik.playAnimation();
    EXPECT_EQ(model.animator.current, 1);
    EXPECT_EQ(model.animator.time, 0.0f);
    EXPECT_EQ(model.animator.rate, 0.1f);

    // 2.5 s at rate 0.1 lands on time 0.25: each bone halfway along the great
    // arc between its two keys, which is the normalised sum of the two.
    updateAnimator(model.animator, 2.5f);
    EXPECT_NEAR(model.animator.time, 0.25f, 1e-6f);
    const std::vector<Bone*> bones = preOrder(model.rootBone);
    bool someBoneMoved = false;
    for (std::size_t i = 0; i < bones.size(); ++i) {
        const Quaternion& a = start[i];
        const Quaternion& b = solved[i];
        Quaternion mid;
        quatNormalize(Quaternion{a.w + b.w, a.x + b.x, a.y + b.y, a.z + b.z}, mid);
        const Quaternion& q = bones[i]->rotation;
        EXPECT_NEAR(q.w, mid.w, 1e-4f) << bones[i]->name;
        EXPECT_NEAR(q.x, mid.x, 1e-4f) << bones[i]->name;
        EXPECT_NEAR(q.y, mid.y, 1e-4f) << bones[i]->name;
        EXPECT_NEAR(q.z, mid.z, 1e-4f) << bones[i]->name;
        someBoneMoved = someBoneMoved || std::fabs(a.w - b.w) > 1e-3f;
    }
    EXPECT_TRUE(someBoneMoved);

    // Another 2.5 s wraps time to 0 and the start pose returns.
    updateAnimator(model.animator, 2.5f);
    for (std::size_t i = 0; i < bones.size(); ++i) {
        EXPECT_NEAR(bones[i]->rotation.w, start[i].w, 1e-5f) << bones[i]->name;
        EXPECT_NEAR(bones[i]->rotation.x, start[i].x, 1e-5f) << bones[i]->name;
    }
}

TEST(IkController, ModelReferenceSurvivesTheModelListGrowing)
{
    std::mt19937 rng(4u);
    SceneList<Model> models;
    models.push_back(makeRig(Shape::Line, 4, Placement::Identity, rng));
    const Vector3 goal = reachableTarget(models.back(), 4, rng);
    IkController ik("b3", goal, &models.back());
    for (int i = 0; i < 200; ++i) {
        models.push_back(Model{});
    }
    ik.generateAnimation();
    EXPECT_EQ(clipNames(models.front()), (Names{"IKAnimation"}));
    EXPECT_EQ(ik.chain.front(), &models.front().rootBone);
}
