// Reading the formats that are not RIFF wave files through libsndfile. libsndfile reads from the
// same source callbacks as the wave reader (its virtual I/O), so a file is opened, and its open
// errors named, in one place. Exceptions never cross libsndfile's C frames: a source that throws
// has its error kept and raised again once libsndfile has returned.
//
// Frame counts in a header are not trusted for memory: the arrays are sized from the count only
// when the file is large enough to plausibly hold it, and otherwise grow with the decoded data.
// A count that disagrees with what decodes marks the sound as cut short. libsndfile trusts the
// last granule position of an Ogg file: one of 0 is shown to it as an unknown one, so that what
// the file holds decodes.
#include "sound/detail/SndfileReader.h"

#include "sound/EWavError.h"
#include "sound/detail/OggPages.h"
#include "sound/detail/SampleConversion.h"

#include <sndfile.h>

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <memory>
#include <vector>

// libsndfile decodes MP3 through libmpg123 without asking it to be quiet, so a damaged file
// has the decoder print its own warnings on stderr. Opening a stream is taken over (the
// program's definition comes before the library's) to ask for that first. From mpg123.h:
// MPG123_ADD_FLAGS is 2 and MPG123_QUIET 0x20.
extern "C" {
struct mpg123_handle_struct;
int mpg123_open_handle(mpg123_handle_struct* handle, void* io);
}

int mpg123_open_handle(mpg123_handle_struct* handle, void* io)
{
    using TOpen = int (*)(mpg123_handle_struct*, void*);
    using TParam = int (*)(mpg123_handle_struct*, int, long, double);
    static const auto open = reinterpret_cast<TOpen>(::dlsym(RTLD_NEXT, "mpg123_open_handle"));
    static const auto param = reinterpret_cast<TParam>(::dlsym(RTLD_NEXT, "mpg123_param2"));
    if (open == nullptr)
        return -1;
    if (param != nullptr)
        param(handle, 2, 0x20, 0.0);
    return open(handle, io);
}

