#include "ui/camera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace fyrel {
namespace {

constexpr float kTolerance = 1e-4f;

// Where a world point lands in GL eye space: the render pass's axis change
// (a, b, c) -> (a, c, -b), after the camera's view.
Vector4 eyeOf(const Camera& camera, const Vector3& p)
{
    Vector4 v;
    transform(camera.viewMatrix(), Vector4{p.x, p.y, p.z, 1.0f}, v);
    return Vector4{v.x, v.z, -v.y, v.w};
}

Vector4 clipOf(const Camera& camera, const Vector3& p)
{
    Vector4 c;
    return transform(camera.projectionMatrix(), eyeOf(camera, p), c);
}

void expectAt(const Vector4& actual, float x, float y, float z, const char* what)
{
    EXPECT_NEAR(actual.x, x, kTolerance) << what;
    EXPECT_NEAR(actual.y, y, kTolerance) << what;
    EXPECT_NEAR(actual.z, z, kTolerance) << what;
}

TEST(EulerCameraFov, AnglesAndPositionPlaceTheWorldInFrontOfTheEye)
{
    struct Case {
        const char* what;
        Vector3 angles, position, point;
        Vector4 eye;  // where the point appears: straight ahead is -z
    };
    const Case cases[] = {
        {"the start-up camera sees the origin ten ahead", {0, 0, 0}, {0, -10, 0}, {0, 0, 0}, {0, 0, -10, 1}},
        {"world z is up", {0, 0, 0}, {0, -10, 0}, {0, 0, 1}, {0, 1, -10, 1}},
        {"positive yaw turns towards -x", {0, 0, 1.5707964f}, {0, 0, 0}, {-5, 0, 0}, {0, 0, -5, 1}},
        {"positive pitch tilts upwards", {0.7853982f, 0, 0}, {0, 0, 0}, {0, 5, 5}, {0, 0, -std::sqrt(50.0f), 1}},
        {"the middle angle has no effect", {0, 0.9f, 0}, {1, 2, 3}, {2, 7, 3}, {1, 0, -5, 1}},
    };
    for (const Case& c : cases) {
        EulerCameraFov camera(1.0f, 1.0f, 1.0f, 100.0f);
        camera.angles = c.angles;
        camera.setPosition(c.position);
        expectAt(eyeOf(camera, c.point), c.eye.x, c.eye.y, c.eye.z, c.what);
    }
}

TEST(EulerCameraFov, ProjectionMapsTheFieldOfViewAndDepthRangeWhenUpdated)
{
    EulerCameraFov camera(1.0f, 1.0f, 2.0f, 50.0f);
    const Vector4 nearPoint = clipOf(camera, {0.0f, 2.0f, 0.0f});
    const Vector4 farPoint = clipOf(camera, {0.0f, 50.0f, 0.0f});
    EXPECT_NEAR(nearPoint.z / nearPoint.w, -1.0f, kTolerance);
    EXPECT_NEAR(farPoint.z / farPoint.w, 1.0f, kTolerance);
    // A point on the edge of the field of view lands on the picture's edge.
    const Vector4 top = clipOf(camera, {0.0f, 10.0f, 10.0f * std::tan(0.5f)});
    EXPECT_NEAR(top.y / top.w, 1.0f, kTolerance);

    const float before = camera.projection(1, 1);
    camera.fov = 0.5f;
    camera.aspect = 2.0f;
    EXPECT_EQ(camera.projection(1, 1), before);  // not until updated
    camera.updateProjection();
    const Vector4 side = clipOf(camera, {20.0f * std::tan(0.25f), 10.0f, 10.0f * std::tan(0.25f)});
    EXPECT_NEAR(side.x / side.w, 1.0f, kTolerance);
    EXPECT_NEAR(side.y / side.w, 1.0f, kTolerance);
    camera.aspect = 0.0f;  // degenerate, without failing
    camera.updateProjection();
    EXPECT_TRUE(std::isinf(camera.projection(0, 0)));
}

TEST(EulerCameraFov, MoveFollowsTheYawIgnoresThePitchAndTakesTheViewAlong)
{
    EulerCameraFov camera(1.0f, 1.0f, 1.0f, 100.0f);
    camera.angles = {0.6f, 0.0f, 1.5707964f};
    camera.move(0.0f, 0.5f, 0.0f);
    expectAt(Vector4{camera.position.x, camera.position.y, camera.position.z, 1}, -0.5f, 0.0f, 0.0f, "forward");
    camera.move(0.5f, 0.0f, 0.25f);  // sideways to the right: +y after a quarter turn
    expectAt(Vector4{camera.position.x, camera.position.y, camera.position.z, 1}, -0.5f, 0.5f, 0.25f, "aside");
    expectAt(eyeOf(camera, camera.position), 0.0f, 0.0f, 0.0f, "the eye");
}

TEST(OrthoCamera, PathWindowBoxShowsTenByTenUnitsFromAboveWhereverItIs)
{
    OrthoCamera camera({10.0f, 10.0f, 10000.0f});
    expectAt(clipOf(camera, {5.0f, 5.0f, 0.0f}), 1.0f, 1.0f, 0.0f, "x right, y up, the ground at depth 0");
    expectAt(clipOf(camera, {-5.0f, -5.0f, 0.0f}), -1.0f, -1.0f, 0.0f, "the other corner");
    expectAt(clipOf(camera, {0.0f, 0.0f, 5000.0f}), 0.0f, 0.0f, -1.0f, "higher is nearer");
    camera.setPosition({2.0f, -3.0f, 1.0f});
    expectAt(clipOf(camera, {2.0f, -3.0f, 1.0f}), 0.0f, 0.0f, 0.0f, "moved");
    expectAt(clipOf(camera, {7.0f, 2.0f, 1.0f}), 1.0f, 1.0f, 0.0f, "moved, the corner");
}

}  // namespace
}  // namespace fyrel
