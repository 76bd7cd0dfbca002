#pragma once

#include <stdexcept>
#include <string>

namespace fyrel {

// An IK generation that cannot be done (no model, or an end effector that is
// not in the skeleton). The message is worded for the user, who sees what()
// in the command's error box.
class IkError : public std::runtime_error {
public:
    explicit IkError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace fyrel
