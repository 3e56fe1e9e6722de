// Writing 16-bit PCM wave files. A save must never destroy what was there: the bytes go to a
// temporary file beside the target, which is flushed to disk and then renamed over the target in
// one step, so the target is either the old file or the complete new one. Only a device or pipe,
// which cannot be replaced, is written to directly.
#include "sound/detail/WavWriter.h"

#include "sound/EWavError.h"
#include "sound/detail/FileSource.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <span>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavrel::detail {

namespace {

// Values per block of samples written (rounded down to whole frames, at least one frame).
constexpr std::size_t kBlockValues = 16384;
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

void Put16(std::byte*& p, std::uint32_t v) noexcept
{
    *p++ = static_cast<std::byte>(v & 0xFFu);
    *p++ = static_cast<std::byte>((v >> 8) & 0xFFu);
}

void Put32(std::byte*& p, std::uint32_t v) noexcept
{
    Put16(p, v & 0xFFFFu);
    Put16(p, v >> 16);
}

void PutTag(std::byte*& p, const char (&tag)[5]) noexcept
{
    std::memcpy(p, tag, 4);
    p += 4;
}

// Frames first … first+frames-1 of every channel as little-endian interleaved 16-bit values.
void Interleave(const std::vector<const std::int16_t*>& channels, std::size_t first,
                std::size_t frames, std::byte* out) noexcept
{
    const std::size_t n = channels.size();
    if constexpr (std::endian::native == std::endian::little) {
        if (n == 1) {
            std::memcpy(out, channels[0] + first, frames * 2);
            return;
        }
        if (n == 2) {
            const std::int16_t* left = channels[0] + first;
            const std::int16_t* right = channels[1] + first;
            std::size_t f = 0;
#if defined(__SSE2__)
            for (; f + 8 <= frames; f += 8) {
                const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + f));
                const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + f));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * f), _mm_unpacklo_epi16(l, r));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * f + 16),
                                 _mm_unpackhi_epi16(l, r));
            }
#endif
            for (; f < frames; ++f) {
                std::memcpy(out + 4 * f, left + f, 2);
                std::memcpy(out + 4 * f + 2, right + f, 2);
            }
            return;
        }
    }
    for (std::size_t f = first; f < first + frames; ++f) {
        for (std::size_t c = 0; c < n; ++c) {
            const auto v = static_cast<std::uint16_t>(channels[c][f]);
            *out++ = static_cast<std::byte>(v & 0xFFu);
            *out++ = static_cast<std::byte>(v >> 8);
        }
    }
}

void WriteAll(int fd, const std::byte* bytes, std::size_t count, const std::string& name)
{
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw EWavError(name, "cannot write the file: " + SystemReason(n < 0 ? errno : ENOSPC));
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
}

// Writes to a device, pipe or socket, which has no folder to hold a temporary file and cannot be
// replaced; the bytes go to it directly.
bool WriteStraight(const std::string& path, const std::function<bool(const TByteSink&)>& encode)
{
    int fd = -1;
    do
        fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw EWavError(path, "cannot open the file for writing: " + SystemReason(errno));
    bool complete = false;
    try {
        complete = encode([fd, &path](const std::byte* bytes, std::size_t count) {
            WriteAll(fd, bytes, count, path);
        });
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0 && complete)
        throw EWavError(path, "cannot write the file: " + SystemReason(errno));
    return complete;
}

