#include "app/core/TruePeak.h"

#include "app/core/SimdChoice.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <type_traits>

namespace kavrel {

struct TPeakPath {
    const char* Name;
    bool (*Supported)() noexcept;
    // The values as fractions of full scale into out; returns the largest magnitude.
    float (*Convert)(const std::int16_t* in, std::size_t values, float* out) noexcept;
    // The largest magnitude that phases 1 … phases − 1 (Length / phases coefficients each in h,
    // phase after phase, the newest sample's first) give at values 0 … values − 1 of x, whose
    // values before 0 reach back (taps − 1) · stride.
    float (*Phases)(int phases, const float* h, const float* x, std::size_t values,
                    std::size_t stride) noexcept;
};

namespace {

constexpr std::size_t Length = 48;        // taps of the interpolator over all its phases
constexpr double KaiserBeta = 7.0;        // the window's trade of ripple against width
constexpr std::size_t BlockFrames = 2048; // frames of a channel done at a time

// The modified Bessel function of the first kind, order 0, by its series.
double BesselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return sum;
}

// (typedef, not using: g++ drops the attribute from an alias whose size depends on W.)
template <int W> struct TFVec {
    typedef float F __attribute__((vector_size(W * sizeof(float))));
    typedef std::int32_t I __attribute__((vector_size(W * sizeof(std::int32_t))));
    typedef std::int16_t S __attribute__((vector_size(W * sizeof(std::int16_t))));
};

// The sums of a vector of outputs are a chain of dependent multiply-adds, so U vectors of W values
// are done side by side, each value loaded once for all phases. Phase 0 gives the samples
// themselves, which the sample peak already holds.
template <int W, int L> struct TPhaseShape {
    static constexpr std::size_t Taps = Length / L;
    static constexpr std::size_t U = L == 2 ? 8 : 4;
};

template <int W>
[[gnu::always_inline]] inline void KeepMagnitude(typename TFVec<W>::F& peak,
                                                 const typename TFVec<W>::F& v) noexcept
{
    peak = peak > v ? peak : v;
    peak = peak > -v ? peak : -v;
}

// Any stride: each output vector loads its own taps.
template <int W, int L>
[[gnu::always_inline]] inline void PhasesRun(const float* h, const float* at, std::size_t stride,
                                             typename TFVec<W>::F& peak) noexcept
{
    using F = typename TFVec<W>::F;
    using Shape = TPhaseShape<W, L>;
    F acc[L - 1][Shape::U] = {};
    for (std::size_t k = 0; k < Shape::Taps; ++k, at -= stride) {
#pragma GCC unroll 8
        for (std::size_t u = 0; u < Shape::U; ++u) {
            F v;
            std::memcpy(&v, at + u * W, sizeof v);
#pragma GCC unroll 4
            for (int p = 1; p < L; ++p)
                acc[p - 1][u] += h[static_cast<std::size_t>(p) * Shape::Taps + k] * v;
        }
    }
#pragma GCC unroll 4
    for (int p = 1; p < L; ++p)
#pragma GCC unroll 8
        for (std::size_t u = 0; u < Shape::U; ++u)
            KeepMagnitude<W>(peak, acc[p - 1][u]);
}

// A stride S that divides W: output vector u's tap k lies u · W / S − k strides on, so the vectors
// share their loads, each loaded once.
template <int W, int L, int S>
[[gnu::always_inline]] inline void PhasesRunShared(const float* h, const float* at,
                                                   typename TFVec<W>::F& peak) noexcept
{
    using F = typename TFVec<W>::F;
    using Shape = TPhaseShape<W, L>;
    constexpr int Taps = static_cast<int>(Shape::Taps);
    constexpr int U = static_cast<int>(Shape::U);
    constexpr int R = W / S;
    F acc[L - 1][U] = {};
#pragma GCC unroll 64
    for (int d = 1 - Taps; d <= (U - 1) * R; ++d) {
        F v;
        std::memcpy(&v, at + d * S, sizeof v);
#pragma GCC unroll 8
        for (int u = 0; u < U; ++u) {
            const int k = u * R - d;
            if (k >= 0 && k < Taps)
#pragma GCC unroll 4
                for (int p = 1; p < L; ++p)
                    acc[p - 1][u] += h[p * Taps + k] * v;
        }
    }
#pragma GCC unroll 4
    for (int p = 1; p < L; ++p)
#pragma GCC unroll 8
        for (int u = 0; u < U; ++u)
            KeepMagnitude<W>(peak, acc[p - 1][u]);
}

template <int W, int L>
[[gnu::always_inline]] inline float PhasesPeakBody(const float* h, const float* x,
                                                   std::size_t values, std::size_t stride) noexcept
{
    using F = typename TFVec<W>::F;
    using Shape = TPhaseShape<W, L>;
    constexpr std::size_t Step = Shape::U * W;
    F peak = {};
    std::size_t i = 0;
    const auto run = [&](auto shared) {
        for (; i + Step <= values; i += Step) {
            if constexpr (decltype(shared)::value == 0)
                PhasesRun<W, L>(h, x + i, stride, peak);
            else
                PhasesRunShared<W, L, decltype(shared)::value>(h, x + i, peak);
        }
    };
    switch (stride) {
    case 1:
        run(std::integral_constant<int, 1>{});
        break;
    case 2:
        run(std::integral_constant<int, 2>{});
        break;
    case 4:
        run(std::integral_constant<int, 4>{});
        break;
    case 8:
        if constexpr (W >= 8) {
            run(std::integral_constant<int, 8>{});
            break;
        }
        [[fallthrough]];
    default:
        run(std::integral_constant<int, 0>{});
    }
    float result = 0.0f;
    for (int l = 0; l < W; ++l)
        result = std::max(result, peak[l]);
    for (; i < values; ++i)
        for (int p = 1; p < L; ++p) {
            float acc = 0.0f;
            for (std::size_t k = 0; k < Shape::Taps; ++k)
                acc += h[static_cast<std::size_t>(p) * Shape::Taps + k] *
                       x[static_cast<std::ptrdiff_t>(i) - static_cast<std::ptrdiff_t>(k * stride)];
            result = std::max(result, std::fabs(acc));
        }
    return result;
}

template <int W>
[[gnu::always_inline]] inline float PhasesPeakOf(int phases, const float* h, const float* x,
                                                 std::size_t values, std::size_t stride) noexcept
{
    return phases == 4   ? PhasesPeakBody<W, 4>(h, x, values, stride)
           : phases == 2 ? PhasesPeakBody<W, 2>(h, x, values, stride)
                         : 0.0f;
}

// The values as fractions of full scale, and the largest magnitude among them.
template <int W>
[[gnu::always_inline]] inline float ConvertBody(const std::int16_t* in, std::size_t values,
                                                float* out) noexcept
{
    using F = typename TFVec<W>::F;
    using S = typename TFVec<W>::S;
    using I = typename TFVec<W>::I;
    F peak = {};
    std::size_t i = 0;
    for (; i + W <= values; i += W) {
        S s;
        std::memcpy(&s, in + i, sizeof s);
        const F v = __builtin_convertvector(__builtin_convertvector(s, I), F) * (1.0f / 32768.0f);
        std::memcpy(out + i, &v, sizeof v);
        KeepMagnitude<W>(peak, v);
    }
    float result = 0.0f;
    for (int l = 0; l < W; ++l)
        result = std::max(result, peak[l]);
    for (; i < values; ++i) {
        out[i] = static_cast<float>(in[i]) / 32768.0f;
        result = std::max(result, std::fabs(out[i]));
    }
    return result;
}

float ConvertBase(const std::int16_t* in, std::size_t values, float* out) noexcept
{
    return ConvertBody<4>(in, values, out);
}

float PhasesBase(int phases, const float* h, const float* x, std::size_t values,
                 std::size_t stride) noexcept
{
    return PhasesPeakOf<4>(phases, h, x, values, stride);
}

#if defined(__x86_64__)
[[gnu::target("avx2,fma")]] float ConvertAvx2(const std::int16_t* in, std::size_t values,
                                              float* out) noexcept
{
    return ConvertBody<8>(in, values, out);
}

[[gnu::target("avx2,fma")]] float PhasesAvx2(int phases, const float* h, const float* x,
                                             std::size_t values, std::size_t stride) noexcept
{
    return PhasesPeakOf<8>(phases, h, x, values, stride);
}

[[gnu::target("avx512f,avx512vl,avx512bw,avx512dq")]] float
ConvertAvx512(const std::int16_t* in, std::size_t values, float* out) noexcept
{
    return ConvertBody<16>(in, values, out);
}

[[gnu::target("avx512f,avx512vl,avx512bw,avx512dq")]] float
PhasesAvx512(int phases, const float* h, const float* x, std::size_t values,
             std::size_t stride) noexcept
{
    return PhasesPeakOf<16>(phases, h, x, values, stride);
}
#endif

constexpr TPeakPath Paths[] = {
#if defined(__x86_64__)
    {"avx512", &detail::HasAvx512, &ConvertAvx512, &PhasesAvx512},
    {"avx2", &detail::HasAvx2Fma, &ConvertAvx2, &PhasesAvx2},
#endif
    {"base", &detail::AnyProcessor, &ConvertBase, &PhasesBase},
};

} // namespace

