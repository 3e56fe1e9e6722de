#pragma once

// Conversion between double and the 80-bit extended-precision format (x87 layout, little-endian:
// 64-bit significand with an explicit integer bit in bytes 0..7, then the 15-bit exponent with
// bias 16383 and the sign bit in bytes 8..9). Done with integer arithmetic only, so it does not
// depend on what long double is on the machine.

#include <array>
#include <cstddef>
#include <cstdint>

namespace kavrel {

using TExtended80 = std::array<std::uint8_t, 10>;

// Exact for every double (every double is representable); NaN keeps its sign and payload bits.
TExtended80 DoubleToExtended80(double value) noexcept;

// Rounds to the nearest double, halves to even; too large gives an infinity, too small a subnormal
// or zero. Unnormal and pseudo-denormal encodings are read by their numeric value; an all-ones
// exponent gives an infinity (zero fraction) or a quiet NaN.
double Extended80ToDouble(const TExtended80& bytes) noexcept;

} // namespace kavrel
