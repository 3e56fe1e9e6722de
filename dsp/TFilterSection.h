#pragma once

// One second-order section: a resonant pole pair, an anti-resonant zero pair, or both in cascade
// on one shared delay line (direct form II), each half with unity gain at 0 Hz, then `Gain`.
//
//   pole half  H_p(z) = a0 / (1 - a1 z^-1 - a2 z^-2)
//   zero half  H_z(z) = b0 (1 + b1 z^-1 + b2 z^-2)
//
// The coefficients are either derived from centre frequency and bandwidth (`UseF0BW` true) or set
// directly (`UseF0BW` false); in each state the setters of the other kind are ignored. Design and
// processing never throw: a design that fails falls back to pass-through coefficients, a sample
// whose result is not finite comes out as 0 and leaves the delay line as it was.
//
// Not thread-safe: one thread designs and processes a section at a time.

#include <cmath>
#include <complex>
#include <cstddef>
#include <span>

namespace kavrel {

// Which halves of the section run; values outside the list are possible and process to 0.
enum class tfiltertype : int { ftnone = 0, ftpole = 1, ftzero = 2, ftboth = 3 };

class TFilterSection {
public:
    TFilterSection() = default;

    // Pole (recursive) coefficients. Setting one is ignored while UseF0BW is true; setting a1 or
    // a2 back-computes PoleF0 and PoleBW (both 0 when a1, a2 describe no conjugate pair, that is
    // when a2 >= 0 or |a1| > 2·sqrt(-a2)).
    double a0() const noexcept { return m_a0; }
    void Seta0(double v) noexcept;
    double a1() const noexcept { return m_a1; }
    void Seta1(double v) noexcept;
    double a2() const noexcept { return m_a2; }
    void Seta2(double v) noexcept;

    // Zero (non-recursive) coefficients, b0 an overall scale; same rules as the pole ones, b1 or
    // b2 back-compute ZeroF0 and ZeroBW (both 0 when b2 <= 0 or |b1| > 2·sqrt(b2)).
    double b0() const noexcept { return m_b0; }
    void Setb0(double v) noexcept;
    double b1() const noexcept { return m_b1; }
    void Setb1(double v) noexcept;
    double b2() const noexcept { return m_b2; }
    void Setb2(double v) noexcept;

    // Output multiplier (linear factor).
    double Gain() const noexcept { return m_gain; }
    void SetGain(double v) noexcept { m_gain = v; }

    // True: coefficients follow PoleF0/PoleBW/ZeroF0/ZeroBW; false: coefficients are set directly.
    // Switching stores the flag only; nothing is recomputed.
    bool UseF0BW() const noexcept { return m_useF0BW; }
    void SetUseF0BW(bool v) noexcept { m_useF0BW = v; }

    // Pole pair centre frequency and bandwidth in Hz. Ignored (not stored) while UseF0BW is false;
    // otherwise stored and the pole half is redesigned from it and the other stored value.
    double PoleF0() const noexcept { return m_poleF0; }
    void SetPoleF0(double hz) noexcept;
    double PoleBW() const noexcept { return m_poleBW; }
    void SetPoleBW(double hz) noexcept;

    // Zero pair centre frequency and bandwidth in Hz; same rules, redesigning the zero half.
    double ZeroF0() const noexcept { return m_zeroF0; }
    void SetZeroF0(double hz) noexcept;
    double ZeroBW() const noexcept { return m_zeroBW; }
    void SetZeroBW(double hz) noexcept;

    // Sample rate in Hz; always stored. While UseF0BW is true each half whose F0 and BW are both
    // non-zero is redesigned for the new rate.
    double SampFreq() const noexcept { return m_sampFreq; }
    void SetSampFreq(double hz) noexcept;

    tfiltertype FilterType() const noexcept { return m_filterType; }
    void SetFilterType(tfiltertype t) noexcept { m_filterType = t; }

    // Filters one sample and advances the delay line; never allocates or blocks, so it may run on
    // the sound thread. A non-finite result gives 0 and leaves the delay line untouched.
    double Process(double x) noexcept;

    // Filters the samples in place, bit for bit as Process on each in turn.
    void ProcessBlock(std::span<double> samples) noexcept;
    // Filters in[i] into out[i] for i < min(in.size(), out.size()), bit for bit as Process;
    // in and out may be the same memory.
    void ProcessBlock(std::span<const double> in, std::span<double> out) noexcept;

