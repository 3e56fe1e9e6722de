#pragma once

#include "sound/ESafeWriteError.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include <sys/types.h>

namespace kavrel {

// Writes a file so that afterwards it is either the old file or the complete new one, whatever
// happens on the way (an error, a full disk, Ctrl+C, a kill, a crash), and nothing else is left
// in its folder:
// - the bytes go to an unnamed file in the target's folder (O_TMPFILE) that gets its name only
//   when complete and flushed; where the file system cannot make unnamed files, to a hidden
//   temporary name beside the target, removed on failure and on SIGINT, SIGTERM and SIGHUP
//   (unless the program handles those signals itself and so unwinds normally);
// - the file being written is locked (flock) until it has its name, and whatever a killed
//   writer left in the folder (a hidden name that no one holds locked) is removed when the
//   folder is next written;
// - a symbolic link is followed to the file it names, also when that file does not exist yet,
//   except a link in a shared folder (sticky and writable by all, as /tmp) that belongs to
//   someone else, which is refused as the kernel's protected_symlinks does;
// - a device, pipe or socket is written in place, never replaced; a pipe reached through
//   /dev/stdout or /proc/self/fd is opened through that name;
// - a write-protected target (no write permission bit, or none for this user) is refused;
// - a replaced file keeps its mode, and its owner and group where the user may give them.
// Used by every file the program saves: sounds, the settings file and the recent-files ini.
// Not thread-safe; one object per file being written.
class TSafeWriter {
public:
    // What a pipe or socket in the target's place gets. Refuse is for files the program keeps
    // for itself (the settings), which must never wait for a reader: a pipe is then never
    // opened without O_NONBLOCK.
    enum class TPipes { Write, Refuse };

    // Prepares to write `path` (also the name errors show). Throws ESafeWriteError.
    explicit TSafeWriter(const std::string& path, TPipes pipes = TPipes::Write);
    // Discards whatever was written unless Commit succeeded.
    ~TSafeWriter();
    TSafeWriter(const TSafeWriter&) = delete;
    TSafeWriter& operator=(const TSafeWriter&) = delete;

    // Appends bytes; throws ESafeWriteError (the target is untouched).
    void Write(const void* bytes, std::size_t count);
    // For a long file written once from start to end through Write alone (a sound): the bytes
    // go to the disk past the page cache (O_DIRECT) in large aligned pieces gathered here, which
    // saves the kernel copying them into cached pages and writing those back. Call before the
    // first Write; nothing changes where the file system or the device cannot do it.
    void WriteDirect();
    // Flushes the new file to disk and puts it in place of the target. Throws ESafeWriteError,
    // leaving the target untouched.
    void Commit();

    // The file being written, for an encoder that seeks back over what it wrote (FLAC finishes
    // its header that way) and so writes through the descriptor instead of Write. Readable and
    // seekable unless InPlace(). Stays owned by this object; Commit places it as usual.
    int Descriptor() const noexcept { return m_fd; }
    // True when the target is a device, pipe or socket that is written directly.
    bool InPlace() const noexcept { return m_inPlace; }
    // The file really written: the path with its links followed.
    const std::string& Target() const noexcept { return m_target; }

    // Writes `count` bytes as the whole new content of `path`.
    static void WriteWhole(const std::string& path, const void* bytes, std::size_t count,
                           TPipes pipes = TPipes::Write);

    // Whether the symbolic link `link` may be followed: not one in a shared folder (sticky and
    // writable by all, as /tmp) that belongs neither to this user nor to the folder's owner,
    // which another user may have planted there. The kernel's rule for protected_symlinks, which
    // a link read with readlink escapes.
    static bool MayFollowLink(const std::string& link);

private:
    [[noreturn]] void Fail(const std::string& what, int error) const;
    // Waits for the bytes before end to reach the disk and drops them from the page cache.
    void DropBehind(std::uint64_t end);
    // Writes [bytes, bytes + count) with write(2) as it comes; throws ESafeWriteError. With
    // refusable (aligned bytes past the page cache), stops where a write is refused and returns
    // how many went.
    std::size_t WriteAll(const char* bytes, std::size_t count, bool refusable = false);
    // Writes the gathered bytes, past the page cache while they fill whole aligned pieces.
    void FlushGathered();
    // Back to writing through the page cache.
    void EndDirect() noexcept;
    void OpenInPlace(mode_t type, TPipes pipes);
    void OpenTemporary(const std::string& folder);
    void Discard() noexcept;

    std::string m_name;
    std::string m_target;
    std::string m_tempPath; // the fallback's temporary name, while it exists
    int m_tempSlot = -1;    // its place in the list the signal handler removes
    int m_fd = -1;
    bool m_inPlace = false;
    bool m_unnamed = false;
    bool m_replacing = false;
    mode_t m_mode = 0;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    std::uint64_t m_written = 0;
    std::uint64_t m_flushed = 0;
    std::int64_t m_dropped = 0; // bytes on the disk and out of the page cache; -1: not done
    struct TFreeGather {
        void operator()(char* p) const noexcept { std::free(p); }
    };
    // While writing past the page cache: the bytes gathered for the next piece.
    std::unique_ptr<char, TFreeGather> m_gather;
    std::size_t m_gathered = 0;
};

} // namespace kavrel
