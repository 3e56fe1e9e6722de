#include "sound/SoundFileNames.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace kavrel {

namespace {

constexpr std::array<std::string_view, 12> kExtensions{
    "wav", "flac", "ogg", "oga", "opus", "mp3", "aif", "aiff", "aifc", "caf", "w64", "rf64"};

} // namespace

std::span<const std::string_view> SoundFileExtensions() noexcept
{
    return kExtensions;
}

std::string FileNameExtension(std::string_view path)
{
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string_view::npos || path[dot] != '.')
        return {};
    std::string extension(path.substr(dot + 1));
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

bool IsSoundFileName(std::string_view path)
{
    return std::find(kExtensions.begin(), kExtensions.end(), FileNameExtension(path)) !=
           kExtensions.end();
}

bool IsReadOnlySoundName(std::string_view path)
{
    const std::string extension = FileNameExtension(path);
    return IsSoundFileName(path) && extension != "wav" && extension != "flac";
}

} // namespace kavrel
