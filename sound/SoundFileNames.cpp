#include "sound/SoundFileNames.h"

#include <array>
#include <cctype>

namespace kavrel {

namespace {

constexpr std::array<std::string_view, 12> kExtensions{
    "wav", "flac", "ogg", "oga", "opus", "mp3", "aif", "aiff", "aifc", "caf", "w64", "rf64"};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != static_cast<unsigned char>(b[i]))
            return false;
    return true;
}

} // namespace

std::span<const std::string_view> SoundFileExtensions() noexcept
{
    return kExtensions;
}

bool IsSoundFileName(std::string_view path) noexcept
{
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string_view::npos || path[dot] != '.')
        return false;
    const std::string_view extension = path.substr(dot + 1);
    for (std::string_view known : kExtensions)
        if (EqualsIgnoringCase(extension, known))
            return true;
    return false;
}

} // namespace kavrel
