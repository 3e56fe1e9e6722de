// The new file is written unnamed and linked in when complete, so that not even SIGKILL or a
// power cut can leave a partial file behind. Linking goes through /proc/self/fd, which needs no
// privilege (linkat with AT_EMPTY_PATH would). An existing target cannot be replaced by linkat,
// so the complete file is linked under a temporary name and renamed over it: the name exists
// for the moment between the two calls only.
#include "sound/TSafeWriter.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavrel {

namespace {

std::string Reason(int error)
{
    char buffer[256] = {};
    // The GNU strerror_r returns its text, which may or may not be the buffer.
    return ::strerror_r(error, buffer, sizeof buffer);
}

// Temporary names that exist right now, for the signal handler to remove. A slot is claimed
// under the mutex and filled before it is marked in use, so the handler only ever sees whole
// names.
constexpr int kTempSlots = 16;
struct TTempSlot {
    std::atomic<bool> InUse{false};
    char Path[PATH_MAX + 1] = {};
};
std::array<TTempSlot, kTempSlots> g_tempSlots;
std::mutex g_tempMutex;
constexpr std::array<int, 3> kCleanupSignals{SIGINT, SIGTERM, SIGHUP};

void RemoveTemporariesAndDie(int signal)
{
    for (TTempSlot& slot : g_tempSlots)
        if (slot.InUse.load())
            ::unlink(slot.Path);
    // Die of the signal as the program would have without this handler.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Takes over the signals whose action is still the default one (which would end the program
// without a chance to clean up); a program that handles them itself unwinds and cleans up.
void WatchSignals()
{
    for (const int signal : kCleanupSignals) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
            (current.sa_flags & SA_SIGINFO) != 0)
            continue;
        struct sigaction action {};
        action.sa_handler = RemoveTemporariesAndDie;
        sigemptyset(&action.sa_mask);
        for (const int other : kCleanupSignals)
            sigaddset(&action.sa_mask, other);
        ::sigaction(signal, &action, nullptr);
    }
}

// The slot holding path, or -1 when the list is full (the name is then only removed by the
// normal ways out).
int RegisterTemporary(const std::string& path)
{
    if (path.size() > PATH_MAX)
        return -1;
    const std::lock_guard lock(g_tempMutex);
    WatchSignals();
    for (int i = 0; i < kTempSlots; ++i) {
        TTempSlot& slot = g_tempSlots[static_cast<std::size_t>(i)];
        if (slot.InUse.load())
            continue;
        std::memcpy(slot.Path, path.c_str(), path.size() + 1);
        slot.InUse.store(true);
        return i;
    }
    return -1;
}

void UnregisterTemporary(int index) noexcept
{
    if (index < 0)
        return;
    const std::lock_guard lock(g_tempMutex);
    g_tempSlots[static_cast<std::size_t>(index)].InUse.store(false);
}

// The folder part of path, "." when there is none.
std::string FolderOf(const std::string& path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// path with every symbolic link along the last component followed, also to a file that does
// not exist (yet). Throws ESafeWriteError naming `name` for a loop.
std::string FollowLinks(const std::string& path, const std::string& name)
{
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        std::array<char, PATH_MAX + 1> buffer{};
        const ssize_t n = ::readlink(current.c_str(), buffer.data(), PATH_MAX);
        if (n < 0)
            throw ESafeWriteError(name, "cannot follow the link: " + Reason(errno), errno);
        const std::string link(buffer.data(), static_cast<std::size_t>(n));
        current =
            link.front() == '/' ? link : (std::filesystem::path(FolderOf(current)) / link).string();
    }
    throw ESafeWriteError(name, "cannot follow the link: " + Reason(ELOOP), ELOOP);
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0)
{
    int fd = -1;
    do
        fd = ::open(path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// ".NAME.kavrel-XXXXXXXX" beside target, NAME shortened so that the whole is a legal name.
std::string TemporaryName(const std::string& folder, const std::string& target,
                          std::mt19937& random)
{
    std::string base = std::filesystem::path(target).filename().string();
    if (base.size() > 200)
        base.resize(200);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
    return (std::filesystem::path(folder) / ("." + base + ".kavrel-" + suffix)).string();
}

// Starts the disk writing every so many bytes, so that the flush at the end has little left.
constexpr std::uint64_t kWritebackBytes = std::uint64_t{1} << 20;

} // namespace

TSafeWriter::TSafeWriter(const std::string& path) : m_name(path)
{
    if (path.empty())
        throw ESafeWriteError({}, "no file named to write", ENOENT);
    m_target = FollowLinks(path, m_name);
    struct stat info {};
    if (::stat(m_target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            throw ESafeWriteError(m_name, "is a folder", EISDIR);
        if (!S_ISREG(info.st_mode)) {
            // A device, pipe or socket has no content to keep and must not be replaced.
            m_fd = OpenRetrying(m_target.c_str(), O_WRONLY | O_CLOEXEC);
            if (m_fd < 0)
                Fail("cannot open the file for writing", errno);
            m_inPlace = true;
            return;
        }
        // The permission bits are checked as well as access(), which grants root everything.
        if ((info.st_mode & 0222) == 0 ||
            ::faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS) != 0)
            throw ESafeWriteError(m_name, "the file is write-protected; it was not replaced",
                                  EACCES);
        m_replacing = true;
        m_mode = info.st_mode & 07777;
        m_uid = info.st_uid;
        m_gid = info.st_gid;
    } else if (errno != ENOENT) {
        Fail("cannot write the file", errno);
    }

    OpenTemporary(FolderOf(m_target));
    if (m_replacing) {
        // Giving the file away may be refused (not root, or not in the group): the new file is
        // then the user's, as any file the user writes. The mode goes last, as a change of owner
        // clears the set-user-id bits.
        if (::fchown(m_fd, m_uid, m_gid) != 0) {
            [[maybe_unused]] const int ignored = ::fchown(m_fd, static_cast<uid_t>(-1), m_gid);
        }
        ::fchmod(m_fd, m_mode);
    }
}

void TSafeWriter::OpenTemporary(const std::string& folder)
{
#if defined(O_TMPFILE)
    // KAVREL_SAFE_WRITE_NAMED=1 takes the fallback everywhere, for testing it.
    const char* named = std::getenv("KAVREL_SAFE_WRITE_NAMED");
    if ((named == nullptr || std::strcmp(named, "1") != 0) &&
        ::access("/proc/self/fd", X_OK) == 0) {
        m_fd = OpenRetrying(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_unnamed = true;
            return;
        }
    }
#endif
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_tempPath = TemporaryName(folder, m_target, random);
        // Listed before it exists, so that no moment passes when a signal would leave it.
        m_tempSlot = RegisterTemporary(m_tempPath);
        m_fd = OpenRetrying(m_tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            return;
        const int error = errno;
        UnregisterTemporary(m_tempSlot);
        m_tempSlot = -1;
        m_tempPath.clear();
        if (error != EEXIST)
            throw ESafeWriteError(
                m_name, "cannot create a file in the folder '" + folder + "': " + Reason(error),
                error);
    }
    if (m_fd < 0)
        throw ESafeWriteError(m_name, "cannot create a file in the folder '" + folder + "'",
                              EEXIST);
}

TSafeWriter::~TSafeWriter()
{
    Discard();
}

void TSafeWriter::Discard() noexcept
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_tempPath.empty())
        ::unlink(m_tempPath.c_str());
    m_tempPath.clear();
    UnregisterTemporary(m_tempSlot);
    m_tempSlot = -1;
}

