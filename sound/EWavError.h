#pragma once

#include <stdexcept>
#include <string>

namespace kavrel {

// A wave file could not be read or written. what() reads "<file>: <reason>".
class EWavError : public std::runtime_error {
public:
    EWavError(std::string fileName, std::string reason);

    const std::string& FileName() const noexcept { return m_fileName; }
    // The problem alone, without the file name.
    const std::string& Reason() const noexcept { return m_reason; }

private:
    std::string m_fileName;
    std::string m_reason;
};

} // namespace kavrel
