#pragma once

// Icon numbers of the program's resources.
namespace fyrel {

inline constexpr int kLargeIcon = 107;
inline constexpr int kSmallIcon = 108;

}  // namespace fyrel