class TTempFile {
public:
    TTempFile(const std::filesystem::path& target, const std::string& name) : m_name(name)
    {
        const std::filesystem::path folder =
            target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
        std::random_device seed;
        std::mt19937 random(seed());
        // ".NAME.kavrel-XXXXXXXX", with NAME shortened so that the whole stays a legal name.
        std::string base = target.filename().string();
        if (base.size() > 200)
            base.resize(200);
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
            m_path = folder / ("." + base + ".kavrel-" + suffix);
            do
                m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            while (m_fd < 0 && errno == EINTR);
            if (m_fd < 0 && errno != EEXIST)
                break;
        }
        if (m_fd < 0)
            throw EWavError(m_name, "cannot create a file in the folder '" + folder.string() +
                                        "': " + SystemReason(errno));
    }

    ~TTempFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }

    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    // Starts the disk writing every few megabytes, so that the flush at the end has little left
    // to wait for.
    void Write(const std::byte* bytes, std::size_t count)
    {
        WriteAll(m_fd, bytes, count, m_name);
        m_written += count;
#if defined(__linux__)
        if (m_written - m_flushed >= kWritebackBytes) {
            ::sync_file_range(m_fd, static_cast<off_t>(m_flushed),
                              static_cast<off_t>(m_written - m_flushed), SYNC_FILE_RANGE_WRITE);
            m_flushed = m_written;
        }
#endif
    }

    // Gives the new file the permissions of the one it replaces.
    void KeepModeOf(const std::filesystem::path& target)
    {
        struct stat info {};
        if (::stat(target.c_str(), &info) == 0)
            ::fchmod(m_fd, info.st_mode & 07777);
    }

    // Flushes, closes and renames the file to `target`; afterwards the destructor leaves it be.
    void Commit(const std::filesystem::path& target)
    {
        if (::fsync(m_fd) != 0)
            Fail("cannot write the file", errno);
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            Fail("cannot write the file", errno);
        if (::rename(m_path.c_str(), target.c_str()) != 0)
            Fail("cannot replace the file", errno);
        m_path.clear();
        // Make the rename itself durable; a failure here loses nothing already written.
        const std::filesystem::path folder =
            target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }

private:
    [[noreturn]] void Fail(const char* what, int error) const
    {
        throw EWavError(m_name, std::string(what) + ": " + SystemReason(error));
    }

    static constexpr std::uint64_t kWritebackBytes = std::uint64_t{1} << 20;

    std::string m_name;
    std::filesystem::path m_path;
    int m_fd = -1;
    std::uint64_t m_written = 0;
    std::uint64_t m_flushed = 0;
};

// The 44-byte header of a 16-bit PCM file; throws EWavError naming `name` when the sound cannot
// be described by one.
std::array<std::byte, 44> WaveHeader(std::int32_t channels, std::int32_t rate, std::int64_t length,
                                     const std::string& name)
{
    if (channels > 32767)
        throw EWavError(name, std::to_string(channels) +
                                  " channels cannot be stored in a 16-bit wave file (at most "
                                  "32767)");
    if (rate < 0)
        throw EWavError(name, "the sample rate " + std::to_string(rate) + " Hz is negative");
    const auto blockAlign = static_cast<std::uint32_t>(channels) * 2u;
    const std::uint64_t byteRate =
        static_cast<std::uint64_t>(blockAlign) * static_cast<std::uint64_t>(rate);
    if (byteRate > 0xFFFFFFFFull)
        throw EWavError(name, "the sample rate " + std::to_string(rate) + " Hz with " +
                                  std::to_string(channels) +
                                  " channels is more than a wave file can describe");
    if (length > 0 && static_cast<std::uint64_t>(length) > kMaxDataBytes / blockAlign)
        throw EWavError(name, "the sound is too long for a wave file (" + std::to_string(length) +
                                  " frames of " + std::to_string(channels) + " channels; at most " +
                                  std::to_string(kMaxDataBytes) + " bytes of data)");
    const auto dataBytes =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(length) * blockAlign);

    std::array<std::byte, 44> header{};
    std::byte* p = header.data();
    PutTag(p, "RIFF");
    Put32(p, 36u + dataBytes);
    PutTag(p, "WAVE");
    PutTag(p, "fmt ");
    Put32(p, 16);
    Put16(p, 1);
    Put16(p, static_cast<std::uint32_t>(channels));
    Put32(p, static_cast<std::uint32_t>(rate));
    Put32(p, static_cast<std::uint32_t>(byteRate));
    Put16(p, blockAlign);
    Put16(p, 16);
    PutTag(p, "data");
    Put32(p, dataBytes);
    return header;
}

} // namespace

