// The program's frame allocates nothing once the first frames have sized
// everything: the scene update (walks along paths, IK, animation, pose,
// skinning, buffer upload) and every view's render pass, perspective and path
// views alike. What follows them, the presentation (the copy into the
// window and its swap), belongs to the window system and is not counted. This
// program counts allocations with support/allocation_counter.h.

#include "support/allocation_counter.h"
#include "tests/gui/gui_test_support.h"

namespace fyrel::test {
namespace {

class FrameAllocations : public AppTest {};

TEST_F(FrameAllocations, NoneInTheUpdateAndTheRenderPasses)
{
    importModel();
    importModel();
    addPath({{-3, -3, 0}, {0, 3, 0}, {3, -3, 0}, {6, 0, 0}});
    choose(kCommandBindToPath);
    app->ikControllers.emplace_back("hand_l", Vector3{1, -1, 1}, &app->models.front());
    commandOpenGlWindow(*app);
    commandOpenPathWindow(*app);
    runFrames(5);
    ASSERT_EQ(app->childWindows.size(), 3u);
    ASSERT_FALSE(app->bindings.empty());
    ASSERT_FALSE(app->ikControllers.empty());

    const long before = allocationCount();
    for (int frame = 0; frame < 100; ++frame) {
        app->makeGlCurrent();
        app->updateScene(1.0f / 30.0f);
        for (const auto& view : app->childWindows) {
            static_cast<SceneViewWindow&>(*view).render();
        }
    }
    EXPECT_EQ(allocationCount() - before, 0);

    // The counter does count: a new view allocates.
    const long opening = allocationCount();
    commandOpenGlWindow(*app);
    EXPECT_GT(allocationCount(), opening);
}

}  // namespace
}  // namespace fyrel::test
