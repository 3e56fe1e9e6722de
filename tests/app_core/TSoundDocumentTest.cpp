// The sound document on the player's test device: the playback feed (channel-to-section mapping,
// raw and filtered paths, overload lamp, clamping, the loop, gain ramps, play position and the
// position heard) and the document's own steps.

#include "app/core/TSoundDocument.h"
#include "app/core/PositionText.h"
#include "app/core/TDitherRandom.h"
#include "app/core/THeardTap.h"
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

TEST_F(SoundDocumentTest, TheLoopGoesOnFromFrameZeroWithinTheBlockThatReachesTheEnd)
{
    const std::size_t block = BlockFrames(8000, 1);
    struct Case {
        const char* what;
        std::size_t length;
        std::int32_t start;
    };
    for (const Case& k :
         {Case{"tail of 100 frames", block * 3 + 100, static_cast<std::int32_t>(block * 3)},
          Case{"whole blocks", block * 2, 0}, Case{"shorter than a block", block / 3, 1},
          Case{"click past the end", block * 4, 50000},
          Case{"click before the start", block * 4, -7}}) {
        SCOPED_TRACE(k.what);
        auto device = std::make_unique<TFakeWaveOutDevice>();
        m_device = device.get();
        m_doc = std::make_unique<TSoundDocument>(std::move(device), m_queue);
        const auto mono = Noise(k.length, 9000, 10);
        Doc().SourceWav() = MakeWav(8000, {mono});
        Doc().SetPlayPos(k.start);
        Doc().StartPlay();
        // A click while playing, taken up by the block after those queued.
        Doc().SetPlayPos(k.start);
        for (int i = 0; i < 3; ++i)
            PlayOne();
        const auto played = m_device->Played();
        ASSERT_EQ(played.size(), 3 * block);
        const auto first = static_cast<std::size_t>(
            std::clamp<std::int64_t>(k.start, 0, static_cast<std::int64_t>(k.length)));
        // Each frame follows the one before it, from the end straight on to frame 0.
        for (std::size_t i = 0; i < played.size(); ++i)
            ASSERT_LE(std::abs(played[i] - mono[(first + i) % k.length]), 1) << i;
        for (std::size_t i = 0; i < Written(Ring).size(); ++i)
            ASSERT_LE(std::abs(Written(Ring)[i] - mono[(first + i) % k.length]), 1) << i;
    }
}

TEST_F(SoundDocumentTest, ClickPositionTakesEffectAtTheNextBlock)
{
    const std::size_t frames = 200000;
    const auto left = Noise(frames, 9000, 11);
    const auto right = Noise(frames, 9000, 12);
    Doc().SourceWav() = MakeWav(48000, {left, right});
    Doc().SetRawGain(1.0);
    Doc().StartPlay();
    Doc().SetPlayPosSeconds(2.5); // round(48000 × 2.5)
    EXPECT_EQ(Doc().PlayPos(), 120000);
    // The blocks already queued are not touched.
    EXPECT_EQ(m_device->WrittenBlocks().size(), Ring);
    PlayOne();
    ASSERT_EQ(m_device->WrittenBlocks().size(), Ring + 1);
    for (std::size_t i = 0; i < Written(Ring).size(); ++i) {
        const std::size_t f = 120000 + i / 2;
        ASSERT_LE(std::abs(Written(Ring)[i] - (i % 2 == 0 ? left[f] : right[f])), 1) << i;
    }
    // It is heard once the blocks before it are.
    for (std::size_t k = 1; k + 1 < Ring; ++k)
        PlayOne();
    EXPECT_NE(Doc().HeardPos(), 120000);
    PlayOne();
    EXPECT_EQ(Doc().HeardPos(), 120000);
}

