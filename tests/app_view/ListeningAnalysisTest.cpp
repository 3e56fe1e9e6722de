// The meters' and the spectrum's figures against signals whose levels and spectra are known.

#include "app/view/ResponseCurve.h"
#include "app/view/TFrequencyPower.h"
#include "app/view/TLevelMeter.h"
#include "dsp/TFilterSection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace kavrel {
namespace {

// Stereo: amplitude·sin in both channels, rounded, frames from `first` on.
std::vector<std::int16_t> StereoSine(std::size_t frames, double hz, double rate, double amplitude,
                                     std::size_t first = 0)
{
    std::vector<std::int16_t> v(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(first + i) / rate;
        v[2 * i] = v[2 * i + 1] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * t)));
    }
    return v;
}

TEST(LevelMeter, SineReadsItsPeakAndRmsAndTheHoldFallsAfterItsTime)
{
    const int rate = 48000;
    TLevelMeter meter(2, rate, 32765);
    const double amplitude = 32768.0 * std::pow(10.0, -6.0 / 20.0);
    // Half a second in blocks of 10 ms, as the feed hands them on.
    for (std::size_t b = 0; b < 50; ++b)
        meter.Add(StereoSine(480, 997.0, rate, amplitude, b * 480));
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(meter.Reading(c).PeakDb, -6.0, 0.1);
        EXPECT_NEAR(meter.Reading(c).RmsDb, -9.0, 0.1);
        EXPECT_NEAR(meter.Reading(c).HoldDb, -6.0, 0.1);
    }
    // Quiet: the peak drops at once, the hold stays for 1.5 s and then follows.
    const auto quiet = StereoSine(480, 997.0, rate, 100.0);
    for (int b = 0; b < 149; ++b)
        meter.Add(quiet);
    EXPECT_LT(meter.Reading(0).PeakDb, -40.0);
    EXPECT_LT(meter.Reading(0).RmsDb, -40.0) << "300 ms of quiet fill the RMS window";
    EXPECT_NEAR(meter.Reading(0).HoldDb, -6.0, 0.1);
    meter.Add(quiet);
    meter.Add(quiet);
    EXPECT_EQ(meter.Reading(0).HoldDb, meter.Reading(0).PeakDb);
    EXPECT_EQ(meter.Overloads(), 0);
}

TEST(LevelMeter, CountsValuesBeyondTheLampsLimitUntilReset)
{
    TLevelMeter meter(2, 8000, 32765);
    meter.Add(std::vector<std::int16_t>{32765, -32765, 32766, -32768, 32767, 0});
    EXPECT_EQ(meter.Overloads(), 3);
    EXPECT_EQ(meter.Reading(1).PeakDb, 0.0);
    meter.Add({});
    EXPECT_EQ(meter.Reading(1).PeakDb, 0.0) << "nothing new heard keeps the reading";
    meter.Reset();
    EXPECT_EQ(meter.Overloads(), 0);
    EXPECT_EQ(meter.Reading(0).RmsDb, TLevelMeter::FloorDb);
}

// Every channel a level of its own, in pieces of uneven lengths that cross the ring's end, one of
// them longer than the whole RMS window: each reading is that of the values themselves.
TEST(LevelMeter, EachChannelReadsItsOwnValuesWhateverThePieces)
{
    const int rate = 1000; // an RMS window of 300 frames
    for (const int channels : {1, 2, 3, 8}) {
        const auto n = static_cast<std::size_t>(channels);
        TLevelMeter meter(channels, rate, 30000);
        std::mt19937 random(static_cast<std::uint32_t>(channels));
        std::vector<std::int16_t> heard;
        std::int64_t overloads = 0;
        const std::size_t pieces[] = {7, 64, 333, 1, 250, 701, 16, 90};
        for (const std::size_t frames : pieces) {
            std::vector<std::int16_t> piece(frames * n);
            for (std::size_t i = 0; i < piece.size(); ++i) {
                // Channel c reaches about 32768 / (c + 1), the first one beyond the limit.
                const int reach = 32767 / static_cast<int>(i % n + 1);
                piece[i] = static_cast<std::int16_t>(
                    std::uniform_int_distribution<int>(-reach - 1, reach)(random));
                overloads += std::abs(piece[i]) > 30000;
            }
            meter.Add(piece);
            heard.insert(heard.end(), piece.begin(), piece.end());
            const std::size_t kept = std::min<std::size_t>(heard.size() / n, 300);
            for (std::size_t c = 0; c < n; ++c) {
                std::int32_t peak = 0;
                for (std::size_t i = c; i < piece.size(); i += n)
                    peak = std::max(peak, std::abs(static_cast<std::int32_t>(piece[i])));
                double squares = 0;
                for (std::size_t f = heard.size() / n - kept; f < heard.size() / n; ++f)
                    squares += static_cast<double>(heard[f * n + c]) * heard[f * n + c];
                const TMeterReading r = meter.Reading(static_cast<int>(c));
                const auto db = [](double v) { return 20 * std::log10(v / 32768.0); };
                EXPECT_NEAR(r.PeakDb, db(peak), 1e-9) << channels << " channels, " << c;
                EXPECT_NEAR(r.RmsDb, db(std::sqrt(squares / static_cast<double>(kept))), 1e-9)
                    << channels << " channels, " << c << " after " << frames;
            }
            EXPECT_EQ(meter.Overloads(), overloads) << channels << " channels";
        }
    }
}

