// The filter runs in the compiler's generic vectors, one body built three times: with AVX-512, with
// AVX2 and FMA, and with the baseline instructions of every x86-64, the vectors as wide as each
// one's registers. Each section is in the direct form with the outputs' recursion last, so that
// the chain from one frame to the next is one fused multiply-add a stage where the processor has
// them. The channels of a frame are read straight from the interleaved values: a vector of W
// lanes at each group's first channel, lanes past the frame's channels weighing nothing.
#include "app/core/KWeighting.h"

#include "app/core/SimdChoice.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <type_traits>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace kavrel {

struct TKPath {
    const char* Name;
    std::size_t Lanes;
    bool (*Supported)() noexcept;
    TKWeighting::TRun Run;
    // 16-bit values to fractions of full scale.
    void (*Convert)(const std::int16_t* in, std::size_t values, float* out) noexcept;
};

namespace {

// Frames converted to fractions of full scale at a time, so that they stay in the cache.
constexpr std::size_t ChunkFrames = 1024;
// The length of the stretches filtered side by side, each after a second of warming up, and the
// most values held back for them.
constexpr std::size_t StretchSeconds = 4;
constexpr std::size_t MostPendingValues = std::size_t{1} << 21;

// (typedef, not using: g++ drops the attribute from an alias whose size depends on W.)
template <int W> struct TKVec {
    typedef double D __attribute__((vector_size(W * sizeof(double))));
    typedef float F __attribute__((vector_size(W * sizeof(float))));
    typedef std::int32_t I __attribute__((vector_size(W * sizeof(std::int32_t))));
    typedef std::int16_t S __attribute__((vector_size(W * sizeof(std::int16_t))));
};

// Values beyond the denormal range are flushed to zero while the filter runs: a section left
// ringing down after the sound stops would otherwise crawl through them.
class TFlushDenormals {
public:
#if defined(__x86_64__)
    TFlushDenormals() noexcept : m_saved(_mm_getcsr())
    {
        _mm_setcsr(m_saved | 0x8040U);
    }
    ~TFlushDenormals()
    {
        _mm_setcsr(m_saved);
    }
    TFlushDenormals(const TFlushDenormals&) = delete;
    TFlushDenormals& operator=(const TFlushDenormals&) = delete;

private:
    unsigned m_saved;
#endif
};

// W floats from p, widened to doubles.
template <int W>
[[gnu::always_inline]] inline void LoadWidened(const float* p, typename TKVec<W>::D& x) noexcept
{
#if defined(__x86_64__)
    // Two floats are half a register, which the generic vectors load and widen one at a time.
    if constexpr (W == 2) {
        x = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
        return;
    }
#endif
    typename TKVec<W>::F v;
    std::memcpy(&v, p, sizeof v);
    x = __builtin_convertvector(v, typename TKVec<W>::D);
}

template <int W, int G>
[[gnu::always_inline]] inline void
RunGroups(const std::array<TKStage, 2>& k, const float* in, std::size_t stride, std::size_t frames,
          TKWeighting::TLaneGroup* groups, const std::size_t* offsets) noexcept
{
    using D = typename TKVec<W>::D;
    const D b0 = D{} + k[0].B0;
    const D b1 = D{} + k[0].B1;
    const D b2 = D{} + k[0].B2;
    const D a1 = D{} + k[0].A1;
    const D a2 = D{} + k[0].A2;
    const D c1 = D{} + k[1].A1;
    const D c2 = D{} + k[1].A2;
    D x1[G], x2[G], y1[G], y2[G], z1[G], z2[G], sum[G];
    for (int g = 0; g < G; ++g) {
        std::memcpy(&x1[g], groups[g].X1, sizeof(D));
        std::memcpy(&x2[g], groups[g].X2, sizeof(D));
        std::memcpy(&y1[g], groups[g].Y1, sizeof(D));
        std::memcpy(&y2[g], groups[g].Y2, sizeof(D));
        std::memcpy(&z1[g], groups[g].Z1, sizeof(D));
        std::memcpy(&z2[g], groups[g].Z2, sizeof(D));
        std::memcpy(&sum[g], groups[g].Sum, sizeof(D));
    }
    for (std::size_t f = 0; f < frames; ++f) {
        const float* frame = in + f * stride;
        for (int g = 0; g < G; ++g) {
            D x;
            LoadWidened<W>(frame + offsets[g], x);
            // The shelf; its outputs are the high pass's inputs (numerator 1, −2, 1).
            const D fy = b0 * x + b1 * x1[g] + b2 * x2[g] - a2 * y2[g];
            const D y = fy - a1 * y1[g];
            const D fz = (y - 2.0 * y1[g] + y2[g]) - c2 * z2[g];
            const D z = fz - c1 * z1[g];
            x2[g] = x1[g];
            x1[g] = x;
            y2[g] = y1[g];
            y1[g] = y;
            z2[g] = z1[g];
            z1[g] = z;
            sum[g] += z * z;
        }
    }
    for (int g = 0; g < G; ++g) {
        std::memcpy(groups[g].X1, &x1[g], sizeof(D));
        std::memcpy(groups[g].X2, &x2[g], sizeof(D));
        std::memcpy(groups[g].Y1, &y1[g], sizeof(D));
        std::memcpy(groups[g].Y2, &y2[g], sizeof(D));
        std::memcpy(groups[g].Z1, &z1[g], sizeof(D));
        std::memcpy(groups[g].Z2, &z2[g], sizeof(D));
        std::memcpy(groups[g].Sum, &sum[g], sizeof(D));
    }
}

// Two groups at a time where the registers hold both, so that their chains overlap.
template <int W>
[[gnu::always_inline]] inline void
RunBody(const std::array<TKStage, 2>& k, const float* in, std::size_t stride, std::size_t frames,
        TKWeighting::TLaneGroup* groups, const std::size_t* offsets, std::size_t count) noexcept
{
    const TFlushDenormals flush;
    std::size_t g = 0;
    for (; W > 4 && g + 2 <= count; g += 2)
        RunGroups<W, 2>(k, in, stride, frames, groups + g, offsets + g);
    for (; g < count; ++g)
        RunGroups<W, 1>(k, in, stride, frames, groups + g, offsets + g);
}

template <int W>
[[gnu::always_inline]] inline void ConvertBody(const std::int16_t* in, std::size_t values,
                                               float* out) noexcept
{
    using V = TKVec<W>;
    std::size_t i = 0;
    for (; i + W <= values; i += W) {
        __builtin_prefetch(in + i + 1024);
        typename V::S s;
        std::memcpy(&s, in + i, sizeof s);
        const typename V::F v =
            __builtin_convertvector(__builtin_convertvector(s, typename V::I), typename V::F) *
            (1.0f / 32768.0f);
        std::memcpy(out + i, &v, sizeof v);
    }
    for (; i < values; ++i)
        out[i] = static_cast<float>(in[i]) / 32768.0f;
}

void ConvertBase(const std::int16_t* in, std::size_t values, float* out) noexcept
{
    // Eight values at a time, a whole register of 16-bit values.
    ConvertBody<8>(in, values, out);
}

void RunBase(const std::array<TKStage, 2>& k, const float* in, std::size_t stride,
             std::size_t frames, TKWeighting::TLaneGroup* groups, const std::size_t* offsets,
             std::size_t count) noexcept
{
    RunBody<2>(k, in, stride, frames, groups, offsets, count);
}

#if defined(__x86_64__)
[[gnu::target("avx2,fma")]] void RunAvx2(const std::array<TKStage, 2>& k, const float* in,
                                         std::size_t stride, std::size_t frames,
                                         TKWeighting::TLaneGroup* groups,
                                         const std::size_t* offsets, std::size_t count) noexcept
{
    RunBody<4>(k, in, stride, frames, groups, offsets, count);
}

[[gnu::target("avx2,fma")]] void ConvertAvx2(const std::int16_t* in, std::size_t values,
                                             float* out) noexcept
{
    ConvertBody<8>(in, values, out);
}

[[gnu::target("avx512f,avx512vl,avx512bw,avx512dq")]] void
ConvertAvx512(const std::int16_t* in, std::size_t values, float* out) noexcept
{
    ConvertBody<16>(in, values, out);
}

[[gnu::target("avx512f,avx512vl,avx512bw,avx512dq")]] void
RunAvx512(const std::array<TKStage, 2>& k, const float* in, std::size_t stride, std::size_t frames,
          TKWeighting::TLaneGroup* groups, const std::size_t* offsets, std::size_t count) noexcept
{
    RunBody<8>(k, in, stride, frames, groups, offsets, count);
}

#endif

constexpr TKPath Paths[] = {
#if defined(__x86_64__)
    {"avx512", 8, &detail::HasAvx512, &RunAvx512, &ConvertAvx512},
    {"avx2", 4, &detail::HasAvx2Fma, &RunAvx2, &ConvertAvx2},
#endif
    {"base", 2, &detail::AnyProcessor, &RunBase, &ConvertBase},
};

// A second-order section from its analog prototype through the bilinear transform, the
// frequencies prewarped to f0: numerator v0 + v1·s/(Q·w0) + v2·(s/w0)², denominator
// 1 + s/(Q·w0) + (s/w0)².
TKStage Bilinear(double f0, double q, double v0, double v1, double v2, double rate)
{
    const double k = std::tan(std::numbers::pi * f0 / rate);
    const double a0 = 1.0 + k / q + k * k;
    TKStage s;
    s.B0 = (v0 * k * k + v1 * k / q + v2) / a0;
    s.B1 = 2.0 * (v0 * k * k - v2) / a0;
    s.B2 = (v0 * k * k - v1 * k / q + v2) / a0;
    s.A1 = 2.0 * (k * k - 1.0) / a0;
    s.A2 = (1.0 - k / q + k * k) / a0;
    return s;
}

} // namespace

