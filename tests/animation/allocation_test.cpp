// The per-frame path (Animator::update, Model::updatePose, uploadSkinned)
// allocates nothing once the first frame has sized everything. This program
// counts allocations with support/allocation_counter.h.

#include <gtest/gtest.h>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "render/model_buffers.h"
#include "support/allocation_counter.h"
#include "tests/animation/test_scenes.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

// Allocations made by the given number of frames after a first one.
long allocationsOverFrames(Model& model, int frames)
{
    auto frame = [&] {
        updateAnimator(model, 1.0f / 60.0f);
        updatePose(model);
        uploadSkinned(model);
    };
    frame();
    const long before = allocationCount();
    for (int i = 0; i < frames; ++i) {
        frame();
    }
    return allocationCount() - before;
}

Model animated(int weights, bool randomLayout)
{
    Model model = makeCharacter({2000, 64, weights, randomLayout, 1});
    addClip(model, 61, 1.0f / 30.0f, 3);
    model.animator.rate = 1.0f;
    return model;
}

}  // namespace

// 200 frames cross many keys and wrap around the clip.
TEST(FrameAllocations, NoneAfterTheFirstFrame)
{
    const GlFunctions& gl = silentGl();
    Model bindPose = animated(1, false);
    for (Bone* b : preOrder(bindPose.rootBone)) {
        b->weights.clear();
    }
    Model plain;
    plain.vertices.resize(100);
    const std::pair<const char*, Model> models[] = {
        {"ordered, 1 weight", animated(1, false)}, {"ordered, 4 weights", animated(4, false)},
        {"random, 1 weight", animated(1, true)},   {"random, 4 weights", animated(4, true)},
        {"bind pose", bindPose},                   {"no skeleton", plain}};
    for (auto [what, model] : models) {
        createBuffers(model, &gl);
        EXPECT_EQ(allocationsOverFrames(model, 200), 0) << what;
    }
}

TEST(FrameAllocations, AChangedSkinIsRebuiltOnceThenNothing)
{
    const GlFunctions& gl = silentGl();
    Model model = animated(2, true);
    createBuffers(model, &gl);
    EXPECT_EQ(allocationsOverFrames(model, 10), 0);
    model.rootBone.children.front().addWeight(0, 0.5f);
    const long before = allocationCount();
    updatePose(model);
    EXPECT_GT(allocationCount(), before);  // the counter does count
    EXPECT_EQ(allocationsOverFrames(model, 10), 0);
}
