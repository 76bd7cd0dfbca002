#include "ui/camera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace fyrel {
namespace {

constexpr float kTolerance = 1e-5f;

// Where a world point lands in GL eye space: the render pass's axis change
// C, (a, b, c) -> (a, c, -b), after the camera's view.
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

void expectIdentity(const Matrix4& m)
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(m(r, c), r == c ? 1.0f : 0.0f) << r << "," << c;
        }
    }
}

TEST(EulerCameraFov, DefaultConstructionComputesNothing)
{
    EulerCameraFov camera;
    expectIdentity(camera.view);
    expectIdentity(camera.projection);
    EXPECT_FLOAT_EQ(camera.fov, 1.570796f);
    EXPECT_FLOAT_EQ(camera.aspect, 1.3333334f);
    EXPECT_FLOAT_EQ(camera.zNear, 1.0f);
    EXPECT_FLOAT_EQ(camera.zFar, 100.0f);
}

TEST(EulerCameraFov, ProjectionOfTheGlWindowCamera)
{
    const EulerCameraFov camera(1.3333334f, 1.0471976f, 1.0f, 1000.0f);
    const Matrix4& p = camera.projectionMatrix();
    EXPECT_NEAR(p(1, 1), 1.7320508f, kTolerance);
    EXPECT_NEAR(p(0, 0), 1.299038f, kTolerance);
    EXPECT_NEAR(p(2, 2), -1001.0f / 999.0f, kTolerance);
    EXPECT_NEAR(p(2, 3), -2000.0f / 999.0f, kTolerance);
    EXPECT_EQ(p(3, 2), -1.0f);
    EXPECT_EQ(p(3, 3), 0.0f);
    EXPECT_EQ(p(0, 1), 0.0f);
    EXPECT_EQ(p(3, 0), 0.0f);
}

TEST(EulerCameraFov, NearAndFarPlanesMapToTheDepthRange)
{
    const EulerCameraFov camera(1.0f, 1.0f, 2.0f, 50.0f);
    // The eye looks along world +y with zero angles.
    Vector4 nearPoint = clipOf(camera, {0.0f, 2.0f, 0.0f});
    Vector4 farPoint = clipOf(camera, {0.0f, 50.0f, 0.0f});
    EXPECT_NEAR(nearPoint.z / nearPoint.w, -1.0f, kTolerance);
    EXPECT_NEAR(farPoint.z / farPoint.w, 1.0f, kTolerance);
}

TEST(EulerCameraFov, OriginLiesTenUnitsAheadOfTheStartingEye)
{
    EulerCameraFov camera(1.3333334f, 1.0471976f, 1.0f, 1000.0f);
    camera.position = {0.0f, -10.0f, 0.0f};
    camera.updateView();
    Matrix4 expected;
    expected(1, 3) = 10.0f;
    for (int i = 0; i < 16; ++i) {
        EXPECT_FLOAT_EQ(camera.view.m[i], expected.m[i]) << i;
    }
    const Vector4 origin = eyeOf(camera, {0.0f, 0.0f, 0.0f});
    EXPECT_NEAR(origin.x, 0.0f, kTolerance);
    EXPECT_NEAR(origin.y, 0.0f, kTolerance);
    EXPECT_NEAR(origin.z, -10.0f, kTolerance);
    // World z is up on the screen.
    EXPECT_GT(eyeOf(camera, {0.0f, 0.0f, 1.0f}).y, 0.0f);
}

TEST(EulerCameraFov, PositiveYawTurnsTheViewTowardsMinusX)
{
    EulerCameraFov camera(1.0f, 1.0f, 1.0f, 100.0f);
    camera.angles.z = 1.5707964f;
    camera.updateView();
    const Vector4 ahead = eyeOf(camera, {-5.0f, 0.0f, 0.0f});
    EXPECT_NEAR(ahead.x, 0.0f, kTolerance);
    EXPECT_NEAR(ahead.y, 0.0f, kTolerance);
    EXPECT_NEAR(ahead.z, -5.0f, kTolerance);
}

TEST(EulerCameraFov, PositivePitchTiltsTheViewUpwards)
{
    EulerCameraFov camera(1.0f, 1.0f, 1.0f, 100.0f);
    camera.angles.x = 0.7853982f;
    camera.updateView();
    const Vector4 ahead = eyeOf(camera, {0.0f, 5.0f, 5.0f});
    EXPECT_NEAR(ahead.x, 0.0f, kTolerance);
    EXPECT_NEAR(ahead.y, 0.0f, 1e-4f);
    EXPECT_NEAR(ahead.z, -std::sqrt(50.0f), 1e-4f);
}

TEST(EulerCameraFov, TheMiddleAngleHasNoEffect)
{
    EulerCameraFov a(1.0f, 1.0f, 1.0f, 100.0f);
    EulerCameraFov b = a;
    b.angles.y = 0.9f;
    b.updateView();
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(a.view.m[i], b.view.m[i]);
    }
}

