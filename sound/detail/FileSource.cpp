#include "sound/detail/FileSource.h"

#include "sound/EWavError.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavrel::detail {

namespace {

struct TFile {
    int fd = -1;
    std::string path;
    ~TFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

std::string SystemReason(int error)
{
    char buffer[256] = {};
    // The GNU strerror_r returns its text, which may or may not be the buffer.
    return ::strerror_r(error, buffer, sizeof buffer);
}

TWavSource OpenFileSource(const std::string& path)
{
    auto file = std::make_shared<TFile>();
    file->path = path;
    do
        file->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (file->fd < 0 && errno == EINTR);
    if (file->fd < 0)
        throw EWavError(path, "cannot open the file: " + SystemReason(errno));

    struct stat info {};
    if (::fstat(file->fd, &info) != 0)
        throw EWavError(path, "cannot open the file: " + SystemReason(errno));
    if (S_ISDIR(info.st_mode))
        throw EWavError(path, "is a folder, not a wave file");

    TWavSource source;
    if (S_ISREG(info.st_mode)) {
        source.Size = static_cast<std::uint64_t>(info.st_size);
        ::posix_fadvise(file->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        source.Seek = [file](std::uint64_t offset) {
            if (offset > static_cast<std::uint64_t>(INT64_MAX))
                return false;
            return ::lseek(file->fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
        };
    }
    source.Read = [file](std::byte* dst, std::size_t bytes) {
        std::size_t done = 0;
        while (done < bytes) {
            const ssize_t got = ::read(file->fd, dst + done, bytes - done);
            if (got == 0)
                break;
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                throw EWavError(file->path, "cannot read the file: " + SystemReason(errno));
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    };
    return source;
}

} // namespace kavrel::detail