    // Filters in[i] into out[i] as ProcessBlock does, fading across the block from what the
    // filter type and coefficients of `from` give to what this section's own give: both run from
    // this section's delay line, and out[i] is the smooth step Fade(i, n) of the way from the
    // first to the second, so that a redesign is heard without a step. The delay line ends as
    // this section's own run leaves it. Gain is this section's for both. Bit for bit as
    // ProcessBlock when SameFilter(from).
    void ProcessBlockFrom(const TFilterSection& from, std::span<const double> in,
                          std::span<double> out) noexcept;
    // Whether `other` has the same filter type and coefficients (the gain and the delay line
    // aside): whether it filters as this section does.
    bool SameFilter(const TFilterSection& other) const noexcept;
    // The weight of the new side at value i of a fade over n values: rises smoothly (no kink at
    // either end) from near 0 to exactly 1 at i = n - 1.
    static double Fade(std::size_t i, std::size_t n) noexcept
    {
        const double t = static_cast<double>(i + 1) / static_cast<double>(n);
        return t * t * (3.0 - 2.0 * t);
    }

    // Clears the delay line.
    void Reset() noexcept { m_w0 = m_w1 = m_w2 = 0.0; }

    // Transfer function of the section as Process realises it (filter type, coefficients and
    // Gain), at hz Hz for the current SampFreq; NaN parts when SampFreq is 0 or not finite (except
    // for ftnone, which gives Gain, and the unknown types, which give 0).
    std::complex<double> Response(double hz) const noexcept;
    // 20·log10 |Response(hz)|, limited to [-300, 300] dB; -300 when the response is not a number.
    double MagnitudeDb(double hz) const noexcept;

private:
    // One step of the difference equations on the given delay line; returns false (and leaves
    // w1, w2 untouched) when the result is not finite.
    bool Step(double x, double& w0, double& w1, double& w2, double& y) const noexcept;

    void DesignPoles() noexcept;
    void DesignZeros() noexcept;
    void BackComputePoles() noexcept;
    void BackComputeZeros() noexcept;

    double m_a0 = 1.0;
    double m_a1 = 0.0;
    double m_a2 = 0.0;
    double m_b0 = 1.0;
    double m_b1 = 0.0;
    double m_b2 = 0.0;
    double m_gain = 1.0;
    bool m_useF0BW = false;
    double m_poleBW = 0.0;
    double m_poleF0 = 0.0;
    double m_zeroBW = 0.0;
    double m_zeroF0 = 0.0;
    double m_sampFreq = 16000.0;
    tfiltertype m_filterType = tfiltertype::ftboth;

    double m_w0 = 0.0;
    double m_w1 = 0.0;
    double m_w2 = 0.0;
};

inline bool TFilterSection::Step(double x, double& w0, double& w1, double& w2,
                                 double& y) const noexcept
{
    switch (m_filterType) {
    case tfiltertype::ftnone:
        y = m_gain * x;
        return std::isfinite(y);
    case tfiltertype::ftpole: {
        const double p = m_a0 * x + m_a1 * w1 + m_a2 * w2;
        y = m_gain * p;
        if (!std::isfinite(y))
            return false;
        w0 = p;
        w2 = w1;
        w1 = p;
        return true;
    }
    case tfiltertype::ftzero: {
        const double t = m_b0 * (x + m_b1 * w1 + m_b2 * w2);
        y = m_gain * t;
        if (!std::isfinite(y))
            return false;
        w2 = w1;
        w1 = x;
        return true;
    }
    case tfiltertype::ftboth: {
        const double p = m_a0 * x + m_a1 * w1 + m_a2 * w2;
        const double t = m_b0 * (p + m_b1 * w1 + m_b2 * w2);
        y = m_gain * t;
        if (!std::isfinite(y))
            return false;
        w0 = p;
        w2 = w1;
        w1 = p;
        return true;
    }
    }
    y = 0.0;
    return true;
}

inline double TFilterSection::Process(double x) noexcept
{
    double y;
    return Step(x, m_w0, m_w1, m_w2, y) ? y : 0.0;
}

} // namespace kavrel
