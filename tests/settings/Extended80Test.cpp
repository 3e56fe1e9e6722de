#include "settings/Extended80.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace kavrel {
namespace {

TExtended80 Bytes(std::uint64_t significand, std::uint16_t signAndExponent)
{
    TExtended80 bytes{};
    for (int i = 0; i < 8; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(significand >> (8 * i));
    bytes[8] = static_cast<std::uint8_t>(signAndExponent & 0xFF);
    bytes[9] = static_cast<std::uint8_t>(signAndExponent >> 8);
    return bytes;
}

std::uint64_t Bits(double value)
{
    return std::bit_cast<std::uint64_t>(value);
}

struct KnownEncoding {
    double Value;
    std::uint64_t Significand;
    std::uint16_t SignAndExponent;
};

class Extended80Known : public ::testing::TestWithParam<KnownEncoding> {};

TEST_P(Extended80Known, EncodesAndDecodes)
{
    const KnownEncoding& known = GetParam();
    EXPECT_EQ(DoubleToExtended80(known.Value), Bytes(known.Significand, known.SignAndExponent));
    EXPECT_EQ(Bits(Extended80ToDouble(Bytes(known.Significand, known.SignAndExponent))),
              Bits(known.Value));
}

INSTANTIATE_TEST_SUITE_P(
    Values, Extended80Known,
    ::testing::Values(
        KnownEncoding{1.0, 0x8000000000000000u, 0x3FFF},
        KnownEncoding{-2.0, 0x8000000000000000u, 0xC000},
        KnownEncoding{50.0, 0xC800000000000000u, 0x4004},
        KnownEncoding{0.5, 0x8000000000000000u, 0x3FFE}, KnownEncoding{0.0, 0, 0x0000},
        KnownEncoding{-0.0, 0, 0x8000},
        // 0.1 = 0x3FB999999999999A: the 53 bits followed by 11 zero bits.
        KnownEncoding{0.1, 0xCCCCCCCCCCCCD000u, 0x3FFB},
        // The smallest subnormal, 2^-1074.
        KnownEncoding{std::numeric_limits<double>::denorm_min(), 0x8000000000000000u,
                      0x3FFF - 1074},
        KnownEncoding{std::numeric_limits<double>::infinity(), 0x8000000000000000u, 0x7FFF},
        KnownEncoding{-std::numeric_limits<double>::infinity(), 0x8000000000000000u, 0xFFFF}));

std::vector<double> Spread()
{
    std::vector<double> values = {
        0.1,
        -0.1,
        1e300,
        -1e300,
        1e-300,
        1e-310,
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::min(),
        std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::denorm_min(),
        std::nextafter(std::numeric_limits<double>::min(), 0.0), // largest subnormal
        std::nextafter(1.0, 2.0),
        std::nextafter(1.0, 0.0),
        1.0 / 3.0,
        32768.0,
        440.0,
        20000.0,
        0.7071067811865476,
    };
    for (int e = -1074; e <= 1023; e += 7)
        values.push_back(std::ldexp(1.0, e));
    std::mt19937_64 random(12345);
    for (int i = 0; i < 2000; ++i) {
        double value = std::bit_cast<double>(random());
        if (std::isfinite(value))
            values.push_back(value);
    }
    return values;
}

TEST(Extended80, EveryDoubleSurvivesTheRoundTripExactly)
{
    for (double value : Spread())
        EXPECT_EQ(Bits(Extended80ToDouble(DoubleToExtended80(value))), Bits(value)) << value;
}

TEST(Extended80, NaNStaysNaNWithItsSign)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double back = Extended80ToDouble(DoubleToExtended80(-nan));
    EXPECT_TRUE(std::isnan(back));
    EXPECT_TRUE(std::signbit(back));
    // A NaN payload comes back as the same quiet NaN.
    const double payload = std::bit_cast<double>(std::uint64_t{0x7FF8000000012345});
    EXPECT_EQ(Bits(Extended80ToDouble(DoubleToExtended80(payload))), Bits(payload));
    // A signalling pattern in the file still reads as a NaN, never as infinity.
    EXPECT_TRUE(std::isnan(Extended80ToDouble(Bytes(0x8000000000000001u, 0x7FFF))));
}

struct RoundingCase {
    const char* Name;
    TExtended80 Input;
    double Expected;
};

class Extended80Rounding : public ::testing::TestWithParam<RoundingCase> {};

TEST_P(Extended80Rounding, RoundsToNearestEven)
{
    EXPECT_EQ(Bits(Extended80ToDouble(GetParam().Input)), Bits(GetParam().Expected))
        << GetParam().Name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Extended80Rounding,
    ::testing::Values(
        // 1 + 2^-53 is halfway between 1 and its successor: ties go to the even 1.
        RoundingCase{"tie down", Bytes(0x8000000000000400u, 0x3FFF), 1.0},
        // (1 + 2^-52) + 2^-53 ties up to the even 1 + 2^-51.
        RoundingCase{"tie up", Bytes(0x8000000000000C00u, 0x3FFF), 1.0 + std::ldexp(1.0, -51)},
        RoundingCase{"above half", Bytes(0x8000000000000401u, 0x3FFF), 1.0 + std::ldexp(1.0, -52)},
        RoundingCase{"below half", Bytes(0x80000000000003FFu, 0x3FFF), 1.0},
        // All 64 bits set rounds up into the next power of two.
        RoundingCase{"carry", Bytes(0xFFFFFFFFFFFFFFFFu, 0x3FFF), 2.0},
        RoundingCase{"overflow", Bytes(0x8000000000000000u, 0x3FFF + 1024),
                     std::numeric_limits<double>::infinity()},
        RoundingCase{"overflow by rounding", Bytes(0xFFFFFFFFFFFFFFFFu, 0x3FFF + 1023),
                     std::numeric_limits<double>::infinity()},
        RoundingCase{"underflow to zero", Bytes(0x8000000000000000u, 0x3FFF - 1076), 0.0},
        RoundingCase{"negative underflow", Bytes(0x8000000000000000u, 0xBFFF - 1076), -0.0},
        // Exactly half the smallest subnormal: ties to even, which is zero.
        RoundingCase{"half of smallest", Bytes(0x8000000000000000u, 0x3FFF - 1075), 0.0},
        RoundingCase{"above half of smallest", Bytes(0x8000000000000001u, 0x3FFF - 1075),
                     std::numeric_limits<double>::denorm_min()},
        // Rounding the largest subnormal up gives the smallest normal number.
        RoundingCase{"subnormal to normal", Bytes(0xFFFFFFFFFFFFFFFFu, 0x3FFF - 1023),
                     std::numeric_limits<double>::min()},
        RoundingCase{"extended denormal", Bytes(0x4000000000000000u, 0x0000), 0.0},
        // Pseudo-denormal: read with the exponent of 1, like the hardware does.
        RoundingCase{"pseudo-denormal", Bytes(0x8000000000000000u, 0x0000), 0.0},
        // Unnormal (no integer bit): read by its value, 0.5.
        RoundingCase{"unnormal", Bytes(0x4000000000000000u, 0x3FFF), 0.5}));

// Where long double is the x87 format, the hardware's conversion is an independent oracle.
TEST(Extended80, AgreesWithTheHardwareConversion)
{
    if (std::numeric_limits<long double>::digits != 64 || sizeof(long double) < 10)
        GTEST_SKIP() << "long double is not the 80-bit format here";
    std::mt19937_64 random(777);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t significand = random() | std::uint64_t{1} << 63;
        // Exponents spread over the whole range, many near the double's limits.
        std::uint16_t exponent = static_cast<std::uint16_t>(random() % 0x7FFF);
        if (i % 2 == 0)
            exponent =
                static_cast<std::uint16_t>(0x3FFF - 1100 + static_cast<int>(random() % 2200));
        const auto signAndExponent =
            static_cast<std::uint16_t>(exponent | ((random() & 1) != 0 ? 0x8000 : 0));
        const TExtended80 bytes = Bytes(significand, signAndExponent);
        long double hardware = 0;
        std::memcpy(&hardware, bytes.data(), bytes.size());
        EXPECT_EQ(Bits(Extended80ToDouble(bytes)), Bits(static_cast<double>(hardware)))
            << std::hex << significand << " " << signAndExponent;
    }
}

} // namespace
} // namespace kavrel
