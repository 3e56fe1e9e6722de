#include "sound/TSafeWriter.h"

#include "tests/sound/WavTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
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

// A long file comes out whole, every byte where it was written: through the page cache (what
// was written first leaves it while the rest is written) and past it, in pieces that do and do
// not end on its boundaries, from memory aligned in different ways, with an unnamed file and
// with the fallback's temporary name.
TEST(TSafeWriter, ALongFileComesOutWhole)
{
    struct TCase {
        bool Direct;
        const char* Named;
        std::size_t First; // a first piece, as a file's header
        std::size_t Chunk;
        std::size_t Chunks;
        std::size_t Shift; // of the bytes in memory from a 4096-byte boundary
    };
    const TCase cases[] = {
        {false, "0", 0, (std::size_t{1} << 20) + 3, 27, 0},
        {true, "0", 44, (std::size_t{1} << 19) + 3, 9, 1},
        {true, "1", 44, std::size_t{1} << 19, 8, 0},
        {true, "0", 44, 3 * 4096 + 2, 700, 0},
        {true, "0", 0, std::size_t{1} << 21, 3, 8},
        {true, "0", 0, 1000, 5, 0},
    };
    for (const TCase& c : cases) {
        ::setenv("KAVREL_SAFE_WRITE_NAMED", c.Named, 1);
        TScratchFolder folder;
        const std::string target = folder.File("long.bin");
        const std::size_t size = c.First + c.Chunk * c.Chunks;
        std::vector<char> memory(size + 8192);
        char* bytes = memory.data() +
                      (4096 - reinterpret_cast<std::uintptr_t>(memory.data()) % 4096) + c.Shift;
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((i * 131) >> 9);
        TSafeWriter writer(target);
        if (c.Direct)
            writer.WriteDirect();
        writer.Write(bytes, c.First);
        for (std::size_t i = 0; i < c.Chunks; ++i)
            writer.Write(bytes + c.First + i * c.Chunk, c.Chunk);
        writer.Commit();
        EXPECT_TRUE(Text(target) == std::string(bytes, size))
            << c.Direct << " " << c.Named << " " << c.Chunk << " " << c.Shift;
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"long.bin"});
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

// A pipe reached through a descriptor's name (what /dev/stdout leads to) is written in place: the
// link to "pipe:[N]" is no path to follow.
TEST(TSafeWriter, APipeReachedThroughADescriptorsNameIsWrittenInPlace)
{
    TScratchFolder folder;
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const std::string self = "/proc/self/fd/" + std::to_string(ends[1]);
    fs::create_symlink(self, folder.File("stdout"));
    for (const std::string& name :
         {self, "/dev/fd/" + std::to_string(ends[1]), folder.File("stdout")}) {
        TSafeWriter writer(name);
        EXPECT_TRUE(writer.InPlace()) << name;
        writer.Write("sound", 5);
        writer.Commit();
        char got[8] = {};
        EXPECT_EQ(::read(ends[0], got, sizeof got), 5) << name;
        EXPECT_STREQ(got, "sound");
    }
    ::close(ends[0]);
    ::close(ends[1]);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"stdout"});
}

// Files the program keeps for itself refuse a pipe in their place, and never wait for a reader
// (an open without O_NONBLOCK would wait for ever here).
TEST(TSafeWriter, APipeIsRefusedWithoutWaitingWhereOnlyFilesAreKept)
{
    TScratchFolder folder;
    const std::string fifo = folder.File("settings");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("settings", folder.File("link"));
    ::alarm(20);
    for (const std::string& name : {fifo, folder.File("link")}) {
        try {
            TSafeWriter::WriteWhole(name, "x", 1, TSafeWriter::TPipes::Refuse);
            ADD_FAILURE() << name;
        } catch (const ESafeWriteError& e) {
            EXPECT_NE(std::string(e.what()).find("is a pipe"), std::string::npos) << e.what();
        }
    }
    // Also with a reader there.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_THROW(TSafeWriter::WriteWhole(fifo, "x", 1, TSafeWriter::TPipes::Refuse),
                 ESafeWriteError);
    ::close(reader);
    ::alarm(0);
}

