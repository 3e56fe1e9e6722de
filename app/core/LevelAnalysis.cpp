#include "app/core/LevelAnalysis.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <span>

namespace kavrel {

namespace {

// Sum of s² and the largest |s| of one channel, in integers: exact for any 32-bit length, and
// eight independent accumulators keep the loop from waiting on one addition.
struct TIntLevels {
    std::int64_t SumSquares = 0;
    std::int32_t PeakAbs = 0;
};

TIntLevels ChannelIntLevels(std::span<const std::int16_t> s)
{
    constexpr std::size_t lanes = 8;
    std::array<std::int64_t, lanes> sum{};
    std::array<std::int32_t, lanes> lo{};
    std::array<std::int32_t, lanes> hi{};
    std::size_t i = 0;
    for (; i + lanes <= s.size(); i += lanes) {
        for (std::size_t k = 0; k < lanes; ++k) {
            const std::int32_t v = s[i + k];
            sum[k] += v * v;
            lo[k] = v < lo[k] ? v : lo[k];
            hi[k] = v > hi[k] ? v : hi[k];
        }
    }
    for (; i < s.size(); ++i) {
        const std::int32_t v = s[i];
        sum[0] += v * v;
        lo[0] = v < lo[0] ? v : lo[0];
        hi[0] = v > hi[0] ? v : hi[0];
    }
    TIntLevels r;
    for (std::size_t k = 0; k < lanes; ++k) {
        r.SumSquares += sum[k];
        r.PeakAbs = std::max(r.PeakAbs, std::max(-lo[k], hi[k]));
    }
    return r;
}

} // namespace

std::vector<TChannelLevels> AnalyzeLevels(const TWav& sound)
{
    std::vector<TChannelLevels> levels;
    const std::int32_t channels = sound.Channels();
    levels.reserve(static_cast<std::size_t>(std::max(channels, 0)));
    for (std::int32_t c = 0; c < channels; ++c) {
        const std::span<const std::int16_t> samples = sound.ChannelSamples(c);
        const TIntLevels il = ChannelIntLevels(samples);
        TChannelLevels l;
        // a = |s ÷ 32768|, so the sum of a² is the integer sum over 2^30.
        const double sumSquares = static_cast<double>(il.SumSquares) * 0x1p-30;
        if (!samples.empty())
            l.Rms = std::sqrt(sumSquares / static_cast<double>(samples.size()));
        l.Peak = static_cast<double>(il.PeakAbs) / 32768.0;
        levels.push_back(l);
    }
    return levels;
}

std::string FormatLevelDb(double ratio)
{
    if (!(ratio > 0.0))
        return "-inf";
    const double db = 20.0 * std::log10(ratio);
    std::array<char, 64> text{};
    auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), db,
                                   std::chars_format::fixed, 2);
    std::string s(text.data(), ec == std::errc() ? end : text.data());
    // A level that rounds to zero reads "0.00", whichever side of zero it lies.
    if (s == "-0.00")
        s = "0.00";
    return s;
}

std::string LevelText(const TWav& sound)
{
    const std::vector<TChannelLevels> levels = AnalyzeLevels(sound);
    if (levels.empty())
        return "No sound loaded";
    std::string text;
    for (std::size_t c = 0; c < levels.size(); ++c) {
        const TChannelLevels& l = levels[c];
        const bool silent = !(l.Rms > 0.0);
        text += "Ch " + std::to_string(c) + ": RMS=" + FormatLevelDb(l.Rms) + " dB " +
                ": Peak=" + FormatLevelDb(l.Peak) + " dB " +
                ": Crest=" + FormatLevelDb(silent ? 0.0 : l.Peak / l.Rms) + " dB   ";
    }
    return text;
}

} // namespace kavrel