std::array<TKStage, 2> KWeightingStages(std::int32_t rate)
{
    // The shelf: +4 dB above about 1.7 kHz. The high pass: about 38 Hz, almost critically damped.
    const double r = static_cast<double>(rate);
    const double gain = std::pow(10.0, 3.999843853973347 / 20.0);
    const double mid = std::pow(gain, 0.4996667741545416);
    const TKStage shelf = Bilinear(1681.974450955533, 0.7071752369554196, 1.0, mid, gain, r);
    TKStage highPass = Bilinear(38.13547087602444, 0.5003270373238773, 0.0, 0.0, 1.0, r);
    // The numerator is exactly 1, −2, 1 over the denominator's a0; the filter runs with 1, −2, 1
    // and the gain of a0 left out, as the standard's coefficients have it.
    highPass.B0 = 1.0;
    highPass.B1 = -2.0;
    highPass.B2 = 1.0;
    return {shelf, highPass};
}

double ChannelWeight(std::int32_t c, std::int32_t channels)
{
    // Four channels are taken as left, right and the two surrounds, five as those with the
    // centre; other counts as the six of 5.1 and further ones.
    if (channels == 4 && c >= 2)
        c += 2;
    else if (channels == 5 && c >= 3)
        ++c;
    switch (c) {
    case 0:
    case 1:
    case 2:
        return 1.0;
    case 4:
    case 5:
        return 1.41;
    default:
        return 0.0;
    }
}

