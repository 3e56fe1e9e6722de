#pragma once

#include <stdexcept>
#include <string>

namespace kavrel {

// Raised by the settings file and the recent files list when they are used without a program
// identity, and when a stored value does not have the type asked for.
class EZELfileError : public std::runtime_error {
public:
    explicit EZELfileError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace kavrel
