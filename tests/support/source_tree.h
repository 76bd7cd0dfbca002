#pragma once

#include <string>
#include <string_view>

namespace fyrel {

// A file of the source tree (test data, the demo, the shaders) by its path
// from the tree's top, so that tests find their data from any working folder.
inline std::string sourcePath(std::string_view relative) {
    return std::string(FYREL_SOURCE_DIR) + "/" + std::string(relative);
}

}  // namespace fyrel