// A link in a shared folder (sticky, writable by all) is followed only when it is the user's or
// the folder owner's, as the kernel's protected_symlinks has it: another user's link there could
// point anywhere the user may write.
TEST(TSafeWriter, ALinkAnotherUserPlantedInASharedFolderIsNotFollowed)
{
    TScratchFolder folder;
    const fs::path shared = folder.Path() / "shared";
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const std::string victim = folder.File("notes.txt");
    Put(victim, "notes");
    const bool root = ::geteuid() == 0;
    struct TCase {
        uid_t Owner;
        bool Followed;
    };
    // Only root can give a link to another user; without, the planted link is the user's own.
    const TCase cases[] = {{::geteuid(), true}, {root ? 4321u : ::geteuid(), !root}};
    for (const TCase& c : cases) {
        const fs::path link = shared / "out.txt";
        fs::remove(link);
        fs::create_symlink(victim, link);
        if (root) {
            ASSERT_EQ(::lchown(link.c_str(), c.Owner, c.Owner), 0);
        }
        if (c.Followed) {
            TSafeWriter::WriteWhole(link.string(), "new", 3);
            EXPECT_EQ(Text(victim), "new");
            Put(victim, "notes");
        } else {
            EXPECT_THROW(TSafeWriter::WriteWhole(link.string(), "new", 3), ESafeWriteError);
            EXPECT_EQ(Text(victim), "notes");
        }
    }
}

// What a writer killed before it finished left in the folder goes with the next write there:
// only names the writer makes, only plain files of the user with no other name, and only when
// no one holds the file locked (a live writer does until its name is gone).
TEST(TSafeWriter, ADeadWritersLeftoversGoWithTheNextWriteAndALiveWritersStay)
{
    TScratchFolder folder;
    // A writer of this process with the fallback's temporary name is live.
    ::setenv("KAVREL_SAFE_WRITE_NAMED", "1", 1);
    TSafeWriter live(folder.File("live.txt"));
    live.Write("live", 4);
    ::unsetenv("KAVREL_SAFE_WRITE_NAMED");
    // A writer killed while writing under the fallback's name.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("KAVREL_SAFE_WRITE_NAMED", "1", 1);
        TSafeWriter writer(folder.File("killed.txt"));
        writer.Write("partial", 7);
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const auto plant = [&](const std::string& name) { Put(folder.File(name), "left"); };
    plant(".take.wav.kavrel-0123abcd"); // a dead writer's: goes
    plant(".take.wav.kavrel-0123ABCD"); // not a name the writer makes
    plant("take.wav.kavrel-0123abcd");  // not hidden
    plant(".take.wav.kavrel-0123abc");  // seven digits
    plant(".linked.kavrel-00000000");   // with a second name
    fs::create_hard_link(folder.File(".linked.kavrel-00000000"), folder.File("linked"));
    fs::create_directories(folder.File(".dir.kavrel-11111111"));
    fs::create_symlink("take.wav", folder.File(".link.kavrel-22222222"));
    plant(".held.kavrel-33333333"); // locked, as a live writer's
    const int held = ::open(folder.File(".held.kavrel-33333333").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    plant(".other.kavrel-44444444"); // another user's (root can tell)
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(folder.File(".other.kavrel-44444444").c_str(), 4321, 4321), 0);
    } else {
        fs::remove(folder.File(".other.kavrel-44444444"));
        plant("other");
    }
    ASSERT_EQ(folder.Entries().size(), 12u);

    TSafeWriter::WriteWhole(folder.File("next.txt"), "next", 4);
    const std::vector<std::string> left = folder.Entries();
    EXPECT_EQ(left.size(), 11u);
    EXPECT_EQ(std::count_if(left.begin(), left.end(),
                            [](const std::string& n) { return n.rfind(".killed.txt", 0) == 0; }),
              0);
    EXPECT_EQ(std::count(left.begin(), left.end(), ".take.wav.kavrel-0123abcd"), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), ".held.kavrel-33333333"), 1);
    live.Commit();
    EXPECT_EQ(Text(folder.File("live.txt")), "live");
    ::close(held);
}

} // namespace
} // namespace kavrel
