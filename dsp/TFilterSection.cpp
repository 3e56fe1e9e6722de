// Coefficient design runs in extended precision (long double) and stores doubles; a0 and b0 are
// then formed from the stored doubles, so that each half's gain at 0 Hz comes out as exactly 1
// when evaluated on the coefficients the section actually uses.

#include "dsp/TFilterSection.h"

#include <algorithm>
#include <cfloat>
#include <numbers>

namespace kavrel {

namespace {

constexpr long double kPi = std::numbers::pi_v<long double>;
constexpr double kMaxDb = 300.0;
constexpr long double kCosSlack = 1e-12L;

// True when v is finite and converts to a finite double (converting a larger long double to
// double is not defined behaviour in C++).
bool FitsDouble(long double v) noexcept
{
    return std::isfinite(v) && std::fabs(v) <= static_cast<long double>(DBL_MAX);
}

// A usable design rate: finite and not zero (a negative rate is taken as given).
bool UsableRate(double fs) noexcept
{
    return std::isfinite(fs) && fs != 0.0;
}

// Recovers F0 and BW from r² and 2·r·cos θ; false when they describe no conjugate pair or the
// result does not fit a double.
bool BackCompute(double fs, long double r2, long double twoRCos, double& f0, double& bw) noexcept
{
    if (!(r2 > 0.0L) || !std::isfinite(r2) || !std::isfinite(twoRCos))
        return false;
    long double c = twoRCos / (2.0L * std::sqrt(r2));
    // A real double pole (F0 = 0 or fs/2) may land a rounding error beyond ±1.
    if (!(std::fabs(c) <= 1.0L + kCosSlack))
        return false;
    c = std::clamp(c, -1.0L, 1.0L);
    const long double lfs = fs;
    const long double lbw = -lfs * std::log(r2) / (2.0L * kPi);
    const long double lf0 = std::acos(c) * lfs / (2.0L * kPi);
    if (!FitsDouble(lbw) || !FitsDouble(lf0))
        return false;
    // + 0.0 turns a negative zero (from fs = 0 or r = 1) into the plain zero.
    bw = static_cast<double>(lbw) + 0.0;
    f0 = static_cast<double>(lf0) + 0.0;
    return true;
}

} // namespace

void TFilterSection::Seta0(double v) noexcept
{
    if (!m_useF0BW)
        m_a0 = v;
}

void TFilterSection::Seta1(double v) noexcept
{
    if (m_useF0BW)
        return;
    m_a1 = v;
    BackComputePoles();
}

void TFilterSection::Seta2(double v) noexcept
{
    if (m_useF0BW)
        return;
    m_a2 = v;
    BackComputePoles();
}

void TFilterSection::Setb0(double v) noexcept
{
    if (!m_useF0BW)
        m_b0 = v;
}

void TFilterSection::Setb1(double v) noexcept
{
    if (m_useF0BW)
        return;
    m_b1 = v;
    BackComputeZeros();
}

void TFilterSection::Setb2(double v) noexcept
{
    if (m_useF0BW)
        return;
    m_b2 = v;
    BackComputeZeros();
}

void TFilterSection::SetPoleF0(double hz) noexcept
{
    if (!m_useF0BW)
        return;
    m_poleF0 = hz;
    DesignPoles();
}

void TFilterSection::SetPoleBW(double hz) noexcept
{
    if (!m_useF0BW)
        return;
    m_poleBW = hz;
    DesignPoles();
}

void TFilterSection::SetZeroF0(double hz) noexcept
{
    if (!m_useF0BW)
        return;
    m_zeroF0 = hz;
    DesignZeros();
}

void TFilterSection::SetZeroBW(double hz) noexcept
{
    if (!m_useF0BW)
        return;
    m_zeroBW = hz;
    DesignZeros();
}

void TFilterSection::SetSampFreq(double hz) noexcept
{
    m_sampFreq = hz;
    if (!m_useF0BW)
        return;
    if (m_poleBW != 0.0 && m_poleF0 != 0.0)
        DesignPoles();
    if (m_zeroBW != 0.0 && m_zeroF0 != 0.0)
        DesignZeros();
}

void TFilterSection::DesignPoles() noexcept
{
    m_a0 = 1.0;
    m_a1 = 0.0;
    m_a2 = 0.0;
    if (!UsableRate(m_sampFreq))
        return;
    const long double fs = m_sampFreq;
    const long double bw = m_poleBW;
    const long double f0 = m_poleF0;
    const long double a2 = -std::exp(-2.0L * kPi * bw / fs);
    const long double a1 = 2.0L * std::exp(-kPi * bw / fs) * std::cos(2.0L * kPi * f0 / fs);
    if (!FitsDouble(a1) || !FitsDouble(a2))
        return;
    const double da1 = static_cast<double>(a1);
    const double da2 = static_cast<double>(a2);
    const double da0 = 1.0 - da1 - da2;
    if (!std::isfinite(da0))
        return;
    m_a0 = da0;
    m_a1 = da1;
    m_a2 = da2;
}

void TFilterSection::DesignZeros() noexcept
{
    m_b0 = 1.0;
    m_b1 = 0.0;
    m_b2 = 0.0;
    if (!UsableRate(m_sampFreq))
        return;
    const long double fs = m_sampFreq;
    const long double bw = m_zeroBW;
    const long double f0 = m_zeroF0;
    const long double b2 = std::exp(-2.0L * kPi * bw / fs);
    const long double b1 = -2.0L * std::exp(-kPi * bw / fs) * std::cos(2.0L * kPi * f0 / fs);
    if (!FitsDouble(b1) || !FitsDouble(b2))
        return;
    const double db1 = static_cast<double>(b1);
    const double db2 = static_cast<double>(b2);
    const double sum = 1.0 + db1 + db2;
    if (!std::isfinite(sum) || sum == 0.0)
        return;
    const double db0 = 1.0 / sum;
    if (!std::isfinite(db0))
        return;
    m_b0 = db0;
    m_b1 = db1;
    m_b2 = db2;
}

// The forward design gives a2 = -r², a1 = 2·r·cos θ with r = exp(-π·BW/fs), θ = 2·π·F0/fs; this
// recovers BW from r and F0 from θ in [0, π] (F0 in [0, fs/2]).
void TFilterSection::BackComputePoles() noexcept
{
    if (!BackCompute(m_sampFreq, -static_cast<long double>(m_a2), m_a1, m_poleF0, m_poleBW)) {
        m_poleF0 = 0.0;
        m_poleBW = 0.0;
    }
}

// Zeros: b2 = r², b1 = -2·r·cos θ.
void TFilterSection::BackComputeZeros() noexcept
{
    if (!BackCompute(m_sampFreq, m_b2, -static_cast<long double>(m_b1), m_zeroF0, m_zeroBW)) {
        m_zeroF0 = 0.0;
        m_zeroBW = 0.0;
    }
}

void TFilterSection::ProcessBlock(std::span<double> samples) noexcept
{
    ProcessBlock(std::span<const double>(samples), samples);
}

void TFilterSection::ProcessBlock(std::span<const double> in, std::span<double> out) noexcept
{
    // A private copy whose address never escapes lets the compiler keep coefficients and delay
    // line in registers across the loop; the arithmetic is Step's, as in Process.
    TFilterSection s = *this;
    const std::size_t n = in.size() < out.size() ? in.size() : out.size();
    const double* src = in.data();
    double* dst = out.data();
    for (std::size_t i = 0; i < n; ++i) {
        double y;
        dst[i] = s.Step(src[i], s.m_w0, s.m_w1, s.m_w2, y) ? y : 0.0;
    }
    m_w0 = s.m_w0;
    m_w1 = s.m_w1;
    m_w2 = s.m_w2;
}

bool TFilterSection::SameFilter(const TFilterSection& other) const noexcept
{
    return m_filterType == other.m_filterType && m_a0 == other.m_a0 && m_a1 == other.m_a1 &&
           m_a2 == other.m_a2 && m_b0 == other.m_b0 && m_b1 == other.m_b1 && m_b2 == other.m_b2;
}

void TFilterSection::ProcessBlockFrom(const TFilterSection& from, std::span<const double> in,
                                      std::span<double> out) noexcept
{
    if (SameFilter(from)) {
        ProcessBlock(in, out);
        return;
    }
    // The old design continues the sound as it was; the new one starts from the same delay line
    // and takes over, so whatever its start adds is faded in rather than heard as a step.
    TFilterSection was = from;
    was.m_gain = m_gain;
    was.m_w0 = m_w0;
    was.m_w1 = m_w1;
    was.m_w2 = m_w2;
    TFilterSection s = *this;
    const std::size_t n = in.size() < out.size() ? in.size() : out.size();
    for (std::size_t i = 0; i < n; ++i) {
        double y0;
        double y1;
        if (!was.Step(in[i], was.m_w0, was.m_w1, was.m_w2, y0))
            y0 = 0.0;
        if (!s.Step(in[i], s.m_w0, s.m_w1, s.m_w2, y1))
            y1 = 0.0;
        out[i] = y0 + (y1 - y0) * Fade(i, n);
    }
    m_w0 = s.m_w0;
    m_w1 = s.m_w1;
    m_w2 = s.m_w2;
}

std::complex<double> TFilterSection::Response(double hz) const noexcept
{
    using C = std::complex<long double>;
    const auto gain = static_cast<long double>(m_gain);
    switch (m_filterType) {
    case tfiltertype::ftnone:
        return {m_gain, 0.0};
    case tfiltertype::ftpole:
    case tfiltertype::ftzero:
    case tfiltertype::ftboth:
        break;
    default:
        return {0.0, 0.0};
    }
    if (!UsableRate(m_sampFreq) || !std::isfinite(hz)) {
        const double nan = std::nan("");
        return {nan, nan};
    }
    const long double w = 2.0L * kPi * static_cast<long double>(hz) / m_sampFreq;
    const C z1 = std::polar(1.0L, -w);
    const C z2 = std::polar(1.0L, -2.0L * w);
    const C poles = static_cast<long double>(m_a0) / (1.0L - static_cast<long double>(m_a1) * z1 -
                                                      static_cast<long double>(m_a2) * z2);
    const C zeros = static_cast<long double>(m_b0) * (1.0L + static_cast<long double>(m_b1) * z1 +
                                                      static_cast<long double>(m_b2) * z2);
    C h;
    if (m_filterType == tfiltertype::ftpole)
        h = gain * poles;
    else if (m_filterType == tfiltertype::ftzero)
        h = gain * zeros;
    else
        h = gain * poles * zeros;
    const auto toDouble = [](long double v) {
        if (std::isnan(v) || FitsDouble(v))
            return static_cast<double>(v);
        return v > 0 ? HUGE_VAL : -HUGE_VAL;
    };
    return {toDouble(h.real()), toDouble(h.imag())};
}

double TFilterSection::MagnitudeDb(double hz) const noexcept
{
    const double mag = std::abs(Response(hz));
    if (std::isnan(mag))
        return -kMaxDb;
    if (mag == 0.0)
        return -kMaxDb;
    const double db = 20.0 * std::log10(mag);
    return db < -kMaxDb ? -kMaxDb : (db > kMaxDb ? kMaxDb : db);
}

} // namespace kavrel
