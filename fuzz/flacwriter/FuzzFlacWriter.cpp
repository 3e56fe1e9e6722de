// The FLAC writer on any sound: the first bytes choose the channel count, the sample rate and the
// block sizes a stream comes in, the rest are the samples. What is written whole and what is
// written as a stream must be the same file, and read back to the same samples; a sound that
// FLAC cannot hold is refused by both.

#include "fuzz/FuzzFiles.h"
#include "sound/TWav.h"
#include "sound/TWavStream.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return 0;
    const std::int32_t channels = 1 + data[0] % 10; // up to 10: FLAC holds 8
    static constexpr std::int32_t rates[] = {1,     8000,   11025,  44100,  48000,
                                             96000, 192000, 655350, 655351, 1000000};
    const std::int32_t rate = rates[data[1] % 10];
    const std::size_t step = 1 + (static_cast<std::size_t>(data[2]) << 8 | data[3]) % 5000;
    const std::size_t values = (size - 4) / 2;
    const std::int64_t frames = static_cast<std::int64_t>(values) / channels;

    kavrel::TWav sound;
    sound.SetSampleRate(rate);
    sound.SetChannels(channels);
    sound.SetLength(frames);
    std::vector<std::int16_t> interleaved(static_cast<std::size_t>(frames * channels));
    if (!interleaved.empty())
        std::memcpy(interleaved.data(), data + 4, interleaved.size() * 2);
    for (std::int64_t i = 0; i < frames; ++i)
        for (std::int32_t c = 0; c < channels; ++c)
            sound.SetSample(c, i, interleaved[static_cast<std::size_t>(i * channels + c)]);

    const std::string whole = kavrel::fuzz::TempFile("whole.flac");
    const std::string stream = kavrel::fuzz::TempFile("stream.flac");
    const kavrel::fuzz::TRemoveFiles remove{{whole, stream}};
    bool wholeWritten = false;
    try {
        wholeWritten = sound.WriteFile(whole);
    } catch (const kavrel::EWavError&) {
    }
    bool streamWritten = false;
    try {
        streamWritten =
            kavrel::WriteWavStream(stream, {channels, rate, frames}, [&](std::int64_t first) {
                const auto n = static_cast<std::size_t>(
                    std::min<std::int64_t>(static_cast<std::int64_t>(step), frames - first));
                return std::span<const std::int16_t>(interleaved.data() +
                                                         static_cast<std::size_t>(first * channels),
                                                     n * static_cast<std::size_t>(channels));
            });
    } catch (const kavrel::EWavError&) {
    }
    if (wholeWritten != streamWritten)
        std::abort();
    if (!wholeWritten) {
        if (channels <= 8 && rate <= 655350)
            std::abort();
        return 0;
    }
    if (kavrel::fuzz::Contents(whole) != kavrel::fuzz::Contents(stream))
        std::abort();
    kavrel::TWav back;
    if (frames == 0) {
        // A file with no sound in it is refused when read.
        try {
            if (back.ReadFile(whole) && back.Length() != 0)
                std::abort();
        } catch (const kavrel::EWavError&) {
        }
        return 0;
    }
    if (!back.ReadFile(whole) || back.Channels() != channels || back.SampleRate() != rate ||
        back.Length() != frames || back.Truncated())
        std::abort();
    for (std::int32_t c = 0; c < channels; ++c) {
        const auto x = back.ChannelSamples(c);
        const auto y = sound.ChannelSamples(c);
        if (!std::equal(x.begin(), x.end(), y.begin(), y.end()))
            std::abort();
    }
    return 0;
}
