#pragma once

#include <stdexcept>
#include <string>

namespace kavrel {

// Raised by TMPCPlay; the message is the text shown to the user.
class EMPCPlayError : public std::runtime_error {
public:
    explicit EMPCPlayError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace kavrel
