#include "ui/camera.h"

#include <algorithm>
#include <cmath>

namespace fyrel {

EulerCameraFov::EulerCameraFov(float aspectRatio, float fieldOfView, float nearDistance, float farDistance)
    : aspect(aspectRatio), fov(fieldOfView), zNear(nearDistance), zFar(farDistance)
{
    updateView();
    updateProjection();
}

void EulerCameraFov::updateView()
{
    const float ca = std::cos(angles.x);
    const float sa = std::sin(angles.x);
    const float cb = std::cos(angles.z);
    const float sb = std::sin(angles.z);

    Matrix4 rx;
    rx(1, 1) = ca;
    rx(1, 2) = sa;
    rx(2, 1) = -sa;
    rx(2, 2) = ca;

    Matrix4 rz;
    rz(0, 0) = cb;
    rz(0, 1) = sb;
    rz(1, 0) = -sb;
    rz(1, 1) = cb;

    Matrix4 t;
    t(0, 3) = -position.x;
    t(1, 3) = -position.y;
    t(2, 3) = -position.z;

    Matrix4 turn;
    mul(mul(rx, rz, turn), t, view);
}

void EulerCameraFov::updateProjection()
{
    const float t = std::tan(fov * 0.5f);
    const float f = 1.0f / t;
    projection = Matrix4{};
    projection(0, 0) = f / aspect;
    projection(1, 1) = f;
    projection(2, 2) = (zFar + zNear) / (zNear - zFar);
    projection(2, 3) = 2.0f * zFar * zNear / (zNear - zFar);
    projection(3, 2) = -1.0f;
    projection(3, 3) = 0.0f;
}

void EulerCameraFov::move(float dx, float dy, float dz)
{
    Matrix4 yaw;
    eulerToMatrix(0.0f, 0.0f, angles.z, yaw);
    Vector4 d;
    transform(yaw, Vector4{dx, dy, dz, 1.0f}, d);
    position.x = position.x + d.x;
    position.y = position.y + d.y;
    position.z = position.z + d.z;
    updateView();
}

void EulerCameraFov::setPosition(const Vector3& point)
{
    position = point;
    updateView();
}

OrthoCamera::OrthoCamera()
{
    updateView();
    updateProjection();
}

OrthoCamera::OrthoCamera(const Vector3& boxExtents) : extents(boxExtents)
{
    updateView();
    updateProjection();
}

void OrthoCamera::updateView()
{
    view = Matrix4{};
    view(0, 3) = -position.x;
    view(1, 1) = 0.0f;
    view(1, 2) = 1.0f;
    view(1, 3) = -position.z;
    view(2, 1) = 1.0f;
    view(2, 2) = 0.0f;
    view(2, 3) = -position.y;
}

void OrthoCamera::updateProjection()
{
    projection = Matrix4{};
    projection(0, 0) = 2.0f / extents.x;
    projection(1, 1) = 2.0f / extents.y;
    projection(2, 2) = 2.0f / extents.z;
}

void OrthoCamera::setPosition(const Vector3& point)
{
    position = point;
    updateView();
}

float frameBoxAlongView(EulerCameraFov& camera, const Vector3& low, const Vector3& high)
{
    const Vector3 centre{(low.x + high.x) * 0.5f, (low.y + high.y) * 0.5f, (low.z + high.z) * 0.5f};
    Vector3 diagonal;
    const float radius = std::max(0.5f * length(difference(high, low, diagonal)), 1e-3f);
    // Half of the narrower opening: vertical fov, or the horizontal one of a
    // window taller than wide.
    const float halfVertical = camera.fov * 0.5f;
    const float halfHorizontal = std::atan(std::tan(halfVertical) * camera.aspect);
    const float half = std::min(halfVertical, halfHorizontal);
    const float distance = radius / std::sin(half);
    // The view matrix turns the look direction into +y (before the render
    // pass's axis change), so the direction is its rotation's second row.
    const Vector3 forward{camera.view(1, 0), camera.view(1, 1), camera.view(1, 2)};
    camera.position = Vector3{centre.x - forward.x * distance, centre.y - forward.y * distance,
                              centre.z - forward.z * distance};
    // Near enough for the models and a few steps towards them, far enough
    // for the ground and for backing away from a large model.
    camera.zNear = std::min(1.0f, (distance - radius) * 0.5f);
    camera.zFar = std::max(1000.0f, (distance + radius) * 4.0f);
    camera.updateView();
    camera.updateProjection();
    return radius;
}

}  // namespace fyrel
