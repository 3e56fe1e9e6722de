#include "app/core/Loudness.h"
#include "app/core/KWeighting.h"
#include "app/core/TruePeak.h"

#include "TestSounds.h"
#include "sound/EWavError.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
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

// The vector paths this processor runs, for KAVREL_SIMD.
std::vector<std::string> Paths()
{
    std::vector<std::string> names;
    for (const char* simd : {"", "avx2", "base"}) {
        ::setenv("KAVREL_SIMD", simd, 1);
        const std::string name = TKWeighting(1, 48000).PathName();
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    ::unsetenv("KAVREL_SIMD");
    return names;
}

// libebur128's integrated loudness and range of interleaved values, as the reference.
std::pair<double, double> LibraryLoudness(int channels, int rate,
                                          const std::vector<std::int16_t>& interleaved)
{
    ebur128_state* st =
        ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                     EBUR128_MODE_I | EBUR128_MODE_LRA);
    EXPECT_NE(st, nullptr);
    if (st == nullptr)
        return {0.0, 0.0};
    ebur128_add_frames_short(st, interleaved.data(),
                             interleaved.size() / static_cast<std::size_t>(channels));
    double integrated = 0.0;
    double range = 0.0;
    ebur128_loudness_global(st, &integrated);
    ebur128_loudness_range(st, &range);
    ebur128_destroy(&st);
    return {integrated, range};
}

} // namespace

// The gated loudness and the range agree with libebur128's within 0.01 LU on every vector path:
// noise whose level steps every second (long enough for mono and stereo to be cut into stretches
// filtered side by side), in each channel at its own level, a low tone that
// leans on the high pass, silence, a sound shorter than one block, and a sound only in the LFE.
TEST(Loudness, AgreesWithTheLibrary)
{
    enum class TSignal { SteppedNoise, LowTone, Silence, LfeOnly };
    struct TCase {
        int channels;
        int rate;
        double seconds;
        TSignal signal;
    };
    const TCase cases[] = {
        {1, 22050, 36.0, TSignal::SteppedNoise}, {2, 44100, 20.0, TSignal::SteppedNoise},
        {1, 44100, 8.0, TSignal::SteppedNoise},  {2, 48000, 9.5, TSignal::LowTone},
        {5, 48000, 8.0, TSignal::SteppedNoise},  {6, 96000, 8.0, TSignal::SteppedNoise},
        {8, 96000, 5.0, TSignal::SteppedNoise},  {3, 11025, 9.0, TSignal::SteppedNoise},
        {2, 44100, 5.0, TSignal::Silence},       {2, 48000, 0.35, TSignal::SteppedNoise},
        {6, 48000, 5.0, TSignal::LfeOnly},       {4, 44100, 8.0, TSignal::SteppedNoise},
    };
    for (const std::string& path : Paths())
        for (const TCase& k : cases) {
            ::setenv("KAVREL_SIMD", path.c_str(), 1);
            const auto frames = static_cast<std::size_t>(k.seconds * k.rate);
            const auto n = static_cast<std::size_t>(k.channels);
            std::vector<std::int16_t> interleaved(frames * n, 0);
            for (std::size_t c = 0; c < n; ++c) {
                const std::vector<std::int16_t> noise =
                    Noise(frames, 30000, static_cast<unsigned>(c + 1));
                for (std::size_t f = 0; f < frames; ++f) {
                    // -6, -16 … -36 dB, a second each, channel by channel a dB lower.
                    const double step =
                        static_cast<double>((f / static_cast<std::size_t>(k.rate)) % 4);
                    const double gain =
                        std::pow(10.0, (-10.0 * step - static_cast<double>(c)) / 20.0);
                    double v = 0.0;
                    if (k.signal == TSignal::SteppedNoise)
                        v = noise[f] * gain;
                    else if (k.signal == TSignal::LowTone)
                        v = 20000.0 * std::sin(2.0 * std::numbers::pi * 25.0 *
                                               static_cast<double>(f) / k.rate);
                    else if (k.signal == TSignal::LfeOnly && c == 3)
                        v = noise[f];
                    interleaved[f * n + c] = static_cast<std::int16_t>(std::lround(v));
                }
            }
            const auto [integrated, range] = LibraryLoudness(k.channels, k.rate, interleaved);
            TLoudnessMeter meter(k.channels, k.rate);
            // Blocks of an odd size, so that they end within frames and within 100 ms.
            for (std::size_t at = 0; at < interleaved.size(); at += 977 * n)
                meter.Add(std::span<const std::int16_t>(interleaved)
                              .subspan(at, std::min(977 * n, interleaved.size() - at)));
            const TLoudness l = meter.Result();
            const std::string what = path + ", " + std::to_string(k.channels) + " channels at " +
                                     std::to_string(k.rate) + " Hz, signal " +
                                     std::to_string(static_cast<int>(k.signal));
            if (std::isinf(integrated))
                EXPECT_EQ(l.Integrated, integrated) << what;
            else
                EXPECT_NEAR(l.Integrated, integrated, 0.01) << what;
            EXPECT_NEAR(l.Range, range, 0.01) << what;
        }
    ::unsetenv("KAVREL_SIMD");
}

