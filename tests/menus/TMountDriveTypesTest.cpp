#include "menus/TMountDriveTypes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

// Lines as the kernel writes them: optional fields before the "-", octal escapes in paths.
const char* const MountInfo =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
    "30 22 0:25 / /tmp rw,nosuid shared:5 - tmpfs tmpfs rw\n"
    "31 22 0:40 / /home/user/net rw - nfs4 server:/export rw,vers=4.2\n"
    "32 22 0:41 / /home/user/ssh rw shared:9 master:2 - fuse.sshfs me@host:/ rw\n"
    "33 22 11:0 / /mnt/cd ro - iso9660 /dev/sr0 ro\n"
    "34 22 8:17 / /mnt/my\\040stick rw - vfat /dev/sdb1 rw\n"
    "35 22 8:33 / /run/media/user/DISK rw - ext4 /dev/sdc1 rw\n"
    "36 22 0:50 / /mnt/ram rw - ramfs ramfs rw\n"
    "37 22 0:51 / /mnt/smb rw - cifs //nas/share rw\n"
    "38 22 8:2 / /home rw - ext4 /dev/sda2 rw\n"
    "garbage line\n"
    "\n";

TEST(TMountDriveTypes, ParsesMountInfo)
{
    const auto mounts = TMountDriveTypes::ParseMountInfo(MountInfo);
    ASSERT_EQ(mounts.size(), 11u);
    EXPECT_EQ(mounts[0].DeviceNumber, "8:1");
    EXPECT_EQ(mounts[0].MountPoint, "/");
    EXPECT_EQ(mounts[0].FileSystem, "ext4");
    EXPECT_EQ(mounts[0].Source, "/dev/sda1");
    EXPECT_EQ(mounts[4].FileSystem, "fuse.sshfs");
    EXPECT_EQ(mounts[4].Source, "me@host:/");
    EXPECT_EQ(mounts[6].MountPoint, "/mnt/my stick");
}

TEST(TMountDriveTypes, FindsTheInnermostMount)
{
    const auto mounts = TMountDriveTypes::ParseMountInfo(MountInfo);
    auto mountPointOf = [&](const std::string& path) {
        const auto* mount = TMountDriveTypes::MountOf(mounts, path);
        return mount != nullptr ? mount->MountPoint : std::string("none");
    };
    EXPECT_EQ(mountPointOf("/home/user/net/a.wav"), "/home/user/net");
    EXPECT_EQ(mountPointOf("/home/user/network/a.wav"), "/home");
    EXPECT_EQ(mountPointOf("/homework/a.wav"), "/");
    EXPECT_EQ(mountPointOf("/tmp"), "/tmp");
    EXPECT_EQ(mountPointOf("/mnt/my stick/a.wav"), "/mnt/my stick");
    EXPECT_EQ(mountPointOf("relative.wav"), "none");
}

struct FileSystemCase {
    const char* FileSystem;
    const char* MountPoint;
    TDriveType Expected;
};

class TMountDriveTypesClassify : public ::testing::TestWithParam<FileSystemCase> {};

TEST_P(TMountDriveTypesClassify, ByFileSystemAndMountPoint)
{
    EXPECT_EQ(TMountDriveTypes::ClassifyFileSystem(GetParam().FileSystem, GetParam().MountPoint),
              GetParam().Expected)
        << GetParam().FileSystem << " " << GetParam().MountPoint;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TMountDriveTypesClassify,
    ::testing::Values(FileSystemCase{"nfs", "/net", TDriveType::Remote},
                      FileSystemCase{"nfs4", "/net", TDriveType::Remote},
                      FileSystemCase{"cifs", "/mnt/share", TDriveType::Remote},
                      FileSystemCase{"smb3", "/mnt/share", TDriveType::Remote},
                      FileSystemCase{"fuse.sshfs", "/home/u/ssh", TDriveType::Remote},
                      FileSystemCase{"fuse.rclone", "/home/u/cloud", TDriveType::Remote},
                      FileSystemCase{"iso9660", "/mnt/cd", TDriveType::CDROM},
                      FileSystemCase{"udf", "/media/u/DVD", TDriveType::CDROM},
                      FileSystemCase{"tmpfs", "/tmp", TDriveType::RAMDisk},
                      FileSystemCase{"ramfs", "/mnt/ram", TDriveType::RAMDisk},
                      FileSystemCase{"vfat", "/media/u/STICK", TDriveType::Removable},
                      FileSystemCase{"ext4", "/run/media/u/DISK", TDriveType::Removable},
                      FileSystemCase{"ext4", "/mediathek", TDriveType::Fixed},
                      FileSystemCase{"ext4", "/", TDriveType::Fixed},
                      FileSystemCase{"btrfs", "/home", TDriveType::Fixed},
                      FileSystemCase{"fuse.portal", "/run/user/1000/doc", TDriveType::Fixed}));

