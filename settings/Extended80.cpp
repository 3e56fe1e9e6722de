#include "settings/Extended80.h"

#include <bit>

namespace kavrel {

namespace {

constexpr std::uint64_t DoubleFractionMask = (std::uint64_t{1} << 52) - 1;
constexpr std::uint64_t DoubleQuietBit = std::uint64_t{1} << 51;
constexpr std::uint64_t IntegerBit = std::uint64_t{1} << 63;
constexpr int ExtendedBias = 16383;
constexpr int DoubleBias = 1023;
constexpr std::uint16_t ExtendedMaxExponent = 0x7FFF;

TExtended80 Pack(bool negative, std::uint16_t exponent, std::uint64_t significand)
{
    TExtended80 bytes{};
    for (int i = 0; i < 8; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(significand >> (8 * i));
    const auto top = static_cast<std::uint16_t>(exponent | (negative ? 0x8000u : 0u));
    bytes[8] = static_cast<std::uint8_t>(top & 0xFFu);
    bytes[9] = static_cast<std::uint8_t>(top >> 8);
    return bytes;
}

double FromBits(bool negative, std::uint64_t bits)
{
    return std::bit_cast<double>(bits | (negative ? (std::uint64_t{1} << 63) : 0));
}

// Rounds value >> shift to the nearest integer, halves to even (1 <= shift <= 63).
std::uint64_t ShiftRoundEven(std::uint64_t value, int shift)
{
    const std::uint64_t kept = value >> shift;
    const std::uint64_t rest = value & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (kept & 1) != 0))
        return kept + 1;
    return kept;
}

} // namespace

TExtended80 DoubleToExtended80(double value) noexcept
{
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const auto exponent = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & DoubleFractionMask;

    if (exponent == 0x7FF) {
        // Infinity has a zero fraction; a NaN keeps its payload (and its quiet bit lands on the
        // extended format's quiet bit).
        return Pack(negative, ExtendedMaxExponent, IntegerBit | (fraction << 11));
    }
    if (exponent == 0) {
        if (fraction == 0)
            return Pack(negative, 0, 0);
        // Subnormal: fraction * 2^-1074, normalised so that the integer bit is set.
        const int shift = std::countl_zero(fraction);
        const int biased = ExtendedBias + 63 - 1074 - shift;
        return Pack(negative, static_cast<std::uint16_t>(biased), fraction << shift);
    }
    const int biased = exponent - DoubleBias + ExtendedBias;
    return Pack(negative, static_cast<std::uint16_t>(biased), IntegerBit | (fraction << 11));
}

double Extended80ToDouble(const TExtended80& bytes) noexcept
{
    std::uint64_t significand = 0;
    for (int i = 7; i >= 0; --i)
        significand = (significand << 8) | bytes[static_cast<std::size_t>(i)];
    const auto top = static_cast<std::uint16_t>(bytes[8] | (bytes[9] << 8));
    const bool negative = (top & 0x8000u) != 0;
    const int exponent = top & ExtendedMaxExponent;

    const std::uint64_t infinityBits = std::uint64_t{0x7FF} << 52;
    if (exponent == ExtendedMaxExponent) {
        const std::uint64_t fraction = significand & ~IntegerBit;
        if (fraction == 0)
            return FromBits(negative, infinityBits);
        return FromBits(negative,
                        infinityBits | DoubleQuietBit | ((fraction >> 11) & DoubleFractionMask));
    }
    if (significand == 0)
        return FromBits(negative, 0);

    // value = significand * 2^power; denormals (exponent 0) use the exponent 1.
    int power = (exponent == 0 ? 1 : exponent) - ExtendedBias - 63;
    const int leading = std::countl_zero(significand);
    significand <<= leading;
    power -= leading;
    int unbiased = power + 63; // the value lies in [2^unbiased, 2^(unbiased+1))

    if (unbiased > DoubleBias)
        return FromBits(negative, infinityBits);
    if (unbiased >= 1 - DoubleBias) {
        std::uint64_t mantissa = ShiftRoundEven(significand, 11);
        if (mantissa == (std::uint64_t{1} << 53)) {
            mantissa >>= 1;
            ++unbiased;
            if (unbiased > DoubleBias)
                return FromBits(negative, infinityBits);
        }
        const auto biased = static_cast<std::uint64_t>(unbiased + DoubleBias);
        return FromBits(negative, (biased << 52) | (mantissa & DoubleFractionMask));
    }
    // Subnormal result: count units of 2^-1074. Rounding up to 2^52 units gives the smallest
    // normal number, whose bits are the same integer.
    const int shift = -(power + 1074);
    if (shift > 64)
        return FromBits(negative, 0);
    if (shift == 64)
        return FromBits(negative, significand > IntegerBit ? 1 : 0);
    return FromBits(negative, ShiftRoundEven(significand, shift));
}

} // namespace kavrel
