// Reading RIFF/WAVE. Every size in the file is untrusted: chunk sizes are checked against what the
// source really holds before anything is allocated, and the arrays grow only with data that has
// actually arrived. Samples of any supported encoding are converted to 16 bits on the way in.
//
// Quirks handled: chunks before "fmt " (JUNK, bext) and between "fmt " and "data" are skipped; an
// odd-sized chunk is followed by one pad byte, or by none where the writer left it out;
// WAVE_FORMAT_EXTENSIBLE carries the real encoding in the first two bytes of its sub-format GUID;
// the RIFF size field is often wrong in files from streaming writers and is not relied on.
#include "sound/detail/WavReader.h"

#include "sound/EWavError.h"
#include "sound/detail/SampleConversion.h"
#include "sound/detail/SampleDecode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace kavrel::detail {

namespace {

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatFloat = 0x0003;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

// Bytes of the sub-format GUID after its first two (the format tag), as every standard sub-format
// has them: xxxxxxxx-0000-0010-8000-00aa00389b71.
constexpr std::array<std::uint8_t, 14> kGuidTail{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Bytes read per block of the data chunk: small enough to stay in the cache while it is
// converted, large enough that the per-call cost vanishes.
constexpr std::size_t kBlockBytes = std::size_t{256} * 1024;
// Progress is reported about this often (in bytes of data).
constexpr std::uint64_t kProgressBytes = std::uint64_t{4} << 20;

std::uint16_t Le16(const std::byte* p) noexcept
{
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(p[0]) |
                                      (std::to_integer<unsigned>(p[1]) << 8));
}

std::uint32_t Le32(const std::byte* p) noexcept
{
    return static_cast<std::uint32_t>(Le16(p)) | (static_cast<std::uint32_t>(Le16(p + 2)) << 16);
}

// A chunk tag as text for messages: printable characters as they are, others as \xNN.
std::string TagText(const std::byte* p)
{
    std::string text = "'";
    for (int i = 0; i < 4; ++i) {
        const auto c = std::to_integer<unsigned char>(p[i]);
        if (c >= 0x20 && c < 0x7F && c != '\'') {
            text += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        }
    }
    return text + "'";
}

// Chunk tags are four printable ASCII characters.
bool IsTagText(const std::byte* p) noexcept
{
    for (int i = 0; i < 4; ++i) {
        const auto c = std::to_integer<unsigned>(p[i]);
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

bool TagIs(const std::byte* p, const char (&tag)[5]) noexcept
{
    return std::memcmp(p, tag, 4) == 0;
}

std::string FormatTagName(std::uint16_t tag)
{
    const char* name = nullptr;
    switch (tag) {
    case 0x0000:
        name = "unknown";
        break;
    case 0x0002:
        name = "Microsoft ADPCM";
        break;
    case 0x0006:
        name = "A-law";
        break;
    case 0x0007:
        name = "mu-law";
        break;
    case 0x0011:
        name = "IMA ADPCM";
        break;
    case 0x0031:
        name = "GSM 6.10";
        break;
    case 0x0050:
        name = "MPEG";
        break;
    case 0x0055:
        name = "MPEG layer 3";
        break;
    default:
        break;
    }
    char code[32];
    std::snprintf(code, sizeof code, "format tag 0x%04X", tag);
    return name == nullptr ? std::string(code) : std::string(name) + " (" + code + ")";
}

struct TDecode8 {
    static constexpr std::size_t kBytes = 1;
    static std::int16_t Get(const std::byte* p) noexcept
    {
        return static_cast<std::int16_t>((std::to_integer<int>(p[0]) - 128) * 256);
    }
};
struct TDecode32 {
    static constexpr std::size_t kBytes = 4;
    static std::int16_t Get(const std::byte* p) noexcept
    {
        return RoundShift<16>(static_cast<std::int32_t>(Le32(p)));
    }
};
// Converts `values` successive values from `in` to 16 bits, keeping them interleaved.
// (16-bit, 24-bit and float values have converters of their own, in SampleDecode.h.)
template <typename D>
void DecodeInterleaved(const std::byte* in, std::size_t values, std::int16_t* out) noexcept
{
    for (std::size_t i = 0; i < values; ++i)
        out[i] = D::Get(in + i * D::kBytes);
}

void Decode16(const std::byte* in, std::size_t values, std::int16_t* out) noexcept
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, in, values * 2);
    } else {
        for (std::size_t i = 0; i < values; ++i)
            out[i] = static_cast<std::int16_t>(Le16(in + 2 * i));
    }
}

using TInterleavedFunction = void (*)(const std::byte*, std::size_t, std::int16_t*) noexcept;

