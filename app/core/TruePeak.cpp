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
    // The values as floats (32768 times fractions of full scale) into out; returns the largest
    // magnitude.
    float (*Convert)(const std::int16_t* in, std::size_t values, float* out) noexcept;
    // The largest magnitude that phases 1 … phases − 1 (Length / phases coefficients each in h,
    // phase after phase, the newest sample's first) give at values 0 … values − 1 of x, whose
    // values before 0 reach back (taps − 1) · stride.
    float (*Phases)(int phases, const float* h, const float* x, std::size_t values,
                    std::size_t stride) noexcept;
};

namespace {

constexpr std::size_t Length = 48; // taps of the interpolator over all its phases
constexpr double KaiserBeta = 7.0; // the window's trade of ripple against width
// The most blocks filtered whole without weighing their channels.
constexpr std::size_t MostUnweighed = 31;

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

// The interpolator is symmetric, so each phase's taps are taken in pairs, k and Taps − 1 − k from
// the newest: at twice the rate, phase 1 is symmetric itself; at four times, phase 2 is, and
// phases 1 and 3 are each other's mirror, so that with the pairs' sums s and differences d
// they are S + D and S − D (S = Σ cS·s, D = Σ cD·d), whose larger magnitude is |S| + |D|. The
// folded coefficients: at twice, c[k] for k < 12; at four times, cS, cD and phase 2's, 6 each.
// The sums of a vector of outputs are a chain of dependent multiply-adds, so U vectors of W values
// are done side by side. Phase 0 gives the samples themselves, which the sample peak holds.
template <int L> struct TPhaseShape {
    static constexpr int Taps = static_cast<int>(Length) / L;
    static constexpr int Half = Taps / 2;
    static constexpr int U = L == 2 ? 8 : 4;
    static constexpr int Rows = L == 2 ? 1 : 3;
};

template <int W>
[[gnu::always_inline]] inline void KeepMagnitude(typename TFVec<W>::F& peak,
                                                 const typename TFVec<W>::F& v) noexcept
{
    peak = peak > v ? peak : v;
    peak = peak > -v ? peak : -v;
}

// U vectors of outputs from at on. S: the stride when it is known here (its loads are then the
// same for several vectors and taken once), else 0 and the stride is stride.
template <int W, int L, int S>
[[gnu::always_inline]] inline void PhasesRun(const float* c, const float* at, std::size_t stride,
                                             typename TFVec<W>::F& peak) noexcept
{
    using F = typename TFVec<W>::F;
    using Shape = TPhaseShape<L>;
    const auto step = static_cast<std::ptrdiff_t>(S == 0 ? stride : static_cast<std::size_t>(S));
    F acc[Shape::Rows][Shape::U] = {};
#pragma GCC unroll 12
    for (int k = 0; k < Shape::Half; ++k) {
#pragma GCC unroll 8
        for (int u = 0; u < Shape::U; ++u) {
            F a;
            F b;
            std::memcpy(&a, at + u * W - k * step, sizeof a);
            std::memcpy(&b, at + u * W - (Shape::Taps - 1 - k) * step, sizeof b);
            const F sum = a + b;
            acc[0][u] += c[k] * sum;
            if constexpr (L == 4) {
                acc[1][u] += c[Shape::Half + k] * (a - b);
                acc[2][u] += c[2 * Shape::Half + k] * sum;
            }
        }
    }
#pragma GCC unroll 8
    for (int u = 0; u < Shape::U; ++u) {
        if constexpr (L == 4) {
            const F s = acc[0][u] > -acc[0][u] ? acc[0][u] : -acc[0][u];
            const F d = acc[1][u] > -acc[1][u] ? acc[1][u] : -acc[1][u];
            KeepMagnitude<W>(peak, s + d);
            KeepMagnitude<W>(peak, acc[2][u]);
        } else {
            KeepMagnitude<W>(peak, acc[0][u]);
        }
    }
}

template <int W, int L>
[[gnu::always_inline]] inline float PhasesPeakBody(const float* c, const float* x,
                                                   std::size_t values, std::size_t stride) noexcept
{
    using F = typename TFVec<W>::F;
    using Shape = TPhaseShape<L>;
    constexpr std::size_t Step = Shape::U * W;
    F peak = {};
    std::size_t i = 0;
    const auto run = [&](auto known) {
        for (; i + Step <= values; i += Step)
            PhasesRun<W, L, decltype(known)::value>(c, x + i, stride, peak);
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
        run(std::integral_constant<int, 8>{});
        break;
    default:
        run(std::integral_constant<int, 0>{});
    }
    float result = 0.0f;
    for (int l = 0; l < W; ++l)
        result = std::max(result, peak[l]);
    const auto step = static_cast<std::ptrdiff_t>(stride);
    for (; i < values; ++i) {
        const float* at = x + i;
        float acc[Shape::Rows] = {};
        for (int k = 0; k < Shape::Half; ++k) {
            const float a = at[-k * step];
            const float b = at[-(Shape::Taps - 1 - k) * step];
            acc[0] += c[k] * (a + b);
            if constexpr (L == 4) {
                acc[1] += c[Shape::Half + k] * (a - b);
                acc[2] += c[2 * Shape::Half + k] * (a + b);
            }
        }
        result =
            std::max(result, L == 4 ? std::fabs(acc[0]) + std::fabs(acc[1]) : std::fabs(acc[0]));
        if constexpr (L == 4)
            result = std::max(result, std::fabs(acc[2]));
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

// Raises most[c] and step[c] to the largest magnitude of channel c's values and the largest step
// from one of its values to the next, over frames frames of x (channels values a frame). Eight
// values a time: whole frames when they fill the vector evenly, else from each frame's channel
// first = 0, 8, 16 … on; lane l holds channel (first + l) mod channels either way. A step is the
// larger of two values less the smaller, which never overflows as 16 bits without a sign.
void ChannelReach(const std::int16_t* x, std::size_t frames, std::size_t channels,
                  std::int32_t* most, std::int32_t* step) noexcept
{
    using S = TFVec<8>::S;
    typedef std::uint16_t U __attribute__((vector_size(8 * sizeof(std::uint16_t))));
    const bool packed = 8 % channels == 0;
    const std::size_t next = packed ? 8 : channels;
    const std::size_t end = frames * channels;
    for (std::size_t first = 0; first < (packed ? 1 : channels); first += 8) {
        S hi[2] = {};
        S lo[2] = {};
        U d[2] = {};
        std::size_t i = first;
        if (first + 8 <= end) {
            std::memcpy(&hi[0], x + first, sizeof hi[0]);
            lo[0] = hi[0];
            const auto take = [&](std::size_t at, int u) {
                S v;
                S earlier;
                std::memcpy(&v, x + at, sizeof v);
                std::memcpy(&earlier, x + at - channels, sizeof earlier);
                const S larger = v > earlier ? v : earlier;
                const S smaller = v < earlier ? v : earlier;
                const U change = reinterpret_cast<U>(larger) - reinterpret_cast<U>(smaller);
                hi[u] = hi[u] > v ? hi[u] : v;
                lo[u] = lo[u] < v ? lo[u] : v;
                d[u] = d[u] > change ? d[u] : change;
            };
            for (i = first + channels; i + next + 8 <= end; i += 2 * next) {
                __builtin_prefetch(x + i + 1024);
                take(i, 0);
                take(i + next, 1);
            }
            for (; i + 8 <= end; i += next)
                take(i, 0);
        }
        for (int u = 0; u < 2; ++u)
            for (std::size_t l = 0; l < 8; ++l) {
                const std::size_t c = (first + l) % channels;
                most[c] = std::max({most[c], static_cast<std::int32_t>(hi[u][l]),
                                    -static_cast<std::int32_t>(lo[u][l])});
                step[c] = std::max(step[c], static_cast<std::int32_t>(d[u][l]));
            }
        // The frames the vectors did not reach, one value at a time.
        const std::size_t last = packed ? channels : std::min(channels, first + 8);
        for (std::size_t f = (i - first) / channels; f < frames; ++f)
            for (std::size_t c = packed ? 0 : first; c < last; ++c) {
                const std::int32_t v = x[f * channels + c];
                most[c] = std::max(most[c], std::abs(v));
                if (f > 0)
                    step[c] = std::max(step[c], std::abs(v - x[(f - 1) * channels + c]));
            }
    }
}

// The 16-bit values as floats of the same size, and the largest magnitude among them. The filter
// runs on values 32768 times a fraction of full scale: scaling by a power of two is exact in every
// step, so its figures, scaled back at the end, are those it gives for the fractions themselves.
template <int W>
[[gnu::always_inline]] inline float ConvertBody(const std::int16_t* in, std::size_t values,
                                                float* out) noexcept
{
    // Two float vectors' worth of values at a time, which fill one vector of 16-bit values.
    using S = typename TFVec<2 * W>::S;
    using I = typename TFVec<2 * W>::I;
    using F = typename TFVec<2 * W>::F;
    S lo = {};
    S hi = {};
    std::size_t i = 0;
    for (; i + 2 * W <= values; i += 2 * W) {
        S s;
        std::memcpy(&s, in + i, sizeof s);
        const F v = __builtin_convertvector(__builtin_convertvector(s, I), F);
        std::memcpy(out + i, &v, sizeof v);
        lo = s < lo ? s : lo;
        hi = s > hi ? s : hi;
    }
    std::int32_t most = 0;
    for (int l = 0; l < 2 * W; ++l)
        most =
            std::max({most, -static_cast<std::int32_t>(lo[l]), static_cast<std::int32_t>(hi[l])});
    for (; i < values; ++i) {
        out[i] = static_cast<float>(in[i]);
        most = std::max(most, std::abs(static_cast<std::int32_t>(in[i])));
    }
    return static_cast<float>(most);
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
      m_path(&detail::PickSimdPath(std::span<const TPeakPath>(Paths))), m_most(m_channels),
      m_step(m_channels)
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
    // Each phase scaled to a gain of exactly one for a steady value, the newest sample's first.
    std::vector<double> phase(length);
    for (int p = 0; p < m_factor; ++p) {
        double sum = 0.0;
        for (std::size_t k = 0; k < Taps; ++k)
            sum += h[static_cast<std::size_t>(p) + k * static_cast<std::size_t>(m_factor)];
        for (std::size_t k = 0; k < Taps; ++k)
            phase[static_cast<std::size_t>(p) * Taps + k] =
                h[static_cast<std::size_t>(p) + k * static_cast<std::size_t>(m_factor)] / sum;
    }
    // Folded for the pairs of taps, as PhasesRun takes them.
    const std::size_t half = Taps / 2;
    const auto fold = [&](int p, double sign, std::size_t k) {
        const std::size_t base = static_cast<std::size_t>(p) * Taps;
        return static_cast<float>((phase[base + k] + sign * phase[base + Taps - 1 - k]) / 2.0);
    };
    if (m_factor == 2)
        for (std::size_t k = 0; k < half; ++k)
            m_coefs.push_back(fold(1, 1.0, k));
    if (m_factor == 4) {
        for (std::size_t k = 0; k < half; ++k)
            m_coefs.push_back(fold(1, 1.0, k));
        for (std::size_t k = 0; k < half; ++k)
            m_coefs.push_back(fold(1, -1.0, k));
        for (std::size_t k = 0; k < half; ++k)
            m_coefs.push_back(fold(2, 1.0, k));
    }
    // Each phase's coefficients as the folded ones make them, the newest tap's first: at four
    // times, phases 1 and 3 are S + D and S − D, whose larger magnitude is |S| + |D|.
    const auto unfold = [&](std::size_t row, double sign) {
        std::vector<double> c(Taps);
        for (std::size_t k = 0; k < half; ++k) {
            const auto sum = static_cast<double>(m_coefs[row * half + k]);
            const double difference =
                m_factor == 4 && row == 0 ? sign * static_cast<double>(m_coefs[half + k]) : 0.0;
            c[k] = sum + difference;
            c[Taps - 1 - k] = sum - difference;
        }
        return c;
    };
    std::vector<std::vector<double>> taken;
    if (m_factor == 2)
        taken = {unfold(0, 1.0)};
    if (m_factor == 4)
        taken = {unfold(0, 1.0), unfold(0, -1.0), unfold(2, 1.0)};
    // A value is at most the sum of its coefficients' magnitudes times the largest magnitude M
    // among its taps. It is also at most |Σ c|·M + K·D, where D is the largest step between a
    // channel's neighbouring samples: the value is (Σ c)·x_r + Σ c_t·(x_t − x_r) for any tap r,
    // and |x_t − x_r| ≤ |t − r|·D, so that K = Σ |c_t|·|t − r| at the best r; for smooth sound
    // this is the closer bound. The values as computed differ from the exact sums by their
    // rounding: the taps are whole numbers, exact in floats, and each value takes at most 12
    // products, 12 additions, the pairs' sums or differences and |S| + |D|, fewer than 32
    // roundings of at most 2^-24 of Σ |c_t|·|x_t| each (2e-6 of it at most); the bounds' own
    // float products and sums are a few more. A margin of 1e-4 of the first bound covers them
    // many times over. The samples themselves are the values of phase 0.
    double bound = 1.0;
    double gain = 1.0;
    double slope = 0.0;
    for (const std::vector<double>& c : taken) {
        double magnitudes = 0.0;
        double sum = 0.0;
        for (const double v : c) {
            magnitudes += std::fabs(v);
            sum += v;
        }
        double closest = HUGE_VAL;
        for (std::size_t r = 0; r < Taps; ++r) {
            double k = 0.0;
            for (std::size_t t = 0; t < Taps; ++t)
                k += std::fabs(c[t]) * std::fabs(static_cast<double>(t) - static_cast<double>(r));
            closest = std::min(closest, k);
        }
        bound = std::max(bound, magnitudes);
        gain = std::max(gain, std::fabs(sum));
        slope = std::max(slope, closest);
    }
    m_bound = static_cast<float>(bound * (1.0 + 1e-4));
    m_gain = static_cast<float>(gain + bound * 1e-4);
    m_slope = static_cast<float>(slope * (1.0 + 1e-6));
}

void TTruePeak::Restart(std::span<const std::int16_t> before)
{
    const std::size_t kept = HistoryValues();
    const std::size_t given = std::min(kept, before.size());
    m_input.resize(kept);
    std::fill(m_input.begin(), m_input.end() - static_cast<std::ptrdiff_t>(given), 0.0f);
    std::transform(before.end() - static_cast<std::ptrdiff_t>(given), before.end(),
                   m_input.end() - static_cast<std::ptrdiff_t>(given),
                   [](std::int16_t v) { return static_cast<float>(v); });
}

float TTruePeak::Bar() const noexcept
{
    return std::max(m_found,
                    m_shared != nullptr ? m_shared->load(std::memory_order_relaxed) : 0.0f);
}

bool TTruePeak::CannotRaise(float most, float bar) const noexcept
{
    for (std::size_t i = 0; i < HistoryValues(); ++i)
        most = std::max(most, std::fabs(m_input[i]));
    return most * m_bound <= bar;
}

void TTruePeak::Found(float peak) noexcept
{
    m_found = std::max(m_found, peak);
    if (m_shared == nullptr)
        return;
    float shared = m_shared->load(std::memory_order_relaxed);
    while (shared < peak &&
           !m_shared->compare_exchange_weak(shared, peak, std::memory_order_relaxed)) {
    }
}

bool TTruePeak::Weigh(const std::int16_t* in, std::size_t values, float bar)
{
    // Each channel's reach over the block, then over the values before it and the step from
    // them into the block.
    std::fill(m_most.begin(), m_most.end(), 0);
    std::fill(m_step.begin(), m_step.end(), 0);
    const std::size_t frames = values / m_channels;
    ChannelReach(in, frames, m_channels, m_most.data(), m_step.data());
    m_blockMost = static_cast<float>(*std::max_element(m_most.begin(), m_most.end()));
    const std::size_t kept = HistoryValues();
    for (std::size_t i = 0; i < kept; ++i) {
        const auto v = static_cast<std::int32_t>(m_input[i]);
        const std::int32_t after = i + m_channels < kept
                                       ? static_cast<std::int32_t>(m_input[i + m_channels])
                                       : in[i + m_channels - kept];
        const std::size_t c = i % m_channels;
        m_most[c] = std::max(m_most[c], std::abs(v));
        m_step[c] = std::max(m_step[c], std::abs(after - v));
    }
    m_loud.clear();
    for (std::size_t c = 0; c < m_channels; ++c) {
        const auto most = static_cast<float>(m_most[c]);
        if (std::min(m_bound * most, m_gain * most + m_slope * static_cast<float>(m_step[c])) > bar)
            m_loud.push_back(c);
    }
    return m_loud.size() < m_channels;
}

float TTruePeak::LoudPhases(const std::int16_t* in, std::size_t values)
{
    // Those channels' values side by side, the values before the block first: the same taps as
    // in place.
    const std::size_t width = m_loud.size();
    const std::size_t before = m_taps - 1;
    const std::size_t frames = values / m_channels;
    m_loudValues.resize((before + frames) * width);
    for (std::size_t j = 0; j < width; ++j) {
        float* to = m_loudValues.data() + j;
        const float* earlier = m_input.data() + m_loud[j];
        for (std::size_t f = 0; f < before; ++f)
            to[f * width] = earlier[f * m_channels];
        to += before * width;
        const std::int16_t* from = in + m_loud[j];
        for (std::size_t f = 0; f < frames; ++f)
            to[f * width] = static_cast<float>(from[f * m_channels]);
    }
    return m_path->Phases(m_factor, m_coefs.data(), m_loudValues.data() + before * width,
                          frames * width, width);
}

void TTruePeak::Add(std::span<const std::int16_t> interleaved)
{
    const std::size_t frames = interleaved.size() / m_channels;
    const std::size_t kept = (m_taps - 1) * m_channels;
    for (std::size_t done = 0; done < frames; done += BlockFrames) {
        const std::size_t values = std::min(BlockFrames, frames - done) * m_channels;
        const std::int16_t* in = interleaved.data() + done * m_channels;
        m_input.resize(kept + values);
        const float bar = Bar();
        // The peak is a largest value: a block none of whose values can exceed it is left out,
        // and so are the channels of a block whose values cannot. Weighing the channels costs a
        // good part of filtering them: after a block where none could be left out, the next few
        // are filtered whole without it, more of them each time.
        const bool weighed = m_factor > 1 && m_unweighed == 0;
        if (weighed && Weigh(in, values, bar)) {
            m_backOff = 0;
            if (!m_loud.empty())
                Found(std::max(m_blockMost, LoudPhases(in, values)));
            // Only the values the next block takes before it.
            const std::size_t tail = std::min(kept, values);
            m_path->Convert(in + values - tail, tail, m_input.data() + kept + values - tail);
        } else {
            if (weighed) {
                m_backOff = std::min(2 * m_backOff + 1, MostUnweighed);
                m_unweighed = m_backOff;
            } else if (m_unweighed > 0) {
                --m_unweighed;
            }
            // Each phase's value at frame f of a channel takes its samples f − m_taps + 1 … f and
            // lies between the middle two of them.
            const float most = m_path->Convert(in, values, m_input.data() + kept);
            if (!CannotRaise(most, bar))
                Found(std::max(most, m_path->Phases(m_factor, m_coefs.data(), m_input.data() + kept,
                                                    values, m_channels)));
        }
        std::copy(m_input.end() - static_cast<std::ptrdiff_t>(kept), m_input.end(),
                  m_input.begin());
    }
}

} // namespace kavrel
