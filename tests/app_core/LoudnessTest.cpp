#include "app/core/Loudness.h"
#include "app/core/TruePeak.h"

#include "TestSounds.h"
#include "sound/EWavError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>
#include <vector>

using namespace kavrel;
using namespace kavrel::testing_sounds;

namespace {

double Db(double ratio)
{
    return 20.0 * std::log10(ratio);
}

} // namespace

// The broadcasters' reference: a 1 kHz sine whose peak is at -23 dBFS in both channels reads
// -23 LUFS; one channel of it alone reads 3 LU less. The true peak of a sine between samples is
// its amplitude. The file read block by block gives the loaded sound's figures.
TEST(Loudness, ReferenceSinesReadTheirLoudnessAndPeak)
{
    struct TCase {
        int channels;
        int rate;
        double expectedLufs;
    };
    const double amplitude = 32768.0 * std::pow(10.0, -23.0 / 20.0);
    TScratchFolder dir;
    for (const TCase c : {TCase{2, 48000, -23.0}, TCase{1, 44100, -26.0}}) {
        const auto n = static_cast<std::size_t>(c.rate) * 20;
        const std::vector<std::vector<std::int16_t>> data(static_cast<std::size_t>(c.channels),
                                                          SineWave(n, 1000.0, c.rate, amplitude));
        const TWav wav = MakeWav(c.rate, data);
        const TLoudness l = AnalyzeLoudness(wav).value();
        EXPECT_NEAR(l.Integrated, c.expectedLufs, 0.1) << c.channels;
        EXPECT_NEAR(l.Range, 0.0, 0.1) << c.channels;
        EXPECT_NEAR(Db(l.TruePeak), -23.0, 0.2) << c.channels;

        const std::string path = dir.File("sine.wav");
        ASSERT_TRUE(wav.WriteFile(path));
        EXPECT_EQ(LoudnessText(AnalyzeFileLoudness(path)), LoudnessText(l));
        // Told to stop halfway, it stops there and gives nothing.
        double reached = 0.0;
        EXPECT_FALSE(AnalyzeLoudness(wav, [&](double f) {
                         reached = f;
                         return f < 0.5;
                     }).has_value());
        EXPECT_GE(reached, 0.5);
        EXPECT_LT(reached, 0.6);
    }
    EXPECT_THROW(AnalyzeFileLoudness(dir.File("missing.wav")), EWavError);
    EXPECT_THROW(FileLoudnessText(dir.File("missing.wav")), EWavError);
}

TEST(Loudness, TextGivesEachFigureWithItsUnit)
{
    EXPECT_EQ(LoudnessText(TLoudness{-16.66, 5.24, std::pow(10.0, -14.0 / 20.0)}),
              "Loudness: -16.7 LUFS : Range: 5.2 LU : True peak: -14.0 dBTP   ");
    // Silence has no level; a rate the measure does not take is named, not raised.
    const TWav silence = MakeWav(44100, {std::vector<std::int16_t>(44100, 0)});
    EXPECT_EQ(LoudnessText(silence),
              "Loudness: -inf LUFS : Range: 0.0 LU : True peak: -inf dBTP   ");
    EXPECT_EQ(LoudnessText(MakeWav(8, {std::vector<std::int16_t>(100, 5)})).value(),
              "Loudness: cannot be measured at 8 Hz with 1 channels   ");
}

// A sine whose samples all miss its crests (a quarter of the rate, 45 degrees off) reads its
// amplitude, 3 dB over the samples, within 0.15 dB at every rate that is oversampled (the
// interpolator's ripple that high up); from 192 kHz the samples are the measure. Blocks of any size
// give the same figure as one block.
TEST(TruePeak, FindsTheCrestsBetweenTheSamples)
{
    struct TCase {
        int rate;
        int factor;
        double expectedDb; // against the amplitude
    };
    const double amplitude = 16384.0;
    for (const TCase c : {TCase{44100, 4, 0.0}, TCase{48000, 4, 0.0}, TCase{96000, 2, 0.0},
                          TCase{192000, 1, -3.01}}) {
        std::vector<std::int16_t> stereo;
        for (int f = 0; f < c.rate / 10; ++f) {
            const double v = amplitude * std::sin(std::numbers::pi / 2 * f + std::numbers::pi / 4);
            stereo.push_back(static_cast<std::int16_t>(std::lround(v)));
            stereo.push_back(static_cast<std::int16_t>(std::lround(v / 2)));
        }
        TTruePeak whole(2, c.rate);
        whole.Add(stereo);
        EXPECT_EQ(whole.Factor(), c.factor);
        EXPECT_NEAR(Db(whole.Peak() * 32768.0 / amplitude), c.expectedDb, 0.15) << c.rate;
        TTruePeak pieces(2, c.rate);
        for (std::size_t at = 0; at < stereo.size(); at += 2 * 37)
            pieces.Add(std::span<const std::int16_t>(stereo).subspan(
                at, std::min<std::size_t>(2 * 37, stereo.size() - at)));
        EXPECT_FLOAT_EQ(static_cast<float>(pieces.Peak()), static_cast<float>(whole.Peak()))
            << c.rate;
    }
}
