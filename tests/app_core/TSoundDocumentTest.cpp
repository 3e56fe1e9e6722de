// The sound document on the player's test device: the playback feed (channel-to-section mapping,
// raw and filtered paths, overload lamp, clamping, the loop, gain ramps, play position and the
// position heard) and the document's own steps.

#include "app/core/TSoundDocument.h"
#include "app/core/PositionText.h"
#include "app/core/TDitherRandom.h"
#include "audio/testing/TFakeWaveOutDevice.h"
#include "audio/testing/TManualEventQueue.h"
#include "tests/app_core/TestSounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace kavrel;
using namespace kavrel::testing_sounds;

namespace {

// Frames per block and blocks in the ring that Play chooses for the format.
std::size_t BlockFrames(std::int32_t rate, std::int32_t chans)
{
    return static_cast<std::size_t>(TSoundDocument::RingFor(rate, chans).chunkSamples / chans);
}
const std::size_t Ring = static_cast<std::size_t>(TSoundDocument::RingBlocks);

class SoundDocumentTest : public ::testing::Test {
protected:
    SoundDocumentTest()
    {
        auto device = std::make_unique<TFakeWaveOutDevice>();
        m_device = device.get();
        m_doc = std::make_unique<TSoundDocument>(std::move(device), m_queue);
        m_doc->OnOverload = [this](TSoundDocument&, bool red) { m_lamps.push_back(red); };
        m_doc->OnMarkerValue = [this](TSoundDocument&, double t) { m_markers.push_back(t); };
    }

    TSoundDocument& Doc() { return *m_doc; }

    // Hears the oldest queued block and lets the player ask for the next one.
    void PlayOne()
    {
        ASSERT_TRUE(m_device->CompleteNext());
        m_queue.RunAll();
    }

    // The values of the k-th block handed to the device.
    const std::vector<std::int16_t>& Written(std::size_t k) const
    {
        return m_device->WrittenBlocks().at(k).values;
    }

    // Sets both sections as ApplyControls would: same gain and design.
    void SetSections(double gain1, double gain2)
    {
        for (TFilterSection* s : {&Doc().FilterSection1(), &Doc().FilterSection2()}) {
            s->SetPoleF0(300.0);
            s->SetPoleBW(60.0);
            s->SetZeroF0(1000.0);
            s->SetZeroBW(500.0);
        }
        Doc().FilterSection1().SetGain(gain1);
        Doc().FilterSection2().SetGain(gain2);
    }