TKWeighting::TKWeighting(std::int32_t channels, std::int32_t rate)
    : m_channels(static_cast<std::size_t>(std::max(channels, 1))),
      m_segmentFrames(static_cast<std::size_t>(std::max((rate + 5) / 10, 1))),
      m_stages(KWeightingStages(rate)),
      m_path(&detail::PickSimdPath(std::span<const TKPath>(Paths)))
{
    const std::size_t lanes = m_path->Lanes;
    for (std::size_t first = 0; first < m_channels; first += lanes) {
        TLaneGroup g{};
        bool counts = false;
        for (std::size_t l = 0; l < lanes; ++l) {
            const std::size_t c = first + l;
            g.Weight[l] = c < m_channels ? ChannelWeight(static_cast<std::int32_t>(c),
                                                         static_cast<std::int32_t>(m_channels))
                                         : 0.0;
            counts = counts || g.Weight[l] != 0.0;
        }
        if (counts) {
            m_groups.push_back(g);
            m_offsets.push_back(first);
        }
    }
    // A vector that holds two frames or more takes as many stretches of the sound side by side,
    // as many as the values held back for them allow.
    const std::size_t stretchValues =
        (StretchSeconds + 1) * static_cast<std::size_t>(rate) * m_channels;
    m_stretches = std::min(lanes / m_channels, MostPendingValues / stretchValues);
    if (m_stretches >= 2) {
        m_warmFrames = static_cast<std::size_t>(rate);
        m_stretchFrames = (StretchSeconds * static_cast<std::size_t>(rate) + m_segmentFrames - 1) /
                          m_segmentFrames * m_segmentFrames;
        m_pending.assign(m_warmFrames * m_channels, 0.0f);
        for (std::size_t l = 0; l < m_stretches * m_channels; ++l)
            m_stretchGroup.Weight[l] = ChannelWeight(static_cast<std::int32_t>(l % m_channels),
                                                     static_cast<std::int32_t>(m_channels));
    }
}

