#pragma once

#include <optional>

// The filter controls' sliders and the values they stand for. Gains are linear factors shown in
// decibels, frequencies run logarithmically from 10 Hz to 1000 Hz, Q from 0.1 to 10.

namespace kavrel {

struct TSliderRange {
    int Min;
    int Max;
    int TickEvery;
    int Initial;
};

inline constexpr TSliderRange GainSliderRange{-40, 20, 5, -10};
inline constexpr TSliderRange F0SliderRange{0, 100, 10, 50};
inline constexpr TSliderRange QSliderRange{-100, 100, 10, 0};

// Linear factor of a gain slider position in dB: 10^(pos/20).
double GainFromSlider(int pos);
// Centre frequency in Hz of an f0 slider position: 10^(pos/50 + 1).
double F0FromSlider(int pos);
// Q of a Q slider position: 10^(pos/100).
double QFromSlider(int pos);

// Inverse mappings, rounded to the nearest position and clamped to the slider's range. Values
// that have no position (zero, negative or not finite gains and frequencies, a zero bandwidth)
// give nothing, so the caller leaves the slider where it is.
std::optional<int> SliderFromGain(double gain, TSliderRange range = GainSliderRange);
std::optional<int> SliderFromF0(double f0, TSliderRange range = F0SliderRange);
std::optional<int> SliderFromQ(double f0, double bandwidth, TSliderRange range = QSliderRange);

} // namespace kavrel