TEST_F(SoundDocumentTest, PlayPosSecondsIgnoresNonFiniteAndLimitsTo32Bits)
{
    Doc().SourceWav() = MakeWav(44100, {Noise(10, 1, 1)});
    Doc().SetPlayPos(7);
    Doc().SetPlayPosSeconds(std::nan(""));
    EXPECT_EQ(Doc().PlayPos(), 7);
    Doc().SetPlayPosSeconds(1e300);
    EXPECT_EQ(Doc().PlayPos(), 2147483647);
    Doc().SetPlayPosSeconds(-1e300);
    EXPECT_EQ(Doc().PlayPos(), -2147483647 - 1);
    Doc().SetPlayPosSeconds(0.5 / 44100.0); // half a frame: halves to even
    EXPECT_EQ(Doc().PlayPos(), 0);
}

TEST_F(SoundDocumentTest, ExtraChannelsHaveSectionsOfTheirOwnFollowingSection1)
{
    const std::size_t frames = BlockFrames(32000, 3) * 3;
    const auto a = Noise(frames, 6000, 13);
    const auto b = Noise(frames, 6000, 14);
    const auto c = Noise(frames, 6000, 15);
    Doc().SourceWav() = MakeWav(32000, {a, b, c});
    SetSections(1.0, 1.0);
    Doc().SetUseFilter(true);
    Doc().StartPlay();
    ASSERT_EQ(Written(0).size(), 3 * BlockFrames(32000, 3));
    ASSERT_NE(Doc().ChannelSection(2), nullptr);
    EXPECT_EQ(Doc().ChannelSection(3), nullptr);
    const auto played = Concat({Written(0), Written(1), Written(2)});
    ExpectNear(Filtered(Doc().FilterSection2(), 32000, a), ChannelOf(played, 3, 0), "ch 0");
    ExpectNear(Filtered(Doc().FilterSection1(), 32000, b), ChannelOf(played, 3, 1), "ch 1");
    ExpectNear(Filtered(Doc().FilterSection1(), 32000, c), ChannelOf(played, 3, 2), "ch 2");

    // A new gain on FilterSection1 reaches the third channel's section at the next block (which
    // ramps it down).
    Doc().FilterSection1().SetGain(0.0);
    PlayOne();
    EXPECT_DOUBLE_EQ(Doc().ChannelSection(2)->Gain(), 0.0);
    PlayOne();
    for (std::int16_t v : ChannelOf(Written(Ring + 1), 3, 2))
        ASSERT_LE(std::abs(v), 1);
}

TEST_F(SoundDocumentTest, PlayAndStopDriveMarkerAndPlayEvents)
{
    std::vector<std::string> events;
    Doc().OnApplyControls = [&](TSoundDocument& d) {
        events.push_back("apply");
        d.FilterSection2().SetGain(0.0);
    };
    Doc().OnMarkerVisible = [&](TSoundDocument&, bool v) { events.push_back(v ? "show" : "hide"); };
    Doc().OnPlayStopped = [&](TSoundDocument&) { events.push_back("stopped"); };
    Doc().SourceWav() = MakeWav(44100, {Noise(30000, 9000, 16)});
    Doc().SetUseFilter(true);
    Doc().StartPlay();
    EXPECT_TRUE(Doc().Playing());
    // The controls are copied in before the first block is filled.
    for (std::int16_t v : Written(0))
        ASSERT_LE(std::abs(v), 1);
    Doc().StopPlay();
    EXPECT_FALSE(Doc().Playing());
    m_queue.RunAll();
    EXPECT_EQ(events, (std::vector<std::string>{"apply", "show", "hide", "hide", "stopped"}));
}

