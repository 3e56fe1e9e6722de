#pragma once

// Drive types on Linux, from the mount a path lies on (/proc/self/mountinfo): network file
// systems are remote, iso9660 and udf CD-ROM, tmpfs and ramfs RAM disk; a block device the
// kernel marks removable, or a mount under /media or /run/media, is removable; everything else
// is fixed. A path whose mount cannot be found is unknown.

#include "menus/TDriveTypes.h"

#include <string>
#include <vector>

namespace kavrel {

class TMountDriveTypes : public TDriveTypes {
public:
    // One line of mountinfo.
    struct TMount {
        std::string DeviceNumber; // "major:minor"
        std::string MountPoint;   // unescaped
        std::string FileSystem;   // e.g. "ext4", "fuse.sshfs"
        std::string Source;       // e.g. "/dev/sdb1", "server:/export"
    };

    // mountInfo and sysRoot can point elsewhere for tests.
    explicit TMountDriveTypes(std::string mountInfo = "/proc/self/mountinfo",
                              std::string sysRoot = "/sys");

    // Reads the mount table afresh on every call.
    TDriveType DriveTypeOf(const std::string& path) const override;

    // Parses mountinfo text; malformed lines are skipped.
    static std::vector<TMount> ParseMountInfo(const std::string& text);
    // The mount with the longest mount point that contains the absolute path, or null.
    static const TMount* MountOf(const std::vector<TMount>& mounts, const std::string& path);
    // Classification by file system type and mount point alone (Fixed when nothing else fits).
    static TDriveType ClassifyFileSystem(const std::string& fileSystem,
                                         const std::string& mountPoint);

private:
    bool IsRemovableDevice(const std::string& deviceNumber) const;

    std::string m_mountInfo;
    std::string m_sysRoot;
};

} // namespace kavrel
