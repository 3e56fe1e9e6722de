#include "sound/TWav.h"

#include "sound/detail/FileSource.h"
#include "sound/detail/WavReader.h"
#include "sound/detail/WavWriter.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kavrel {

std::string ReadWarningText(bool truncated, bool oversized, std::int64_t frames)
{
    const std::string count = std::to_string(frames);
    if (oversized)
        return "the file holds more data than a wave file's header can state (4 GB); only the "
               "first " +
               count + " frames were read";
    if (truncated)
        return "the file ends before its data does; the " + count + " frames it holds were read";
    return {};
}

std::int64_t TWav::TotalRate() const noexcept
{
    return static_cast<std::int64_t>(m_sampleRate) * Channels();
}

void TWav::SetChannels(std::int32_t channels)
{
    const auto n = static_cast<std::size_t>(std::max(channels, 0));
    if (n <= m_samples.size()) {
        m_samples.resize(n);
        return;
    }
    m_samples.reserve(n);
    while (m_samples.size() < n)
        m_samples.emplace_back(static_cast<std::size_t>(m_length), std::int16_t{0});
}

void TWav::SetLength(std::int64_t length)
{
    m_length = std::max<std::int64_t>(length, 0);
    for (TChannel& channel : m_samples)
        channel.resize(static_cast<std::size_t>(m_length), std::int16_t{0});
}

void TWav::SetLengthUnset(std::int64_t length)
{
    m_length = std::max<std::int64_t>(length, 0);
    for (TChannel& channel : m_samples)
        channel.resize(static_cast<std::size_t>(m_length));
}

double TWav::Duration() const noexcept
{
    if (m_sampleRate <= 0)
        return 0.0;
    return static_cast<double>(m_length) / static_cast<double>(m_sampleRate);
}

void TWav::Clear()
{
    m_samples.clear();
    m_samples.shrink_to_fit();
    m_length = 1;
    m_truncated = false;
    m_oversized = false;
    m_encoding = TWavEncoding::None;
}

std::span<const std::int16_t> TWav::ChannelSamples(std::int32_t channel) const noexcept
{
    if (channel < 0 || channel >= Channels())
        return {};
    const TChannel& samples = m_samples[static_cast<std::size_t>(channel)];
    return {samples.data(), samples.size()};
}

std::span<std::int16_t> TWav::MutableChannelSamples(std::int32_t channel) noexcept
{
    if (channel < 0 || channel >= Channels())
        return {};
    TChannel& samples = m_samples[static_cast<std::size_t>(channel)];
    return {samples.data(), samples.size()};
}

std::vector<std::int16_t> TWav::BlockExtract(std::span<const std::int32_t> channels,
                                             std::int64_t start, std::int64_t count) const
{
    if (count <= 0 || channels.empty())
        return {};
    std::vector<std::int16_t> out(static_cast<std::size_t>(count) * channels.size());
    BlockExtract(channels, start, out);
    return out;
}

void TWav::BlockExtract(std::span<const std::int32_t> channels, std::int64_t start,
                        std::span<std::int16_t> out) const noexcept
{
    std::fill(out.begin(), out.end(), std::int16_t{0});
    const std::size_t stride = channels.size();
    if (stride == 0)
        return;
    const auto frames = static_cast<std::int64_t>(out.size() / stride);
    // The frames f with 0 <= start + f < m_length, computed without overflow for any start.
    if (frames == 0 || start >= m_length || (start < 0 && start + frames <= 0))
        return;
    const std::int64_t first = start < 0 ? -start : 0;
    const std::int64_t last = std::min(frames, m_length - start);
    for (std::size_t k = 0; k < stride; ++k) {
        const std::int32_t channel = channels[k];
        if (channel < 0 || channel >= Channels())
            continue;
        const std::int16_t* from = m_samples[static_cast<std::size_t>(channel)].data();
        for (std::int64_t f = first; f < last; ++f)
            out[static_cast<std::size_t>(f) * stride + k] = from[start + f];
    }
}

bool TWav::ReadFile(const std::string& path, const TWavProgress& progress)
{
    const std::string name = path.empty() ? m_fileName : path;
    if (name.empty())
        throw EWavError({}, "no wave file named to read");
    return Read(detail::OpenFileSource(name), name, progress);
}

bool TWav::Read(const TWavSource& source, const std::string& name, const TWavProgress& progress)
{
    std::optional<detail::TDecodedWav> sound;
    try {
        sound = detail::DecodeWav(source, name, progress);
    } catch (const std::bad_alloc&) {
        throw EWavError(name, "not enough memory to hold the sound");
    }
    if (!sound)
        return false;
    m_sampleRate = sound->sampleRate;
    m_length = sound->length;
    m_samples = std::move(sound->channels);
    m_truncated = sound->truncated;
    m_oversized = sound->oversized;
    m_encoding = sound->encoding;
    m_fileName = name;
    return true;
}

bool TWav::WriteFile(const std::string& path, const TWavProgress& progress) const
{
    const std::string name = path.empty() ? m_fileName : path;
    if (name.empty())
        throw EWavError({}, "no wave file named to write");
    return detail::WriteWavFile(*this, name, progress);
}

std::vector<std::byte> TWav::ToBytes() const
{
    std::vector<std::byte> bytes;
    detail::EncodeWav(*this, m_fileName,
                      [&bytes](const std::byte* data, std::size_t count) {
                          bytes.insert(bytes.end(), data, data + count);
                      },
                      {});
    return bytes;
}

bool WriteWavStream(const std::string& path, const TWavStreamFormat& format,
                    const TWavBlockSource& next, const TWavProgress& progress)
{
    if (path.empty())
        throw EWavError({}, "no wave file named to write");
    return detail::WriteWavStream(format, next, path, progress);
}

} // namespace kavrel