TTruePeak::TTruePeak(std::int32_t channels, std::int32_t rate)
    : m_channels(static_cast<std::size_t>(std::max(channels, 1))), m_factor(rate < 96000    ? 4
                                                                            : rate < 192000 ? 2
                                                                                            : 1),
      m_taps(m_factor > 1 ? Length / static_cast<std::size_t>(m_factor) : 1),
      m_input(m_channels * (m_taps - 1), 0.0f),
      m_path(&detail::PickSimdPath(std::span<const TPeakPath>(Paths)))
{
    // A low-pass at the sound's own half rate, sampled at the oversampled rate and cut into one
    // filter per phase; each phase is scaled to a gain of exactly one for a steady value.
    const std::size_t Taps = m_taps;
    const auto length = static_cast<std::size_t>(m_factor) * Taps;
    // Centred on a tap, so that phase 0 gives the samples themselves (a sinc is zero at the
    // other whole samples) and phase p the values p / factor of the way to the next one.
    const auto middle = static_cast<double>(length / 2);
    std::vector<double> h(length);
    for (std::size_t m = 0; m < length; ++m) {
        const double t = (static_cast<double>(m) - middle) / m_factor;
        const double sinc =
            t == 0.0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
        const double r = (static_cast<double>(m) - middle) / middle;
        h[m] = sinc * BesselI0(KaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) /
               BesselI0(KaiserBeta);
    }
    m_coefs.resize(length);
    for (int p = 0; p < m_factor; ++p) {
        double sum = 0.0;
        for (std::size_t k = 0; k < Taps; ++k)
            sum += h[static_cast<std::size_t>(p) + k * static_cast<std::size_t>(m_factor)];
        for (std::size_t k = 0; k < Taps; ++k)
            m_coefs[static_cast<std::size_t>(p) * Taps + k] = static_cast<float>(
                h[static_cast<std::size_t>(p) + k * static_cast<std::size_t>(m_factor)] / sum);
    }
}

void TTruePeak::Add(std::span<const std::int16_t> interleaved)
{
    const std::size_t frames = interleaved.size() / m_channels;
    const std::size_t kept = (m_taps - 1) * m_channels;
    for (std::size_t done = 0; done < frames; done += BlockFrames) {
        const std::size_t values = std::min(BlockFrames, frames - done) * m_channels;
        m_input.resize(kept + values);
        float peak =
            m_path->Convert(interleaved.data() + done * m_channels, values, m_input.data() + kept);
        // The value between frame f − 1 and frame f of a channel, in each phase, takes its
        // samples f − m_taps + 1 … f.
        peak = std::max(peak, m_path->Phases(m_factor, m_coefs.data(), m_input.data() + kept,
                                             values, m_channels));
        m_peak = std::max(m_peak, static_cast<double>(peak));
        std::copy(m_input.end() - static_cast<std::ptrdiff_t>(kept), m_input.end(),
                  m_input.begin());
    }
}

} // namespace kavrel
