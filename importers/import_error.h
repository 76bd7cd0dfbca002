#pragma once

#include <stdexcept>
#include <string>

namespace fyrel {

// The message text an importer raises. Commands catch it
// and show what() to the user; it is worded for them: which file, what is
// wrong.
class ImportError : public std::runtime_error {
public:
    explicit ImportError(const std::string& message) : std::runtime_error(message) {}
};

// An import the user cancelled while it ran: nothing to show.
class ImportCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "import cancelled"; }
};

}  // namespace fyrel