// The two stages at 48 kHz have the standard's coefficients.
TEST(Loudness, KWeightingAt48kHzIsTheStandards)
{
    const std::array<TKStage, 2> k = KWeightingStages(48000);
    EXPECT_NEAR(k[0].B0, 1.53512485958697, 1e-9);
    EXPECT_NEAR(k[0].B1, -2.69169618940638, 1e-9);
    EXPECT_NEAR(k[0].B2, 1.19839281085285, 1e-9);
    EXPECT_NEAR(k[0].A1, -1.69065929318241, 1e-9);
    EXPECT_NEAR(k[0].A2, 0.73248077421585, 1e-9);
    EXPECT_EQ(k[1].B0, 1.0);
    EXPECT_EQ(k[1].B1, -2.0);
    EXPECT_EQ(k[1].B2, 1.0);
    EXPECT_NEAR(k[1].A1, -1.99004745483398, 1e-9);
    EXPECT_NEAR(k[1].A2, 0.99007225036621, 1e-9);
}

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
        const std::string analysis = FileAnalysisText(path);
        EXPECT_EQ(analysis.substr(analysis.find('\n') + 1), LoudnessText(l) + "\n");
        // Told to stop halfway, it stops there and gives nothing.
        double reached = 0.0;
        EXPECT_FALSE(AnalyzeLoudness(wav, [&](double f) {
                         reached = f;
                         return f < 0.5;
                     }).has_value());
        EXPECT_GE(reached, 0.5);
        EXPECT_LT(reached, 0.6);
    }
    EXPECT_THROW(FileAnalysisText(dir.File("missing.wav")), EWavError);
}

