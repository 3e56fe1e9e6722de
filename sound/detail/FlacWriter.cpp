// Writing 16-bit FLAC through libsndfile. The encoder seeks back at the end to complete the
// stream's header (length, checksum), so it writes to a real file: a temporary one beside the
// target, flushed and renamed over it once complete, so that a failed or cancelled save leaves
// the old file as it was. A device or pipe is written to directly.
#include "sound/detail/FlacWriter.h"

#include "sound/EWavError.h"
#include "sound/SoundFileNames.h"
#include "sound/detail/FileSource.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavrel::detail {

namespace {

// libsndfile's compression setting runs from 0 to 1 over FLAC's levels 0 to 8.
constexpr double kLevel5 = 5.0 / 8.0;
constexpr std::size_t kBlockValues = 65536;
constexpr int kMaxChannels = 8;
constexpr std::int32_t kMaxRate = 655350;

struct TCloseSndfile {
    void operator()(SNDFILE* file) const noexcept { sf_close(file); }
};

// The file being written: the temporary file, or the device itself. Removes a temporary file
// that was not committed.
class TTarget {
public:
    explicit TTarget(const std::string& path) : m_name(path), m_target(path)
    {
        namespace fs = std::filesystem;
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) {
            if (S_ISDIR(info.st_mode))
                throw EWavError(path, "is a folder");
            if (!S_ISREG(info.st_mode)) {
                do
                    m_fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
                while (m_fd < 0 && errno == EINTR);
                if (m_fd < 0)
                    Fail("cannot open the file for writing", errno);
                return;
            }
            std::error_code error;
            if (fs::is_symlink(fs::symlink_status(m_target, error))) {
                const fs::path resolved = fs::canonical(m_target, error);
                if (error)
                    throw EWavError(path, "cannot follow the link: " + error.message());
                m_target = resolved;
            }
        }
        const fs::path folder = m_target.has_parent_path() ? m_target.parent_path() : fs::path(".");
        std::random_device seed;
        std::mt19937 random(seed());
        std::string base = m_target.filename().string();
        if (base.size() > 200)
            base.resize(200);
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
            m_temp = folder / ("." + base + ".kavrel-" + suffix);
            do
                m_fd = ::open(m_temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            while (m_fd < 0 && errno == EINTR);
            if (m_fd < 0 && errno != EEXIST)
                break;
        }
        if (m_fd < 0) {
            const int error = errno;
            m_temp.clear();
            throw EWavError(path, "cannot create a file in the folder '" + folder.string() +
                                      "': " + SystemReason(error));
        }
        if (::stat(m_target.c_str(), &info) == 0)
            ::fchmod(m_fd, info.st_mode & 07777);
    }

    ~TTarget()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_temp.empty())
            ::unlink(m_temp.c_str());
    }

    TTarget(const TTarget&) = delete;
    TTarget& operator=(const TTarget&) = delete;

    int Fd() const noexcept { return m_fd; }

    // Flushes and closes the file and puts it in the target's place.
    void Commit()
    {
        if (!m_temp.empty() && ::fsync(m_fd) != 0)
            Fail("cannot write the file", errno);
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            Fail("cannot write the file", errno);
        if (m_temp.empty())
            return;
        if (::rename(m_temp.c_str(), m_target.c_str()) != 0)
            Fail("cannot replace the file", errno);
        m_temp.clear();
        const std::filesystem::path folder =
            m_target.has_parent_path() ? m_target.parent_path() : std::filesystem::path(".");
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }

    [[noreturn]] void Fail(const char* what, int error) const
    {
        throw EWavError(m_name, std::string(what) + ": " + SystemReason(error));
    }

private:
    std::string m_name;
    std::filesystem::path m_target;
    std::filesystem::path m_temp;
    int m_fd = -1;
};

