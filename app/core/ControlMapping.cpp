#include "app/core/ControlMapping.h"

#include <algorithm>
#include <cmath>

namespace kavrel {

namespace {

// Rounds a position that may be anything (even infinite) into the range, halves to even.
std::optional<int> ToSlider(double pos, TSliderRange range)
{
    if (std::isnan(pos))
        return std::nullopt;
    const double clamped =
        std::clamp(pos, static_cast<double>(range.Min), static_cast<double>(range.Max));
    return static_cast<int>(std::nearbyint(clamped));
}

bool IsPositive(double v)
{
    return std::isfinite(v) && v > 0;
}

} // namespace

double GainFromSlider(int pos)
{
    return std::pow(10.0, pos / 20.0);
}

double F0FromSlider(int pos)
{
    return std::pow(10.0, pos / 50.0 + 1);
}

double QFromSlider(int pos)
{
    return std::pow(10.0, pos / 100.0);
}

std::optional<int> SliderFromGain(double gain, TSliderRange range)
{
    if (!IsPositive(gain))
        return std::nullopt;
    return ToSlider(20 * std::log10(gain), range);
}

std::optional<int> SliderFromF0(double f0, TSliderRange range)
{
    if (!IsPositive(f0))
        return std::nullopt;
    return ToSlider(50 * (std::log10(f0) - 1), range);
}

std::optional<int> SliderFromQ(double f0, double bandwidth, TSliderRange range)
{
    if (!IsPositive(f0) || !IsPositive(bandwidth))
        return std::nullopt;
    const double q = f0 / bandwidth;
    if (!IsPositive(q))
        return std::nullopt;
    return ToSlider(100 * std::log10(q), range);
}

} // namespace kavrel
