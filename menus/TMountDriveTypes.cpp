#include "menus/TMountDriveTypes.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>

namespace kavrel {

namespace fs = std::filesystem;

namespace {

// Network file systems, including the fuse-based ones that reach a server.
// clang-format off
constexpr std::array<std::string_view, 27> RemoteFileSystems = {
    "nfs", "nfs4", "cifs", "smb", "smb2", "smb3", "smbfs", "ncpfs", "afs", "coda", "ceph",
    "glusterfs", "lustre", "gpfs", "beegfs", "orangefs", "davfs", "fuse.sshfs", "fuse.rclone",
    "fuse.s3fs", "fuse.gcsfuse", "fuse.davfs2", "fuse.curlftpfs", "fuse.glusterfs", "fuse.smbnetfs",
    "fuse.gvfsd-fuse", "fuse.afpfs",
};
// clang-format on

bool StartsWith(const std::string& text, std::string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// mountinfo writes blanks, tabs, newlines and backslashes in paths as three octal digits.
std::string Unescape(const std::string& field)
{
    std::string result;
    result.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
                result.push_back(static_cast<char>(std::stoi(digits, nullptr, 8) & 0xFF));
                i += 3;
                continue;
            }
        }
        result.push_back(field[i]);
    }
    return result;
}

// Whether the mount point contains the path (both absolute and lexically normal).
bool Contains(const std::string& mountPoint, const std::string& path)
{
    if (mountPoint == "/")
        return StartsWith(path, "/");
    return StartsWith(path, mountPoint) &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

bool ReadFlag(const fs::path& file)
{
    std::ifstream in(file);
    char c = '0';
    return static_cast<bool>(in >> c) && c == '1';
}

} // namespace

TMountDriveTypes::TMountDriveTypes(std::string mountInfo, std::string sysRoot)
    : m_mountInfo(std::move(mountInfo)), m_sysRoot(std::move(sysRoot))
{
}

std::vector<TMountDriveTypes::TMount> TMountDriveTypes::ParseMountInfo(const std::string& text)
{
    // id parent major:minor root mountpoint options [optional fields...] - fstype source super
    std::vector<TMount> mounts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        std::string word;
        while (fields >> word)
            words.push_back(word);
        std::size_t dash = 6;
        while (dash < words.size() && words[dash] != "-")
            ++dash;
        if (words.size() < 6 || dash + 2 >= words.size())
            continue;
        mounts.push_back(
            {words[2], Unescape(words[4]), words[dash + 1], Unescape(words[dash + 2])});
    }
    return mounts;
}

const TMountDriveTypes::TMount* TMountDriveTypes::MountOf(const std::vector<TMount>& mounts,
                                                          const std::string& path)
{
    // Later lines are mounted over earlier ones at the same point, so the last one wins a tie.
    const TMount* best = nullptr;
    for (const TMount& mount : mounts) {
        if (Contains(mount.MountPoint, path) &&
            (best == nullptr || mount.MountPoint.size() >= best->MountPoint.size()))
            best = &mount;
    }
    return best;
}

TDriveType TMountDriveTypes::ClassifyFileSystem(const std::string& fileSystem,
                                                const std::string& mountPoint)
{
    for (std::string_view remote : RemoteFileSystems) {
        if (fileSystem == remote)
            return TDriveType::Remote;
    }
    if (fileSystem == "iso9660" || fileSystem == "udf")
        return TDriveType::CDROM;
    if (fileSystem == "tmpfs" || fileSystem == "ramfs")
        return TDriveType::RAMDisk;
    if (Contains("/media", mountPoint) || Contains("/run/media", mountPoint))
        return TDriveType::Removable;
    return TDriveType::Fixed;
}

bool TMountDriveTypes::IsRemovableDevice(const std::string& deviceNumber) const
{
    // /sys/dev/block/<major:minor> leads to the device; a partition has its disk as parent,
    // and the disk carries the kernel's "removable" flag.
    std::error_code ec;
    const fs::path device = fs::canonical(fs::path(m_sysRoot) / "dev" / "block" / deviceNumber, ec);
    if (ec)
        return false;
    if (fs::exists(device / "removable", ec))
        return ReadFlag(device / "removable");
    if (fs::exists(device / "partition", ec))
        return ReadFlag(device.parent_path() / "removable");
    return false;
}

TDriveType TMountDriveTypes::DriveTypeOf(const std::string& path) const
{
    std::error_code ec;
    fs::path full = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec)
        full = fs::path(path).lexically_normal();
    std::string normal = full.string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();

    std::ifstream in(m_mountInfo);
    if (!in)
        return TDriveType::Unknown;
    std::stringstream text;
    text << in.rdbuf();
    const std::vector<TMount> mounts = ParseMountInfo(text.str());
    const TMount* mount = MountOf(mounts, normal);
    if (mount == nullptr)
        return TDriveType::Unknown;
    const TDriveType type = ClassifyFileSystem(mount->FileSystem, mount->MountPoint);
    if (type == TDriveType::Fixed && IsRemovableDevice(mount->DeviceNumber))
        return TDriveType::Removable;
    return type;
}

} // namespace kavrel