TEST_F(SoundDocumentTest, StopAndPlayAgainBeforeTheCloseNoticeKeepsPlaying)
{
    int stopped = 0;
    Doc().OnPlayStopped = [&](TSoundDocument&) { ++stopped; };
    Doc().SourceWav() = MakeWav(44100, {Noise(30000, 9000, 19)});
    Doc().StartPlay();
    Doc().StopPlay();
    Doc().StartPlay(); // before the close notice arrives
    Doc().SourceWav() = MakeWav(22050, {Noise(30000, 9000, 19), Noise(30000, 9000, 20)});
    Doc().StartPlay(); // and once more, in another format
    m_queue.RunAll();
    EXPECT_EQ(stopped, 0);
    EXPECT_TRUE(Doc().Playing());
    EXPECT_EQ(m_device->OpenedFormat().channels, 2);
    EXPECT_EQ(m_device->OpenedFormat().samplesPerSec, 22050);
    PlayOne();
    EXPECT_TRUE(Doc().Playing());
    Doc().StopPlay();
    m_queue.RunAll();
    EXPECT_EQ(stopped, 1);
}

TEST_F(SoundDocumentTest, PlayWithoutSoundOpensNothingAndUnchecksPlay)
{
    int stopped = 0;
    Doc().OnPlayStopped = [&](TSoundDocument&) { ++stopped; };
    Doc().StartPlay();
    EXPECT_EQ(stopped, 1);
    EXPECT_FALSE(m_device->IsOpen());
    EXPECT_EQ(m_device->CallCount("Open"), 0U);
}

