#pragma once

// Temporary files of a fuzzing process: one name per use and process, written for each input and
// removed after it (libFuzzer may end the process without running exit handlers).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace kavrel::fuzz {

inline std::string TempFile(const std::string& name)
{
    return "/tmp/kavrel-fuzz-" + std::to_string(::getpid()) + "-" + name;
}

inline void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        std::abort();
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            std::abort();
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

inline std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Removes the files when the input is done with.
struct TRemoveFiles {
    std::vector<std::string> Paths;
    ~TRemoveFiles()
    {
        for (const std::string& path : Paths)
            ::unlink(path.c_str());
    }
};

} // namespace kavrel::fuzz
