#pragma once

// The spectrum of what is heard: Hann-windowed transforms of Size() samples whose power is
// averaged from one transform to the next, so that a steady tone reads steady. Power is given
// relative to full scale: the bin of a full-scale sine reads 1 (0 dB).

#include "app/view/ResponseCurve.h"
#include "app/view/TRealFft.h"

#include <span>
#include <vector>

namespace kavrel {

class TFrequencyPower {
public:
    static constexpr int DefaultSize = 4096;
    // The newest transform's weight in the average: a change settles within about ten of them.
    static constexpr double DefaultWeight = 0.2;

    explicit TFrequencyPower(int size = DefaultSize);

    int Size() const noexcept { return m_fft.Size(); }
    // Transforms Size() samples (fractions of full scale; fewer are padded with zeros) and mixes
    // their power into the average with the given weight (0 … 1). The first transform after a
    // Reset is taken whole.
    void Add(std::span<const double> samples, double weight = DefaultWeight) noexcept;
    // Forgets the average.
    void Reset() noexcept;
    bool Empty() const noexcept { return m_empty; }

    // Averaged power of bins 0 … Size()/2; bin k lies at k·rate/Size() Hz.
    const std::vector<double>& Power() const noexcept { return m_power; }
    // The bin with the most power, from bin 1 on; 0 when there is none.
    int PeakBin() const noexcept;

private:
    TRealFft m_fft;
    std::vector<double> m_window;
    std::vector<double> m_power;
    bool m_empty = true;
};

// Lowest level SpectrumCurve gives, dB.
inline constexpr double SpectrumFloorDb = -200.0;

// `count` points spaced evenly on a logarithmic scale from lowHz to half of rate, each the power
// of the spectrum there in dB: the mean over the bins of its share of the axis, or between the
// two nearest bins where its share holds fewer than two. Empty when count < 2, the power holds
// fewer than two bins or half the rate is not above lowHz.
std::vector<TResponsePoint> SpectrumCurve(std::span<const double> power, double rate, int count,
                                          double lowHz = ResponseLowHz);

} // namespace kavrel