TEST_F(SoundDocumentTest, FailedLoadKeepsTheWholeDocument)
{
    TScratchFolder dir;
    const auto left = Noise(5000, 9000, 17);
    MakeWav(22050, {left, left}).WriteFile(dir.File("good.wav"));
    {
        std::ofstream bad(dir.File("bad.wav"), std::ios::binary);
        bad << "RIFF\x10\0\0\0WAVEjunk";
    }
    Doc().LoadSoundFile(dir.File("good.wav"));
    EXPECT_EQ(Doc().PlayPos(), 0);
    EXPECT_EQ(Doc().SourceWav().Length(), 5000);
    Doc().SetPlayPos(1234);
    for (const std::string name : {"bad.wav", "missing.wav"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(Doc().LoadSoundFile(dir.File(name)), EWavError);
        EXPECT_EQ(Doc().PlayPos(), 1234);
        EXPECT_EQ(Doc().SourceWav().SampleRate(), 22050);
        EXPECT_EQ(Doc().SourceWav().Channels(), 2);
        EXPECT_EQ(Doc().SourceWav().FileName(), dir.File("good.wav"));
        ASSERT_EQ(Doc().SourceWav().Length(), 5000);
        EXPECT_EQ(Doc().SourceWav().Sample(0, 4999), left[4999]);
    }
}

TEST(SoundDocumentRing, BlocksOfTenMillisecondsInARingOfTen)
{
    struct Case {
        std::int32_t rate, chans;
        int chunk;
    };
    for (const Case& k : {Case{44100, 2, 882}, Case{44100, 1, 441}, Case{48000, 4, 1920},
                          Case{96000, 2, 1920}, Case{22050, 1, 220}, Case{1, 1, 1}}) {
        const TSoundDocument::TRing ring = TSoundDocument::RingFor(k.rate, k.chans);
        EXPECT_EQ(ring.chunkSamples, k.chunk) << k.rate << " Hz, " << k.chans << " channels";
        EXPECT_EQ(ring.buffers, 10);
    }
}

TEST_F(SoundDocumentTest, HeardPositionFollowsThePlayedFramesAndStopResumesThere)
{
    const std::size_t block = BlockFrames(44100, 2);
    const std::size_t frames = block * 25 + 17;
    const auto left = Noise(frames, 9000, 21);
    const auto right = Noise(frames, 9000, 22);
    Doc().SourceWav() = MakeWav(44100, {left, right});
    Doc().SetPlayPos(static_cast<std::int32_t>(block * 20));
    Doc().StartPlay();
    EXPECT_EQ(m_device->OpenedFormat().channels, 2);
    EXPECT_EQ(Doc().MPCPlay1().nChunkSamples(), static_cast<int>(2 * block));
    EXPECT_EQ(Doc().MPCPlay1().nBuffers(), TSoundDocument::RingBlocks);
    // Ten blocks are fed at once; nothing is heard yet.
    EXPECT_EQ(Doc().HeardPos(), static_cast<std::int32_t>(block * 20));
    Doc().UpdateMarker();
    EXPECT_DOUBLE_EQ(m_markers.back(), static_cast<double>(block * 20) / 44100.0);
    // Across the loop: 20 + 7 blocks of a sound of 25 blocks and 17 frames.
    for (int i = 0; i < 7; ++i)
        PlayOne();
    const auto heard = static_cast<std::int32_t>((block * 27) % frames);
    EXPECT_EQ(Doc().HeardPos(), heard);
    Doc().StopPlay();
    m_queue.RunAll();
    EXPECT_EQ(Doc().PlayPos(), heard);
    // Play goes on with the first frame not heard.
    m_device->ClearRecords();
    Doc().StartPlay();
    for (std::size_t i = 0; i < Written(0).size(); ++i) {
        const std::size_t f = static_cast<std::size_t>(heard) + i / 2;
        ASSERT_LE(std::abs(Written(0)[i] - (i % 2 == 0 ? left[f] : right[f])), 1) << i;
    }
}

TEST_F(SoundDocumentTest, OpeningASoundOfAnotherFormatWhilePlayingStartsAgainOnIt)
{
    TScratchFolder dir;
    const auto a = Noise(20000, 9000, 23);
    const auto b = Noise(20000, 9000, 24);
    const auto c = Noise(20000, 9000, 25);
    MakeWav(44100, {a, b}).WriteFile(dir.File("stereo44.wav"));
    MakeWav(44100, {c, a}).WriteFile(dir.File("other44.wav"));
    MakeWav(48000, {c, a, b, c}).WriteFile(dir.File("quad48.wav"));
    MakeWav(44100, {b}).WriteFile(dir.File("mono44.wav"));
    int stopped = 0;
    Doc().OnPlayStopped = [&](TSoundDocument&) { ++stopped; };
    ASSERT_TRUE(Doc().LoadSoundFile(dir.File("stereo44.wav")));
    Doc().StartPlay();
    PlayOne();

    struct Case {
        const char* file;
        int chans, rate;
        bool restarts;
        const std::vector<std::int16_t>& first; // the new sound's channel 0
    };
    for (const Case& k :
         {Case{"other44.wav", 2, 44100, false, c}, Case{"quad48.wav", 4, 48000, true, c},
          Case{"mono44.wav", 1, 44100, true, b}}) {
        SCOPED_TRACE(k.file);
        m_device->ClearRecords();
        ASSERT_TRUE(Doc().LoadSoundFile(dir.File(k.file)));
        m_queue.RunAll();
        EXPECT_TRUE(Doc().Playing());
        EXPECT_EQ(m_device->OpenedFormat().channels, k.chans);
        EXPECT_EQ(m_device->OpenedFormat().samplesPerSec, k.rate);
        // A restart fills the new ring at once; otherwise the next block starts the new sound.
        EXPECT_EQ(m_device->CallCount("Open") > 0, k.restarts);
        if (!k.restarts)
            PlayOne();
        const auto& fresh = k.restarts ? Written(0) : m_device->WrittenBlocks().back().values;
        EXPECT_EQ(fresh.size(),
                  static_cast<std::size_t>(TSoundDocument::RingFor(k.rate, k.chans).chunkSamples));
        const auto ch0 = ChannelOf(fresh, k.chans, 0);
        for (std::size_t i = 0; i < ch0.size(); ++i)
            ASSERT_LE(std::abs(ch0[i] - k.first[i]), 1) << i;
    }
    EXPECT_EQ(stopped, 0);
}

TEST_F(SoundDocumentTest, GainChangesRampAcrossTheNextBlock)
{
    const std::size_t block = BlockFrames(44100, 1);
    for (const bool filter : {false, true}) {
        SCOPED_TRACE(filter ? "filter gain" : "raw gain");
        auto device = std::make_unique<TFakeWaveOutDevice>();
        m_device = device.get();
        m_doc = std::make_unique<TSoundDocument>(std::move(device), m_queue);
        Doc().SourceWav() = MakeWav(44100, {std::vector<std::int16_t>(block * 40, 10000)});
        // A section that only applies its gain, so the filtered path is gain × input too.
        Doc().FilterSection2().SetFilterType(tfiltertype::ftnone);
        Doc().SetUseFilter(filter);
        Doc().StartPlay();
        if (filter)
            Doc().FilterSection2().SetGain(0.25);
        else
            Doc().SetRawGain(0.25);
        for (int i = 0; i < 2; ++i)
            PlayOne();
        // Block Ring goes from 1 to 0.25 in equal steps, ending there; the next one stays.
        const auto& ramp = Written(Ring);
        ASSERT_EQ(ramp.size(), block);
        for (std::size_t f = 0; f < block; ++f)
            ASSERT_LE(std::abs(ramp[f] - 10000.0 * (1.0 - 0.75 * static_cast<double>(f + 1) /
                                                              static_cast<double>(block))),
                      1.5)
                << f;
        for (std::int16_t v : Written(Ring + 1))
            ASSERT_LE(std::abs(v - 2500), 1);
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
    EXPECT_EQ(RegionText(1.0, 2.5, 8.0), "[0:01.000 - 0:02.500]");
    EXPECT_EQ(RegionText(1.0, 2.5, 3600.0), "[0:00:01.000 - 0:00:02.500]");
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

// The tap gives the values the device is playing now, not those just filled, and starts afresh
// when the device opens again.
TEST_F(SoundDocumentTest, HeardTapGivesTheValuesAtThePlayedFrame)
{
    THeardTap tap(Doc());
    const std::size_t block = BlockFrames(48000, 2);
    Doc().SourceWav() = MakeWav(48000, {Noise(block * 30, 9000, 5), Noise(block * 30, 9000, 6)});
    Doc().StartPlay();
    const std::uint64_t generation = tap.Generation();
    EXPECT_EQ(tap.Channels(), 2);
    EXPECT_EQ(tap.Rate(), 48000);
    std::vector<std::int16_t> got;
    // Before the kept two seconds first wrap around, then after: a copy across the wrap too (of
    // less than the kept time, which runs up to the frames fed, ahead of those heard).
    const auto kept = static_cast<std::int64_t>(THeardTap::KeptSeconds * 48000);
    std::int64_t heard = 0;
    for (const int blocks : {13, 250}) {
        while (tap.HeardFrame() < blocks * static_cast<std::int64_t>(block))
            PlayOne();
        heard = tap.HeardFrame();
        ASSERT_EQ(heard, blocks * static_cast<std::int64_t>(block));
        const std::vector<std::int16_t>& played = m_device->Played();
        ASSERT_EQ(played.size(), static_cast<std::size_t>(heard * 2));
        const std::int64_t span = std::min(heard, kept / 2);
        tap.Copy(heard - span, heard, got);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), played.end() - span * 2)) << blocks;
    }
    // Frames before the first and not yet fed read as silence.
    tap.Copy(-2, 0, got);
    EXPECT_EQ(got, std::vector<std::int16_t>(4, 0));
    tap.Copy(heard + 1000 * static_cast<std::int64_t>(block),
             heard + 1000 * static_cast<std::int64_t>(block) + 1, got);
    EXPECT_EQ(got, std::vector<std::int16_t>(2, 0));

    Doc().StopPlay();
    m_queue.RunAll();
    Doc().StartPlay();
    EXPECT_NE(tap.Generation(), generation);
}

