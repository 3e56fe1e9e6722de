#include "app/view/TWaveSummary.h"
#include "app/view/TSoundSummary.h"

#include "TestWaves.h"
#include "sound/TWav.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace kavrel {
namespace {

TEST(DirectMinMax, EmptyRunKeepsTheStartingValues)
{
    const std::vector<std::int16_t> s{5, -3, 9};
    EXPECT_EQ(DirectMinMax(s, 2, 1), (TMinMax{32768, -32768}));
    EXPECT_EQ(DirectMinMax(s, 1, 1), (TMinMax{-3, -3}));
    EXPECT_EQ(DirectMinMax(s, 0, 2), (TMinMax{-3, 9}));
}

TEST(DirectMinMax, FullScaleExtremes)
{
    const std::vector<std::int16_t> s{-32768, 32767};
    EXPECT_EQ(DirectMinMax(s, 0, 1), (TMinMax{-32768, 32767}));
}

// Every run whose ends lie on or next to a block boundary of any level, and at the sound's ends.
TEST(TWaveSummary, MatchesTheDirectScanAtEveryBoundary)
{
    const std::size_t count = 2 * 65536 + 2 * 4096 + 300;
    const auto samples = test::WalkWithSpikes(count, 1);
    TWaveSummary summary;
    summary.Build(samples);

    // Every boundary of the two coarse levels; the finest level's first boundaries and those
    // around the coarsest ones.
    std::set<std::size_t> ends{0, 1, count - 2, count - 1};
    for (std::size_t b = 256; b < count; b += 256) {
        const bool coarse = b % 4096 == 0;
        const bool nearTop = b % 65536 <= 512 || b % 65536 >= 65536 - 512;
        if (coarse || nearTop || b < 3 * 256)
            for (std::size_t at : {b - 1, b, b + 1})
                ends.insert(at);
    }
    for (std::size_t first : ends)
        for (std::size_t last : ends)
            ASSERT_EQ(summary.MinMax(first, last), DirectMinMax(samples, first, last))
                << "run " << first << " … " << last;
}

TEST(TWaveSummary, MatchesTheDirectScanOnRandomRuns)
{
    std::mt19937 rng(7);
    for (std::size_t count : {1u, 255u, 256u, 257u, 4096u, 65535u, 65536u, 65537u, 1000003u}) {
        const auto samples = test::WalkWithSpikes(count, static_cast<std::uint32_t>(count));
        TWaveSummary summary;
        summary.Build(samples);
        std::uniform_int_distribution<std::size_t> pos(0, count - 1);
        for (int i = 0; i < 3000; ++i) {
            std::size_t first = pos(rng);
            // Short runs as often as long ones: the length is log-uniform.
            const double len = std::exp(std::uniform_real_distribution<double>(
                0.0, std::log(static_cast<double>(count)))(rng));
            const std::size_t last = std::min(count - 1, first + static_cast<std::size_t>(len));
            ASSERT_EQ(summary.MinMax(first, last), DirectMinMax(samples, first, last))
                << "count " << count << " run " << first << " … " << last;
        }
    }
}

// Long enough to be scanned by several threads, with an odd tail after the last whole block.
TEST(TWaveSummary, LongSoundScannedInPartsMatchesTheDirectScan)
{
    const std::size_t count = 6'000'000 + 77;
    const auto samples = test::WalkWithSpikes(count, 5);
    TWaveSummary summary;
    summary.Build(samples);
    ASSERT_EQ(summary.BlockCount(0), count / 256);
    std::mt19937 rng(9);
    std::uniform_int_distribution<std::size_t> pos(0, count - 1);
    for (int i = 0; i < 400; ++i) {
        std::size_t a = pos(rng);
        std::size_t b = pos(rng);
        if (a > b)
            std::swap(a, b);
        ASSERT_EQ(summary.MinMax(a, b), DirectMinMax(samples, a, b)) << a << " … " << b;
    }
    EXPECT_EQ(summary.MinMax(0, count - 1), DirectMinMax(samples, 0, count - 1));
}

TEST(TWaveSummary, LevelsHoldTheWholeBlocksOnly)
{
    const std::vector<std::int16_t> samples(65536 + 4095, 0);
    TWaveSummary summary;
    summary.Build(samples);
    EXPECT_EQ(summary.BlockCount(0), (65536 + 4095) / 256);
    EXPECT_EQ(summary.BlockCount(1), 16u);
    EXPECT_EQ(summary.BlockCount(2), 1u);
    EXPECT_EQ(summary.BlockCount(3), 0u);
}

TEST(TWaveSummary, OutOfRangeAndEmptyRunsGiveTheStartingValues)
{
    const auto samples = test::WalkWithSpikes(1000, 3);
    TWaveSummary summary;
    summary.Build(samples);
    EXPECT_EQ(summary.MinMax(10, 9), TMinMax{});
    EXPECT_EQ(summary.MinMax(0, 1000), TMinMax{});

    TWaveSummary empty;
    empty.Build({});
    EXPECT_EQ(empty.Count(), 0u);
    EXPECT_EQ(empty.MinMax(0, 0), TMinMax{});
}

TEST(TWaveSummary, RebuildFollowsNewSamplesAndClearForgets)
{
    auto samples = test::WalkWithSpikes(70000, 4);
    TWaveSummary summary;
    summary.Build(samples);
    EXPECT_TRUE(summary.Matches(samples));
    samples[40000] = 32767;
    summary.Build(samples);
    EXPECT_EQ(summary.MinMax(0, 69999).Max, 32767);
    const std::vector<std::int16_t> other(samples);
    EXPECT_FALSE(summary.Matches(other));
    summary.Clear();
    EXPECT_EQ(summary.Count(), 0u);
    EXPECT_EQ(summary.MinMax(0, 0), TMinMax{});
}

TEST(TSoundSummary, SummarisesEveryChannelOfTheSound)
{
    TWav wav;
    wav.SetSampleRate(8000);
    wav.SetChannels(2);
    wav.SetLength(70000);
    for (std::int32_t c = 0; c < 2; ++c) {
        const auto s = test::WalkWithSpikes(70000, static_cast<std::uint32_t>(10 + c));
        std::copy(s.begin(), s.end(), wav.MutableChannelSamples(c).begin());
    }
    TSoundSummary summary;
    summary.Build(wav);
    ASSERT_EQ(summary.Channels(), 2);
    EXPECT_TRUE(summary.Matches(wav));
    for (std::int32_t c = 0; c < 2; ++c)
        EXPECT_EQ(summary.Channel(c).MinMax(100, 69000),
                  DirectMinMax(wav.ChannelSamples(c), 100, 69000));
    EXPECT_EQ(summary.Channel(2).Count(), 0u);
    EXPECT_EQ(summary.Channel(-1).Count(), 0u);

    wav.SetChannels(1);
    EXPECT_FALSE(summary.Matches(wav));
    summary.Build(wav);
    EXPECT_EQ(summary.Channels(), 1);
    EXPECT_TRUE(summary.Matches(wav));
}

} // namespace
} // namespace kavrel