TEST(Loudness, TextGivesEachFigureWithItsUnit)
{
    EXPECT_EQ(LoudnessText(TLoudness{-16.66, 5.24, std::pow(10.0, -14.0 / 20.0)}),
              "Loudness: -16.7 LUFS : Range: 5.2 LU : True peak: -14.0 dBTP   ");
    // Silence has no level; a rate or a channel count the measure does not take is named, not
    // raised.
    const TWav silence = MakeWav(44100, {std::vector<std::int16_t>(44100, 0)});
    EXPECT_EQ(LoudnessText(silence),
              "Loudness: -inf LUFS : Range: 0.0 LU : True peak: -inf dBTP   ");
    EXPECT_EQ(LoudnessText(MakeWav(8, {std::vector<std::int16_t>(100, 5)})).value(),
              "Loudness: cannot be measured at 8 Hz with 1 channels   ");
    EXPECT_EQ(LoudnessText(MakeWav(48000, std::vector<std::vector<std::int16_t>>(
                                              65, std::vector<std::int16_t>(100, 5))))
                  .value(),
              "Loudness: cannot be measured at 48000 Hz with 65 channels   ");
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

// Interleaved channels read as each channel alone, on every vector path and for channel counts
// whose taps share their loads (1, 2, 4, 8) and those whose do not: each channel's noise has its
// own level, so a tap taken from the wrong channel shows.
TEST(TruePeak, InterleavedChannelsReadAsEachAlone)
{
    for (const std::string& path : Paths())
        for (const int rate : {48000, 96000})
            for (const int channels : {1, 2, 3, 4, 5, 8, 11}) {
                ::setenv("KAVREL_SIMD", path.c_str(), 1);
                const auto n = static_cast<std::size_t>(channels);
                const std::size_t frames = 3001;
                std::vector<std::int16_t> interleaved(frames * n);
                double alone = 0.0;
                for (std::size_t c = 0; c < n; ++c) {
                    const std::vector<std::int16_t> noise =
                        Noise(frames, 3000 + 2500 * static_cast<int>((c * 5) % n),
                              7 + static_cast<unsigned>(c));
                    TTruePeak one(1, rate);
                    one.Add(noise);
                    alone = std::max(alone, one.Peak());
                    for (std::size_t f = 0; f < frames; ++f)
                        interleaved[f * n + c] = noise[f];
                }
                TTruePeak all(channels, rate);
                all.Add(interleaved);
                EXPECT_NEAR(all.Peak(), alone, 1e-6) << path << ", " << channels << " channels";
            }
    ::unsetenv("KAVREL_SIMD");
}

// The meter's figures do not depend on how its values come: in blocks of an odd size written
// where Place says, or all at once (more than a slot holds, for 64 channels), over more slots
// than its queue holds, so that every thread takes true peaks; and its true peak is that of the
// values measured in one go.
TEST(Loudness, MeterGivesTheSameFiguresHoweverItIsFed)
{
    for (const std::string& path : Paths())
        for (const int channels : {2, 8, 64}) {
            ::setenv("KAVREL_SIMD", path.c_str(), 1);
            const auto n = static_cast<std::size_t>(channels);
            const std::vector<std::int16_t> values = Noise((8 << 20) / n * n, 20000, 5);
            TLoudnessMeter whole(channels, 96000);
            whole.Add(values);
            TLoudnessMeter placed(channels, 96000);
            for (std::size_t at = 0; at < values.size();) {
                const std::span<std::int16_t> there =
                    placed.Place(std::min(977 * n, values.size() - at));
                std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(at), there.size(),
                            there.begin());
                placed.Add(there);
                at += there.size();
            }
            TTruePeak alone(channels, 96000);
            alone.Add(values);
            const TLoudness a = whole.Result();
            const TLoudness b = placed.Result();
            const std::string what = path + ", " + std::to_string(channels) + " channels";
            EXPECT_EQ(a.Integrated, b.Integrated) << what;
            EXPECT_EQ(a.Range, b.Range) << what;
            EXPECT_NEAR(a.TruePeak, alone.Peak(), 1e-6) << what;
            EXPECT_NEAR(b.TruePeak, alone.Peak(), 1e-6) << what;
        }
    ::unsetenv("KAVREL_SIMD");
}

// A true peak restarted after the values before a block reads, with theirs, as one that took them
// all in one go, wherever the block starts: within the interpolator's reach of the start too.
TEST(TruePeak, RestartedAfterTheValuesBeforeReadsAsInOneGo)
{
    for (const std::string& path : Paths())
        for (const int rate : {48000, 96000})
            for (const int channels : {1, 3}) {
                ::setenv("KAVREL_SIMD", path.c_str(), 1);
                const auto n = static_cast<std::size_t>(channels);
                const std::vector<std::int16_t> values = Noise(60 * n, 30000, 9);
                TTruePeak whole(channels, rate);
                whole.Add(values);
                for (std::size_t split = n; split < values.size(); split += n) {
                    const std::span<const std::int16_t> all(values);
                    TTruePeak first(channels, rate);
                    first.Add(all.first(split));
                    TTruePeak second(channels, rate);
                    second.Restart(all.first(split));
                    second.Add(all.subspan(split));
                    EXPECT_NEAR(std::max(first.Peak(), second.Peak()), whole.Peak(), 1e-6)
                        << path << ", " << channels << " channels at " << rate << " Hz, from "
                        << split;
                }
            }
    ::unsetenv("KAVREL_SIMD");
}

