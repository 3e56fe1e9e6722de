#include "settings/ReadWholeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavrel {

TReadResult ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& bytes)
{
    bytes.clear();
    int fd = -1;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? TReadResult::Missing : TReadResult::Failed;
    struct stat info {};
    TReadResult result = TReadResult::Read;
    if (::fstat(fd, &info) != 0)
        result = TReadResult::Failed;
    else if (!S_ISREG(info.st_mode))
        result = TReadResult::NotAFile;
    else if (static_cast<std::uintmax_t>(info.st_size) > maxBytes)
        result = TReadResult::TooLarge;
    if (result == TReadResult::Read) {
        // The size is a guess (the file may grow meanwhile): read to the end, up to the limit.
        bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
        std::size_t done = 0;
        while (true) {
            if (done == bytes.size())
                bytes.resize(std::min(maxBytes + 1, bytes.size() * 2));
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                result = TReadResult::Failed;
                break;
            }
            if (n == 0)
                break;
            done += static_cast<std::size_t>(n);
            if (done > maxBytes) {
                result = TReadResult::TooLarge;
                break;
            }
        }
        bytes.resize(result == TReadResult::Read ? done : 0);
    }
    ::close(fd);
    return result;
}

} // namespace kavrel