void TSafeWriter::Fail(const std::string& what, int error) const
{
    throw ESafeWriteError(m_name, what + ": " + Reason(error), error);
}

void TSafeWriter::Write(const void* bytes, std::size_t count)
{
    if (m_fd < 0)
        Fail("cannot write the file", EBADF);
    const auto* p = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t n = ::write(m_fd, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("cannot write the file", n < 0 ? errno : ENOSPC);
        p += n;
        count -= static_cast<std::size_t>(n);
        m_written += static_cast<std::uint64_t>(n);
    }
#if defined(__linux__)
    if (!m_inPlace && m_written - m_flushed >= kWritebackBytes) {
        ::sync_file_range(m_fd, static_cast<off_t>(m_flushed),
                          static_cast<off_t>(m_written - m_flushed), SYNC_FILE_RANGE_WRITE);
        m_flushed = m_written;
    }
#endif
}

void TSafeWriter::Commit()
{
    if (m_fd < 0)
        Fail("cannot write the file", EBADF);
    if (m_inPlace) {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            Fail("cannot write the file", errno);
        return;
    }
    if (::fsync(m_fd) != 0)
        Fail("cannot write the file", errno);
    // Whatever came to the target's place meanwhile must still be a file to replace.
    struct stat info {};
    if (::lstat(m_target.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        Fail("cannot replace the file", S_ISDIR(info.st_mode) ? EISDIR : EEXIST);

    const std::string folder = FolderOf(m_target);
    if (m_unnamed) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        bool placed = false;
        if (!m_replacing) {
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) ==
                0)
                placed = true;
            else if (errno != EEXIST)
                Fail("cannot write the file", errno);
        }
        if (!placed) {
            std::random_device seed;
            std::mt19937 random(seed());
            for (int attempt = 0; attempt < 100 && m_tempPath.empty(); ++attempt) {
                const std::string temp = TemporaryName(folder, m_target, random);
                const int slot = RegisterTemporary(temp);
                if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) ==
                    0) {
                    m_tempPath = temp;
                    m_tempSlot = slot;
                    break;
                }
                const int error = errno;
                UnregisterTemporary(slot);
                if (error != EEXIST)
                    Fail("cannot write the file", error);
            }
            if (m_tempPath.empty())
                Fail("cannot write the file", EEXIST);
        }
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        Fail("cannot write the file", errno);
    if (!m_tempPath.empty()) {
        if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0)
            Fail("cannot replace the file", errno);
        m_tempPath.clear();
        UnregisterTemporary(m_tempSlot);
        m_tempSlot = -1;
    }
    // Make the new name itself durable; a failure here loses nothing already written.
    const int dir = OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void TSafeWriter::WriteWhole(const std::string& path, const void* bytes, std::size_t count)
{
    TSafeWriter writer(path);
    writer.Write(bytes, count);
    writer.Commit();
}

} // namespace kavrel