// The region's seam, bit for bit: looping frames [first, end) gives exactly what a sound made of
// the region repeated gives played straight through, filter state and dither running on.
TEST_F(SoundDocumentTest, ARegionLoopsWithoutASeamBitForBit)
{
    const std::size_t block = BlockFrames(44100, 2);
    const auto left = Noise(block * 10, 9000, 31);
    const auto right = Noise(block * 10, 9000, 32);
    const auto first = static_cast<std::ptrdiff_t>(block * 2 + 37);
    const auto end = first + static_cast<std::ptrdiff_t>(block) + 101; // a seam in the 2nd block
    std::vector<std::int16_t> l2;
    std::vector<std::int16_t> r2;
    for (int k = 0; k < 6; ++k) {
        l2.insert(l2.end(), left.begin() + first, left.begin() + end);
        r2.insert(r2.end(), right.begin() + first, right.begin() + end);
    }
    const auto play = [&](TWav sound, std::optional<TFrameSpan> loop, std::int32_t from) {
        TManualEventQueue queue;
        auto device = std::make_unique<TFakeWaveOutDevice>();
        TFakeWaveOutDevice& dev = *device;
        TSoundDocument doc(std::move(device), queue);
        doc.SourceWav() = std::move(sound);
        doc.SetLoop(loop);
        doc.SetPlayPos(from);
        doc.SetUseFilter(true);
        doc.FilterSection1().SetPoleF0(300.0);
        doc.FilterSection2().SetPoleF0(300.0);
        doc.SeedDither(5);
        doc.StartPlay();
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(dev.CompleteNext());
            queue.RunAll();
        }
        std::vector<std::vector<std::int16_t>> blocks;
        for (const auto& b : dev.WrittenBlocks())
            blocks.push_back(b.values);
        return std::pair(Concat(blocks), doc.HeardPos());
    };
    const TFrameSpan span{first, end};
    // From a frame outside the region Play starts at its first frame.
    const auto [looped, heardLooped] = play(MakeWav(44100, {left, right}), span, 5);
    const auto [straight, heardStraight] = play(MakeWav(44100, {l2, r2}), std::nullopt, 0);
    ASSERT_EQ(looped.size(), (Ring + 4) * block * 2);
    EXPECT_EQ(looped, straight);
    // The position heard lies in the region, as far into it as the straight play is.
    EXPECT_EQ(heardLooped, first + heardStraight % (end - first));
}

