#include "paths/path_binding.h"

#include <cassert>
#include <cmath>
#include <cstddef>

namespace fyrel {

namespace {

bool isFinite(const Vector3& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool isFinite(const Quaternion& q)
{
    return std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
}

bool playsIkClip(const Animator& animator)
{
    const std::int32_t current = animator.current;
    if (current < 0 || static_cast<std::size_t>(current) >= animator.animations.size())
        return false;
    return animator.animations[static_cast<std::size_t>(current)].name == "IKAnimation";
}

}  // namespace

float easeDistance(float t)
{
    const double a = kEaseInAmplitude;
    const double b = kEaseOutAmplitude;
    const double q = kQuarterTurn;
    const double x = t;
    if (t <= kEaseInEnd)
        return static_cast<float>(a * std::sin(((x - kEaseInEnd) / kEaseInEnd) * q) + a);
    if (t >= kEaseOutStart)
        return static_cast<float>(b * std::sin(((x - kEaseOutStart) / kEaseOutLength) * q) - b + 1.0);
    return static_cast<float>((x - kEaseInEnd) * kCruiseSlope + a);
}

float speedFactor(float t)
{
    if (t <= kEaseInEnd)
        return t / kEaseInEnd;
    if (t >= kEaseOutStart)
        return (1.0f - t) / kEaseOutLength;
    return 1.0f;
}

void PathBinding::advance(float dt)
{
    assert(path && model);
    if (!path || !model || finished)
        return;
    if (!std::isfinite(dt) || dt < 0.0f)
        return;
    parameter = parameter + dt * kBindingRate;
    if (controller) {
        if (parameter >= 1.0f) {
            parameter = 1.0f;
            handOver();
            return;
        }
    } else {
        parameter = std::fmod(parameter, 1.0f);
    }
    speed = speedFactor(parameter);
    const float distance = easeDistance(parameter) * path->totalLength;
    const ArcLengthEntry e = path->findByDistance(searchHint, distance);
    model->animator.rate = speed;
    searchHint = static_cast<std::uint32_t>(e.index);
    place(e);
}

void PathBinding::handOver()
{
    if (playsIkClip(model->animator))
        return;
    try {
        controller->generateAnimation();
    } catch (...) {
        finished = true;
        throw;
    }
    controller->playAnimation();
}

void PathBinding::place(const ArcLengthEntry& e)
{
    if (isFinite(e.position))
        model->position = e.position;
    Vector3 direction;
    normalize(e.tangent, direction);
    if (!(length(direction) > 0.0f))  // no direction of travel, or NaN
        return;
    Quaternion turn, unit;
    rotationFromUp(direction, turn);
    quatNormalize(turn, unit);
    if (isFinite(unit))
        model->orientation = unit;
}

}  // namespace fyrel