// A block, or a channel of it, is left out only when none of its values can exceed the peak found:
// the figure is that of every block of each channel measured by a meter of its own. In one
// channel a shape comes twice, the later one a step higher: values alternating in sign as the
// interpolator's coefficients do (the most a phase can give), or those of it before a block, all
// but its newest, so that only the values before the block raise the peak. The other channels
// hold slow sines, loud but too smooth to raise it. Alone, and by two meters that share their
// peak, one for each half.
TEST(TruePeak, LeavesOutOnlyBlocksThatCannotRaiseThePeak)
{
    constexpr std::size_t Block = TTruePeak::BlockFrames;
    for (const std::string& path : Paths())
        for (const int rate : {44100, 96000})
            for (const int channels : {1, 2, 3, 8, 11})
                for (const bool beforeBlock : {false, true}) {
                    ::setenv("KAVREL_SIMD", path.c_str(), 1);
                    SCOPED_TRACE(path + ", " + std::to_string(channels) + " channels at " +
                                 std::to_string(rate) +
                                 (beforeBlock ? " Hz, before a block" : " Hz"));
                    const auto n = static_cast<std::size_t>(channels);
                    std::vector<std::int16_t> values(6 * Block * n);
                    for (std::size_t f = 0; f < 6 * Block; ++f)
                        for (std::size_t c = 0; c + 1 < n; ++c)
                            values[f * n + c] = static_cast<std::int16_t>(std::lround(
                                15000.0 * std::sin(static_cast<double>(f * (c + 1)) / 100.0)));
                    // Half the values a value between the samples takes, whose middle it lies in.
                    const std::size_t half = (TTruePeak(1, rate).HistoryValues() + 1) / 2;
                    for (const int step : {0, 1}) {
                        const std::size_t middle =
                            (step == 0 ? 2 : 5) * Block - (beforeBlock ? half - 1 : Block / 2);
                        for (std::size_t j = 0; j + (beforeBlock ? 1 : 0) < half; ++j) {
                            const int v = (j % 2 == 0 ? 1 : -1) * (20000 + step);
                            values[(middle - 1 - j) * n + n - 1] = static_cast<std::int16_t>(v);
                            values[(middle + j) * n + n - 1] = static_cast<std::int16_t>(v);
                        }
                    }
                    const std::span<const std::int16_t> all(values);
                    double every = 0.0;
                    for (std::size_t c = 0; c < n; ++c) {
                        std::vector<std::int16_t> alone(6 * Block);
                        for (std::size_t f = 0; f < alone.size(); ++f)
                            alone[f] = values[f * n + c];
                        for (std::size_t at = 0; at < alone.size(); at += Block) {
                            TTruePeak one(1, rate);
                            one.Restart(std::span(alone).first(at));
                            one.Add(std::span(alone).subspan(at, Block));
                            every = std::max(every, one.Peak());
                        }
                    }
                    TTruePeak whole(channels, rate);
                    whole.Add(all);
                    std::atomic<float> shared{0.0f};
                    TTruePeak first(channels, rate), second(channels, rate);
                    first.Share(&shared);
                    second.Share(&shared);
                    first.Add(all.first(all.size() / 2));
                    second.Restart(all.first(all.size() / 2));
                    second.Add(all.subspan(all.size() / 2));
                    EXPECT_GT(every * 32768.0, 20000.5);
                    EXPECT_EQ(whole.Peak(), every);
                    EXPECT_EQ(std::max(first.Peak(), second.Peak()), every);
                }
    ::unsetenv("KAVREL_SIMD");
}
