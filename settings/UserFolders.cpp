#include "settings/UserFolders.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace kavrel {

namespace fs = std::filesystem;

namespace {

fs::path AbsoluteFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return {};
    fs::path path(value);
    // Relative values are invalid for these variables and would land in whatever the current
    // folder happens to be.
    return path.is_absolute() ? path : fs::path{};
}

bool IsFolder(const fs::path& path)
{
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec);
}

// Whether a file can be created in the folder: tries one and removes it again.
bool CanWriteIn(const fs::path& folder)
{
    if (!IsFolder(folder))
        return false;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path probe = folder / (".kavrel-probe-" + std::to_string(stamp));
    bool written = false;
    {
        std::ofstream out(probe, std::ios::binary | std::ios::trunc);
        written = static_cast<bool>(out);
    }
    std::error_code ec;
    fs::remove(probe, ec);
    return written;
}

} // namespace

fs::path UserConfigFolder()
{
    if (fs::path config = AbsoluteFromEnvironment("XDG_CONFIG_HOME"); !config.empty())
        return config;
    if (fs::path home = AbsoluteFromEnvironment("HOME"); !home.empty())
        return home / ".config";
    return {};
}

TProgramFolder ProgramFolder(const TProgId& id)
{
    if (const fs::path config = UserConfigFolder(); !config.empty()) {
        const fs::path folder = config / id.Company() / id.ProductName() / id.ProgramVersion();
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (!ec && IsFolder(folder))
            return {folder, true};
    }
    // No configuration folder can be found or made (no home, a read-only or full home, a file
    // where a folder should be). Settings must still go somewhere the user can write and that
    // belongs to the user, never a system folder: the home folder itself, and when even that is
    // missing the temporary folder, where at least this session's settings survive.
    if (const fs::path home = AbsoluteFromEnvironment("HOME"); CanWriteIn(home))
        return {home, false};
    std::error_code ec;
    fs::path temp = fs::temp_directory_path(ec);
    if (ec || temp.empty())
        temp = "/tmp";
    return {temp, false};
}

} // namespace kavrel
