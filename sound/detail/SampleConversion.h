#pragma once

// The conversion of stored samples to the 16 bits held in memory, shared by every reader so that
// the same sound loads to the same samples whatever file it came from.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kavrel::detail {

// Rounds v / 2^Shift to the nearest integer, halves to even, and saturates to 16 bits.
template <int Shift> std::int16_t RoundShift(std::int32_t v) noexcept
{
    constexpr std::int32_t half = 1 << (Shift - 1);
    constexpr std::int32_t mask = (1 << Shift) - 1;
    std::int32_t q = v >> Shift;
    const std::int32_t r = v & mask;
    if (r > half || (r == half && (q & 1) != 0))
        ++q;
    return static_cast<std::int16_t>(std::min(q, 32767));
}

// x · 32768 rounded to nearest (halves to even), saturated; NaN gives 0.
inline std::int16_t FromFloat(double x) noexcept
{
    const double y = x * 32768.0;
    if (!(y == y))
        return 0;
    if (y >= 32767.0)
        return 32767;
    if (y <= -32768.0)
        return -32768;
    return static_cast<std::int16_t>(std::nearbyint(y));
}

} // namespace kavrel::detail
