// Feeds arbitrary bytes to the sound reader (the wave reader, and libsndfile for anything that is
// not RIFF), through memory and through a stream that can neither seek nor tell its size; for
// RIFF both must agree, and whatever reads must write and read back the same.
#include "sound/TWav.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

kavrel::TWavSource Stream(std::span<const std::byte> bytes)
{
    kavrel::TWavSource stream;
    stream.Read = kavrel::TWavSource::FromMemory(bytes).Read;
    return stream;
}

bool Same(const kavrel::TWav& a, const kavrel::TWav& b)
{
    if (a.Channels() != b.Channels() || a.Length() != b.Length() ||
        a.SampleRate() != b.SampleRate() || a.Encoding() != b.Encoding() ||
        a.Truncated() != b.Truncated())
        return false;
    for (std::int32_t c = 0; c < a.Channels(); ++c) {
        const auto x = a.ChannelSamples(c);
        const auto y = b.ChannelSamples(c);
        if (!std::equal(x.begin(), x.end(), y.begin(), y.end()))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    kavrel::TWav fromMemory;
    bool memoryRead = false;
    try {
        memoryRead = fromMemory.Read(kavrel::TWavSource::FromMemory(bytes), "fuzz.wav");
    } catch (const kavrel::EWavError&) {
    }
    kavrel::TWav fromStream;
    bool streamRead = false;
    try {
        streamRead = fromStream.Read(Stream(bytes), "fuzz.wav");
    } catch (const kavrel::EWavError&) {
    }
    // Other formats go to libsndfile, which needs to seek: from a stream only RIFF files read.
    const bool riff =
        size >= 4 && (std::equal(data, data + 4, "RIFF") || std::equal(data, data + 4, "RIFX"));
    if (!riff && streamRead)
        std::abort();
    if (riff && (memoryRead != streamRead || (memoryRead && !Same(fromMemory, fromStream))))
        std::abort();
    if (!memoryRead)
        return 0;

    // A readable sound is writable unless its channel count or byte rate does not fit the
    // 16-bit header; the writer refuses those with an error.
    std::vector<std::byte> written;
    try {
        written = fromMemory.ToBytes();
    } catch (const kavrel::EWavError&) {
        const std::uint64_t byteRate = 2ull * static_cast<std::uint64_t>(fromMemory.Channels()) *
                                       static_cast<std::uint64_t>(fromMemory.SampleRate());
        if (fromMemory.Channels() <= 32767 && byteRate <= 0xFFFFFFFFull)
            std::abort();
        return 0;
    }
    kavrel::TWav back;
    if (!back.Read(kavrel::TWavSource::FromMemory(written), "back.wav"))
        std::abort();
    if (back.Channels() != fromMemory.Channels() || back.Length() != fromMemory.Length() ||
        back.Truncated())
        std::abort();
    for (std::int32_t c = 0; c < back.Channels(); ++c) {
        const auto x = back.ChannelSamples(c);
        const auto y = fromMemory.ChannelSamples(c);
        if (!std::equal(x.begin(), x.end(), y.begin(), y.end()))
            std::abort();
    }
    return 0;
}
