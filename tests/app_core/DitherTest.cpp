// The 16-bit conversion with triangular dither and its generator.

#include "app/core/TDitherRandom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kavrel;

namespace {

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour)
{
    struct Case {
        double v, expected;
    };
    for (const Case& c : {Case{0.5, 0.0}, Case{1.5, 2.0}, Case{2.5, 2.0}, Case{-2.5, -2.0},
                          Case{-3.5, -4.0}, Case{32766.5, 32766.0}, Case{-32767.5, -32768.0},
                          Case{2.4999999, 2.0}, Case{2.5000001, 3.0}, Case{-0.2, -0.0}})
        EXPECT_EQ(RoundHalfEven(c.v), c.expected) << c.v;
}

TEST(DitherTo16, StaysWithinOneStepOfTheValueAndClampsBeyondFullScale)
{
    struct Case {
        double x;
        int lo, hi; // every result must lie in lo … hi
    };
    const double inf = std::numeric_limits<double>::infinity();
    for (const Case& c : {
             Case{0.0, -1, 1},
             Case{1000.0, 999, 1001},
             Case{-1000.0, -1001, -999},
             Case{100.25, 99, 101},
             Case{32765.0, 32764, 32766},
             Case{32766.0, 32765, 32767},
             Case{32767.9, 32765, 32767},
             Case{1e12, 32765, 32767},
             Case{inf, 32765, 32767},
             Case{-32767.0, -32768, -32766},
             Case{-40000.0, -32768, -32766},
             Case{-inf, -32768, -32766},
             Case{std::nan(""), -1, 1},
         }) {
        TDitherRandom random(42);
        int lo = 1 << 20;
        int hi = -(1 << 20);
        for (int i = 0; i < 20000; ++i) {
            const int v = DitherTo16(c.x, random);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        EXPECT_GE(lo, c.lo) << c.x;
        EXPECT_LE(hi, c.hi) << c.x;
    }
}

TEST(DitherTo16, IsUnbiasedBetweenSteps)
{
    // The dither turns a value between two steps into a mix of them whose mean is the value.
    for (double x : {0.25, -7.5, 1234.8}) {
        TDitherRandom random(7);
        double sum = 0.0;
        constexpr int n = 200000;
        for (int i = 0; i < n; ++i)
            sum += DitherTo16(x, random);
        EXPECT_NEAR(sum / n, x, 0.01) << x;
    }
}

TEST(TDitherRandom, TriangularOnMinusOneToOneWithItsVariance)
{
    TDitherRandom random(123);
    double sum = 0.0;
    double squares = 0.0;
    double lo = 1.0;
    double hi = -1.0;
    constexpr int n = 400000;
    int nearZero = 0;
    int nearEdge = 0;
    for (int i = 0; i < n; ++i) {
        const double d = random.Triangular();
        sum += d;
        squares += d * d;
        lo = std::min(lo, d);
        hi = std::max(hi, d);
        nearZero += std::fabs(d) < 0.1;
        nearEdge += std::fabs(d) > 0.9;
    }
    EXPECT_GT(lo, -1.0);
    EXPECT_LT(hi, 1.0);
    EXPECT_NEAR(sum / n, 0.0, 0.005);
    EXPECT_NEAR(squares / n, 1.0 / 6.0, 0.003);
    // Triangular, not uniform: 19 % of the draws lie within 0.1 of 0, 1 % beyond 0.9.
    EXPECT_NEAR(static_cast<double>(nearZero) / n, 0.19, 0.005);
    EXPECT_NEAR(static_cast<double>(nearEdge) / n, 0.01, 0.002);
}

TEST(TDitherRandom, SeedMakesTheSequenceRepeatable)
{
    TDitherRandom a(99);
    TDitherRandom b(99);
    TDitherRandom c(100);
    int differ = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::uint64_t va = a.Next();
        ASSERT_EQ(va, b.Next());
        differ += va != c.Next();
    }
    EXPECT_EQ(differ, 1000);
    a.Seed(5);
    b.Seed(5);
    EXPECT_EQ(a.Triangular(), b.Triangular());
}

} // namespace
