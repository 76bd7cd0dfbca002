// The per-frame scene update: bindings first, then every model.

#include <gtest/gtest.h>

#include "app/commands.h"
#include "gui_test_support.h"
#include "render/model_buffers.h"
#include "support/source_tree.h"
#include "ui/resources.h"

namespace fyrel::test {
namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");

Path straightPath()
{
    Path path;
    path.addControlPoint({0.0f, 0.0f, 0.0f});
    path.addControlPoint({4.0f, 0.0f, 0.0f});
    path.buildCurve();
    path.buildArcLengthTable();
    return path;
}

TEST_F(AppTest, FramesMoveBoundModelsAndGiveNewModelsBuffers)
{
    importFileByName(*app, kDemo);
    ASSERT_EQ(app->models.size(), 1u);
    app->paths.push_back(straightPath());
    PathBinding binding;
    binding.path = &app->paths.back();
    binding.model = &app->models.back();
    app->bindings.push_back(binding);

    const float timeBefore = app->models.back().animator.time;
    runFrames(1, 10.0f);  // a tenth of a lap
    const Model& model = app->models.back();
    EXPECT_NE(bufferFunctions(model), nullptr);
    EXPECT_FLOAT_EQ(app->bindings.back().parameter, 0.1f);
    EXPECT_GT(model.position.x, 0.0f);
    EXPECT_LT(model.position.x, 4.0f);
    // The binding set the animation rate before the model was animated.
    EXPECT_FLOAT_EQ(model.animator.rate, speedFactor(0.1f));
    EXPECT_NE(model.animator.time, timeBefore);
}

TEST_F(AppTest, FailingIkGenerationOnArrivalIsShownOnceAndTheProgramGoesOn)
{
    importFileByName(*app, kDemo);
    app->paths.push_back(straightPath());
    app->ikControllers.emplace_back("no such bone", Vector3{6.0f, 0.0f, 1.0f}, &app->models.back());
    PathBinding walk;
    walk.controller = &app->ikControllers.back();
    walk.path = &app->paths.back();
    walk.model = &app->models.back();
    walk.parameter = 0.995f;
    app->bindings.push_back(walk);

    runFrames(1, 1.0f);  // arrives: the generation fails
    ASSERT_EQ(script->requests.size(), 1u);
    const DialogRequest& box = script->requests[0];
    EXPECT_EQ(box.kind, DialogKind::MessageBox);
    EXPECT_EQ(box.caption, "Failed to generate IK Animation");
    EXPECT_EQ(box.text, "Danger Zarnok!  Root bone not found bone bone bone");
    EXPECT_EQ(box.icon, MessageBoxIcon::Error);

    runFrames(5, 1.0f);
    EXPECT_EQ(script->requests.size(), 1u);
    EXPECT_EQ(app->models.size(), 1u);
    EXPECT_NE(bufferFunctions(app->models.back()), nullptr);  // models were still updated
}

}  // namespace
}  // namespace fyrel::test