// A mount table and a /sys tree in a temporary folder, so removable flags can be set.
class TMountDriveTypesSystem : public ::testing::Test {
protected:
    TMountDriveTypesSystem()
    {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root = fs::temp_directory_path() / ("kavrel-mounts-" + std::to_string(stamp));
        // sda: fixed disk with partitions 8:1, 8:2; sdb: removable stick with partition 8:17;
        // sr0: a whole device 11:0 that is removable.
        MakeDevice("sda", "0", {{"sda1", "8:1"}, {"sda2", "8:2"}});
        MakeDevice("sdb", "1", {{"sdb1", "8:17"}});
        MakeDevice("sdc", "0", {{"sdc1", "8:33"}});
        fs::create_directories(root / "devices" / "sr0");
        std::ofstream(root / "devices" / "sr0" / "removable") << "1\n";
        fs::create_directories(root / "sys" / "dev" / "block");
        fs::create_directory_symlink(root / "devices" / "sr0",
                                     root / "sys" / "dev" / "block" / "11:0");
        std::ofstream(root / "mountinfo") << MountInfo;
    }
    ~TMountDriveTypesSystem() override
    {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    void MakeDevice(const std::string& disk, const std::string& removable,
                    const std::vector<std::pair<std::string, std::string>>& partitions)
    {
        const fs::path diskPath = root / "devices" / disk;
        fs::create_directories(diskPath);
        std::ofstream(diskPath / "removable") << removable << "\n";
        fs::create_directories(root / "sys" / "dev" / "block");
        for (const auto& [name, number] : partitions) {
            fs::create_directories(diskPath / name);
            std::ofstream(diskPath / name / "partition") << "1\n";
            fs::create_directory_symlink(diskPath / name, root / "sys" / "dev" / "block" / number);
        }
    }

    TDriveType TypeOf(const std::string& path) const
    {
        return TMountDriveTypes((root / "mountinfo").string(), (root / "sys").string())
            .DriveTypeOf(path);
    }

    fs::path root;
};

TEST_F(TMountDriveTypesSystem, ClassifiesPathsByTheirMount)
{
    EXPECT_EQ(TypeOf("/etc/a.wav"), TDriveType::Fixed);
    EXPECT_EQ(TypeOf("/home/user/a.wav"), TDriveType::Fixed);
    EXPECT_EQ(TypeOf("/home/user/net/a.wav"), TDriveType::Remote);
    EXPECT_EQ(TypeOf("/home/user/ssh/a.wav"), TDriveType::Remote);
    EXPECT_EQ(TypeOf("/mnt/smb/a.wav"), TDriveType::Remote);
    EXPECT_EQ(TypeOf("/mnt/cd/a.wav"), TDriveType::CDROM);
    EXPECT_EQ(TypeOf("/mnt/ram/a.wav"), TDriveType::RAMDisk);
    EXPECT_EQ(TypeOf("/mnt/my stick/a.wav"), TDriveType::Removable);
    EXPECT_EQ(TypeOf("/run/media/user/DISK/a.wav"), TDriveType::Removable);
}

TEST_F(TMountDriveTypesSystem, NoMountTableMeansUnknown)
{
    EXPECT_EQ(TMountDriveTypes((root / "missing").string(), (root / "sys").string())
                  .DriveTypeOf("/etc/a.wav"),
              TDriveType::Unknown);
    std::ofstream(root / "mountinfo") << "31 22 0:40 / /home/user/net rw - nfs4 server:/e rw\n";
    EXPECT_EQ(TypeOf("/etc/a.wav"), TDriveType::Unknown);
}

TEST(TMountDriveTypes, RunningSystemHasAMountForTheRoot)
{
    if (!fs::exists("/proc/self/mountinfo"))
        GTEST_SKIP() << "no /proc here";
    EXPECT_NE(TMountDriveTypes().DriveTypeOf("/"), TDriveType::Unknown);
}

} // namespace
} // namespace kavrel
