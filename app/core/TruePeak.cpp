#include "app/core/TruePeak.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace kavrel {

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

// The largest magnitude of the values the L phase filters (Length / L coefficients each, in h)
// give at frames 0 .. frames - 1 of x, the frames before 0 being the history. Phase 0 gives the
// samples themselves, which the caller takes as they are: phases 1 .. L - 1 are done, in one pass,
// each sample loaded once for all of them.
template <int L>
float PhasesPeakScalar(const float* h, const float* x, std::size_t from, std::size_t frames)
{
    constexpr std::size_t Taps = Length / L;
    float result = 0.0f;
    for (std::size_t f = from; f < frames; ++f)
        for (int p = 1; p < L; ++p) {
            float acc = 0.0f;
            for (std::size_t k = 0; k < Taps; ++k)
                acc += h[static_cast<std::size_t>(p) * Taps + k] *
                       x[static_cast<std::ptrdiff_t>(f) - static_cast<std::ptrdiff_t>(k)];
            result = std::max(result, std::fabs(acc));
        }
    return result;
}

#if defined(__x86_64__) || defined(__i386__)
// w: each coefficient of h repeated 8 times, so that it is loaded as a whole vector.
template <int L>
float PhasesPeakSse(const float* h, const float* w, const float* x, std::size_t frames)
{
    constexpr std::size_t Taps = Length / L;
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    __m128 peak = _mm_setzero_ps();
    std::size_t f = 0;
    for (; f + 4 <= frames; f += 4) {
        __m128 acc[L];
        for (int p = 1; p < L; ++p)
            acc[p] = _mm_setzero_ps();
        for (std::size_t k = 0; k < Taps; ++k) {
            const __m128 v = _mm_loadu_ps(x + f - k);
            for (int p = 1; p < L; ++p)
                acc[p] = _mm_add_ps(
                    acc[p],
                    _mm_mul_ps(_mm_loadu_ps(w + (static_cast<std::size_t>(p) * Taps + k) * 8), v));
        }
        for (int p = 1; p < L; ++p)
            peak = _mm_max_ps(peak, _mm_and_ps(acc[p], magnitude));
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, peak);
    const float result = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    return std::max(result, PhasesPeakScalar<L>(h, x, f, frames));
}

template <int L>
[[gnu::target("avx2,fma")]] float PhasesPeakAvx2(const float* h, const float* w, const float* x,
                                                 std::size_t frames)
{
    constexpr std::size_t Taps = Length / L;
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    __m256 peak = _mm256_setzero_ps();
    std::size_t f = 0;
    for (; f + 8 <= frames; f += 8) {
        __m256 acc[L];
        for (int p = 1; p < L; ++p)
            acc[p] = _mm256_setzero_ps();
        for (std::size_t k = 0; k < Taps; ++k) {
            const __m256 v = _mm256_loadu_ps(x + f - k);
            for (int p = 1; p < L; ++p)
                acc[p] = _mm256_fmadd_ps(
                    _mm256_loadu_ps(w + (static_cast<std::size_t>(p) * Taps + k) * 8), v, acc[p]);
        }
        for (int p = 1; p < L; ++p)
            peak = _mm256_max_ps(peak, _mm256_and_ps(acc[p], magnitude));
    }
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, peak);
    float result = 0.0f;
    for (float lane : lanes)
        result = std::max(result, lane);
    return std::max(result, PhasesPeakScalar<L>(h, x, f, frames));
}

template <int L>
float PhasesPeak(const float* h, const float* w, const float* x, std::size_t frames)
{
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return avx2 ? PhasesPeakAvx2<L>(h, w, x, frames) : PhasesPeakSse<L>(h, w, x, frames);
}
#else
template <int L>
float PhasesPeak(const float* h, const float* /*w*/, const float* x, std::size_t frames)
{
    return PhasesPeakScalar<L>(h, x, 0, frames);
}
#endif

} // namespace

TTruePeak::TTruePeak(std::int32_t channels, std::int32_t rate)
    : m_channels(static_cast<std::size_t>(std::max(channels, 1))), m_factor(rate < 96000    ? 4
                                                                            : rate < 192000 ? 2
                                                                                            : 1),
      m_taps(m_factor > 1 ? Length / static_cast<std::size_t>(m_factor) : 1),
      m_history(m_channels * (m_taps - 1), 0.0f)
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
    for (float c : m_coefs)
        m_wideCoefs.insert(m_wideCoefs.end(), 8, c);
}

void TTruePeak::Add(std::span<const std::int16_t> interleaved)
{
    const std::size_t frames = interleaved.size() / m_channels;
    for (std::size_t done = 0; done < frames; done += BlockFrames) {
        const std::size_t n = std::min(BlockFrames, frames - done);
        const auto part = interleaved.subspan(done * m_channels, n * m_channels);
        for (std::size_t c = 0; c < m_channels; ++c)
            AddChannel(c, part, n);
    }
}

void TTruePeak::AddChannel(std::size_t channel, std::span<const std::int16_t> interleaved,
                           std::size_t frames)
{
    // The channel's last m_taps - 1 samples, then the block's, as fractions of full scale.
    const std::size_t Kept = m_taps - 1;
    m_input.resize(Kept + frames);
    float* history = m_history.data() + channel * Kept;
    std::copy_n(history, Kept, m_input.begin());
    float samplePeak = 0.0f;
    for (std::size_t f = 0; f < frames; ++f) {
        const float v = static_cast<float>(interleaved[f * m_channels + channel]) / 32768.0f;
        m_input[Kept + f] = v;
        samplePeak = std::max(samplePeak, std::fabs(v));
    }
    std::copy_n(m_input.begin() + static_cast<std::ptrdiff_t>(frames), Kept, history);

    // The value between frame f - 1 and frame f, in each phase, takes the samples
    // f - m_taps + 1 ... f.
    const float* x = m_input.data() + Kept;
    const float* h = m_coefs.data();
    const float* w = m_wideCoefs.data();
    const float peak = m_factor == 4   ? PhasesPeak<4>(h, w, x, frames)
                       : m_factor == 2 ? PhasesPeak<2>(h, w, x, frames)
                                       : 0.0f;
    samplePeak = std::max(samplePeak, peak);
    m_peak = std::max(m_peak, static_cast<double>(samplePeak));
}

} // namespace kavrel
