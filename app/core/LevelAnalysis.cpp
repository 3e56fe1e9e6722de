#include "app/core/LevelAnalysis.h"

#include "sound/TWavScan.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <optional>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kavrel {

namespace {

// Sum of s² and the largest |s| of one channel, in integers: exact for any 32-bit length.
struct TIntLevels {
    std::uint64_t SumSquares = 0;
    std::int32_t PeakAbs = 0;
};

void AddScalar(std::span<const std::int16_t> s, TIntLevels& r, std::int32_t& lo, std::int32_t& hi)
{
    for (const std::int16_t x : s) {
        const std::int32_t v = x;
        r.SumSquares += static_cast<std::uint32_t>(v * v);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
}

TIntLevels ChannelIntLevels(std::span<const std::int16_t> s)
{
    TIntLevels r;
    std::int32_t lo = 0;
    std::int32_t hi = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Eight samples at a time: pairs of squares summed into 32 bits (2·32768² = 2^31 still fits
    // when read unsigned), widened to 64-bit sums; the extremes in 16-bit lanes.
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = zero;
    __m128i vlo = zero;
    __m128i vhi = zero;
    for (; i + 8 <= s.size(); i += 8) {
        __m128i v;
        std::memcpy(&v, s.data() + i, sizeof v);
        const __m128i sq = _mm_madd_epi16(v, v);
        sum = _mm_add_epi64(sum, _mm_unpacklo_epi32(sq, zero));
        sum = _mm_add_epi64(sum, _mm_unpackhi_epi32(sq, zero));
        vlo = _mm_min_epi16(vlo, v);
        vhi = _mm_max_epi16(vhi, v);
    }
    std::array<std::uint64_t, 2> sums{};
    std::array<std::int16_t, 8> los{};
    std::array<std::int16_t, 8> his{};
    std::memcpy(sums.data(), &sum, sizeof sum);
    std::memcpy(los.data(), &vlo, sizeof vlo);
    std::memcpy(his.data(), &vhi, sizeof vhi);
    r.SumSquares = sums[0] + sums[1];
    for (std::size_t k = 0; k < 8; ++k) {
        lo = std::min<std::int32_t>(lo, los[k]);
        hi = std::max<std::int32_t>(hi, his[k]);
    }
#endif
    AddScalar(s.subspan(i), r, lo, hi);
    r.PeakAbs = std::max(-lo, hi);
    return r;
}

// A channel's integer sums as they build up over the blocks of a file.
struct TIntAccum {
    std::uint64_t SumSquares = 0;
    std::int32_t Lo = 0;
    std::int32_t Hi = 0;
};

// Whole runs of lcm(channels, 8) values of s into acc, for more than two channels; returns the
// values done. Value i of a run belongs to channel i mod channels in every run, so each position
// of a run keeps sums of its own in vector lanes, added into the channels at the end.
std::size_t AddInterleavedWide(std::span<const std::int16_t> s, std::vector<TIntAccum>& acc)
{
#if defined(__SSE2__)
    const std::size_t n = acc.size();
    const std::size_t period = std::lcm(n, std::size_t{8});
    // Positions of a run in vectors of eight values; beyond a few hundred channels the scalar
    // loop does as well.
    const std::size_t vectors = period / 8;
    constexpr std::size_t maxVectors = 64;
    if (vectors > maxVectors || s.size() < period)
        return 0;
    // Per position: the squares of its lanes 0 and 2, 4 and 6, 1 and 3, 5 and 7 in 64 bits;
    // its extremes in 16-bit lanes.
    __m128i sums[4 * maxVectors];
    __m128i los[maxVectors];
    __m128i his[maxVectors];
    const __m128i zero = _mm_setzero_si128();
    std::fill_n(sums, 4 * vectors, zero);
    std::fill_n(los, vectors, zero);
    std::fill_n(his, vectors, zero);
    const __m128i evens = _mm_set1_epi32(0x0000FFFF);
    const __m128i odds = _mm_set1_epi32(static_cast<int>(0xFFFF0000U));
    const std::size_t runs = s.size() / period;
    for (std::size_t r = 0; r < runs; ++r) {
        const std::int16_t* run = s.data() + r * period;
        for (std::size_t v = 0; v < vectors; ++v) {
            __m128i x;
            std::memcpy(&x, run + 8 * v, sizeof x);
            const __m128i e = _mm_madd_epi16(x, _mm_and_si128(x, evens));
            const __m128i o = _mm_madd_epi16(x, _mm_and_si128(x, odds));
            __m128i* sum = sums + 4 * v;
            sum[0] = _mm_add_epi64(sum[0], _mm_unpacklo_epi32(e, zero));
            sum[1] = _mm_add_epi64(sum[1], _mm_unpackhi_epi32(e, zero));
            sum[2] = _mm_add_epi64(sum[2], _mm_unpacklo_epi32(o, zero));
            sum[3] = _mm_add_epi64(sum[3], _mm_unpackhi_epi32(o, zero));
            los[v] = _mm_min_epi16(los[v], x);
            his[v] = _mm_max_epi16(his[v], x);
        }
    }
    // Lane k of sums[4v + q] holds run position 8v + laneOf[q][k].
    constexpr std::size_t laneOf[4][2] = {{0, 2}, {4, 6}, {1, 3}, {5, 7}};
    for (std::size_t v = 0; v < vectors; ++v) {
        std::array<std::int16_t, 8> lo{};
        std::array<std::int16_t, 8> hi{};
        std::memcpy(lo.data(), &los[v], sizeof lo);
        std::memcpy(hi.data(), &his[v], sizeof hi);
        for (std::size_t k = 0; k < 8; ++k) {
            TIntAccum& a = acc[(8 * v + k) % n];
            a.Lo = std::min<std::int32_t>(a.Lo, lo[k]);
            a.Hi = std::max<std::int32_t>(a.Hi, hi[k]);
        }
        for (std::size_t q = 0; q < 4; ++q) {
            std::array<std::uint64_t, 2> part{};
            std::memcpy(part.data(), &sums[4 * v + q], sizeof part);
            for (std::size_t k = 0; k < 2; ++k)
                acc[(8 * v + laneOf[q][k]) % n].SumSquares += part[k];
        }
    }
    return runs * period;
#else
    (void)s;
    (void)acc;
    return 0;
#endif
}

// Whole pairs of frames of eight channels into acc; returns the values done. Interleaving two
// frames value by value puts each channel's two values side by side, so that one multiply-add
// gives that channel's sum of squares of both (2·32768² = 2^31 still fits when read unsigned).
std::size_t AddEightChannels(std::span<const std::int16_t> s, std::vector<TIntAccum>& acc)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i sums[4] = {zero, zero, zero, zero}; // channels 0 and 1, 2 and 3, 4 and 5, 6 and 7
    __m128i vlo = zero;
    __m128i vhi = zero;
    std::size_t i = 0;
    for (; i + 16 <= s.size(); i += 16) {
        __m128i a;
        __m128i b;
        std::memcpy(&a, s.data() + i, sizeof a);
        std::memcpy(&b, s.data() + i + 8, sizeof b);
        const __m128i low = _mm_unpacklo_epi16(a, b);
        const __m128i high = _mm_unpackhi_epi16(a, b);
        const __m128i sqLow = _mm_madd_epi16(low, low);
        const __m128i sqHigh = _mm_madd_epi16(high, high);
        sums[0] = _mm_add_epi64(sums[0], _mm_unpacklo_epi32(sqLow, zero));
        sums[1] = _mm_add_epi64(sums[1], _mm_unpackhi_epi32(sqLow, zero));
        sums[2] = _mm_add_epi64(sums[2], _mm_unpacklo_epi32(sqHigh, zero));
        sums[3] = _mm_add_epi64(sums[3], _mm_unpackhi_epi32(sqHigh, zero));
        vlo = _mm_min_epi16(vlo, _mm_min_epi16(a, b));
        vhi = _mm_max_epi16(vhi, _mm_max_epi16(a, b));
    }
    std::array<std::int16_t, 8> los{};
    std::array<std::int16_t, 8> his{};
    std::memcpy(los.data(), &vlo, sizeof vlo);
    std::memcpy(his.data(), &vhi, sizeof vhi);
    for (std::size_t c = 0; c < 8; ++c) {
        std::array<std::uint64_t, 2> part{};
        std::memcpy(part.data(), &sums[c / 2], sizeof part);
        acc[c].SumSquares += part[c % 2];
        acc[c].Lo = std::min<std::int32_t>(acc[c].Lo, los[c]);
        acc[c].Hi = std::max<std::int32_t>(acc[c].Hi, his[c]);
    }
    return i;
#else
    (void)s;
    (void)acc;
    return 0;
#endif
}

void AddInterleaved(std::span<const std::int16_t> s, std::vector<TIntAccum>& acc)
{
    const std::size_t n = acc.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    if (n == 2) {
        // Four frames at a time: the even 16-bit lanes hold the left channel, the odd ones the
        // right; masking one of the two factors picks one channel's squares out of each pair.
        const __m128i zero = _mm_setzero_si128();
        const __m128i evens = _mm_set1_epi32(0x0000FFFF);
        const __m128i odds = _mm_set1_epi32(static_cast<int>(0xFFFF0000U));
        __m128i sumL = zero;
        __m128i sumR = zero;
        __m128i vlo = zero;
        __m128i vhi = zero;
        for (; i + 8 <= s.size(); i += 8) {
            __m128i v;
            std::memcpy(&v, s.data() + i, sizeof v);
            const __m128i l = _mm_madd_epi16(v, _mm_and_si128(v, evens));
            const __m128i r = _mm_madd_epi16(v, _mm_and_si128(v, odds));
            sumL = _mm_add_epi64(sumL, _mm_unpacklo_epi32(l, zero));
            sumL = _mm_add_epi64(sumL, _mm_unpackhi_epi32(l, zero));
            sumR = _mm_add_epi64(sumR, _mm_unpacklo_epi32(r, zero));
            sumR = _mm_add_epi64(sumR, _mm_unpackhi_epi32(r, zero));
            vlo = _mm_min_epi16(vlo, v);
            vhi = _mm_max_epi16(vhi, v);
        }
        std::array<std::uint64_t, 2> sl{};
        std::array<std::uint64_t, 2> sr{};
        std::array<std::int16_t, 8> los{};
        std::array<std::int16_t, 8> his{};
        std::memcpy(sl.data(), &sumL, sizeof sumL);
        std::memcpy(sr.data(), &sumR, sizeof sumR);
        std::memcpy(los.data(), &vlo, sizeof vlo);
        std::memcpy(his.data(), &vhi, sizeof vhi);
        acc[0].SumSquares += sl[0] + sl[1];
        acc[1].SumSquares += sr[0] + sr[1];
        for (std::size_t k = 0; k < 8; ++k) {
            acc[k & 1].Lo = std::min<std::int32_t>(acc[k & 1].Lo, los[k]);
            acc[k & 1].Hi = std::max<std::int32_t>(acc[k & 1].Hi, his[k]);
        }
    }
#endif
    if (n == 8)
        i = AddEightChannels(s, acc);
    else if (n > 2)
        i = AddInterleavedWide(s, acc);
    if (n == 1) {
        const TIntLevels l = ChannelIntLevels(s);
        acc[0].SumSquares += l.SumSquares;
        acc[0].Hi = std::max(acc[0].Hi, l.PeakAbs);
        return;
    }
    // Whole frames only reach here, so i counts from the first channel.
    for (std::size_t c = 0; i < s.size(); ++i) {
        const std::int32_t v = s[i];
        acc[c].SumSquares += static_cast<std::uint32_t>(v * v);
        acc[c].Lo = std::min(acc[c].Lo, v);
        acc[c].Hi = std::max(acc[c].Hi, v);
        if (++c == n)
            c = 0;
    }
}

TChannelLevels ToLevels(std::uint64_t sumSquares, std::int32_t peakAbs, std::int64_t length)
{
    TChannelLevels l;
    // a = |s ÷ 32768|, so the sum of a² is the integer sum over 2^30.
    const double sum = static_cast<double>(sumSquares) * 0x1p-30;
    if (length > 0)
        l.Rms = std::sqrt(sum / static_cast<double>(length));
    l.Peak = static_cast<double>(peakAbs) / 32768.0;
    return l;
}

// The levels of a sound's channels as its interleaved blocks come, summed exactly in integers.
class TLevelSums {
public:
    explicit TLevelSums(std::int32_t channels)
        : m_sums(static_cast<std::size_t>(std::max(channels, 1)))
    {
    }
    // Whole frames.
    void Add(std::span<const std::int16_t> interleaved)
    {
        AddInterleaved(interleaved, m_sums);
        m_values += static_cast<std::int64_t>(interleaved.size());
    }
    std::int64_t Frames() const { return m_values / static_cast<std::int64_t>(m_sums.size()); }
    // The levels of the channels so far, as AnalyzeLevels gives them.
    std::vector<TChannelLevels> Levels() const
    {
        std::vector<TChannelLevels> levels;
        for (const TIntAccum& a : m_sums)
            levels.push_back(ToLevels(a.SumSquares, std::max(-a.Lo, a.Hi), Frames()));
        return levels;
    }

private:
    std::vector<TIntAccum> m_sums;
    std::int64_t m_values = 0;
};

} // namespace

std::vector<TChannelLevels> AnalyzeFileLevels(const std::string& path, std::string* warning,
                                              const TLevelBlockSink& alsoEach,
                                              const TLevelBlockPlace& placeEach)
{
    TWavScanFormat format;
    std::optional<TLevelSums> sums;
    bool truncated = false;
    ScanWavFile(
        path, format,
        [&](std::span<const std::int16_t> block) {
            if (!sums)
                sums.emplace(format.Channels);
            sums->Add(block);
            if (alsoEach)
                alsoEach(format, block);
        },
        truncated, {},
        placeEach ? TWavBlockPlace([&](std::size_t values) { return placeEach(format, values); })
                  : TWavBlockPlace());
    const auto channels = static_cast<std::size_t>(std::max(format.Channels, 0));
    std::vector<TChannelLevels> levels = sums ? sums->Levels() : std::vector<TChannelLevels>();
    levels.resize(channels);
    if (warning != nullptr)
        *warning = ReadWarningText(truncated, format.Oversized,
                                   channels == 0 || !sums ? 0 : sums->Frames());
    return levels;
}

std::vector<TChannelLevels> AnalyzeLevels(const TWav& sound)
{
    std::vector<TChannelLevels> levels;
    const std::int32_t channels = sound.Channels();
    levels.reserve(static_cast<std::size_t>(std::max(channels, 0)));
    for (std::int32_t c = 0; c < channels; ++c) {
        const std::span<const std::int16_t> samples = sound.ChannelSamples(c);
        const TIntLevels il = ChannelIntLevels(samples);
        levels.push_back(
            ToLevels(il.SumSquares, il.PeakAbs, static_cast<std::int64_t>(samples.size())));
    }
    return levels;
}

std::string FormatFixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return value > 0.0 ? "inf" : "-inf";
    std::array<char, 64> text{};
    auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), value,
                                   std::chars_format::fixed, decimals);
    std::string s(text.data(), ec == std::errc() ? end : text.data());
    // A value that rounds to zero reads without a sign, whichever side of zero it lies.
    if (s.starts_with('-') && s.find_first_not_of("-0.") == std::string::npos)
        s.erase(0, 1);
    return s;
}

std::string FormatLevelDb(double ratio)
{
    if (!(ratio > 0.0))
        return "-inf";
    return FormatFixed(20.0 * std::log10(ratio), 2);
}

std::string LevelText(const TWav& sound)
{
    return LevelText(AnalyzeLevels(sound));
}

std::string LevelText(const std::vector<TChannelLevels>& levels)
{
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
