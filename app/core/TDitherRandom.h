#pragma once

// The conversion of every output sample to 16 bits with triangular dither, and its random
// generator. The generator is SplitMix64: one addition carries the state, so successive draws do
// not wait on each other, and a seed makes a run repeatable.

#include <cstdint>

namespace kavrel {

class TDitherRandom {
public:
    static constexpr std::uint64_t DefaultSeed = 0x4b617672656c2121ULL;

    explicit TDitherRandom(std::uint64_t seed = DefaultSeed) noexcept : m_state(seed) {}

    void Seed(std::uint64_t seed) noexcept { m_state = seed; }

    // The state that Seed would restore; the generator is a counter, so draw n (from 0) after it
    // comes from state State() + n·Increment, which lets long runs be split and drawn in parallel.
    std::uint64_t State() const noexcept { return m_state; }
    static constexpr std::uint64_t Increment = 0x9e3779b97f4a7c15ULL;
    // Skips n draws in one step.
    void Discard(std::uint64_t n) noexcept { m_state += n * Increment; }

    // 64 uniform random bits.
    std::uint64_t Next() noexcept
    {
        std::uint64_t z = (m_state += Increment);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // r1 − r2 for two successive uniform draws r1, r2 in [0, 1) of 32 bits each: triangular on
    // (−1, 1).
    double Triangular() noexcept
    {
        const std::uint64_t bits = Next();
        // The difference of the two 32-bit integers is exact, so one conversion serves both.
        const auto r1 = static_cast<std::int64_t>(bits >> 32);
        const auto r2 = static_cast<std::int64_t>(bits & 0xffffffffU);
        return static_cast<double>(r1 - r2) * 0x1p-32;
    }

private:
    std::uint64_t m_state;
};

// Round half to even of a value well inside ±2^51, without a library call: adding and taking
// away 1.5·2^52 leaves the nearest integer under the default rounding mode (IEEE arithmetic
// forbids the compiler to fold the two away).
inline double RoundHalfEven(double v) noexcept
{
    constexpr double magic = 6755399441055744.0;
    return (v + magic) - magic;
}

// x limited to −32767 … 32766, plus triangular dither, rounded half to even: always within
// −32768 … 32767. A value that is not a number gives dithered 0.
inline std::int16_t DitherTo16(double x, TDitherRandom& random) noexcept
{
    double c = x > 32766.0 ? 32766.0 : x;
    c = c < -32767.0 ? -32767.0 : c;
    if (c != c)
        c = 0.0;
    return static_cast<std::int16_t>(RoundHalfEven(c + random.Triangular()));
}

} // namespace kavrel
