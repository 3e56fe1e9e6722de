#include "app/view/PlotColumns.h"

#include "app/view/TMinMax.h"

#include <algorithm>
#include <cmath>

namespace kavrel {

namespace {

// Walks the columns, asking `minMax(lo, hi)` for the extremes of samples lo … hi. Each pixel's
// time is asked for once: the end of one column is the start of the next.
template <class TMinMaxOf>
std::vector<TPlotColumn> Columns(std::size_t count, double sampleRate, int axisWidth,
                                 const TPixelToTime& pixelToTime, const TMinMaxOf& minMax)
{
    std::vector<TPlotColumn> columns;
    if (axisWidth < 2 || !pixelToTime)
        return columns;
    const double last = static_cast<double>(count) - 1.0;
    // Sample index at a pixel, false when it lies outside the sound (this also catches a time
    // or rate that is not finite, before anything is converted to an integer).
    const auto index = [&](int pixel, std::size_t& i) {
        const double v = std::nearbyint(sampleRate * pixelToTime(pixel));
        if (!(v >= 0.0 && v <= last))
            return false;
        i = static_cast<std::size_t>(v);
        return true;
    };
    std::size_t i0 = 0;
    if (!index(0, i0))
        return columns;
    columns.reserve(static_cast<std::size_t>(axisWidth - 1));
    for (int x = 0; x <= axisWidth - 2; ++x) {
        std::size_t i1 = 0;
        if (!index(x + 1, i1))
            break;
        const TMinMax m = minMax(std::min(i0, i1), std::max(i0, i1));
        columns.push_back(TPlotColumn{x, m.Min, m.Max});
        i0 = i1;
    }
    return columns;
}

} // namespace

std::vector<TPlotColumn> PlotColumns(const TWaveSummary& summary, double sampleRate, int axisWidth,
                                     const TPixelToTime& pixelToTime)
{
    return Columns(summary.Count(), sampleRate, axisWidth, pixelToTime,
                   [&](std::size_t lo, std::size_t hi) { return summary.MinMax(lo, hi); });
}

std::vector<TPlotColumn> DirectPlotColumns(std::span<const std::int16_t> samples, double sampleRate,
                                           int axisWidth, const TPixelToTime& pixelToTime)
{
    return Columns(samples.size(), sampleRate, axisWidth, pixelToTime,
                   [&](std::size_t lo, std::size_t hi) { return DirectMinMax(samples, lo, hi); });
}

} // namespace kavrel