struct TFormat {
    std::uint16_t channels = 0;
    std::int32_t sampleRate = 0;
    std::size_t bytesPerSample = 0;
    TWavEncoding encoding = TWavEncoding::None;
    TInterleavedFunction interleaved = nullptr;
};

// Reads through a source and keeps track of the position, which the callbacks do not report.
class TReader {
public:
    TReader(const TWavSource& source, const std::string& name) : m_source(source), m_name(name)
    {
        if (!m_source.Read)
            throw EWavError(m_name, "nothing to read from");
    }

    std::size_t Read(std::byte* dst, std::size_t bytes)
    {
        std::size_t got = 0;
        if (m_pushback && bytes > 0) {
            *dst++ = *m_pushback;
            m_pushback.reset();
            --bytes;
            got = 1;
        }
        got += m_source.Read(dst, bytes);
        m_position += got;
        return got;
    }

    // Moves forward to `offset`; false when the source ends before it.
    bool SkipTo(std::uint64_t offset)
    {
        if (offset <= m_position)
            return offset == m_position;
        if (m_source.Size && offset > *m_source.Size)
            return false;
        if (m_source.Seek) {
            if (!m_source.Seek(offset))
                return false;
            m_pushback.reset();
            m_position = offset;
            return true;
        }
        std::array<std::byte, 16384> scratch;
        while (m_position < offset) {
            const auto want = static_cast<std::size_t>(
                std::min<std::uint64_t>(scratch.size(), offset - m_position));
            if (Read(scratch.data(), want) < want)
                return false;
        }
        return true;
    }

    // Gives back the last byte read: the next Read starts with it.
    void PushBack(std::byte last) noexcept
    {
        m_pushback = last;
        --m_position;
    }

    std::uint64_t Position() const noexcept { return m_position; }
    // Bytes left from the current position, when the source knows its size.
    std::optional<std::uint64_t> Remaining() const noexcept
    {
        if (!m_source.Size)
            return std::nullopt;
        return *m_source.Size > m_position ? *m_source.Size - m_position : 0;
    }

    [[noreturn]] void Fail(const std::string& reason) const { throw EWavError(m_name, reason); }

private:
    const TWavSource& m_source;
    const std::string& m_name;
    std::uint64_t m_position = 0;
    std::optional<std::byte> m_pushback;
};

TFormat ParseFormat(const TReader& reader, const std::byte* body, std::uint32_t size)
{
    std::uint16_t tag = Le16(body);
    TFormat format;
    format.channels = Le16(body + 2);
    const std::uint32_t rate = Le32(body + 4);
    // Block align (body + 12) is not trusted: the frame size follows from channels and sample
    // width, as every reader does for PCM and float.
    std::uint16_t bits = Le16(body + 14);

    if (tag == kFormatExtensible) {
        if (size < 40 || Le16(body + 16) < 22)
            reader.Fail("the extensible fmt chunk is too short (" + std::to_string(size) +
                        " bytes)");
        const std::byte* guid = body + 24;
        if (std::memcmp(guid + 2, kGuidTail.data(), kGuidTail.size()) != 0) {
            char text[48];
            std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                          Le32(guid), Le16(guid + 4), Le16(guid + 6),
                          std::to_integer<unsigned>(guid[8]), std::to_integer<unsigned>(guid[9]),
                          std::to_integer<unsigned>(guid[10]), std::to_integer<unsigned>(guid[11]),
                          std::to_integer<unsigned>(guid[12]), std::to_integer<unsigned>(guid[13]),
                          std::to_integer<unsigned>(guid[14]), std::to_integer<unsigned>(guid[15]));
            reader.Fail(std::string("unsupported encoding: unknown extensible sub-format {") +
                        text + "}");
        }
        tag = Le16(guid);
        if (tag != kFormatPcm && tag != kFormatFloat)
            reader.Fail("unsupported encoding " + FormatTagName(tag) + " in an extensible file");
        // The container width; the valid bits within it (body + 18) only say how many of its low
        // bits are padding, which the 16-bit conversion rounds away.
    }

    if (tag == kFormatPcm) {
        if (bits == 0 || bits > 32)
            reader.Fail("unsupported encoding: PCM with " + std::to_string(bits) +
                        " bits per sample");
        format.bytesPerSample = (bits + 7u) / 8u;
        switch (format.bytesPerSample) {
        case 1:
            format.encoding = TWavEncoding::Pcm8;
            format.interleaved = &DecodeInterleaved<TDecode8>;
            break;
        case 2:
            format.encoding = TWavEncoding::Pcm16;
            format.interleaved = &Decode16;
            break;
        case 3:
            format.encoding = TWavEncoding::Pcm24;
            format.interleaved = &Decode24;
            break;
        default:
            format.encoding = TWavEncoding::Pcm32;
            format.interleaved = &DecodeInterleaved<TDecode32>;
            break;
        }
    } else if (tag == kFormatFloat) {
        if (bits == 32) {
            format.bytesPerSample = 4;
            format.encoding = TWavEncoding::Float32;
            format.interleaved = &DecodeFloat32;
        } else if (bits == 64) {
            format.bytesPerSample = 8;
            format.encoding = TWavEncoding::Float64;
            format.interleaved = &DecodeFloat64;
        } else {
            reader.Fail("unsupported encoding: IEEE float with " + std::to_string(bits) +
                        " bits per sample");
        }
    } else {
        reader.Fail("unsupported encoding " + FormatTagName(tag));
    }

    if (format.channels == 0)
        reader.Fail("the channel count is 0");
    if (rate == 0)
        reader.Fail("the sample rate is 0 Hz");
    if (rate > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        reader.Fail("the sample rate " + std::to_string(rate) + " Hz is out of range");
    format.sampleRate = static_cast<std::int32_t>(rate);
    return format;
}

} // namespace

