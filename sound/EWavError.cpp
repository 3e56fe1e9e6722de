#include "sound/EWavError.h"

#include <utility>

namespace kavrel {

namespace {

std::string Compose(const std::string& fileName, const std::string& reason)
{
    return fileName.empty() ? reason : fileName + ": " + reason;
}

} // namespace

EWavError::EWavError(std::string fileName, std::string reason)
    : std::runtime_error(Compose(fileName, reason)), m_fileName(std::move(fileName)),
      m_reason(std::move(reason))
{
}

} // namespace kavrel
