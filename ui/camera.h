#pragma once

#include "math/matrix.h"
#include "math/vector.h"

namespace fyrel {

// A camera hands the render pass two matrices. Reading them computes nothing:
// a camera rebuilds a matrix only when one of its operations is called.
//
// World convention: z is up, the ground is the plane z = 0. The render pass
// puts a fixed axis change C, (a, b, c) -> (a, c, -b), in front of the view
// matrix; after C the eye looks along its -z axis with +y up.
class Camera {
public:
    virtual ~Camera() = default;
    virtual const Matrix4& viewMatrix() const = 0;
    virtual const Matrix4& projectionMatrix() const = 0;
};

// The perspective camera of a GlWindow: an eye at position, turned by a yaw
// about the world z axis (angles.z) and a pitch about its own x axis
// (angles.x; angles.y is not used), with a vertical field of view fov.
// Callers may write angles, aspect and fov directly and then call the
// matching update.
class EulerCameraFov : public Camera {
public:
    Matrix4 view;
    Matrix4 projection;
    Vector3 position;
    Vector3 angles;
    float aspect = 1.3333334f;
    float fov = 1.570796f;
    float zNear = 1.0f;
    float zFar = 100.0f;

    // Leaves both matrices at the identity.
    EulerCameraFov() = default;
    // The defaults with these four values; both matrices are computed.
    EulerCameraFov(float aspectRatio, float fieldOfView, float nearDistance, float farDistance);

    // view = Rx(pitch)·Rz(yaw)·T(−position): the inverse of the camera's turn.
    void updateView();
    // The symmetric frustum: depth −zNear maps to −1, −zFar to +1. A zero
    // aspect or zNear equal to zFar gives a degenerate matrix, not an error.
    void updateProjection();
    // Moves the eye by (dx, dy, dz) turned by the yaw only: +y is forward and
    // +x right in the horizontal plane, dz is straight along world z.
    void move(float dx, float dy, float dz);
    void setPosition(const Vector3& point);

    const Matrix4& viewMatrix() const override { return view; }
    const Matrix4& projectionMatrix() const override { return projection; }
};

// The top-down orthographic camera of a PathWindow: the box of size extents
// (world x, y, z) centred on position, seen from above with world x to the
// right and world y up. No aspect correction: a window that is not square
// stretches the picture.
class OrthoCamera : public Camera {
public:
    Matrix4 view;
    Matrix4 projection;
    Vector3 extents{1.0f, 1.0f, 1.0f};
    Vector3 position;

    OrthoCamera();
    explicit OrthoCamera(const Vector3& boxExtents);

    void updateView();
    void updateProjection();
    void setPosition(const Vector3& point);

    const Matrix4& viewMatrix() const override { return view; }
    const Matrix4& projectionMatrix() const override { return projection; }
};

// The automatic framing's turn: the models face +Y, so the camera looks
// towards −Y at their front, 30° off to their right and 20° down.
inline constexpr float kFrontThreeQuarterYaw = 3.14159265f - 0.5235988f;
inline constexpr float kFrontThreeQuarterPitch = -0.34906585f;

// Frame All: keeps the camera's direction and puts it on the line through
// the box's centre (low <= high), as far as makes the box's bounding sphere
// fill the narrower field of view; the near and far planes follow the
// distance, so that a tiny model is not clipped away and a huge one not cut
// off. Returns the sphere's radius (at least a thousandth). The views and
// the pictures without a window frame through this one function.
float frameBoxAlongView(EulerCameraFov& camera, const Vector3& low, const Vector3& high);

}  // namespace fyrel