// Writes `length` frames taken from `next` as FLAC to `path`.
bool WriteFlac(const std::string& path, std::int32_t channels, std::int32_t rate,
               std::int64_t length, const TWavBlockSource& next, const TWavProgress& progress)
{
    if (channels <= 0)
        throw EWavError(path, "there is no sound to write");
    if (channels > kMaxChannels)
        throw EWavError(path, std::to_string(channels) +
                                  " channels cannot be stored in a FLAC file (at most 8)");
    if (rate <= 0 || rate > kMaxRate)
        throw EWavError(path, "the sample rate " + std::to_string(rate) +
                                  " Hz cannot be stored in a FLAC file (1 to 655350 Hz)");
    length = std::max<std::int64_t>(length, 0);

    TTarget target(path);
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    std::unique_ptr<SNDFILE, TCloseSndfile> file(
        sf_open_fd(target.Fd(), SFM_WRITE, &info, SF_FALSE));
    if (!file)
        throw EWavError(path, "cannot write the file: " + std::string(sf_strerror(nullptr)));
    double level = kLevel5;
    sf_command(file.get(), SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);

    const auto n = static_cast<std::int64_t>(channels);
    std::int64_t lastReport = 0;
    for (std::int64_t frame = 0; frame < length;) {
        const std::span<const std::int16_t> block = next(frame);
        const auto frames = static_cast<std::int64_t>(block.size()) / n;
        if (frames == 0 || static_cast<std::int64_t>(block.size()) % n != 0 ||
            frames > length - frame)
            throw EWavError(path, "the samples to write do not come in whole frames");
        if (sf_writef_short(file.get(), block.data(), frames) != frames)
            throw EWavError(path, "cannot write the file: " + std::string(sf_strerror(file.get())));
        frame += frames;
        if (progress && (frame - lastReport >= (std::int64_t{1} << 20) || frame == length)) {
            lastReport = frame;
            if (!progress(static_cast<double>(frame) / static_cast<double>(length)))
                return false;
        }
    }
    // Closing finishes the stream and rewrites its header; a failure shows in the error state.
    sf_write_sync(file.get());
    const int error = sf_error(file.get());
    if (error != SF_ERR_NO_ERROR)
        throw EWavError(path, "cannot write the file: " + std::string(sf_strerror(file.get())));
    if (sf_close(file.release()) != 0)
        throw EWavError(path, "cannot write the file: the FLAC stream could not be finished");
    if (length == 0 && progress && !progress(1.0))
        return false;
    target.Commit();
    return true;
}

} // namespace

bool IsFlacName(const std::string& path)
{
    if (path.size() < 5)
        return false;
    std::string tail = path.substr(path.size() - 5);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".flac";
}

void RefuseOtherSoundName(const std::string& path)
{
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.' || !IsSoundFileName(path))
        return;
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != "wav" && extension != "flac")
        throw EWavError(path, "sound is saved as a wave file (.wav) or as FLAC (.flac), not as ." +
                                  extension);
}

bool WriteFlacFile(const TWav& wav, const std::string& path, const TWavProgress& progress)
{
    const std::int32_t channels = wav.Channels();
    const auto n = static_cast<std::size_t>(std::max(channels, 1));
    const std::size_t blockFrames = std::max<std::size_t>(1, kBlockValues / n);
    std::vector<std::int16_t> block(blockFrames * n);
    std::vector<std::int32_t> all(static_cast<std::size_t>(std::max(channels, 0)));
    for (std::size_t c = 0; c < all.size(); ++c)
        all[c] = static_cast<std::int32_t>(c);
    const std::int64_t length = wav.Length();
    return WriteFlac(
        path, channels, wav.SampleRate(), length,
        [&](std::int64_t first) {
            const auto frames = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(blockFrames), length - first));
            const std::span<std::int16_t> out(block.data(), frames * n);
            wav.BlockExtract(all, first, out);
            return std::span<const std::int16_t>(out);
        },
        progress);
}

bool WriteFlacStream(const TWavStreamFormat& format, const TWavBlockSource& next,
                     const std::string& path, const TWavProgress& progress)
{
    return WriteFlac(path, format.Channels, format.SampleRate, format.Length, next, progress);
}

} // namespace kavrel::detail
