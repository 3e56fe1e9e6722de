// Writing 16-bit PCM wave files. A save must never destroy what was there: the bytes go through
// TSafeWriter, so the target is either the old file or the complete new one. Only a device or
// pipe, which cannot be replaced, is written to directly.
#include "sound/detail/WavWriter.h"

#include "sound/EWavError.h"
#include "sound/TSafeWriter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <span>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Writes what `encode` sends to its sink to `path` through the safe writer.
bool WriteEncoded(const std::string& path, const std::function<bool(const TByteSink&)>& encode)
{
    try {
        TSafeWriter file(path);
        file.WriteDirect();
        const bool complete = encode(
            [&file](const std::byte* bytes, std::size_t count) { file.Write(bytes, count); });
        if (!complete)
            return false;
        file.Commit();
        return true;
    } catch (const ESafeWriteError& e) {
        throw EWavError(path, e.Reason());
    }
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
