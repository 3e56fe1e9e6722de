#include "app/view/TFrequencyPower.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kavrel {

TFrequencyPower::TFrequencyPower(int size)
    : m_fft(size), m_window(static_cast<std::size_t>(m_fft.Size())),
      m_power(static_cast<std::size_t>(m_fft.Size() / 2 + 1), 0.0)
{
    const double n = static_cast<double>(m_window.size());
    for (std::size_t i = 0; i < m_window.size(); ++i)
        m_window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / n);
}

void TFrequencyPower::Add(std::span<const double> samples, double weight) noexcept
{
    const std::span<double> in = m_fft.Input();
    const std::size_t n = std::min(samples.size(), in.size());
    for (std::size_t i = 0; i < n; ++i)
        in[i] = samples[i] * m_window[i];
    std::fill(in.begin() + static_cast<std::ptrdiff_t>(n), in.end(), 0.0);
    const std::span<const std::complex<double>> bins = m_fft.Transform();
    // The Hann window halves a sine's bin: A·Size/4 for amplitude A.
    const double scale = 4.0 / static_cast<double>(in.size());
    const double w = m_empty ? 1.0 : std::clamp(weight, 0.0, 1.0);
    for (std::size_t k = 0; k < m_power.size(); ++k)
        m_power[k] += w * (std::norm(bins[k] * scale) - m_power[k]);
    m_empty = false;
}

void TFrequencyPower::Reset() noexcept
{
    std::fill(m_power.begin(), m_power.end(), 0.0);
    m_empty = true;
}

int TFrequencyPower::PeakBin() const noexcept
{
    if (m_power.size() < 2)
        return 0;
    const auto peak = std::max_element(m_power.begin() + 1, m_power.end());
    return *peak > 0.0 ? static_cast<int>(peak - m_power.begin()) : 0;
}

std::vector<TResponsePoint> SpectrumCurve(std::span<const double> power, double rate, int count,
                                          double lowHz)
{
    std::vector<TResponsePoint> curve;
    const double highHz = rate / 2.0;
    if (count < 2 || power.size() < 2 || !(highHz > lowHz) || !(lowHz > 0.0))
        return curve;
    // Bin k lies at k·binHz; the last bin is half the rate.
    const double binHz = highHz / static_cast<double>(power.size() - 1);
    // The points of ResponseCurve, so that both curves share their frequencies.
    const double span = std::log(highHz / lowHz);
    const double half = std::exp(span / (count - 1) / 2.0);
    const auto last = static_cast<double>(power.size() - 1);
    curve.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double hz =
            i == count - 1 ? highHz : lowHz * std::exp(span * i / static_cast<double>(count - 1));
        const double lo = std::ceil(hz / half / binHz);
        const double hi = std::min(std::floor(hz * half / binHz), last);
        double p = 0.0;
        if (hi - lo >= 1.0) {
            for (auto k = static_cast<std::size_t>(lo); k <= static_cast<std::size_t>(hi); ++k)
                p += power[k];
            p /= hi - lo + 1.0;
        } else {
            const double at = std::min(hz / binHz, last);
            const auto k = static_cast<std::size_t>(std::floor(at));
            const std::size_t k1 = std::min(k + 1, power.size() - 1);
            const double t = at - static_cast<double>(k);
            p = power[k] + t * (power[k1] - power[k]);
        }
        curve.push_back(
            {hz, p > 0.0 ? std::max(10.0 * std::log10(p), SpectrumFloorDb) : SpectrumFloorDb});
    }
    return curve;
}

} // namespace kavrel