    TManualEventQueue m_queue;
    TFakeWaveOutDevice* m_device = nullptr;
    std::unique_ptr<TSoundDocument> m_doc;
    std::vector<bool> m_lamps;
    std::vector<double> m_markers;
};

// |got − expected| within what the dither can add: less than 1.5 after rounding.
void ExpectNear(const std::vector<double>& expected, const std::vector<std::int16_t>& got,
                const std::string& what)
{
    ASSERT_EQ(expected.size(), got.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_LT(std::fabs(got[i] - expected[i]), 1.5) << what << " at value " << i;
}

// The values of one channel in the first blocks played.
std::vector<std::int16_t> ChannelOf(const std::vector<std::int16_t>& interleaved, int chans, int c)
{
    std::vector<std::int16_t> v;
    for (std::size_t i = static_cast<std::size_t>(c); i < interleaved.size();
         i += static_cast<std::size_t>(chans))
        v.push_back(interleaved[i]);
    return v;
}

// A section like `s`, at rate, from a cleared delay line, run over `input`.
std::vector<double> Filtered(TFilterSection s, double rate, const std::vector<std::int16_t>& input)
{
    s.SetSampFreq(rate);
    s.Reset();
    std::vector<double> y;
    for (std::int16_t x : input)
        y.push_back(s.Process(x));
    return y;
}

std::vector<std::int16_t> Concat(const std::vector<std::vector<std::int16_t>>& blocks)
{
    std::vector<std::int16_t> all;
    for (const auto& b : blocks)
        all.insert(all.end(), b.begin(), b.end());
    return all;
}

TEST_F(SoundDocumentTest, MonoPlaysThroughFilterSection2Only)
{
    const auto input = Noise(BlockFrames(22050, 1) * Ring, 8000, 1);
    Doc().SourceWav() = MakeWav(22050, {input});
    SetSections(0.0, 1.5); // FilterSection1 silences whatever runs through it
    Doc().SetUseFilter(true);
    Doc().StartPlay();

    EXPECT_EQ(m_device->OpenedFormat().channels, 1);
    EXPECT_EQ(m_device->OpenedFormat().samplesPerSec, 22050);
    EXPECT_DOUBLE_EQ(Doc().FilterSection2().SampFreq(), 22050.0);
    ASSERT_EQ(m_device->WrittenBlocks().size(), Ring);
    std::vector<std::vector<std::int16_t>> blocks;
    for (std::size_t k = 0; k < m_device->WrittenBlocks().size(); ++k)
        blocks.push_back(Written(k));
    ExpectNear(Filtered(Doc().FilterSection2(), 22050, input), Concat(blocks), "mono");
}

TEST_F(SoundDocumentTest, StereoChannelZeroUsesSection2AndChannelOneSection1)
{
    struct Case {
        double gain1, gain2;
    };
    for (const Case& k : {Case{0.0, 2.0}, Case{2.0, 0.0}}) {
        SCOPED_TRACE(k.gain1);
        const auto left = Noise(BlockFrames(44100, 2) * 3, 5000, 2);
        const auto right = Noise(BlockFrames(44100, 2) * 3, 5000, 3);
        auto device = std::make_unique<TFakeWaveOutDevice>();
        m_device = device.get();
        m_doc = std::make_unique<TSoundDocument>(std::move(device), m_queue);
        Doc().SourceWav() = MakeWav(44100, {left, right});
        SetSections(k.gain1, k.gain2);
        Doc().SetUseFilter(true);
        Doc().StartPlay();
        const auto played = Concat({Written(0), Written(1), Written(2)});
        ExpectNear(Filtered(Doc().FilterSection2(), 44100, left), ChannelOf(played, 2, 0), "ch 0");
        ExpectNear(Filtered(Doc().FilterSection1(), 44100, right), ChannelOf(played, 2, 1), "ch 1");
        Doc().StopPlay();
    }
}

TEST_F(SoundDocumentTest, RawGainLightsRedOnLoudBlocksAndGreenOnQuietOnes)
{
    // Five loud blocks (a sine near full scale), then five quiet ones (±3000 × 10 stays below).
    const std::size_t frames = BlockFrames(44100, 2) * 5;
    auto left = SineWave(frames, 441.0, 44100, 30000.0);
    auto right = SineWave(frames, 882.0, 44100, -30000.0);
    const auto quietL = Noise(frames, 3000, 4);
    const auto quietR = Noise(frames, 3000, 5);
    left.insert(left.end(), quietL.begin(), quietL.end());
    right.insert(right.end(), quietR.begin(), quietR.end());
    Doc().SourceWav() = MakeWav(44100, {left, right});
    Doc().SetRawGain(10.0); // +20 dB
    Doc().SetUseFilter(false);
    Doc().StartPlay();

    EXPECT_EQ(m_lamps,
              (std::vector<bool>{true, true, true, true, true, false, false, false, false, false}));
    // Beyond full scale the values stop at the limits with their own sign, never wrap.
    const auto played = Concat({Written(0), Written(1), Written(2), Written(3), Written(4),
                                Written(5), Written(6), Written(7), Written(8), Written(9)});
    for (std::size_t i = 0; i < played.size(); ++i) {
        const std::size_t f = i / 2;
        const double x = 10.0 * (i % 2 == 0 ? left[f] : right[f]);
        if (x > 32766.0)
            ASSERT_GE(played[i], 32765) << i;
        else if (x < -32767.0)
            ASSERT_LE(played[i], -32766) << i;
        else
            ASSERT_LT(std::fabs(played[i] - x), 1.0 + 1e-9) << i;
    }
}

TEST_F(SoundDocumentTest, RawPathIsRawGainTimesInputAndFilterStateKeepsRunning)
{
    const std::size_t block = BlockFrames(44100, 2);
    const std::size_t frames = block * (Ring + 3);
    const auto left = Noise(frames, 9000, 6);
    const auto right = Noise(frames, 9000, 7);
    Doc().SourceWav() = MakeWav(44100, {left, right});
    SetSections(1.0, 1.0);
    Doc().SetRawGain(0.5);
    Doc().SetUseFilter(false);
    Doc().StartPlay();
    for (std::size_t k = 0; k < Ring; ++k)
        for (std::size_t i = 0; i < Written(k).size(); ++i) {
            const std::size_t f = k * block + i / 2;
            const double x = 0.5 * (i % 2 == 0 ? left[f] : right[f]);
            ASSERT_LE(std::fabs(Written(k)[i] - x), 1.0) << k << " " << i;
        }

    // Connecting the filter fades over the next block from the raw path to the filter's output,
    // which runs on as if it had been heard all along; the block after it is the filter's alone.
    // Disconnecting it fades back.
    Doc().SetUseFilter(true);
    PlayOne();
    PlayOne();
    Doc().SetUseFilter(false);
    PlayOne();
    const std::vector<std::vector<double>> filtered{Filtered(Doc().FilterSection2(), 44100, left),
                                                    Filtered(Doc().FilterSection1(), 44100, right)};
    for (std::size_t c = 0; c < 2; ++c) {
        std::vector<double> toFilter;
        std::vector<double> fromFilter;
        for (std::size_t f = 0; f < block; ++f) {
            const double w = TFilterSection::Fade(f, block);
            const double raw = 0.5 * (c == 0 ? left : right)[Ring * block + f];
            toFilter.push_back(raw + (filtered[c][Ring * block + f] - raw) * w);
        }
        for (std::size_t f = 0; f < block; ++f) {
            const double w = TFilterSection::Fade(f, block);
            const double raw = 0.5 * (c == 0 ? left : right)[(Ring + 2) * block + f];
            const double y = filtered[c][(Ring + 2) * block + f];
            fromFilter.push_back(y + (raw - y) * w);
        }
        const auto ch = static_cast<int>(c);
        const auto from = filtered[c].begin() + static_cast<std::ptrdiff_t>((Ring + 1) * block);
        ExpectNear(toFilter, ChannelOf(Written(Ring), 2, ch), "fade in");
        ExpectNear({from, from + static_cast<std::ptrdiff_t>(block)},
                   ChannelOf(Written(Ring + 1), 2, ch), "filtered");
        ExpectNear(fromFilter, ChannelOf(Written(Ring + 2), 2, ch), "fade out");
    }
}

// With nothing changed, each value is exactly the dithered section output or raw gain × input,
// the dither drawn channel by channel through the block.
TEST_F(SoundDocumentTest, UnchangedControlsGiveTheSameBitsAsTheSectionsThemselves)
{
    const std::size_t block = BlockFrames(44100, 2);
    const auto left = Noise(block * (Ring + 3), 20000, 11);
    const auto right = Noise(block * (Ring + 3), 20000, 12);
    for (const bool useFilter : {false, true}) {
        SCOPED_TRACE(useFilter ? "filtered" : "raw");
        auto device = std::make_unique<TFakeWaveOutDevice>();
        m_device = device.get();
        m_doc = std::make_unique<TSoundDocument>(std::move(device), m_queue);
        Doc().SourceWav() = MakeWav(44100, {left, right});
        SetSections(1.7, 0.6);
        Doc().SetRawGain(1.3);
        Doc().SetUseFilter(useFilter);
        Doc().SeedDither(77);
        Doc().StartPlay();
        for (int i = 0; i < 3; ++i)
            PlayOne();
        TDitherRandom dither(77);
        std::vector<TFilterSection> sections{Doc().FilterSection2(), Doc().FilterSection1()};
        for (TFilterSection& s : sections) {
            s.Reset();
            s.SetGain(1.0);
        }
        const double gains[2] = {0.6, 1.7};
        for (std::size_t k = 0; k < Ring + 3; ++k)
            for (std::size_t c = 0; c < 2; ++c)
                for (std::size_t f = 0; f < block; ++f) {
                    const double x = (c == 0 ? left : right)[k * block + f];
                    const double y = sections[c].Process(x);
                    const double v = useFilter ? gains[c] * y : 1.3 * x;
                    ASSERT_EQ(Written(k)[f * 2 + c], DitherTo16(v, dither)) << k << " " << f;
                }
    }
}

// A redesign while playing fades across the next block from the old design's output to the
// new one's, both run from the delay line as it was; then the new design runs on. The raw path
// stays raw meanwhile.
TEST_F(SoundDocumentTest, ARedesignFadesFromTheOldDesignToTheNewAcrossOneBlock)
{
    const std::size_t block = BlockFrames(44100, 1);
    const auto tone = SineWave(block * (Ring + 2), 500.0, 44100.0, 8000.0);
    for (const bool useFilter : {true, false}) {
        SCOPED_TRACE(useFilter ? "filtered" : "raw");
        auto device = std::make_unique<TFakeWaveOutDevice>();
        m_device = device.get();
        m_doc = std::make_unique<TSoundDocument>(std::move(device), m_queue);
        Doc().SourceWav() = MakeWav(44100, {tone});
        SetSections(1.0, 1.0);
        Doc().SetRawGain(1.0);
        Doc().SetUseFilter(useFilter);
        Doc().StartPlay();
        TFilterSection oldRun = Doc().FilterSection2();
        for (std::size_t i = 0; i < Ring * block; ++i)
            oldRun.Process(tone[i]);
        TFilterSection newRun = oldRun;
        for (TFilterSection* s : {&Doc().FilterSection2(), &newRun}) {
            s->SetPoleF0(600.0);
            s->SetZeroBW(100.0);
        }
        PlayOne();
        PlayOne();
        std::vector<double> fade;
        std::vector<double> after;
        for (std::size_t f = 0; f < block; ++f) {
            const double x = tone[Ring * block + f];
            const double y0 = oldRun.Process(x);
            const double y1 = newRun.Process(x);
            fade.push_back(useFilter ? y0 + (y1 - y0) * TFilterSection::Fade(f, block) : x);
        }
        for (std::size_t f = 0; f < block; ++f) {
            const double x = tone[(Ring + 1) * block + f];
            const double y = newRun.Process(x);
            after.push_back(useFilter ? y : x);
        }
        ExpectNear(fade, Written(Ring), "fade");
        ExpectNear(after, Written(Ring + 1), "after");
    }
}

TEST(PositionText, MinutesSecondsAndMillisecondsWithHoursFromAnHourOn)
{
    struct Case {
        double seconds, duration;
        const char* expected;
    };
    for (const Case& k :
         {Case{1.25, 8.0, "0:01.250 / 0:08.000"}, Case{61.0005, 125.9999, "1:01.000 / 2:06.000"},
          Case{59.9996, 3600.0, "0:01:00.000 / 1:00:00.000"},
          Case{-1.0, std::nan(""), "0:00.000 / 0:00.000"}}) {
        EXPECT_EQ(PositionText(k.seconds, k.duration), k.expected) << k.seconds;
    }
}

TEST(VeskSaveName, InsertsBeforeTheExtensionOfTheFileNameOnly)
{
    struct Case {
        const char* path;
        const char* expected;
    };
    for (const Case& c : {
             Case{"/a/b.wav", "/a/b_Vesk.wav"},
             Case{"b.wav", "b_Vesk.wav"},
             Case{"/music/take.one.WAV", "/music/take.one_Vesk.WAV"},
             Case{"/a/b", "/a/b_Vesk"},
             Case{"/my.music/take", "/my.music/take_Vesk"},
             Case{"./take", "./take_Vesk"},
             Case{"take", "take_Vesk"},
             Case{"", "_Vesk"},
         }) {
        EXPECT_EQ(TSoundDocument::VeskSaveName(c.path), c.expected) << c.path;
    }
}

} // namespace