std::optional<TDecodedWav> DecodeWav(const TWavSource& source, const std::string& name,
                                     const TWavProgress& progress, const TScanSink* scan)
{
    TReader reader(source, name);

    std::array<std::byte, 12> head{};
    const std::size_t got = reader.Read(head.data(), head.size());
    if (got == 0)
        reader.Fail("the file is empty");
    if (got < 4 || !TagIs(head.data(), "RIFF")) {
        if (got >= 4 && TagIs(head.data(), "RIFX"))
            reader.Fail("big-endian (RIFX) wave files are not supported");
        if (got >= 4 && (TagIs(head.data(), "RF64") || TagIs(head.data(), "BW64")))
            reader.Fail("RF64/BW64 files are not supported");
        reader.Fail("not a wave file (no RIFF header)");
    }
    if (got < head.size())
        reader.Fail("too short to be a wave file (" + std::to_string(got) + " bytes)");
    if (!TagIs(head.data() + 8, "WAVE"))
        reader.Fail("not a wave file (RIFF form " + TagText(head.data() + 8) + ", not 'WAVE')");

    std::optional<TFormat> format;
    // An odd-sized chunk is followed by a pad byte, which some writers leave out. Tags are text,
    // so a missing pad shows as a tag that is text where the pad should be and not one byte on.
    bool padNext = false;
    for (;;) {
        std::array<std::byte, 9> bytes{};
        const std::byte* header = bytes.data();
        if (padNext) {
            const std::size_t n = reader.Read(bytes.data(), bytes.size());
            const bool padMissing = n >= 8 && IsTagText(bytes.data()) &&
                                    (n < 9 || !IsTagText(bytes.data() + 1) ||
                                     TagIs(bytes.data(), "data") || TagIs(bytes.data(), "fmt "));
            if (padMissing) {
                if (n == 9)
                    reader.PushBack(bytes[8]);
            } else {
                if (n < 9)
                    break;
                header = bytes.data() + 1;
            }
        } else if (reader.Read(bytes.data(), 8) < 8) {
            break;
        }
        const std::uint32_t size = Le32(header + 4);
        const std::uint64_t body = reader.Position();
        const std::uint64_t next = body + size;
        padNext = (size & 1u) != 0;

        // A second fmt chunk is skipped like any other: the first describes the data.
        if (TagIs(header, "fmt ") && !format) {
            if (size < 16)
                reader.Fail("the fmt chunk is too short (" + std::to_string(size) + " bytes)");
            std::array<std::byte, 40> fmt{};
            const std::size_t want = std::min<std::size_t>(size, fmt.size());
            if (reader.Read(fmt.data(), want) < want)
                reader.Fail("the file ends inside its fmt chunk");
            format = ParseFormat(reader, fmt.data(), size);
        } else if (TagIs(header, "data")) {
            if (!format)
                reader.Fail("the data chunk comes before the fmt chunk");
            const std::size_t frameBytes = format->channels * format->bytesPerSample;
            const std::optional<std::uint64_t> remaining = reader.Remaining();
            std::uint64_t toRead = size;
            TDecodedWav sound;
            if (remaining && *remaining < toRead) {
                toRead = *remaining;
                sound.truncated = true;
            }
            // No wave file can state more than 4 GB of data: a file that holds more was written
            // past its format's end, and only what the size field states is read.
            sound.oversized = remaining && *remaining > 0xFFFFFFFFull;
            const std::uint64_t wholeFrames = toRead / frameBytes;
            if (wholeFrames > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                reader.Fail("the data chunk is too large");
            if (scan != nullptr)
                scan->OnFormat(format->channels, format->sampleRate, format->encoding,
                               remaining ? static_cast<std::int64_t>(wholeFrames) : -1);
            else
                sound.channels.resize(format->channels);
            // With a known size the arrays are sized once; otherwise they grow with the data.
            if (remaining && scan == nullptr)
                for (TWav::TChannel& channel : sound.channels)
                    channel.resize(static_cast<std::size_t>(wholeFrames));

            const std::uint64_t total = wholeFrames * frameBytes;
            const std::size_t blockBytes = std::max<std::size_t>(
                frameBytes, static_cast<std::size_t>(std::min<std::uint64_t>(
                                total, kBlockBytes / frameBytes * frameBytes)));
            std::vector<std::byte> block(blockBytes);
            std::vector<std::int16_t> values;
            // A scan without a sink only counts: with a known size there is nothing to read.
            const bool countOnly = scan != nullptr && !scan->OnBlock;
            // 16-bit values are split into the channels as they are; others are converted into
            // values first, which a sound of one channel does not need.
            const bool split16 = scan == nullptr && format->encoding == TWavEncoding::Pcm16 &&
                                 std::endian::native == std::endian::little;
            // A scan of 16-bit values reads them straight into the values it hands on.
            const bool direct16 = scan != nullptr && format->encoding == TWavEncoding::Pcm16 &&
                                  std::endian::native == std::endian::little;
            if (!countOnly && !split16 && (scan != nullptr || format->channels > 1))
                values.resize(blockBytes / format->bytesPerSample);
            std::vector<std::int16_t*> outs(scan == nullptr ? format->channels : 0);
            std::uint64_t done = 0;
            std::uint64_t reported = 0;
            std::size_t frames = 0;
            if (countOnly && remaining && reader.SkipTo(body + total)) {
                done = total;
                frames = static_cast<std::size_t>(wholeFrames);
            }
            while (done < total) {
                std::int16_t* placed = values.data();
                std::size_t want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes, total - done));
                if (scan != nullptr && !countOnly && scan->Place) {
                    const std::span<std::int16_t> there =
                        scan->Place(want / format->bytesPerSample);
                    if (there.size() >= format->channels) {
                        placed = there.data();
                        want = std::min(want, there.size() / format->channels * frameBytes);
                    }
                }
                const std::size_t have = reader.Read(
                    direct16 && !countOnly ? reinterpret_cast<std::byte*>(placed) : block.data(),
                    want);
                const std::size_t blockFrames = have / frameBytes;
                if (scan != nullptr) {
                    const std::size_t count = blockFrames * format->channels;
                    if (!countOnly && count > 0) {
                        if (!direct16)
                            format->interleaved(block.data(), count, placed);
                        scan->OnBlock(std::span<const std::int16_t>(placed, count));
                    }
                } else if (blockFrames > 0) {
                    if (!remaining)
                        for (TWav::TChannel& channel : sound.channels)
                            channel.resize(frames + blockFrames);
                    for (std::size_t c = 0; c < outs.size(); ++c)
                        outs[c] = sound.channels[c].data() + frames;
                    if (split16) {
                        Deinterleave16(block.data(), blockFrames, outs.size(), outs.data());
                    } else if (outs.size() == 1) {
                        format->interleaved(block.data(), blockFrames, outs[0]);
                    } else {
                        format->interleaved(block.data(), blockFrames * outs.size(), values.data());
                        Deinterleave16(reinterpret_cast<const std::byte*>(values.data()),
                                       blockFrames, outs.size(), outs.data());
                    }
                }
                frames += blockFrames;
                done += have;
                if (have < want) {
                    sound.truncated = true;
                    break;
                }
                if (progress && (done - reported >= kProgressBytes || done == total)) {
                    reported = done;
                    if (!progress(static_cast<double>(done) / static_cast<double>(total)))
                        return std::nullopt;
                }
            }
            if (!sound.truncated && total < size) {
                // The stated size ends in a part of a frame, which is dropped; the file is only
                // cut short if that part is missing too.
                const auto rest = static_cast<std::size_t>(size - total);
                if (reader.Read(block.data(), rest) < rest)
                    sound.truncated = true;
            }
            if (remaining && frames < wholeFrames && scan == nullptr) {
                for (TWav::TChannel& channel : sound.channels)
                    channel.resize(frames);
            }
            sound.sampleRate = format->sampleRate;
            sound.length = static_cast<std::int64_t>(frames);
            sound.encoding = format->encoding;
            // Whatever ended the data, the caller sees the read reach its end.
            if (progress && (total == 0 || reported != done) && !progress(1.0))
                return std::nullopt;
            return sound;
        }
        if (!reader.SkipTo(next))
            break;
    }
    if (!format)
        reader.Fail("not a wave file (no fmt chunk)");
    reader.Fail("the file has no data chunk");
}

} // namespace kavrel::detail