// The loop the feed keeps to: the region within the sound, the whole sound without one; a region
// set while playing is taken up at the next block.
TEST_F(SoundDocumentTest, LoopBoundsAndARegionSetWhilePlaying)
{
    Doc().SourceWav() = MakeWav(8000, {Noise(1000, 9000, 3)});
    using Span = TFrameSpan;
    struct Case {
        std::optional<Span> loop;
        Span bounds;
    };
    for (const Case& k : {Case{std::nullopt, {0, 1000}}, Case{Span{100, 200}, {100, 200}},
                          Case{Span{-5, 2000}, {0, 1000}}, Case{Span{900, 5000}, {900, 1000}},
                          Case{Span{300, 300}, {0, 1000}}, Case{Span{1200, 1500}, {0, 1000}}}) {
        Doc().SetLoop(k.loop);
        EXPECT_EQ(Doc().LoopBounds(), k.bounds);
    }
    const auto mono = Noise(BlockFrames(8000, 1) * 20, 9000, 4);
    Doc().SourceWav() = MakeWav(8000, {mono});
    Doc().SetLoop(Span{10, 20});
    Doc().TakeSound(MakeWav(8000, {mono})); // a new sound has no region
    EXPECT_FALSE(Doc().Loop());
    Doc().SetPlayPos(3);
    Doc().StartPlay();
    Doc().SetLoop(Span{500, 600});
    PlayOne();
    EXPECT_EQ(Written(Ring - 1).size(), BlockFrames(8000, 1));
    for (std::size_t i = 0; i < Written(Ring).size(); ++i)
        ASSERT_LE(std::abs(Written(Ring)[i] - mono[500 + i % 100]), 1) << i;
    Doc().SetLoop(std::nullopt);
    EXPECT_EQ(Doc().NextBlockPos(), 500 + static_cast<std::int32_t>(BlockFrames(8000, 1)) % 100);
}