const char* TKWeighting::PathName() const
{
    return m_path->Name;
}

void TKWeighting::Add(std::span<const std::int16_t> interleaved)
{
    const std::size_t frames = interleaved.size() / m_channels;
    for (std::size_t done = 0; done < frames; done += ChunkFrames) {
        const std::size_t values = std::min(ChunkFrames, frames - done) * m_channels;
        m_converted.resize(values);
        m_path->Convert(interleaved.data() + done * m_channels, values, m_converted.data());
        AddFractions(m_converted);
    }
}

void TKWeighting::AddFractions(std::span<const float> interleaved)
{
    if (m_stretches >= 2) {
        const std::size_t frames = interleaved.size() / m_channels;
        m_pending.insert(m_pending.end(), interleaved.begin(),
                         interleaved.begin() + static_cast<std::ptrdiff_t>(frames * m_channels));
        m_pendingFrames += frames;
        while (m_pendingFrames >= m_stretches * m_stretchFrames)
            FilterStretches();
        return;
    }
    FilterFrames(interleaved);
}

void TKWeighting::FilterFrames(std::span<const float> interleaved)
{
    if (m_groups.empty())
        return;
    const std::size_t frames = interleaved.size() / m_channels;
    // The last group's vector may reach past a frame's channels: the frames where it would reach
    // past the end are filtered from a copy with room to spare.
    const std::size_t reach = m_offsets.back() + m_path->Lanes;
    const std::size_t direct =
        interleaved.size() < reach
            ? 0
            : std::min(frames, (interleaved.size() - reach) / m_channels + 1);
    Filter(interleaved.data(), direct);
    m_tail.assign(interleaved.begin() + static_cast<std::ptrdiff_t>(direct * m_channels),
                  interleaved.begin() + static_cast<std::ptrdiff_t>(frames * m_channels));
    m_tail.resize(m_tail.size() + m_path->Lanes, 0.0f);
    Filter(m_tail.data(), frames - direct);
}

void TKWeighting::Filter(const float* in, std::size_t frames)
{
    for (std::size_t f = 0; f < frames;) {
        const std::size_t run = std::min(frames - f, m_segmentFrames - m_inSegment);
        m_path->Run(m_stages, in + f * m_channels, m_channels, run, m_groups.data(),
                    m_offsets.data(), m_groups.size());
        f += run;
        m_inSegment += run;
        if (m_inSegment == m_segmentFrames) {
            double energy = 0.0;
            for (TLaneGroup& g : m_groups)
                for (std::size_t l = 0; l < m_path->Lanes; ++l) {
                    energy += g.Weight[l] * g.Sum[l];
                    g.Sum[l] = 0.0;
                }
            m_segments.push_back(energy);
            m_inSegment = 0;
        }
    }
}

