#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace kavrel {

// A file could not be written safely. what() reads "<file>: <reason>"; Error() is the errno
// value behind it (EACCES for a write-protected target).
class ESafeWriteError : public std::runtime_error {
public:
    ESafeWriteError(std::string fileName, std::string reason, int error)
        : std::runtime_error(fileName.empty() ? reason : fileName + ": " + reason),
          m_fileName(std::move(fileName)), m_reason(std::move(reason)), m_error(error)
    {
    }

    const std::string& FileName() const noexcept { return m_fileName; }
    const std::string& Reason() const noexcept { return m_reason; }
    int Error() const noexcept { return m_error; }

private:
    std::string m_fileName;
    std::string m_reason;
    int m_error;
};

} // namespace kavrel
