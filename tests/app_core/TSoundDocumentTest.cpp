// The sound document on the player's test device: the playback feed (channel-to-section mapping,
// raw and filtered paths, overload lamp, clamping, play position) and the document's own steps.

#include "app/core/TSoundDocument.h"
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

constexpr int Block = TSoundDocument::ChunkSamples;

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
    const auto input = Noise(Block * TSoundDocument::Buffers, 8000, 1);
    Doc().SourceWav() = MakeWav(22050, {input});
    SetSections(0.0, 1.5); // FilterSection1 silences whatever runs through it
    Doc().SetUseFilter(true);
    Doc().StartPlay();

    EXPECT_EQ(m_device->OpenedFormat().channels, 1);
    EXPECT_EQ(m_device->OpenedFormat().samplesPerSec, 22050);
    EXPECT_DOUBLE_EQ(Doc().FilterSection2().SampFreq(), 22050.0);
    ASSERT_EQ(m_device->WrittenBlocks().size(), static_cast<std::size_t>(TSoundDocument::Buffers));
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
        const auto left = Noise(Block / 2 * 3, 5000, 2);
        const auto right = Noise(Block / 2 * 3, 5000, 3);
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
    // Six loud blocks (a sine near full scale), then six quiet ones (±3000 × 10 stays below).
    const std::size_t frames = Block / 2 * 6;
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

    EXPECT_EQ(m_lamps, (std::vector<bool>{true, true, true, true, true, true, false, false, false,
                                          false, false, false}));
    // Beyond full scale the values stop at the limits with their own sign, never wrap.
    const auto played =
        Concat({Written(0), Written(1), Written(2), Written(3), Written(4), Written(5), Written(6),
                Written(7), Written(8), Written(9), Written(10), Written(11)});
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
    const std::size_t frames = Block / 2 * 13;
    const auto left = Noise(frames, 9000, 6);
    const auto right = Noise(frames, 9000, 7);
    Doc().SourceWav() = MakeWav(44100, {left, right});
    SetSections(1.0, 1.0);
    Doc().SetRawGain(0.5);
    Doc().SetUseFilter(false);
    Doc().StartPlay();
    for (std::size_t k = 0; k < 12; ++k)
        for (std::size_t i = 0; i < Written(k).size(); ++i) {
            const std::size_t f = k * Block / 2 + i / 2;
            const double x = 0.5 * (i % 2 == 0 ? left[f] : right[f]);
            ASSERT_LE(std::fabs(Written(k)[i] - x), 1.0) << k << " " << i;
        }

    // Connecting the filter takes effect at the next block, which continues the filter's
    // output as if it had been heard all along.
    Doc().SetUseFilter(true);
    PlayOne();
    ASSERT_EQ(m_device->WrittenBlocks().size(), 13U);
    const auto yl = Filtered(Doc().FilterSection2(), 44100, left);
    const auto yr = Filtered(Doc().FilterSection1(), 44100, right);
    const std::size_t first = 12 * Block / 2;
    ExpectNear(std::vector<double>(yl.begin() + first, yl.end()), ChannelOf(Written(12), 2, 0),
               "ch 0");
    ExpectNear(std::vector<double>(yr.begin() + first, yr.end()), ChannelOf(Written(12), 2, 1),
               "ch 1");
}

TEST_F(SoundDocumentTest, PlayPosBeyondEndIsClampedThenWrapsToZero)
{
    const std::size_t frames = 10000;
    const auto left = Noise(frames, 9000, 8);
    const auto right = Noise(frames, 9000, 9);
    Doc().SourceWav() = MakeWav(44100, {left, right});
    Doc().SetRawGain(1.0);
    Doc().SetPlayPos(50000); // a click past the end
    Doc().StartPlay();

    // The first block starts at the end: all silence; then the position wraps to 0.
    for (std::int16_t v : Written(0))
        ASSERT_LE(std::abs(v), 1);
    for (std::size_t i = 0; i < Written(1).size(); ++i) {
        const double x = i % 2 == 0 ? left[i / 2] : right[i / 2];
        ASSERT_LE(std::fabs(Written(1)[i] - x), 1.0) << i;
    }
    ASSERT_GE(m_markers.size(), 2U);
    EXPECT_DOUBLE_EQ(m_markers[0], 0.0);
    EXPECT_DOUBLE_EQ(m_markers[1], 2048.0 / 44100.0);
}

