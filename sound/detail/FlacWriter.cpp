// Writing 16-bit FLAC through libsndfile. The encoder seeks back at the end to complete the
// stream's header (length, checksum), so it writes through the safe writer's descriptor (an
// unnamed file that takes the target's place once complete), so that a failed, cancelled or
// killed save leaves the old file as it was. A device or pipe is written to directly.
// libsndfile reaches the descriptor through callbacks of ours, which keep the reason of the first
// failed write: the library itself has it only as its own text ("System error : ..."), and after
// a failed write inside the FLAC encoder reports some later failure of the encoder instead.
#include "sound/detail/FlacWriter.h"

#include "sound/EWavError.h"
#include "sound/SoundFileNames.h"
#include "sound/TSafeWriter.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <system_error>
#include <vector>

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

// The descriptor libsndfile writes through, and the reason its first write failed.
struct TFlacOutput {
    int Fd = -1;
    int Error = 0;
};

TFlacOutput& Output(void* data)
{
    return *static_cast<TFlacOutput*>(data);
}

sf_count_t OutputLength(void* data)
{
    struct stat info {};
    return ::fstat(Output(data).Fd, &info) == 0 ? static_cast<sf_count_t>(info.st_size) : -1;
}

sf_count_t OutputSeek(sf_count_t offset, int whence, void* data)
{
    return ::lseek(Output(data).Fd, static_cast<off_t>(offset), whence);
}

sf_count_t OutputTell(void* data)
{
    return ::lseek(Output(data).Fd, 0, SEEK_CUR);
}

sf_count_t OutputRead(void* bytes, sf_count_t count, void* data)
{
    ssize_t n = -1;
    do
        n = ::read(Output(data).Fd, bytes, static_cast<std::size_t>(count));
    while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : n;
}

sf_count_t OutputWrite(const void* bytes, sf_count_t count, void* data)
{
    TFlacOutput& out = Output(data);
    const auto* p = static_cast<const char*>(bytes);
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(out.Fd, p + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (out.Error == 0)
                out.Error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += n;
    }
    return done;
}

// The message for a failure libsndfile reports: the failed write's reason when there was one,
// else the library's text.
EWavError WriteError(const std::string& path, const TFlacOutput& out, SNDFILE* file)
{
    if (out.Error != 0)
        return EWavError(path,
                         "cannot write the file: " + std::generic_category().message(out.Error));
    return EWavError(path, "cannot write the file: " + std::string(sf_strerror(file)));
}

// Writes `length` frames taken from `next` as FLAC to `path`.
bool WriteFlacTo(TSafeWriter& target, const std::string& path, std::int32_t channels,
                 std::int32_t rate, std::int64_t length, const TWavBlockSource& next,
                 const TWavProgress& progress)
{
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SF_VIRTUAL_IO io{&OutputLength, &OutputSeek, &OutputRead, &OutputWrite, &OutputTell};
    TFlacOutput out{target.Descriptor()};
    std::unique_ptr<SNDFILE, TCloseSndfile> file(sf_open_virtual(&io, SFM_WRITE, &info, &out));
    if (!file)
        throw WriteError(path, out, nullptr);
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
        if (sf_writef_short(file.get(), block.data(), frames) != frames || out.Error != 0)
            throw WriteError(path, out, file.get());
        frame += frames;
        if (progress && (frame - lastReport >= (std::int64_t{1} << 20) || frame == length)) {
            lastReport = frame;
            if (!progress(static_cast<double>(frame) / static_cast<double>(length)))
                return false;
        }
    }
    // Closing finishes the stream and rewrites its header; a failure shows in the error state.
    sf_write_sync(file.get());
    if (sf_error(file.get()) != SF_ERR_NO_ERROR || out.Error != 0)
        throw WriteError(path, out, file.get());
    if (sf_close(file.release()) != 0 || out.Error != 0) {
        if (out.Error != 0)
            throw WriteError(path, out, nullptr);
        throw EWavError(path, "cannot write the file: the FLAC stream could not be finished");
    }
    if (length == 0 && progress && !progress(1.0))
        return false;
    target.Commit();
    return true;
}

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
    try {
        TSafeWriter target(path);
        return WriteFlacTo(target, path, channels, rate, std::max<std::int64_t>(length, 0), next,
                           progress);
    } catch (const ESafeWriteError& e) {
        throw EWavError(path, e.Reason());
    }
}

} // namespace

bool IsFlacName(const std::string& path)
{
    return FileNameExtension(path) == "flac";
}

void RefuseOtherSoundName(const std::string& path)
{
    if (IsReadOnlySoundName(path))
        throw EWavError(path, "sound is saved as a wave file (.wav) or as FLAC (.flac), not as ." +
                                  FileNameExtension(path));
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
