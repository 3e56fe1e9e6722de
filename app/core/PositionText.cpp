#include "app/core/PositionText.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace kavrel {

namespace {

constexpr double MaxSeconds = 1e12; // far beyond any sound; keeps the millisecond count exact

std::string ClockText(double seconds, bool withHours)
{
    const double s = std::isfinite(seconds) ? std::fmin(std::fmax(seconds, 0.0), MaxSeconds) : 0.0;
    const auto ms = static_cast<std::int64_t>(std::nearbyint(s * 1000.0));
    const std::int64_t minutes = ms / 60000;
    const auto sec = static_cast<int>(ms / 1000 % 60);
    const auto milli = static_cast<int>(ms % 1000);
    char text[48];
    if (withHours)
        std::snprintf(text, sizeof text, "%lld:%02d:%02d.%03d",
                      static_cast<long long>(minutes / 60), static_cast<int>(minutes % 60), sec,
                      milli);
    else
        std::snprintf(text, sizeof text, "%lld:%02d.%03d", static_cast<long long>(minutes), sec,
                      milli);
    return text;
}

bool WithHours(double duration)
{
    return std::isfinite(duration) && duration >= 3600.0 - 0.0005;
}

} // namespace

std::string PositionText(double seconds, double duration)
{
    const bool withHours = WithHours(duration);
    return ClockText(seconds, withHours) + " / " + ClockText(duration, withHours);
}

std::string RegionText(double first, double end, double duration)
{
    const bool withHours = WithHours(duration);
    return "[" + ClockText(first, withHours) + " - " + ClockText(end, withHours) + "]";
}

} // namespace kavrel
