// The Analyze levels and text on signals whose levels are known.

#include "app/core/LevelAnalysis.h"
#include "tests/app_core/TestSounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace kavrel;
using namespace kavrel::testing_sounds;

namespace {

std::vector<std::int16_t> Square(std::size_t n, std::int16_t hi, std::int16_t lo)
{
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = (i / 50) % 2 == 0 ? hi : lo;
    return v;
}

TEST(LevelText, KnownSignalsGiveTheirLevels)
{
    // A −6 dBFS sine at fs/48 (its peak falls on a sample): RMS 3.01 dB below its peak.
    const double amplitude = 32768.0 * std::pow(10.0, -6.0 / 20.0);
    const TWav wav = MakeWav(48000, {
                                        SineWave(48000, 1000.0, 48000.0, amplitude),
                                        Square(48000, -32768, 32767),
                                        std::vector<std::int16_t>(48000, 0),
                                        Square(48000, 3277, -3277),
                                    });
    EXPECT_EQ(LevelText(wav), "Ch 0: RMS=-9.01 dB : Peak=-6.00 dB : Crest=3.01 dB   "
                              "Ch 1: RMS=0.00 dB : Peak=0.00 dB : Crest=0.00 dB   "
                              "Ch 2: RMS=-inf dB : Peak=-inf dB : Crest=-inf dB   "
                              "Ch 3: RMS=-20.00 dB : Peak=-20.00 dB : Crest=0.00 dB   ");
}

TEST(LevelText, NoSoundAndEmptyChannels)
{
    EXPECT_EQ(LevelText(TWav()), "No sound loaded");
    TWav empty;
    empty.SetSampleRate(44100);
    empty.SetChannels(1);
    empty.SetLength(0);
    EXPECT_EQ(LevelText(empty), "Ch 0: RMS=-inf dB : Peak=-inf dB : Crest=-inf dB   ");
}

TEST(AnalyzeLevels, RmsAndPeakAreFractionsOfFullScale)
{
    const TWav wav = MakeWav(8000, {{16384, -16384, 0, 0}, {-32768, 0, 0, 0}});
    const auto levels = AnalyzeLevels(wav);
    ASSERT_EQ(levels.size(), 2U);
    EXPECT_DOUBLE_EQ(levels[0].Rms, std::sqrt(0.5 * 0.5 / 2.0));
    EXPECT_DOUBLE_EQ(levels[0].Peak, 0.5);
    EXPECT_DOUBLE_EQ(levels[1].Rms, 0.5);
    EXPECT_DOUBLE_EQ(levels[1].Peak, 1.0);
}

TEST(AnalyzeLevels, LengthNotAMultipleOfTheUnrollingIsCountedWhole)
{
    // The peak and the energy sit in the last samples, past any whole group of eight.
    for (std::size_t n : {1U, 7U, 9U, 17U, 1001U}) {
        std::vector<std::int16_t> v(n, 0);
        v[n - 1] = -12000;
        const auto levels = AnalyzeLevels(MakeWav(8000, {v}));
        EXPECT_DOUBLE_EQ(levels[0].Peak, 12000.0 / 32768.0) << n;
        EXPECT_DOUBLE_EQ(levels[0].Rms, 12000.0 / 32768.0 / std::sqrt(static_cast<double>(n))) << n;
    }
}

TEST(AnalyzeLevels, FullScaleNegativeSamplesDoNotOverflow)
{
    // 2 · 32768² is the largest sum of two squares: it must count as 2^31, not wrap negative.
    const auto levels = AnalyzeLevels(MakeWav(8000, {std::vector<std::int16_t>(1003, -32768)}));
    EXPECT_DOUBLE_EQ(levels[0].Rms, 1.0);
    EXPECT_DOUBLE_EQ(levels[0].Peak, 1.0);
}

TEST(FormatLevelDb, TwoDecimalsWithAPointAndMinusInfForSilence)
{
    struct Case {
        double ratio;
        const char* text;
    };
    for (const Case& c : {Case{1.0, "0.00"}, Case{0.5, "-6.02"}, Case{2.0, "6.02"},
                          Case{0.1, "-20.00"}, Case{0.99999, "0.00"}, Case{1e-10, "-200.00"},
                          Case{0.0, "-inf"}, Case{std::nan(""), "-inf"}, Case{-1.0, "-inf"}})
        EXPECT_EQ(FormatLevelDb(c.ratio), c.text) << c.ratio;
}

} // namespace

// The levels read straight from a file are those of the loaded sound, for every channel layout
// the block loops treat apart (mono, stereo, more, in runs of one or several vectors) and lengths
// that end inside a vector.
TEST(AnalyzeFileLevels, EqualsTheLevelsOfTheLoadedSound)
{
    TScratchFolder dir;
    for (const std::size_t chans : {1U, 2U, 3U, 5U, 8U, 12U}) {
        for (const std::size_t n : {0U, 1U, 7U, 300001U}) {
            std::vector<std::vector<std::int16_t>> data;
            for (std::size_t c = 0; c < chans; ++c)
                data.push_back(Noise(n, c == 1 ? 32768 : 9000 + 1000 * static_cast<int>(c),
                                     static_cast<unsigned>(c + 7 * n)));
            if (chans > 1 && n > 0)
                data[1][n - 1] = -32768; // the extreme in the last, unvectorised frame
            const std::string path = dir.File("levels.wav");
            ASSERT_TRUE(MakeWav(44100, data).WriteFile(path));
            TWav loaded;
            ASSERT_TRUE(loaded.ReadFile(path));
            const std::vector<TChannelLevels> expected = AnalyzeLevels(loaded);
            const std::vector<TChannelLevels> got = AnalyzeFileLevels(path);
            ASSERT_EQ(got.size(), expected.size()) << chans << " " << n;
            for (std::size_t c = 0; c < chans; ++c) {
                EXPECT_EQ(got[c].Rms, expected[c].Rms) << chans << " " << n << " ch " << c;
                EXPECT_EQ(got[c].Peak, expected[c].Peak) << chans << " " << n << " ch " << c;
            }
            EXPECT_EQ(LevelText(got), LevelText(loaded));
        }
    }
    EXPECT_THROW(AnalyzeFileLevels(dir.File("missing.wav")), EWavError);
}