void TKWeighting::FilterStretches()
{
    // Stretch j takes frames warm + j·L … warm + (j + 1)·L − 1 of the pending ones, after the warm
    // frames before them from a state of silence; its lanes are j·channels … on.
    const std::size_t n = m_channels;
    const std::size_t lanes = m_path->Lanes;
    const std::size_t steps = m_warmFrames + m_stretchFrames;
    const std::size_t perStretch = m_stretchFrames / m_segmentFrames;
    const std::size_t first = m_segments.size();
    m_segments.resize(first + m_stretches * perStretch, 0.0);
    TLaneGroup g = m_stretchGroup;
    const std::size_t offset = 0;
    std::size_t inSegment = 0;
    std::size_t segment = 0;
    for (std::size_t t0 = 0; t0 < steps; t0 += ChunkFrames) {
        const std::size_t count = std::min(ChunkFrames, steps - t0);
        m_lanes.assign(count * lanes, 0.0f);
        // A frame at a time, its size known to the compiler (at most half a vector).
        const auto spread = [&](auto frameValues) {
            constexpr std::size_t N = decltype(frameValues)::value;
            for (std::size_t j = 0; j < m_stretches; ++j) {
                const float* from = m_pending.data() + (j * m_stretchFrames + t0) * N;
                float* to = m_lanes.data() + j * N;
                for (std::size_t t = 0; t < count; ++t)
                    std::memcpy(to + t * lanes, from + t * N, N * sizeof(float));
            }
        };
        switch (n) {
        case 1:
            spread(std::integral_constant<std::size_t, 1>{});
            break;
        case 2:
            spread(std::integral_constant<std::size_t, 2>{});
            break;
        case 3:
            spread(std::integral_constant<std::size_t, 3>{});
            break;
        default:
            spread(std::integral_constant<std::size_t, 4>{});
        }
        for (std::size_t t = 0; t < count;) {
            const std::size_t at = t0 + t;
            const bool warming = at < m_warmFrames;
            const std::size_t run =
                std::min(count - t, warming ? m_warmFrames - at : m_segmentFrames - inSegment);
            m_path->Run(m_stages, m_lanes.data() + t * lanes, lanes, run, &g, &offset, 1);
            t += run;
            if (warming) {
                if (at + run == m_warmFrames)
                    std::fill(std::begin(g.Sum), std::end(g.Sum), 0.0);
                continue;
            }
            inSegment += run;
            if (inSegment == m_segmentFrames) {
                for (std::size_t j = 0; j < m_stretches; ++j) {
                    double energy = 0.0;
                    for (std::size_t c = 0; c < n; ++c)
                        energy += g.Weight[j * n + c] * g.Sum[j * n + c];
                    m_segments[first + j * perStretch + segment] = energy;
                }
                std::fill(std::begin(g.Sum), std::end(g.Sum), 0.0);
                inSegment = 0;
                ++segment;
            }
        }
    }
    const std::size_t done = m_stretches * m_stretchFrames;
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(done * n));
    m_pendingFrames -= done;
}

void TKWeighting::Finish()
{
    if (m_stretches < 2 || m_pendingFrames == 0)
        return;
    // The rest as one stretch in the frames' own lanes, after the warm frames before it.
    for (TLaneGroup& g : m_groups) {
        TLaneGroup fresh{};
        std::copy(std::begin(g.Weight), std::end(g.Weight), std::begin(fresh.Weight));
        g = fresh;
    }
    m_inSegment = 0;
    m_pending.resize(m_pending.size() + m_path->Lanes, 0.0f);
    m_path->Run(m_stages, m_pending.data(), m_channels, m_warmFrames, m_groups.data(),
                m_offsets.data(), m_groups.size());
    for (TLaneGroup& g : m_groups)
        std::fill(std::begin(g.Sum), std::end(g.Sum), 0.0);
    FilterFrames(std::span<const float>(m_pending).subspan(m_warmFrames * m_channels,
                                                           m_pendingFrames * m_channels));
    m_pending.assign(m_warmFrames * m_channels, 0.0f);
    m_pendingFrames = 0;
}

} // namespace kavrel
