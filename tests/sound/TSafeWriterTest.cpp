#include "sound/TSafeWriter.h"

#include "tests/sound/WavTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kavrel {
namespace {

namespace fs = std::filesystem;
using test::TScratchFolder;

std::string Text(const std::string& path)
{
    const std::vector<std::byte> bytes = test::ReadBytes(path);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void Put(const std::string& path, const std::string& text)
{
    std::vector<std::byte> bytes(text.size());
    std::memcpy(bytes.data(), text.data(), text.size());
    test::WriteBytes(path, bytes);
}

// While the new file is written, abandoned or completed, the folder holds the target and nothing
// else, with either the fallback's temporary name or an unnamed file.
TEST(TSafeWriter, TheFolderHoldsTheOldOrTheNewFileAndNothingElse)
{
    for (const char* named : {"0", "1"}) {
        ::setenv("KAVREL_SAFE_WRITE_NAMED", named, 1);
        TScratchFolder folder;
        const std::string target = folder.File("keep.txt");
        Put(target, "old");
        {
            TSafeWriter writer(target);
            writer.Write("new, but never finished", 23);
            const std::vector<std::string> during = folder.Entries();
            EXPECT_EQ(during.size(), *named == '1' ? 2u : 1u) << named;
        }
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"keep.txt"}) << named;
        EXPECT_EQ(Text(target), "old");
        TSafeWriter::WriteWhole(target, "new", 3);
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"keep.txt"}) << named;
        EXPECT_EQ(Text(target), "new");
        // A new file gets the name as it is completed.
        TSafeWriter::WriteWhole(folder.File("fresh.txt"), "fresh", 5);
        EXPECT_EQ(Text(folder.File("fresh.txt")), "fresh");
    }
    ::unsetenv("KAVREL_SAFE_WRITE_NAMED");
}

// The fallback's temporary name goes with the program on SIGINT, SIGTERM and SIGHUP.
TEST(TSafeWriter, AStopSignalRemovesTheFallbackTemporary)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        TScratchFolder folder;
        const std::string target = folder.File("keep.txt");
        Put(target, "old");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::setenv("KAVREL_SAFE_WRITE_NAMED", "1", 1);
            ::signal(signal, SIG_DFL);
            TSafeWriter writer(target);
            writer.Write("partial", 7);
            ::raise(signal);
            ::_exit(3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"keep.txt"}) << signal;
        EXPECT_EQ(Text(target), "old");
    }
}

TEST(TSafeWriter, WriteProtectedTargetIsRefusedAlsoForRoot)
{
    TScratchFolder folder;
    const std::string target = folder.File("locked.txt");
    Put(target, "old");
    ::chmod(target.c_str(), 0444);
    try {
        TSafeWriter::WriteWhole(target, "new", 3);
        FAIL() << "replaced";
    } catch (const ESafeWriteError& e) {
        EXPECT_EQ(e.Error(), EACCES);
        EXPECT_NE(std::string(e.what()).find("write-protected"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Text(target), "old");
    EXPECT_EQ(folder.Entries().size(), 1u);
}

TEST(TSafeWriter, LinksAreFollowedAlsoToAFileNotThereYet)
{
    TScratchFolder folder;
    fs::create_directories(folder.Path() / "real");
    const std::string link = folder.File("link.txt");
    fs::create_symlink("real/target.txt", link);
    TSafeWriter::WriteWhole(link, "new", 3);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Text(folder.File("real/target.txt")), "new");
    TSafeWriter::WriteWhole(link, "newer", 5);
    EXPECT_EQ(Text(folder.File("real/target.txt")), "newer");
    fs::create_symlink("loop.txt", folder.File("loop.txt"));
    EXPECT_THROW(TSafeWriter::WriteWhole(folder.File("loop.txt"), "x", 1), ESafeWriteError);
}

TEST(TSafeWriter, ADeviceBehindALinkIsWrittenInPlace)
{
    TScratchFolder folder;
    const std::string link = folder.File("settings.zelfile");
    fs::create_symlink("/dev/null", link);
    TSafeWriter writer(link);
    EXPECT_TRUE(writer.InPlace());
    writer.Write("discarded", 9);
    writer.Commit();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(folder.Entries().size(), 1u);
}

TEST(TSafeWriter, AReplacedFileKeepsItsModeOwnerAndGroup)
{
    TScratchFolder folder;
    const std::string target = folder.File("owned.txt");
    Put(target, "old");
    ::chmod(target.c_str(), 0604);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(target.c_str(), 4321, 4322), 0);
    }
    TSafeWriter::WriteWhole(target, "new", 3);
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    if (root) {
        EXPECT_EQ(info.st_uid, 4321u);
        EXPECT_EQ(info.st_gid, 4322u);
    }
    EXPECT_EQ(Text(target), "new");
}

} // namespace
} // namespace kavrel
