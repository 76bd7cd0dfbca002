// Framing, the arrangement of windows, the IK target's third dimension and
// the controls reference, each driven as a user does.

#include <gtest/gtest.h>

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <functional>

#include "animation/bounds.h"
#include "app/commands.h"
#include "gui_test_support.h"
#include "platform/qt_access.h"
#include "platform/window.h"
#include "ui/path_window.h"
#include "ui/resources.h"
#include "support/source_tree.h"

namespace fyrel::test {
namespace {

const std::string kDemo = sourcePath("resources/demo/walker.ms3d");

struct Spot {
    int count = 0;      // pixels that belong to the model
    double x = 0.0;     // the middle of their bounding rectangle, as fractions of the picture
    double y = 0.0;
};

// The pure colours of the axes tripods, which stick out of the box.
bool isAxisColour(QRgb c)
{
    return isReddish(c) || isGreenish(c) || isBluish(c);
}

class ViewLayoutTest : public AppTest {
protected:
    // The model's pixels in child window index: what changes when every
    // model is moved far out of sight.
    Spot modelPixels(std::size_t index)
    {
        runFrames(2);
        const QImage with = grab(index);
        std::vector<Vector3> places;
        for (Model& model : app->models) {
            places.push_back(model.position);
            model.position = Vector3{1e6f, 1e6f, 1e6f};
        }
        runFrames(2);
        const QImage without = grab(index);
        for (std::size_t i = 0; i < places.size(); ++i) {
            app->models[i].position = places[i];
        }
        Spot spot;
        QRect box;
        for (int y = 0; y < with.height(); ++y) {
            for (int x = 0; x < with.width(); ++x) {
                if (with.pixel(x, y) != without.pixel(x, y) && !isAxisColour(with.pixel(x, y))) {
                    ++spot.count;
                    box |= QRect(x, y, 1, 1);
                }
            }
        }
        spot.x = (box.left() + box.right() + 1) * 0.5 / with.width();
        spot.y = (box.top() + box.bottom() + 1) * 0.5 / with.height();
        return spot;
    }

    void expectFramed(std::size_t index, const std::string& what)
    {
        const Spot spot = modelPixels(index);
        const QImage image = grab(index);
        // Not a dot, and in the middle.
        EXPECT_GT(spot.count, image.width() * image.height() / 50) << what;
        EXPECT_NEAR(spot.x, 0.5, 0.15) << what;
        EXPECT_NEAR(spot.y, 0.5, 0.15) << what;
    }

    void resetCamera()
    {
        EulerCameraFov& camera = view(0).camera;
        camera = EulerCameraFov(camera.aspect, 1.0471976f, 1.0f, 1000.0f);
        camera.position = Vector3{0.0f, -10.0f, 0.0f};
        camera.updateView();
    }
};

// A model that enters an empty scene is framed, whether it is a tiny .X
// mesh or a .3ds scene larger than the start-up camera's distance; later,
// Frame All brings everything back whatever the camera did meanwhile.
TEST_F(ViewLayoutTest, ModelsAreFramedOnEntryAndByFrameAll)
{
    const std::vector<std::string> files = {kDemo, assimpModel("X/test.x"), assimpModel("3DS/test1.3ds")};
    for (const std::string& file : files) {
        if (file.empty()) {
            continue;  // assimp-testmodels not installed
        }
        choose(kCommandRemoveAllModels);
        resetCamera();
        ASSERT_TRUE(importFileByName(*app, file)) << file;
        expectFramed(0, file + " on entry");
    }

    EulerCameraFov& camera = view(0).camera;
    camera.angles = Vector3{-0.4f, 0.0f, 2.0f};
    camera.position = Vector3{300.0f, -40.0f, 30.0f};
    camera.updateView();
    pressKey(Qt::Key_F);
    EXPECT_FLOAT_EQ(camera.angles.z, 2.0f);  // the direction stays
    Vector3 low{1e30f, 1e30f, 1e30f}, high{-1e30f, -1e30f, -1e30f};
    growByPosedBox(app->models.back(), low, high);
    const Vector3& eye = camera.position;
    EXPECT_FALSE(eye.x > low.x && eye.x < high.x && eye.y > low.y && eye.y < high.y && eye.z > low.z &&
                 eye.z < high.z)
        << "the camera is inside the model";
    expectFramed(0, "after F");

    choose(kCommandOpenPathWindow);
    choose(kCommandFrameAll);
    expectFramed(1, "in the Path Window");
}

// New views cascade; Tile lays four views side by side without overlap,
// Cascade stacks them again, Next brings the next one forward.
TEST_F(ViewLayoutTest, WindowMenuTilesCascadesAndCycles)
{
    for (int i = 0; i < 3; ++i) {
        choose(kCommandOpenGlWindow);
    }
    ASSERT_EQ(app->childWindows.size(), 4u);
    auto frameOf = [&](std::size_t i) { return windowWidget(app->childWindows[i]->windowHandle); };
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_GT(frameOf(i)->pos().x(), frameOf(i - 1)->pos().x()) << i;
        EXPECT_GT(frameOf(i)->pos().y(), frameOf(i - 1)->pos().y()) << i;
    }