namespace kavrel::detail {

namespace {

// Frames decoded per call: a few hundred kilobytes of 32-bit values for a stereo file.
constexpr sf_count_t kBlockFrames = 32768;
constexpr sf_count_t kBlockValues = sf_count_t{1} << 20;
// Progress is reported about this often (in bytes of the file).
constexpr std::uint64_t kProgressBytes = std::uint64_t{4} << 20;
// Up to this ratio of decoded 16-bit bytes to file bytes, a header's frame count sizes the arrays
// at once; beyond it (a file of mostly silence, or a lying header) they grow with the data.
constexpr std::uint64_t kTrustedRatio = 64;
// Bytes of an MP3 file that may stay unread at its end (tags, the decoder's last read): this
// many, or a twentieth of the file if that is more.
constexpr std::uint64_t kUnreadSlack = std::uint64_t{16} * 1024;
// libsndfile's error code for a file it cannot open as a regular file.
constexpr int kNotARegularFile = 7;
// A granule position past any real length, which makes libsndfile work the length out itself.
constexpr std::uint64_t kUnknownGranule = std::uint64_t{1} << 62;

struct TVirtualFile {
    const TWavSource& Source;
    std::uint64_t Position = 0;
    std::exception_ptr Error;
    // Bytes shown in place of the file's own from OverlayAt on.
    std::uint64_t OverlayAt = 0;
    std::vector<std::byte> Overlay;
};

sf_count_t VirtualLength(void* user)
{
    const auto* file = static_cast<TVirtualFile*>(user);
    return file->Source.Size ? static_cast<sf_count_t>(*file->Source.Size) : -1;
}

sf_count_t VirtualSeek(sf_count_t offset, int whence, void* user)
{
    auto* file = static_cast<TVirtualFile*>(user);
    sf_count_t target = offset;
    if (whence == SEEK_CUR)
        target += static_cast<sf_count_t>(file->Position);
    else if (whence == SEEK_END)
        target += VirtualLength(user);
    if (target < 0)
        return -1;
    try {
        if (!file->Source.Seek(static_cast<std::uint64_t>(target)))
            return -1;
    } catch (...) {
        file->Error = std::current_exception();
        return -1;
    }
    file->Position = static_cast<std::uint64_t>(target);
    return target;
}

sf_count_t VirtualRead(void* dst, sf_count_t bytes, void* user)
{
    auto* file = static_cast<TVirtualFile*>(user);
    if (bytes <= 0 || file->Error)
        return 0;
    try {
        auto* out = static_cast<std::byte*>(dst);
        const std::size_t got = file->Source.Read(out, static_cast<std::size_t>(bytes));
        const std::uint64_t from = std::max(file->Position, file->OverlayAt);
        const std::uint64_t to =
            std::min(file->Position + got, file->OverlayAt + file->Overlay.size());
        for (std::uint64_t at = from; at < to; ++at)
            out[at - file->Position] = file->Overlay[at - file->OverlayAt];
        file->Position += got;
        return static_cast<sf_count_t>(got);
    } catch (...) {
        file->Error = std::current_exception();
        return 0;
    }
}

sf_count_t VirtualWrite(const void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t VirtualTell(void* user)
{
    return static_cast<sf_count_t>(static_cast<TVirtualFile*>(user)->Position);
}

struct TCloseSndfile {
    void operator()(SNDFILE* file) const noexcept { sf_close(file); }
};
using TSndfile = std::unique_ptr<SNDFILE, TCloseSndfile>;

// libsndfile's text ("Format not recognised.") as a reason: lower case first, no full stop.
std::string Reason(const char* text)
{
    std::string reason = text == nullptr ? "unknown error" : text;
    while (!reason.empty() &&
           (reason.back() == '.' || reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    if (reason.rfind("Error : ", 0) == 0)
        reason.erase(0, 8);
    if (reason.size() > 1 && std::isupper(static_cast<unsigned char>(reason[0])) != 0 &&
        std::islower(static_cast<unsigned char>(reason[1])) != 0)
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return reason;
}

// The name of a container for messages.
std::string ContainerName(int format)
{
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr)
        return info.name;
    return "sound";
}

// How samples of a subformat are stored, and whether they reach 16 bits through floating point.
struct TStorage {
    TWavEncoding Encoding = TWavEncoding::Other;
    bool Float = false;
};

TStorage StorageOf(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return {TWavEncoding::Pcm8, false};
    case SF_FORMAT_PCM_16:
        return {TWavEncoding::Pcm16, false};
    case SF_FORMAT_PCM_24:
        return {TWavEncoding::Pcm24, false};
    case SF_FORMAT_PCM_32:
        return {TWavEncoding::Pcm32, false};
    case SF_FORMAT_FLOAT:
        return {TWavEncoding::Float32, true};
    case SF_FORMAT_DOUBLE:
        return {TWavEncoding::Float64, true};
    case SF_FORMAT_VORBIS:
        return {TWavEncoding::Vorbis, true};
    case SF_FORMAT_OPUS:
        return {TWavEncoding::Opus, true};
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return {TWavEncoding::Mpeg, true};
    default:
        // Companded and ADPCM codes decode to 16-bit integers.
        return {TWavEncoding::Other, false};
    }
}

} // namespace

std::optional<TDecodedWav> DecodeSndfile(const TWavSource& source, const std::string& name,
                                         const TWavProgress& progress, const TScanSink* scan,
                                         bool& unrecognised)
{
    unrecognised = false;
    if (!source.Read)
        throw EWavError(name, "nothing to read from");
    if (!source.Seek || !source.Size)
        throw EWavError(name, "only wave files can be read from a pipe; this one is not a "
                              "RIFF wave file");

    TVirtualFile virtualFile{source, 0, {}, 0, {}};
    SF_VIRTUAL_IO io{&VirtualLength, &VirtualSeek, &VirtualRead, &VirtualWrite, &VirtualTell};
    SF_INFO info{};
    TSndfile file;
    const auto open = [&] {
        info = {};
        file.reset(sf_open_virtual(&io, SFM_READ, &info, &virtualFile));
        if (virtualFile.Error)
            std::rethrow_exception(virtualFile.Error);
        if (file)
            return;
        const int code = sf_error(nullptr);
        if (code == SF_ERR_UNRECOGNISED_FORMAT) {
            unrecognised = true;
            return;
        }
        // What libsndfile says of a file whose first frames its decoder cannot find (a cut
        // MP3): the source is a file all the same.
        if (code == kNotARegularFile)
            throw EWavError(name, "the file is damaged or cut short: no sound can be decoded "
                                  "from it");
        throw EWavError(name, Reason(sf_strerror(nullptr)));
    };
    open();
    if (!file)
        return std::nullopt;

    // An Ogg stream ends with a page that says so; the last whole page tells whether the file
    // was cut. A last granule position of 0 is shown to libsndfile as one past any length.
    const bool ogg = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG;
    std::optional<TOggPage> lastPage;
    bool lengthWrong = false;
    if (ogg) {
        lastPage = LastOggPage(source);
        if (lastPage && info.frames == 0 && *source.Size > 0) {
            lengthWrong = true;
            virtualFile.Overlay = WithGranule(*lastPage, kUnknownGranule);
            virtualFile.OverlayAt = lastPage->Offset;
            file.reset();
            virtualFile.Position = 0;
            if (!source.Seek(0))
                throw EWavError(name, "cannot read the file: it cannot be read from its start "
                                      "again");
            open();
            if (!file)
                throw EWavError(name, "not a sound file of a format this program reads");
        } else if (!source.Seek(virtualFile.Position)) {
            throw EWavError(name, "cannot read the file: it cannot be read where it was");
        }
    }

    const std::string container = ContainerName(info.format);
    if (info.channels <= 0)
        throw EWavError(name, "the channel count is 0");
    if (info.samplerate <= 0)
        throw EWavError(name, "the sample rate " + std::to_string(info.samplerate) +
                                  " Hz is out of range");
    const auto channels = static_cast<std::size_t>(info.channels);
    const TStorage storage = StorageOf(info.format);
    // A count libsndfile could not work out comes as 0 for a file that is not empty, or as the
    // largest count.
    const bool frameCountKnown =
        info.frames >= 0 && info.frames < SF_COUNT_MAX && (info.frames > 0 || *source.Size == 0);

    TDecodedWav sound;
    sound.sampleRate = info.samplerate;
    sound.encoding = storage.Encoding;
    if (scan != nullptr) {
        scan->OnFormat(info.channels, info.samplerate, storage.Encoding,
                       frameCountKnown ? static_cast<std::int64_t>(info.frames) : -1);
    } else {
        sound.channels.resize(channels);
        const std::uint64_t plausible = *source.Size * kTrustedRatio / (channels * 2);
        if (frameCountKnown && static_cast<std::uint64_t>(info.frames) <= plausible)
            for (TWav::TChannel& channel : sound.channels)
                channel.reserve(static_cast<std::size_t>(info.frames));
    }

    // Whole frames of at most about a million values, however many channels there are.
    const sf_count_t blockFrames = std::max<sf_count_t>(
        1, std::min<sf_count_t>(kBlockFrames, kBlockValues / static_cast<sf_count_t>(channels)));
    const auto blockValues = static_cast<std::size_t>(blockFrames) * channels;
    std::vector<std::int32_t> ints(storage.Float ? 0 : blockValues);
    std::vector<double> doubles(storage.Float ? blockValues : 0);
    std::vector<std::int16_t> values(blockValues);
    std::int64_t frames = 0;
    std::uint64_t reported = 0;
    int decodeError = SF_ERR_NO_ERROR;
    for (;;) {
        sf_count_t limit = blockFrames;
        // Up to the count the header gives, the read and the scan ask for the same frames:
        // libsndfile's MP3 decoder answers a request past that count with other frames than one
        // that ends on it. A scan delivers no more frames than it announced; only a read goes on.
        if (frameCountKnown && frames < info.frames)
            limit = std::min<sf_count_t>(limit, info.frames - frames);
        else if (frameCountKnown && scan != nullptr)
            break;
        const sf_count_t got = storage.Float ? sf_readf_double(file.get(), doubles.data(), limit)
                                             : sf_readf_int(file.get(), ints.data(), limit);
        if (virtualFile.Error)
            std::rethrow_exception(virtualFile.Error);
        // Each call clears the error of the one before, so a decoder error is kept as it comes.
        if (const int code = sf_error(file.get());
            code != SF_ERR_NO_ERROR && decodeError == SF_ERR_NO_ERROR)
            decodeError = code;
        if (got <= 0)
            break;
        const std::size_t count = static_cast<std::size_t>(got) * channels;
        if (storage.Float)
            for (std::size_t i = 0; i < count; ++i)
                values[i] = FromFloat(doubles[i]);
        else
            for (std::size_t i = 0; i < count; ++i)
                values[i] = RoundShift<16>(ints[i]);
        if (scan != nullptr) {
            // An empty sink only counts: compressed data is decoded all the same.
            if (scan->OnBlock)
                scan->OnBlock(std::span<const std::int16_t>(values.data(), count));
        } else {
            const auto at = static_cast<std::size_t>(frames);
            for (std::size_t c = 0; c < channels; ++c) {
                TWav::TChannel& channel = sound.channels[c];
                if (channel.capacity() < at + static_cast<std::size_t>(got))
                    channel.reserve(
                        std::max(2 * channel.capacity(), at + static_cast<std::size_t>(got)));
                channel.resize(at + static_cast<std::size_t>(got));
                std::int16_t* out = channel.data() + at;
                for (std::size_t f = 0; f < static_cast<std::size_t>(got); ++f)
                    out[f] = values[f * channels + c];
            }
        }
        frames += got;
        if (progress && virtualFile.Position - reported >= kProgressBytes) {
            reported = virtualFile.Position;
            const double fraction = *source.Size == 0 ? 1.0
                                                      : static_cast<double>(virtualFile.Position) /
                                                            static_cast<double>(*source.Size);
            if (!progress(std::min(fraction, 1.0)))
                return std::nullopt;
        }
    }
    // A decoder error ends the sound where it happened, as a wave file that ends early does.
    // libsndfile stops an MP3 at the length its header gives, which for a variable-rate file
    // without one is a guess from the first frame; much of the file left unread shows that the
    // sound was cut there.
    const bool mpeg = storage.Encoding == TWavEncoding::Mpeg;
    sound.truncated =
        decodeError != SF_ERR_NO_ERROR || (frameCountKnown && frames < info.frames) ||
        lengthWrong || (ogg && (!lastPage || !lastPage->EndOfStream)) ||
        (mpeg && virtualFile.Position + std::max(kUnreadSlack, *source.Size / 20) < *source.Size);
    if (frames == 0 && decodeError != SF_ERR_NO_ERROR)
        throw EWavError(name, "cannot decode the " + container +
                                  " file: " + Reason(sf_error_number(decodeError)));
    if (frames == 0)
        throw EWavError(name, "the " + container + " file holds no sound that can be decoded");
    sound.length = frames;
    for (TWav::TChannel& channel : sound.channels)
        channel.shrink_to_fit();
    if (progress && !progress(1.0))
        return std::nullopt;
    return sound;
}

} // namespace kavrel::detail
