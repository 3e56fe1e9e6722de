// The new file is written unnamed and linked in when complete, so that not even SIGKILL or a
// power cut can leave a partial file behind. Linking goes through /proc/self/fd, which needs no
// privilege (linkat with AT_EMPTY_PATH would). An existing target cannot be replaced by linkat,
// so the complete file is linked under a temporary name and renamed over it: the name exists
// for the moment between the two calls only. A writer killed in that moment, or one killed while
// writing under the fallback's temporary name, leaves the name behind; the file under it is
// locked (flock) for as long as its writer lives, so the next writer in the folder can tell a
// dead writer's leftover from a live writer's file and removes only the former.
#include "sound/TSafeWriter.h"

#include <algorithm>
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
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
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
// not exist (yet). Throws ESafeWriteError naming `name` for a loop and for a link that may not
// be followed.
std::string FollowLinks(const std::string& path, const std::string& name)
{
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        if (!TSafeWriter::MayFollowLink(current))
            throw ESafeWriteError(name,
                                  "is a link in a shared folder that belongs to another user; it "
                                  "was not followed",
                                  EACCES);
        std::array<char, PATH_MAX + 1> buffer{};
        const ssize_t n = ::readlink(current.c_str(), buffer.data(), PATH_MAX);
        if (n < 0)
            throw ESafeWriteError(name, "cannot follow the link: " + Reason(errno), errno);
        const std::string link(buffer.data(), static_cast<std::size_t>(n));
        const std::string next =
            link.front() == '/' ? link : (std::filesystem::path(FolderOf(current)) / link).string();
        // A descriptor's link in /proc (/dev/stdout leads to one) names a pipe or socket by a
        // text that is no path ("pipe:[N]"); only the kernel can follow it, when it is opened.
        struct stat probe {};
        if (link.front() != '/' && ::lstat(next.c_str(), &probe) != 0 &&
            ::stat(current.c_str(), &probe) == 0 && !S_ISREG(probe.st_mode) &&
            !S_ISDIR(probe.st_mode))
            return current;
        current = next;
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

// The end of a temporary name: the mark and as many random hexadecimal digits.
constexpr std::string_view kTemporaryMark = ".kavrel-";
constexpr std::size_t kTemporaryDigits = 8;

// ".NAME.kavrel-XXXXXXXX" beside target, NAME shortened so that the whole is a legal name.
std::string TemporaryName(const std::string& folder, const std::string& target,
                          std::mt19937& random)
{
    std::string base = std::filesystem::path(target).filename().string();
    if (base.size() > 200)
        base.resize(200);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
    return (std::filesystem::path(folder) / ("." + base + std::string(kTemporaryMark) + suffix))
        .string();
}

// Whether name is one TemporaryName makes.
bool IsTemporaryName(std::string_view name)
{
    const std::size_t end = name.size() - kTemporaryDigits;
    if (name.size() < 2 + kTemporaryMark.size() + kTemporaryDigits || name.front() != '.' ||
        name.substr(end - kTemporaryMark.size(), kTemporaryMark.size()) != kTemporaryMark)
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(end), name.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Takes the lock that marks a temporary file as its writer's, and checks that `path` still
// names it (a writer that was slower than another's cleanup finds its name gone). False when
// the name is not, or no longer, this file's.
bool HoldName(int fd, const std::string& path)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return false;
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Whether the temporary file `name` (fstat gave `info`) in the folder `dir` is this user's, or,
// for root, who gives a replaced file its old owner, has the owner of the file it was to replace.
bool WrittenByThisUser(int dir, std::string_view name, const struct stat& info)
{
    const uid_t user = ::geteuid();
    if (info.st_uid == user)
        return true;
    const std::string target(
        name.substr(1, name.size() - 1 - kTemporaryMark.size() - kTemporaryDigits));
    struct stat replaced {};
    return user == 0 && ::fstatat(dir, target.c_str(), &replaced, AT_SYMLINK_NOFOLLOW) == 0 &&
           replaced.st_uid == info.st_uid;
}

// Removes the temporary file `name` in the folder `dir` when it is certainly a dead writer's:
// a plain file of this user's with no other name, that no one holds locked.
void RemoveIfLeftover(int dir, const char* name)
{
    constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::openat(dir, name, O_RDONLY | flags);
    if (fd < 0 && errno == EACCES)
        fd = ::openat(dir, name, O_WRONLY | flags);
    if (fd < 0)
        return;
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_nlink == 1 &&
        WrittenByThisUser(dir, name, held) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino)
        ::unlinkat(dir, name, 0);
    ::close(fd);
}

// Removes what writers killed before they finished left in folder.
void RemoveLeftovers(const std::string& folder)
{
    const int dir = OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return;
    DIR* list = ::fdopendir(dir);
    if (list == nullptr) {
        ::close(dir);
        return;
    }
    while (const dirent* entry = ::readdir(list))
        if (IsTemporaryName(entry->d_name))
            RemoveIfLeftover(dir, entry->d_name);
    ::closedir(list);
}

// A descriptor closed when it goes.
struct TDescriptor {
    int Fd = -1;
    ~TDescriptor()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
};

// Starts the disk writing every so many bytes, so that the flush at the end has little left.
constexpr std::uint64_t kWritebackBytes = std::uint64_t{1} << 20;
// Bytes written this far behind the newest are waited for on the disk and then dropped from the
// page cache: a long file written once does not push out what else is cached (the sound an
// export reads twice), and the memory its pages took takes the next ones.
constexpr std::uint64_t kDropBehindBytes = std::uint64_t{8} << 20;
// Writes past the page cache start and end on this boundary, in memory and in the file (the
// page size, a multiple of every disk's logical block), and go out this many bytes at a time.
constexpr std::size_t kDirectAlign = 4096;
constexpr std::size_t kDirectBytes = std::size_t{2} << 20;

} // namespace