    choose(kCommandTile);
    auto* area = mainWidget()->findChild<QMdiArea*>();
    ASSERT_NE(area, nullptr);
    const QRect inside = area->viewport()->rect();
    for (std::size_t i = 0; i < 4; ++i) {
        const QRect r = frameOf(i)->geometry();
        EXPECT_TRUE(inside.contains(r)) << i;
        for (std::size_t j = i + 1; j < 4; ++j) {
            EXPECT_FALSE(r.intersects(frameOf(j)->geometry())) << i << " and " << j;
        }
        EXPECT_GT(clientSize(app->childWindows[i]->windowHandle).width, 0) << i;
    }
    runFrames(2);
    EXPECT_FALSE(grab(3).isNull());

    choose(kCommandCascade);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_NE(frameOf(i)->pos(), frameOf(i - 1)->pos()) << i;
        EXPECT_TRUE(frameOf(i)->geometry().intersects(frameOf(i - 1)->geometry())) << i;
    }

    QMdiSubWindow* before = area->activeSubWindow();
    choose(kCommandNextWindow);
    EXPECT_NE(area->activeSubWindow(), before);
    EXPECT_NE(area->activeSubWindow(), nullptr);
}

// The last controller's target moves in z with Page Up / Page Down in a
// view, and goes under the cursor on a Ctrl+click in the Path Window (which
// then adds no path point).
TEST_F(ViewLayoutTest, IkTargetMovesInZAndFollowsCtrlClick)
{
    ASSERT_TRUE(importFileByName(*app, kDemo));
    app->ikControllers.emplace_back("hand_r", Vector3{-2.0f, 5.0f, 5.0f}, &app->models.back());
    choose(kCommandOpenPathWindow);
    QWidget* glView = glSurface(app->childWindows[0]->windowHandle);
    QWidget* pathView = glSurface(app->childWindows[1]->windowHandle);
    const Vector3& target = app->ikControllers.back().target;

    struct Row {
        const char* what;
        std::function<void()> act;
        Vector3 expected;
    };
    const std::vector<Row> rows = {
        {"Page Up", [&] { QTest::keyClick(glView, Qt::Key_PageUp); }, {-2.0f, 5.0f, 5.5f}},
        {"Page Down twice",
         [&] {
             QTest::keyClick(glView, Qt::Key_PageDown);
             QTest::keyClick(glView, Qt::Key_PageDown);
         },
         {-2.0f, 5.0f, 4.5f}},
        // 640 x 480 showing 10 x 10 units around the origin.
        {"Ctrl+click", [&] { QTest::mouseClick(pathView, Qt::LeftButton, Qt::ControlModifier, QPoint(480, 120)); },
         {2.5f, 2.5f, 4.5f}},
    };
    for (const Row& row : rows) {
        row.act();
        drain();
        EXPECT_NEAR(target.x, row.expected.x, 1e-4f) << row.what;
        EXPECT_NEAR(target.y, row.expected.y, 1e-4f) << row.what;
        EXPECT_NEAR(target.z, row.expected.z, 1e-4f) << row.what;
    }
    EXPECT_TRUE(app->paths.empty());
}

TEST_F(ViewLayoutTest, HelpControlsListsTheMouseAndKeys)
{
    choose(kCommandControls);
    ASSERT_EQ(script->requests.size(), 1u);
    const DialogRequest& box = script->requests[0];
    EXPECT_EQ(box.caption, "Controls");
    for (const char* part : {"W / S", "Space / C", "Page Up", "Ctrl+click", "right click", "P\t", "Ctrl+O"}) {
        EXPECT_NE(box.text.find(part), std::string::npos) << part;
    }
}

}  // namespace
}  // namespace fyrel::test
