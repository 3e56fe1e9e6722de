#include "settings/TProgId.h"

namespace kavrel {

std::string TProgId::ProgramVersion() const
{
    return m_autoVersion ? std::string(AutoVersionText) : m_version;
}

} // namespace kavrel
