#include "app/view/PlotColumns.h"
#include "app/view/TSoundSummary.h"

#include "TestWaves.h"
#include "sound/TWav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace kavrel {
namespace {

// A linear time axis lo … hi over `width` pixels, clamped to the range as an axis reads it.
TPixelToTime LinearAxis(double lo, double hi, int width)
{
    return [=](int p) {
        double v = lo + p * (hi - lo) / (width - 1);
        v = std::max(v, std::min(lo, hi));
        return std::min(v, std::max(lo, hi));
    };
}

TEST(PlotColumns, IndicesRoundHalvesToEvenAndStopOutsideTheSound)
{
    // Rate 1, half a second per pixel: the column ends are samples 0, 0, 1, 2, 2, 2, 3, and then
    // round(3.5) = 4 lies past the last sample.
    const std::vector<std::int16_t> s{10, -5, 7, 3};
    TWaveSummary summary;
    summary.Build(s);
    const TPixelToTime halfSeconds = [](int p) { return p * 0.5; };
    const std::vector<TPlotColumn> expected{{0, 10, 10}, {1, -5, 10}, {2, -5, 7},
                                            {3, 7, 7},   {4, 7, 7},   {5, 3, 7}};
    EXPECT_EQ(DirectPlotColumns(s, 1.0, 20, halfSeconds), expected);
    EXPECT_EQ(PlotColumns(summary, 1.0, 20, halfSeconds), expected);
}

TEST(PlotColumns, NothingBeforeTheSoundNorWithoutOne)
{
    const auto s = test::WalkWithSpikes(1000, 2);
    TWaveSummary summary;
    summary.Build(s);
    // The first column starts before the first sample.
    EXPECT_TRUE(PlotColumns(summary, 100.0, 500, LinearAxis(-0.01, 5.0, 500)).empty());
    EXPECT_TRUE(PlotColumns(summary, 100.0, 1, LinearAxis(0, 5.0, 1)).empty());
    EXPECT_TRUE(PlotColumns(summary, 100.0, 500, {}).empty());
    EXPECT_TRUE(PlotColumns(summary, NAN, 500, LinearAxis(0, 5.0, 500)).empty());
    EXPECT_TRUE(PlotColumns(summary, 100.0, 500, LinearAxis(0, 1e300, 500)).size() == 0);

    TWaveSummary empty;
    empty.Build({});
    EXPECT_TRUE(PlotColumns(empty, 100.0, 500, LinearAxis(0, 1, 500)).empty());
}

TEST(PlotColumns, ZoomedPastTheEndDrawsUpToTheLastSample)
{
    const auto s = test::WalkWithSpikes(1000, 2);
    TWaveSummary summary;
    summary.Build(s);
    // 1000 samples at 100 Hz are 10 s; an axis 0 … 20 s over 201 pixels has 0.1 s per pixel.
    const auto columns = PlotColumns(summary, 100.0, 201, LinearAxis(0, 20, 201));
    ASSERT_EQ(columns.size(), 99u);
    EXPECT_EQ(columns.back().X, 98);
    EXPECT_EQ(columns.back().Min, DirectMinMax(s, 980, 990).Min);
}

TEST(PlotColumns, ReversedAxisScansFromTheLowerEnd)
{
    const std::vector<std::int16_t> s{1, 2, 3, 4, 5};
    const auto columns = DirectPlotColumns(s, 1.0, 5, LinearAxis(4, 0, 5));
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_EQ(columns[0], (TPlotColumn{0, 4, 5}));
    EXPECT_EQ(columns[3], (TPlotColumn{3, 1, 2}));
}

// The identity the window relies on: the summaries give every plot the direct scan gives, on
// random zooms of mono and stereo sounds, from single samples per column to the whole sound.
TEST(PlotColumns, IdenticalToTheDirectScanOnRandomZooms)
{
    std::mt19937 rng(11);
    for (std::int32_t channels : {1, 2}) {
        TWav wav;
        wav.SetSampleRate(44100);
        wav.SetChannels(channels);
        wav.SetLength(44100 * 30 + 123);
        for (std::int32_t c = 0; c < channels; ++c) {
            const auto s = test::WalkWithSpikes(static_cast<std::size_t>(wav.Length()),
                                                static_cast<std::uint32_t>(channels * 10 + c));
            std::copy(s.begin(), s.end(), wav.MutableChannelSamples(c).begin());
        }
        TSoundSummary summary;
        summary.Build(wav);
        const double duration = wav.Duration();
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::uniform_int_distribution<int> widths(2, 2400);
        int drawnToEnd = 0;
        for (int trial = 0; trial < 150; ++trial) {
            const double span = duration * std::pow(10.0, -6.0 * unit(rng)) * 1.2;
            const double lo = (duration - span / 2) * unit(rng);
            const int width = widths(rng);
            const auto axis = LinearAxis(lo, lo + span, width);
            for (std::int32_t c = 0; c < channels; ++c) {
                const auto expected =
                    DirectPlotColumns(wav.ChannelSamples(c), wav.SampleRate(), width, axis);
                const auto got = PlotColumns(summary.Channel(c), wav.SampleRate(), width, axis);
                ASSERT_EQ(got, expected) << "channels " << channels << " lo " << lo << " span "
                                         << span << " width " << width;
                if (static_cast<int>(got.size()) < width - 1)
                    ++drawnToEnd;
            }
        }
        // Some zooms reached past the end, so the stopping rule was exercised as well.
        EXPECT_GT(drawnToEnd, 0);
    }
}

} // namespace
} // namespace kavrel
