#pragma once

#include <deque>

namespace fyrel {

// The scene's lists (models, paths, bindings, IK controllers) hold their
// elements by value. Bindings, controllers and key frames keep plain pointers
// into them, so appending must never move an element: a deque grows without
// relocating what it holds.
template <typename T>
using SceneList = std::deque<T>;

}  // namespace fyrel
