#pragma once

namespace kavrel {

// The kind of storage a file lies on.
enum class TDriveType {
    Unknown,
    NoRootDir,
    Removable,
    Fixed,
    Remote,
    CDROM,
    RAMDisk,
};

} // namespace kavrel