TEST_F(SoundDocumentTest, EndOfSoundPlaysTheTailThenGoesOnFromTheStart)
{
    const std::size_t frames = 4096 * 3 + 100;
    const auto mono = Noise(frames, 9000, 10);
    Doc().SourceWav() = MakeWav(8000, {mono});
    Doc().SetRawGain(1.0);
    Doc().SetPlayPos(static_cast<std::int32_t>(frames - 100));
    Doc().StartPlay();
    for (std::size_t i = 0; i < 100; ++i)
        ASSERT_LE(std::abs(Written(0)[i] - mono[frames - 100 + i]), 1) << i;
    for (std::size_t i = 100; i < Written(0).size(); ++i)
        ASSERT_LE(std::abs(Written(0)[i]), 1) << i;
    for (std::size_t i = 0; i < Written(1).size(); ++i)
        ASSERT_LE(std::abs(Written(1)[i] - mono[i]), 1) << i;
    EXPECT_DOUBLE_EQ(m_markers[0], 0.0);
    EXPECT_DOUBLE_EQ(m_markers[1], 4096.0 / 8000.0);
}

TEST_F(SoundDocumentTest, PositionExactlyAtTheEndReadsOneSilentBlockBeforeWrapping)
{
    const auto mono = Noise(4096 * 2, 9000, 18);
    Doc().SourceWav() = MakeWav(8000, {mono});
    Doc().SetRawGain(1.0);
    Doc().StartPlay();
    EXPECT_DOUBLE_EQ(m_markers[1], 8192.0 / 8000.0); // at the end, not past it
    for (std::int16_t v : Written(2))
        ASSERT_LE(std::abs(v), 1);
    EXPECT_DOUBLE_EQ(m_markers[2], 0.0);
    for (std::size_t i = 0; i < Written(3).size(); ++i)
        ASSERT_LE(std::abs(Written(3)[i] - mono[i]), 1) << i;
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
    EXPECT_EQ(m_device->WrittenBlocks().size(), 12U);
    PlayOne();
    ASSERT_EQ(m_device->WrittenBlocks().size(), 13U);
    for (std::size_t i = 0; i < Written(12).size(); ++i) {
        const std::size_t f = 120000 + i / 2;
        ASSERT_LE(std::abs(Written(12)[i] - (i % 2 == 0 ? left[f] : right[f])), 1) << i;
    }
    EXPECT_DOUBLE_EQ(m_markers.back(), 122048.0 / 48000.0);
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
    const std::size_t frames = 1365 * 3;
    const auto a = Noise(frames, 6000, 13);
    const auto b = Noise(frames, 6000, 14);
    const auto c = Noise(frames, 6000, 15);
    Doc().SourceWav() = MakeWav(32000, {a, b, c});
    SetSections(1.0, 1.0);
    Doc().SetUseFilter(true);
    Doc().StartPlay();
    // Whole frames only: 4096 values hold 1365 frames of three channels.
    ASSERT_EQ(Written(0).size(), 4095U);
    ASSERT_NE(Doc().ChannelSection(2), nullptr);
    EXPECT_EQ(Doc().ChannelSection(3), nullptr);
    const auto played = Concat({Written(0), Written(1), Written(2)});
    ExpectNear(Filtered(Doc().FilterSection2(), 32000, a), ChannelOf(played, 3, 0), "ch 0");
    ExpectNear(Filtered(Doc().FilterSection1(), 32000, b), ChannelOf(played, 3, 1), "ch 1");
    ExpectNear(Filtered(Doc().FilterSection1(), 32000, c), ChannelOf(played, 3, 2), "ch 2");

    // A new gain on FilterSection1 reaches the third channel's section at the next block.
    Doc().FilterSection1().SetGain(0.0);
    PlayOne();
    EXPECT_DOUBLE_EQ(Doc().ChannelSection(2)->Gain(), 0.0);
    for (std::int16_t v : ChannelOf(Written(12), 3, 2))
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
    EXPECT_EQ(m_markers.size(), 12U);
    EXPECT_DOUBLE_EQ(m_markers[0], 4096.0 / 44100.0);
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
