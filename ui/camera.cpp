#include "ui/camera.h"

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

}  // namespace fyrel