TEST(EulerCameraFov, MoveFollowsTheYawAndIgnoresThePitch)
{
    EulerCameraFov camera(1.0f, 1.0f, 1.0f, 100.0f);
    camera.angles = {0.6f, 0.0f, 1.5707964f};
    camera.move(0.0f, 0.5f, 0.0f);
    EXPECT_NEAR(camera.position.x, -0.5f, kTolerance);
    EXPECT_NEAR(camera.position.y, 0.0f, kTolerance);
    EXPECT_NEAR(camera.position.z, 0.0f, kTolerance);
    camera.move(0.5f, 0.0f, 0.25f);  // sideways to the right: +y after a quarter turn
    EXPECT_NEAR(camera.position.x, -0.5f, kTolerance);
    EXPECT_NEAR(camera.position.y, 0.5f, kTolerance);
    EXPECT_NEAR(camera.position.z, 0.25f, kTolerance);
    // The view follows the move at once.
    const Vector4 eye = eyeOf(camera, camera.position);
    EXPECT_NEAR(eye.x, 0.0f, kTolerance);
    EXPECT_NEAR(eye.y, 0.0f, kTolerance);
    EXPECT_NEAR(eye.z, 0.0f, kTolerance);
}

TEST(EulerCameraFov, SetPositionRebuildsTheView)
{
    EulerCameraFov camera(1.0f, 1.0f, 1.0f, 100.0f);
    camera.setPosition({1.0f, 2.0f, 3.0f});
    EXPECT_FLOAT_EQ(camera.view(0, 3), -1.0f);
    EXPECT_FLOAT_EQ(camera.view(1, 3), -2.0f);
    EXPECT_FLOAT_EQ(camera.view(2, 3), -3.0f);
}

TEST(EulerCameraFov, ProjectionChangesOnlyWhenUpdated)
{
    EulerCameraFov camera(1.0f, 1.0f, 1.0f, 100.0f);
    const Matrix4 before = camera.projection;
    camera.fov = 0.5f;
    camera.aspect = 2.0f;
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(camera.projection.m[i], before.m[i]);
    }
    camera.updateProjection();
    EXPECT_NEAR(camera.projection(1, 1), 1.0f / std::tan(0.25f), kTolerance);
    EXPECT_NEAR(camera.projection(0, 0), 0.5f / std::tan(0.25f), kTolerance);
}

TEST(EulerCameraFov, ZeroAspectGivesADegenerateMatrixWithoutFailing)
{
    EulerCameraFov camera(1.0f, 1.0f, 1.0f, 100.0f);
    camera.aspect = 0.0f;
    camera.updateProjection();
    EXPECT_TRUE(std::isinf(camera.projection(0, 0)));
}

TEST(OrthoCamera, DefaultBoxIsOneUnit)
{
    const OrthoCamera camera;
    EXPECT_FLOAT_EQ(camera.projection(0, 0), 2.0f);
    EXPECT_FLOAT_EQ(camera.projection(1, 1), 2.0f);
    EXPECT_FLOAT_EQ(camera.projection(2, 2), 2.0f);
    EXPECT_FLOAT_EQ(camera.projection(3, 3), 1.0f);
}

TEST(OrthoCamera, PathWindowBoxShowsTenByTenUnitsFromAbove)
{
    const OrthoCamera camera({10.0f, 10.0f, 10000.0f});
    const Vector4 corner = clipOf(camera, {5.0f, 5.0f, 0.0f});
    EXPECT_NEAR(corner.x, 1.0f, kTolerance);   // world x to the right
    EXPECT_NEAR(corner.y, 1.0f, kTolerance);   // world y up the screen
    EXPECT_NEAR(corner.z, 0.0f, kTolerance);   // the ground at depth 0
    const Vector4 other = clipOf(camera, {-5.0f, -5.0f, 0.0f});
    EXPECT_NEAR(other.x, -1.0f, kTolerance);
    EXPECT_NEAR(other.y, -1.0f, kTolerance);
    // Higher points are nearer to the viewer above.
    EXPECT_LT(clipOf(camera, {0.0f, 0.0f, 100.0f}).z, 0.0f);
    EXPECT_NEAR(clipOf(camera, {0.0f, 0.0f, 5000.0f}).z, -1.0f, kTolerance);
}

TEST(OrthoCamera, SetPositionMovesTheBoxAndKeepsTheProjection)
{
    OrthoCamera camera({10.0f, 10.0f, 10000.0f});
    const Matrix4 projection = camera.projection;
    camera.setPosition({2.0f, -3.0f, 1.0f});
    const Vector4 centre = clipOf(camera, {2.0f, -3.0f, 1.0f});
    EXPECT_NEAR(centre.x, 0.0f, kTolerance);
    EXPECT_NEAR(centre.y, 0.0f, kTolerance);
    EXPECT_NEAR(centre.z, 0.0f, kTolerance);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(camera.projection.m[i], projection.m[i]);
    }
    Vector4 v;
    transform(camera.view, Vector4{7.0f, 8.0f, 9.0f, 1.0f}, v);
    EXPECT_FLOAT_EQ(v.x, 5.0f);
    EXPECT_FLOAT_EQ(v.y, 8.0f);
    EXPECT_FLOAT_EQ(v.z, 11.0f);
}

TEST(Camera, CopyAssignmentTakesEveryField)
{
    EulerCameraFov camera;
    camera = EulerCameraFov(2.0f, 0.5f, 0.1f, 10.0f);
    EXPECT_FLOAT_EQ(camera.aspect, 2.0f);
    EXPECT_FLOAT_EQ(camera.fov, 0.5f);
    EXPECT_FLOAT_EQ(camera.zNear, 0.1f);
    EXPECT_FLOAT_EQ(camera.zFar, 10.0f);
    EXPECT_NEAR(camera.projection(1, 1), 1.0f / std::tan(0.25f), kTolerance);
    const Camera& base = camera;
    EXPECT_EQ(&base.projectionMatrix(), &camera.projection);
    EXPECT_EQ(&base.viewMatrix(), &camera.view);
}

}  // namespace
}  // namespace fyrel
