#pragma once

#include "sound/EWavError.h"
#include "sound/TWavEncoding.h"
#include "sound/TWavSource.h"
#include "sound/detail/DefaultInitAllocator.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// Progress of a long read or write: called on the caller's thread with the fraction done
// (0 … 1); returning false cancels the operation.
using TWavProgress = std::function<bool(double fraction)>;

// "the file ends before its data does; the N frames it holds were read" and the like for a file
// read incompletely (truncated: the file ends early; oversized: it holds more than its header
// can state); "" when neither.
std::string ReadWarningText(bool truncated, bool oversized, std::int64_t frames);

// One sound in memory: `Channels()` channels of `Length()` signed 16-bit samples each, read from a
// RIFF/WAVE file of any common PCM or float encoding and written back as 16-bit PCM.
// Not thread-safe; const members may run concurrently with each other.
class TWav {
public:
    // An empty sound: 0 channels, length 0, rate 0.
    TWav() = default;

    // Frames per second. A plain field: setting it changes no samples.
    std::int32_t SampleRate() const noexcept { return m_sampleRate; }
    void SetSampleRate(std::int32_t rate) noexcept { m_sampleRate = rate; }
    // Sample rate × channels: samples per second over all channels.
    std::int64_t TotalRate() const noexcept;

    std::int32_t Channels() const noexcept { return static_cast<std::int32_t>(m_samples.size()); }
    // Reallocates to [channels][Length()], keeping what fits; new samples are 0. Negative counts
    // as 0.
    void SetChannels(std::int32_t channels);

    // Samples per channel (frames).
    std::int64_t Length() const noexcept { return m_length; }
    // Reallocates every channel to `length` samples, keeping what fits; new samples are 0.
    // Negative counts as 0.
    void SetLength(std::int64_t length);
    // The same, but samples beyond the old length are left unset: for a caller that writes every
    // one of them before anything reads it.
    void SetLengthUnset(std::int64_t length);

    // Length() / SampleRate() in seconds; 0 when the rate is 0.
    double Duration() const noexcept;

    // Leaves 0 channels of 1 sample; forgets the encoding and the truncation mark. Keeps the rate
    // and the file name.
    void Clear();

    // One sample; channel and index must be in range.
    std::int16_t Sample(std::int32_t channel, std::int64_t index) const noexcept
    {
        return m_samples[static_cast<std::size_t>(channel)][static_cast<std::size_t>(index)];
    }
    void SetSample(std::int32_t channel, std::int64_t index, std::int16_t value) noexcept
    {
        m_samples[static_cast<std::size_t>(channel)][static_cast<std::size_t>(index)] = value;
    }

    // One channel's Length() samples, contiguous; empty for a channel out of range. Valid until
    // the channel count or length changes or a file is read.
    std::span<const std::int16_t> ChannelSamples(std::int32_t channel) const noexcept;
    std::span<std::int16_t> MutableChannelSamples(std::int32_t channel) noexcept;

    // Frames start … start+count-1 of the listed channels, interleaved frame by frame in list
    // order (count × channels.size() values). A channel or index out of range reads as 0.
    std::vector<std::int16_t> BlockExtract(std::span<const std::int32_t> channels,
                                           std::int64_t start, std::int64_t count) const;
    // The same into `out`, out.size() / channels.size() frames (a partial last frame is zeroed).
    // Does not allocate, so the playback feed can call it.
    void BlockExtract(std::span<const std::int32_t> channels, std::int64_t start,
                      std::span<std::int16_t> out) const noexcept;

    // Reads a wave file (empty path: FileName()). The new sound is built completely before it
    // replaces the current one: on an EWavError, or when `progress` cancels (returns false), this
    // object is left exactly as it was. Returns false when cancelled.
    bool ReadFile(const std::string& path = {}, const TWavProgress& progress = {});
    // The same from any source; `name` is what error messages and FileName() show.
    bool Read(const TWavSource& source, const std::string& name, const TWavProgress& progress = {});

    // Writes the sound as a 16-bit PCM wave file (empty path: FileName()) through TSafeWriter:
    // the new file replaces the target only when complete; on an EWavError or a cancel the
    // target is untouched and nothing is left beside it. A device or pipe (`/dev/stdout`) is
    // written to directly; a write-protected target is refused. Returns false when cancelled.
    bool WriteFile(const std::string& path = {}, const TWavProgress& progress = {}) const;
    // The 44-byte header and the interleaved samples, as WriteFile writes them. Throws EWavError
    // for a sound no wave file can hold.
    std::vector<std::byte> ToBytes() const;

    // The path last read successfully.
    const std::string& FileName() const noexcept { return m_fileName; }
    // True when the last file read ended before its data did; the sound holds the whole frames
    // that were there.
    bool Truncated() const noexcept { return m_truncated; }
    // True when the last file read holds more data than a wave file's 32-bit size can state
    // (over 4 GB); the sound holds what the size states.
    bool Oversized() const noexcept { return m_oversized; }
    // What to tell the user about the last file read when it was not read whole, else "".
    std::string ReadWarning() const { return ReadWarningText(m_truncated, m_oversized, m_length); }
    // How the last file read stored its samples.
    TWavEncoding Encoding() const noexcept { return m_encoding; }
    std::string_view EncodingName() const noexcept { return kavrel::EncodingName(m_encoding); }

    // One channel's samples. Growth does not zero them unless asked, so that reading a file
    // writes every sample once.
    using TChannel = std::vector<std::int16_t, detail::DefaultInitAllocator<std::int16_t>>;

private:
    std::int32_t m_sampleRate = 0;
    std::int64_t m_length = 0;
    std::vector<TChannel> m_samples;
    std::string m_fileName;
    bool m_truncated = false;
    bool m_oversized = false;
    TWavEncoding m_encoding = TWavEncoding::None;
};

} // namespace kavrel
