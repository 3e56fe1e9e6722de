#pragma once

#include <stdexcept>
#include <string>

namespace kavrel {

// Raised by an axis for a non-positive end on a logarithmic scale and for a tick index out of
// range; the message is meant for the user.
class EAxisError : public std::runtime_error {
public:
    explicit EAxisError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace kavrel