bool EncodeWav(const TWav& wav, const std::string& name, const TByteSink& sink,
               const TWavProgress& progress)
{
    const std::int32_t channels = wav.Channels();
    const std::int64_t length = channels == 0 ? 0 : wav.Length();
    const std::array<std::byte, 44> header = WaveHeader(channels, wav.SampleRate(), length, name);
    sink(header.data(), header.size());
    if (channels == 0 || length == 0)
        return !progress || progress(1.0);

    const auto n = static_cast<std::size_t>(channels);
    const std::size_t blockFrames = std::max<std::size_t>(1, kBlockValues / n);
    std::vector<std::byte> block(blockFrames * n * 2);
    std::vector<const std::int16_t*> sources(n);
    for (std::size_t c = 0; c < n; ++c)
        sources[c] = wav.ChannelSamples(static_cast<std::int32_t>(c)).data();

    const auto total = static_cast<std::size_t>(length);
    std::size_t lastReport = 0;
    for (std::size_t frame = 0; frame < total;) {
        const std::size_t frames = std::min(blockFrames, total - frame);
        Interleave(sources, frame, frames, block.data());
        sink(block.data(), frames * n * 2);
        frame += frames;
        if (progress && (frame - lastReport >= (1u << 21) || frame == total)) {
            lastReport = frame;
            if (!progress(static_cast<double>(frame) / static_cast<double>(total)))
                return false;
        }
    }
    return true;
}

bool EncodeWavStream(const TWavStreamFormat& format, const TWavBlockSource& next,
                     const std::string& name, const TByteSink& sink, const TWavProgress& progress)
{
    const std::int32_t channels = format.Channels;
    const std::int64_t length = channels <= 0 ? 0 : std::max<std::int64_t>(format.Length, 0);
    const std::array<std::byte, 44> header = WaveHeader(channels, format.SampleRate, length, name);
    sink(header.data(), header.size());
    if (channels <= 0 || length == 0)
        return !progress || progress(1.0);
    const auto n = static_cast<std::size_t>(channels);
    const auto total = static_cast<std::size_t>(length);
    std::vector<std::byte> swapped;
    std::size_t lastReport = 0;
    for (std::size_t frame = 0; frame < total;) {
        const std::span<const std::int16_t> block = next(static_cast<std::int64_t>(frame));
        const std::size_t frames = block.size() / n;
        if (frames == 0 || block.size() % n != 0 || frames > total - frame)
            throw EWavError(name, "the samples to write do not come in whole frames");
        if constexpr (std::endian::native == std::endian::little) {
            sink(reinterpret_cast<const std::byte*>(block.data()), block.size() * 2);
        } else {
            swapped.resize(block.size() * 2);
            for (std::size_t i = 0; i < block.size(); ++i) {
                const auto v = static_cast<std::uint16_t>(block[i]);
                swapped[2 * i] = static_cast<std::byte>(v & 0xFFu);
                swapped[2 * i + 1] = static_cast<std::byte>(v >> 8);
            }
            sink(swapped.data(), swapped.size());
        }
        frame += frames;
        if (progress && (frame - lastReport >= (1u << 21) || frame == total)) {
            lastReport = frame;
            if (!progress(static_cast<double>(frame) / static_cast<double>(total)))
                return false;
        }
    }
    return true;
}

namespace {

// Writes what `encode` sends to its sink to `path`, through a temporary file beside it.
bool WriteEncoded(const std::string& path, const std::function<bool(const TByteSink&)>& encode)
{
    namespace fs = std::filesystem;
    fs::path target(path);
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            throw EWavError(path, "is a folder");
        if (!S_ISREG(info.st_mode))
            return WriteStraight(path, encode);
        // Saving over a symbolic link writes the file it points to and keeps the link.
        std::error_code error;
        if (fs::is_symlink(fs::symlink_status(target, error))) {
            const fs::path resolved = fs::canonical(target, error);
            if (error)
                throw EWavError(path, "cannot follow the link: " + error.message());
            target = resolved;
        }
    }

    TTempFile file(target, path);
    file.KeepModeOf(target);
    const bool complete =
        encode([&file](const std::byte* bytes, std::size_t count) { file.Write(bytes, count); });
    if (!complete)
        return false;
    file.Commit(target);
    return true;
}

} // namespace

bool WriteWavFile(const TWav& wav, const std::string& path, const TWavProgress& progress)
{
    return WriteEncoded(
        path, [&](const TByteSink& sink) { return EncodeWav(wav, path, sink, progress); });
}

bool WriteWavStream(const TWavStreamFormat& format, const TWavBlockSource& next,
                    const std::string& path, const TWavProgress& progress)
{
    return WriteEncoded(path, [&](const TByteSink& sink) {
        return EncodeWavStream(format, next, path, sink, progress);
    });
}

} // namespace kavrel::detail