TEST(Spectrum, SinePeaksWithinOneBinOfItsFrequencyAtItsLevel)
{
    for (const double rate : {44100.0, 48000.0, 96000.0}) {
        TFrequencyPower spectrum;
        std::vector<double> samples(static_cast<std::size_t>(spectrum.Size()));
        for (int block = 0; block < 5; ++block) {
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] =
                    0.5 *
                    std::sin(2 * std::numbers::pi * 1000.0 *
                             (static_cast<double>(block * 1000) + static_cast<double>(i)) / rate);
            spectrum.Add(samples);
        }
        const double binHz = rate / spectrum.Size();
        EXPECT_LE(std::abs(spectrum.PeakBin() * binHz - 1000.0), binHz) << rate;
        const double peakDb =
            10 * std::log10(spectrum.Power()[static_cast<std::size_t>(spectrum.PeakBin())]);
        // Half of full scale, less what falls between two bins (at most 1.5 dB for Hann).
        EXPECT_GT(peakDb, -6.02 - 1.5) << rate;
        EXPECT_LT(peakDb, -6.02 + 0.01) << rate;
    }
}

// White noise through the filter: the spectrum follows the filter's drawn response, offset by
// the noise's own level.
TEST(Spectrum, FilteredWhiteNoiseFollowsTheResponse)
{
    const double rate = 44100.0;
    TFilterSection filter;
    filter.SetUseF0BW(true);
    filter.SetSampFreq(rate);
    filter.SetPoleF0(400.0);
    filter.SetPoleBW(200.0);
    filter.SetZeroF0(3000.0);
    filter.SetZeroBW(3000.0);
    filter.SetGain(0.5);

    TFrequencyPower spectrum;
    const auto size = static_cast<std::size_t>(spectrum.Size());
    std::mt19937 gen(20);
    std::uniform_real_distribution<double> noise(-0.5, 0.5);
    std::vector<double> signal(size / 2 * 801);
    for (double& s : signal)
        s = filter.Process(noise(gen));
    // Half-overlapping transforms, averaged alike.
    for (std::size_t k = 0; k + size <= signal.size(); k += size / 2)
        spectrum.Add(std::span<const double>(signal).subspan(k, size),
                     1.0 / static_cast<double>(k / (size / 2) + 1));

    const int points = 600;
    const auto measured = SpectrumCurve(spectrum.Power(), rate, points);
    const auto drawn = ResponseCurve(filter, points);
    ASSERT_EQ(measured.size(), drawn.size());
    std::vector<double> offsets;
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        ASSERT_EQ(measured[i].Hz, drawn[i].Hz);
        if (drawn[i].Hz >= 50.0 && drawn[i].Hz <= 10000.0)
            offsets.push_back(measured[i].Db - drawn[i].Db);
    }
    std::nth_element(offsets.begin(),
                     offsets.begin() + static_cast<std::ptrdiff_t>(offsets.size() / 2),
                     offsets.end());
    const double level = offsets[offsets.size() / 2];
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        if (drawn[i].Hz >= 50.0 && drawn[i].Hz <= 10000.0) {
            EXPECT_NEAR(measured[i].Db - level, drawn[i].Db, 1.0) << drawn[i].Hz << " Hz";
        }
    }
}

TEST(SpectrumCurve, EmptyWhenThereIsNothingToSpan)
{
    const std::vector<double> power(2049, 1.0);
    EXPECT_TRUE(SpectrumCurve(power, 44100.0, 1).empty());
    EXPECT_TRUE(SpectrumCurve(power, 16.0, 100).empty());
    EXPECT_TRUE(SpectrumCurve(std::vector<double>(1, 1.0), 44100.0, 100).empty());
    const auto flat = SpectrumCurve(power, 44100.0, 100);
    ASSERT_EQ(flat.size(), 100U);
    EXPECT_DOUBLE_EQ(flat.front().Hz, 10.0);
    EXPECT_DOUBLE_EQ(flat.back().Hz, 22050.0);
    for (const TResponsePoint& p : flat)
        EXPECT_NEAR(p.Db, 0.0, 1e-12);
}

} // namespace
} // namespace kavrel
