#include "settings/UserFolders.h"

#include "sound/TSafeWriter.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

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

// Whether no other user can write into the folder `info` describes. The group counts as other
// users unless it is the user's own; `last` is the folder the files go in, which must be the
// user's own, where a folder above it may also be root's, or a shared one that is sticky (others
// can then add names beside ours but not take ours away).
bool KeepsOthersOut(const struct stat& info, bool last)
{
    const uid_t user = ::geteuid();
    if (!S_ISDIR(info.st_mode) || (info.st_uid != user && (last || info.st_uid != 0)))
        return false;
    const bool othersWrite = (info.st_mode & S_IWOTH) != 0 ||
                             ((info.st_mode & S_IWGRP) != 0 && info.st_gid != ::getegid());
    return !othersWrite || (!last && (info.st_mode & S_ISVTX) != 0);
}

// The deepest folder of path (itself or one above) that exists.
fs::path ExistingPart(fs::path path)
{
    std::error_code ec;
    while (!path.empty() && !fs::exists(path, ec) && path != path.root_path())
        path = path.parent_path();
    return path;
}

} // namespace

bool IsPrivateFolder(const fs::path& folder)
{
    if (!folder.is_absolute())
        return false;
    // As named: every link on the way must be one the kernel's protected_symlinks would follow,
    // every folder one that keeps others out.
    fs::path named;
    for (const fs::path& part : folder.lexically_normal()) {
        named /= part;
        struct stat info {};
        if (::lstat(named.c_str(), &info) != 0)
            return false;
        if (S_ISLNK(info.st_mode) ? !TSafeWriter::MayFollowLink(named.string())
                                  : !KeepsOthersOut(info, false))
            return false;
    }
    // As reached.
    std::error_code ec;
    const fs::path real = fs::canonical(folder, ec);
    if (ec)
        return false;
    fs::path reached;
    for (const fs::path& part : real) {
        reached /= part;
        struct stat info {};
        if (::stat(reached.c_str(), &info) != 0 || !KeepsOthersOut(info, reached == real))
            return false;
    }
    return true;
}

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
        // Nothing is made below a folder that is not private, nor through a planted link.
        const fs::path existing = ExistingPart(folder);
        if (IsPrivateFolder(existing)) {
            std::error_code ec;
            fs::create_directories(folder, ec);
            if (!ec && IsPrivateFolder(folder))
                return {folder, true};
        }
    }
    // No configuration folder can be found or made (no home, a read-only or full home, a file
    // where a folder should be): the home folder itself, when it is the user's own. Anywhere
    // else, such as the temporary folder, another user could read, replace or redirect the files.
    if (const fs::path home = AbsoluteFromEnvironment("HOME");
        IsPrivateFolder(home) && CanWriteIn(home))
        return {home, false};
    return {};
}

} // namespace kavrel
