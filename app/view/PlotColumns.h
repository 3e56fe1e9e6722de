#pragma once

// The columns of a waveform plot: for each pixel column x of the time axis, from 0 to width-2,
// the samples from round(rate × time(x)) to round(rate × time(x+1)) (halves to even) and their
// minimum and maximum. The list stops at the first column whose samples reach outside the sound;
// the columns before it stay. A range whose ends come out in falling order (a reversed time axis)
// is taken from the lower end to the higher one.

#include "app/view/TWaveSummary.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kavrel {

struct TPlotColumn {
    int X = 0;
    std::int32_t Min = 32768;
    std::int32_t Max = -32768;

    friend bool operator==(const TPlotColumn&, const TPlotColumn&) = default;
};

// Time in seconds at a pixel of the time axis (the axis's PixelToValue).
using TPixelToTime = std::function<double(int pixel)>;

// The plot's columns from a channel's summary. sampleRate in frames per second; axisWidth is the
// time axis's width in pixels (fewer than 2 gives no columns).
std::vector<TPlotColumn> PlotColumns(const TWaveSummary& summary, double sampleRate, int axisWidth,
                                     const TPixelToTime& pixelToTime);

// The same by scanning every sample of every column: the reference the summaries must match.
std::vector<TPlotColumn> DirectPlotColumns(std::span<const std::int16_t> samples, double sampleRate,
                                           int axisWidth, const TPixelToTime& pixelToTime);

} // namespace kavrel