bool TSafeWriter::MayFollowLink(const std::string& link)
{
    struct stat info {};
    if (::lstat(link.c_str(), &info) != 0)
        return false;
    if (info.st_uid == ::geteuid())
        return true;
    struct stat folder {};
    if (::stat(FolderOf(link).c_str(), &folder) != 0)
        return false;
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !shared || info.st_uid == folder.st_uid;
}

TSafeWriter::TSafeWriter(const std::string& path, TPipes pipes) : m_name(path)
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
            OpenInPlace(info.st_mode, pipes);
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

    RemoveLeftovers(FolderOf(m_target));
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

void TSafeWriter::OpenInPlace(mode_t type, TPipes pipes)
{
    const bool pipe = S_ISFIFO(type) || S_ISSOCK(type);
    const auto refuse = [this] {
        throw ESafeWriteError(m_name, "is a pipe, not a file; nothing was written to it", EINVAL);
    };
    if (pipe && pipes == TPipes::Refuse)
        refuse();
    // Not waiting here: the open of a pipe that no one reads yet would.
    m_fd = OpenRetrying(m_target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0 && errno == ENXIO && pipe && pipes == TPipes::Write) {
        // Waits for a reader, as any program writing into a named pipe does.
        m_fd = OpenRetrying(m_target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    }
    if (m_fd < 0)
        Fail("cannot open the file for writing", errno);
    m_inPlace = true;
    struct stat opened {};
    if (pipes == TPipes::Refuse &&
        (::fstat(m_fd, &opened) != 0 || S_ISFIFO(opened.st_mode) || S_ISSOCK(opened.st_mode))) {
        Discard();
        refuse();
    }
    if (const int flags = ::fcntl(m_fd, F_GETFL); flags >= 0)
        ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
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
            // Locked before it can have a name, so that no one takes it for a leftover.
            ::flock(m_fd, LOCK_EX | LOCK_NB);
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
        if (m_fd >= 0 && HoldName(m_fd, m_tempPath))
            return;
        // Another writer's cleanup took the name between the open and the lock: try another.
        const int error = m_fd >= 0 ? EEXIST : errno;
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
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
    // The name goes while the file is still locked, so that it is never free for the taking.
    if (!m_tempPath.empty())
        ::unlink(m_tempPath.c_str());
    m_tempPath.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
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
    while (m_gather && count > 0) {
        const std::size_t n = std::min(count, kDirectBytes - m_gathered);
        std::memcpy(m_gather.get() + m_gathered, p, n);
        m_gathered += n;
        p += n;
        count -= n;
        if (m_gathered == kDirectBytes)
            FlushGathered();
    }
    if (m_gather || count == 0)
        return;
    WriteAll(p, count);
#if defined(__linux__)
    if (!m_inPlace && m_written - m_flushed >= kWritebackBytes) {
        ::sync_file_range(m_fd, static_cast<off_t>(m_flushed),
                          static_cast<off_t>(m_written - m_flushed), SYNC_FILE_RANGE_WRITE);
        m_flushed = m_written;
        if (m_dropped >= 0 &&
            m_flushed - static_cast<std::uint64_t>(m_dropped) >= 2 * kDropBehindBytes)
            DropBehind(m_flushed - kDropBehindBytes);
    }
#endif
}

std::size_t TSafeWriter::WriteAll(const char* p, std::size_t count, bool refusable)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(m_fd, p + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        // Past the page cache, EINVAL: the device wants another alignment, or the file system
        // cannot after all; the page cache takes the rest, and a write that makes no progress
        // reports there.
        if (refusable && (n == 0 || (n < 0 && errno == EINVAL)))
            break;
        if (n <= 0)
            Fail("cannot write the file", n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
        m_written += static_cast<std::uint64_t>(n);
    }
    return done;
}

void TSafeWriter::WriteDirect()
{
#if defined(__linux__)
    if (m_fd < 0 || m_inPlace || m_written != 0 || m_gather)
        return;
    void* memory = nullptr;
    if (::posix_memalign(&memory, kDirectAlign, kDirectBytes) != 0)
        return;
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags | O_DIRECT) != 0) {
        std::free(memory);
        return;
    }
    m_gather.reset(static_cast<char*>(memory));
    m_gathered = 0;
#endif
}

void TSafeWriter::FlushGathered()
{
    const std::size_t done =
        WriteAll(m_gather.get(), m_gathered / kDirectAlign * kDirectAlign, true);
    if (done == m_gathered) {
        m_gathered = 0;
        return;
    }
    // A piece that is not whole (the end of the file) or was refused: the rest goes through the
    // page cache, as does everything after it.
    EndDirect();
    WriteAll(m_gather.get() + done, m_gathered - done);
    m_gather.reset();
    m_gathered = 0;
}

void TSafeWriter::EndDirect() noexcept
{
#if defined(__linux__)
    if (const int flags = ::fcntl(m_fd, F_GETFL); flags >= 0)
        ::fcntl(m_fd, F_SETFL, flags & ~O_DIRECT);
#endif
}

#if defined(__linux__)
void TSafeWriter::DropBehind(std::uint64_t end)
{
    const auto from = static_cast<off_t>(m_dropped);
    const auto bytes = static_cast<off_t>(end) - from;
    // Waiting here reports a failed disk write, which the flush at the end would then no
    // longer see.
    if (::sync_file_range(m_fd, from, bytes,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                              SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
        if (errno == EINTR)
            return;
        if (errno != EINVAL && errno != ENOSYS && errno != ESPIPE)
            Fail("cannot write the file", errno);
        m_dropped = -1; // not for this file
        return;
    }
    ::posix_fadvise(m_fd, from, bytes, POSIX_FADV_DONTNEED);
    m_dropped = static_cast<std::int64_t>(end);
}
#endif

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
    if (m_gather)
        FlushGathered();
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
    // The lock stays on the file until its temporary name is gone.
    const TDescriptor lock{m_tempPath.empty() ? -1 : ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0)};
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

void TSafeWriter::WriteWhole(const std::string& path, const void* bytes, std::size_t count,
                             TPipes pipes)
{
    TSafeWriter writer(path, pipes);
    writer.Write(bytes, count);
    writer.Commit();
}

} // namespace kavrel
