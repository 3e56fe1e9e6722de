// The player on the real sound path: a private sound server (PulseAudio, or PipeWire through
// pipewire-pulse) with a null sink, started by the test command, which sets KAVREL_TEST_PULSE;
// its monitor is recorded with parec and compared with what was played.

#include "audio/TMPCPlay.h"
#include "audio/pulse/TPulseWaveOutDevice.h"
#include "audio/qt/TQtEventPoster.h"
#include "tests/support/SoundPathSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

using namespace kavrel;
using namespace kavrel::testing_sound;

namespace {

// Index of the first recorded value of the first frame that is not silent.
std::size_t FirstSound(const std::vector<std::int16_t>& rec)
{
    auto it = std::find_if(rec.begin(), rec.end(), [](std::int16_t v) { return v != 0; });
    auto index = static_cast<std::size_t>(it - rec.begin());
    return index - index % 2;
}

// What was heard: the recording without its silent frames, where the sound starts, and how many
// silent frames lie between its first and last sounding frame.
struct TSound {
    std::vector<std::int16_t> values;
    std::size_t start = 0;
    std::size_t silentFrames = 0;
    std::size_t firstGap = 0; // frame of the sound before which the first silence lies
};

TSound SoundOf(const std::vector<std::int16_t>& rec)
{
    TSound sound;
    sound.start = FirstSound(rec);
    std::size_t pendingSilence = 0;
    for (std::size_t i = sound.start; i + 1 < rec.size(); i += 2) {
        if (rec[i] == 0 && rec[i + 1] == 0) {
            ++pendingSilence;
            continue;
        }
        if (pendingSilence > 0 && sound.silentFrames == 0)
            sound.firstGap = sound.values.size() / 2;
        sound.silentFrames += pendingSilence;
        pendingSilence = 0;
        sound.values.push_back(rec[i]);
        sound.values.push_back(rec[i + 1]);
    }
    return sound;
}

std::int16_t Sine(double frequency, double rate, std::size_t frame, double amplitude)
{
    // Phase offset so that the first value is never 0 and the start can be found.
    double v = amplitude *
               std::sin(2 * std::numbers::pi * frequency * static_cast<double>(frame) / rate + 0.5);
    return static_cast<std::int16_t>(std::lround(v));
}

struct TSignal {
    const char* name;
    int nChans;
    int sampleRate;
    std::function<std::vector<std::int16_t>(std::size_t frames)> make;
    int chunk = 4096; // values per buffer
};

std::vector<std::int16_t> SineBoth(std::size_t frames)
{
    std::vector<std::int16_t> v;
    for (std::size_t i = 0; i < frames; ++i) {
        std::int16_t s = Sine(1000, 44100, i, 20000);
        v.push_back(s);
        v.push_back(s);
    }
    return v;
}

// Left: a 440 Hz sine; right: pseudo-random values, so that swaps, gaps and repeats all show.
std::vector<std::int16_t> SineAndNoise(std::size_t frames)
{
    std::vector<std::int16_t> v;
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < frames; ++i) {
        v.push_back(Sine(440, 44100, i, 24000));
        state = state * 1664525U + 1013904223U;
        auto noise = static_cast<std::int16_t>(static_cast<int>(state >> 16) - 32768);
        v.push_back(noise == 0 ? std::int16_t{1} : noise);
    }
    return v;
}

std::vector<std::int16_t> SineMono(std::size_t frames)
{
    std::vector<std::int16_t> v;
    for (std::size_t i = 0; i < frames; ++i) {
        v.push_back(Sine(700, 44100, i, 16000));
    }
    return v;
}

// Plays values through a player and serves them in chunks as OnStash asks, noting when each
// chunk was filled and where it starts.
struct TFeed {
    std::vector<std::int16_t> values;
    std::size_t pos = 0;
    struct TFill {
        Clock::time_point when;
        std::size_t first;
    };
    std::vector<TFill> fills;

    void Attach(TMPCPlay& player)
    {
        player.OnStash = [this](TMPCPlay&, std::span<std::int16_t> buffer, int& count,
                                bool& finished) {
            fills.push_back({Clock::now(), pos});
            std::size_t n = std::min(buffer.size(), values.size() - pos);
            std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(pos), n, buffer.begin());
            pos += n;
            count = static_cast<int>(n);
            finished = pos >= values.size();
        };
    }
};

// Sets player up for stereo at 44.1 kHz with a ring of `buffers` buffers of `chunk` values.
void SetStereo(TMPCPlay& player, int chunk = 4096, int buffers = 12)
{
    player.SetnChunkSamples(chunk);
    player.SetnBuffers(buffers);
    player.SetnChans(2);
    player.SetsfTot(88200);
}

class SoundPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE")) {
            GTEST_SKIP() << "KAVREL_TEST_PULSE is not set: no test sound server";
        }
        App();
    }
};

class SoundSignals : public SoundPath, public ::testing::WithParamInterface<TSignal> {};

TEST_P(SoundSignals, RecordingHoldsExactlyTheValuesPlayedInOrder)
{
    const TSignal& signal = GetParam();
    TMonitorRecorder recorder;
    ASSERT_TRUE(recorder.Start()) << "parec did not deliver the monitor";

    TQtEventPoster poster;
    auto device = std::make_unique<TPulseWaveOutDevice>();
    TPulseWaveOutDevice* sink = device.get();
    TMPCPlay player(std::move(device), poster);
    player.SetnChunkSamples(signal.chunk);
    player.SetnBuffers(12);
    player.SetnChans(signal.nChans);
    player.SetsfTot(signal.sampleRate * signal.nChans);
    TFeed feed;
    feed.values = signal.make(static_cast<std::size_t>(signal.sampleRate) * 3);
    feed.Attach(player);
    int closed = 0;
    player.OnClosed = [&](TMPCPlay&) { ++closed; };

    player.Start();
    std::int64_t sinkBuffer = sink->ServerBufferBytes();
    EXPECT_GT(sinkBuffer, 0);
    ASSERT_TRUE(RunUntil([&] { return closed > 0; }, 10000)) << "OnClosed never fired";
    EXPECT_FALSE(player.IsOpen());
    RunFor(300);
    recorder.Stop();

    std::vector<std::int16_t> rec = recorder.Values();
    std::vector<std::int16_t> expected;
    if (signal.nChans == 1) {
        for (std::int16_t v : feed.values) {
            expected.push_back(v);
            expected.push_back(v);
        }
    } else {
        expected = feed.values;
    }
    // The signals have no silent frame, so silence inside the sound can only be an underrun
    // (the machine was too busy), which delays the sound but must not lose or repeat a value.
    for (std::size_t i = 0; i + 1 < expected.size(); i += 2) {
        ASSERT_FALSE(expected[i] == 0 && expected[i + 1] == 0) << "test signal has silence";
    }
    TSound sound = SoundOf(rec);
    ASSERT_FALSE(sound.values.empty()) << "nothing was heard";
    std::size_t mismatch = 0;
    while (mismatch < std::min(expected.size(), sound.values.size()) &&
           sound.values[mismatch] == expected[mismatch]) {
        ++mismatch;
    }
    EXPECT_EQ(mismatch, expected.size())
        << "first difference at value " << mismatch << " of " << expected.size();
    EXPECT_EQ(sound.values.size(), expected.size()) << "values heard after the end";
    if (sound.silentFrames > 0) {
        std::printf("[ underrun ] %zu silent frames inside the sound\n", sound.silentFrames);
    }
    std::size_t start = sound.start;

    // From filling a buffer to hearing its first value, for the refills (the first nBuffers
    // fills are all made at once at Start).
    if (signal.nChans == 2 && signal.chunk == 4096) {
        std::vector<double> latencies;
        for (std::size_t i = 12; i < feed.fills.size(); ++i) {
            if (feed.fills[i].first >= expected.size()) {
                break;
            }
            auto arrival = recorder.ArrivalOf(start + feed.fills[i].first);
            latencies.push_back(
                std::chrono::duration<double, std::milli>(arrival - feed.fills[i].when).count());
        }
        ASSERT_FALSE(latencies.empty());
        std::sort(latencies.begin(), latencies.end());
        std::printf("[ latency  ] %s: fill to recorded, %zu buffers: min %.1f ms, median %.1f ms, "
                    "max %.1f ms; server buffer %.1f ms\n",
                    signal.name, latencies.size(), latencies.front(),
                    latencies[latencies.size() / 2], latencies.back(),
                    static_cast<double>(sinkBuffer) * 1000.0 / (44100.0 * 4));
        RecordProperty("latency_median_ms", std::to_string(latencies[latencies.size() / 2]));
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, SoundSignals,
                         ::testing::Values(TSignal{"SineStereo", 2, 44100, SineBoth},
                                           TSignal{"SineAndNoise", 2, 44100, SineAndNoise},
                                           TSignal{"SineMono", 1, 44100, SineMono},
                                           // Buffers that end in the middle of a frame.
                                           TSignal{"OddChunks", 2, 44100, SineAndNoise, 4095}),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace

namespace {

// Sine at a rate of 8000 frames per second from 16000 values per second in two channels.
TEST_F(SoundPath, TotalRateIsSharedByTheChannels)
{
    TMonitorRecorder recorder;
    ASSERT_TRUE(recorder.Start());
    TQtEventPoster poster;
    TMPCPlay player(std::make_unique<TPulseWaveOutDevice>(), poster);
    player.SetnChunkSamples(4096);
    player.SetnBuffers(12);
    player.SetnChans(2);
    player.SetsfTot(16000);
    ASSERT_EQ(player.Format().samplesPerSec, 8000);
    TFeed feed;
    const std::size_t frames = 16000; // two seconds
    for (std::size_t i = 0; i < frames; ++i) {
        feed.values.push_back(Sine(500, 8000, i, 20000));
        feed.values.push_back(Sine(250, 8000, i, 20000));
    }
    feed.Attach(player);
    bool closed = false;
    player.OnClosed = [&](TMPCPlay&) { closed = true; };
    player.Start();
    ASSERT_TRUE(RunUntil([&] { return closed; }, 10000));
    RunFor(300);
    recorder.Stop();

    // Resampled to the sink's 44100 Hz: compare length and pitch, per channel.
    std::vector<std::int16_t> rec = recorder.Values();
    for (int channel = 0; channel < 2; ++channel) {
        std::vector<int> loud;
        for (std::size_t i = static_cast<std::size_t>(channel); i < rec.size(); i += 2) {
            if (std::abs(rec[i]) > 4000) {
                loud.push_back(static_cast<int>(i / 2));
            }
        }
        ASSERT_FALSE(loud.empty());
        double seconds = (loud.back() - loud.front()) / 44100.0;
        EXPECT_NEAR(seconds, 2.0, 0.01) << "channel " << channel;
        int crossings = 0;
        for (int f = loud.front(); f < loud.back(); ++f) {
            auto a = rec[static_cast<std::size_t>(f * 2 + channel)];
            auto b = rec[static_cast<std::size_t>(f * 2 + 2 + channel)];
            if ((a < 0) != (b < 0)) {
                ++crossings;
            }
        }
        double hz = crossings / 2.0 / seconds;
        EXPECT_NEAR(hz, channel == 0 ? 500 : 250, 3) << "channel " << channel;
    }
}

// A UI thread that is busy for longer than the sink's buffer lets the sound break up, but then
// it goes on where it stopped: no value is lost or repeated, and the player does not give up.
TEST_F(SoundPath, BusyEventLoopDelaysButLosesNothing)
{
    TMonitorRecorder recorder;
    ASSERT_TRUE(recorder.Start());
    TQtEventPoster poster;
    TMPCPlay player(std::make_unique<TPulseWaveOutDevice>(), poster);
    SetStereo(player);
    TFeed feed;
    feed.values = SineAndNoise(44100 * 2);
    feed.Attach(player);
    bool closed = false;
    player.OnClosed = [&](TMPCPlay&) { closed = true; };
    player.Start();
    RunFor(500);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(RunUntil([&] { return closed; }, 10000));
    EXPECT_TRUE(player.LastDeviceError().empty()) << player.LastDeviceError();
    RunFor(300);
    recorder.Stop();

    // Drop the silent frames (the signal has none): what is left is the signal, in order.
    TSound sound = SoundOf(recorder.Values());
    ASSERT_EQ(sound.values.size(), feed.values.size());
    EXPECT_TRUE(sound.values == feed.values);
    std::printf("[ gap      ] %.1f ms of silence inside the sound\n",
                static_cast<double>(sound.silentFrames) * 1000.0 / 44100.0);
}

// An underrun in the middle of the sound raises what the server holds, not only the ring: after
// two stalls of the UI thread that ran it dry, a stall longer than the server held at first no
// longer does.
TEST_F(SoundPath, UnderrunsRaiseWhatTheServerHolds)
{
    TQtEventPoster poster;
    auto device = std::make_unique<TPulseWaveOutDevice>();
    const TPulseWaveOutDevice& output = *device;
    TMPCPlay player(std::move(device), poster);
    SetStereo(player, 882, 10); // the window's ring: ten buffers of 10 ms
    TFeed feed;
    feed.values = SineAndNoise(44100 * 8);
    feed.Attach(player);
    player.Start();
    RunFor(500);
    const std::int64_t first = output.ServerBufferBytes();
    ASSERT_GT(first, 0);
    const std::int64_t firstMs = first * 1000 / (44100 * 4);
    for (int stall = 0; stall < 2; ++stall) {
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::max<std::int64_t>(300, 3 * firstMs)));
        RunFor(static_cast<int>(500 + 2 * firstMs));
    }
    ASSERT_GE(player.Underruns(), 2);
    EXPECT_GT(output.ServerBufferBytes(), 2 * first);
    const std::int64_t before = player.Underruns();
    std::this_thread::sleep_for(std::chrono::milliseconds(firstMs + 20));
    RunFor(500);
    EXPECT_EQ(player.Underruns(), before)
        << "the server held " << output.ServerBufferBytes() << " bytes, " << first << " at first";
    player.Stop();
}

// Ending at once still ends: the single frame of silence is played and the device closes.
TEST_F(SoundPath, EmptySoundClosesTheDevice)
{
    TQtEventPoster poster;
    TMPCPlay player(std::make_unique<TPulseWaveOutDevice>(), poster);
    player.SetnChans(2);
    player.SetsfTot(88200);
    player.SetnBuffers(12);
    player.OnStash = [](TMPCPlay&, std::span<std::int16_t>, int& count, bool&) { count = 0; };
    int opened = 0;
    int closed = 0;
    player.OnOpened = [&](TMPCPlay&) { ++opened; };
    player.OnClosed = [&](TMPCPlay&) { ++closed; };
    player.Start();
    ASSERT_TRUE(RunUntil([&] { return closed > 0; }, 5000)) << "never closed";
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(player.IsOpen());
    RunFor(100);
    EXPECT_EQ(closed, 1);
}

// Stop in the middle, then start again: the second run is heard whole and from its start.
TEST_F(SoundPath, StopAndStartAgain)
{
    TQtEventPoster poster;
    TMPCPlay player(std::make_unique<TPulseWaveOutDevice>(), poster);
    SetStereo(player);
    TFeed feed;
    feed.values = SineAndNoise(44100);
    feed.Attach(player);
    int closed = 0;
    player.OnClosed = [&](TMPCPlay&) { ++closed; };
    player.Start();
    RunFor(400);
    player.Stop();
    EXPECT_FALSE(player.IsOpen());
    ASSERT_TRUE(RunUntil([&] { return closed == 1; }, 2000));

    TMonitorRecorder recorder;
    ASSERT_TRUE(recorder.Start());
    feed.pos = 0;
    player.Start();
    ASSERT_TRUE(RunUntil([&] { return closed == 2; }, 10000));
    RunFor(300);
    recorder.Stop();
    EXPECT_TRUE(SoundOf(recorder.Values()).values == feed.values);
}

// The end of a sound is heard whole and at once, whatever its length: the device follows the last
// buffer with silence, so a server that plays in fixed quanta (PipeWire) plays its last part too.
TEST_F(SoundPath, EndOfSoundIsHeardWholeWithoutGap)
{
    for (std::size_t frames :
         {std::size_t{1}, std::size_t{136}, std::size_t{2047}, std::size_t{44100 + 77}}) {
        SCOPED_TRACE(frames);
        TMonitorRecorder recorder;
        ASSERT_TRUE(recorder.Start());
        TQtEventPoster poster;
        auto player = std::make_unique<TMPCPlay>(std::make_unique<TPulseWaveOutDevice>(), poster);
        SetStereo(*player);
        TFeed feed;
        feed.values = SineAndNoise(frames);
        feed.Attach(*player);
        bool closed = false;
        player->OnClosed = [&](TMPCPlay&) { closed = true; };
        player->Start();
        ASSERT_TRUE(RunUntil([&] { return closed; }, 10000));
        const std::int64_t underruns = player->Underruns();
        // As when the program ends after the sound: the connection to the server goes at once.
        player.reset();
        RunFor(300);
        recorder.Stop();
        TSound sound = SoundOf(recorder.Values());
        EXPECT_TRUE(sound.values == feed.values)
            << "heard " << sound.values.size() / 2 << " of " << frames << " frames";
        EXPECT_EQ(sound.silentFrames, 0U)
            << "a gap before the end, the first before frame " << sound.firstGap
            << "; the server's underflow notices: " << underruns;
    }
}

// The played position follows what the server plays: each value the device reports as heard
// reaches the recording within 20 ms of that report (after the recording's own lag).
TEST_F(SoundPath, PlayedFramesFollowTheRecording)
{
    TMonitorRecorder recorder;
    ASSERT_TRUE(recorder.Start());
    TQtEventPoster poster;
    TMPCPlay player(std::make_unique<TPulseWaveOutDevice>(), poster);
    SetStereo(player);
    TFeed feed;
    feed.values = SineAndNoise(44100 * 2);
    feed.Attach(player);
    bool closed = false;
    player.OnClosed = [&](TMPCPlay&) { closed = true; };
    struct TSample {
        Clock::time_point when;
        std::int64_t frames;
    };
    std::vector<TSample> samples;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (player.IsOpen()) {
            samples.push_back({Clock::now(), player.PlayedFrames()});
        }
    });
    sampler.start(7);
    player.Start();
    ASSERT_TRUE(RunUntil([&] { return closed; }, 10000));
    sampler.stop();
    RunFor(300);
    recorder.Stop();

    const std::vector<std::int16_t> rec = recorder.Values();
    const std::size_t start = FirstSound(rec);
    ASSERT_EQ(SoundOf(rec).silentFrames, 0U) << "the recording has a gap: positions would shift";
    // The recording arrives in pieces: a value was played at the latest when its piece arrived,
    // and at the earliest when the piece before it arrived.
    std::vector<double> lateMs;
    std::int64_t last = 0;
    for (const TSample& s : samples) {
        EXPECT_GE(s.frames, last) << "the played position went back";
        last = s.frames;
        if (s.frames < 2205 || s.frames >= 44100 * 2) {
            continue; // the first 50 ms: the server's clock settles
        }
        const auto index = start + static_cast<std::size_t>(s.frames) * 2;
        const auto arrived = recorder.ArrivalOf(index);
        if (arrived == Clock::time_point::max()) {
            continue;
        }
        lateMs.push_back(std::chrono::duration<double, std::milli>(arrived - s.when).count());
    }
    ASSERT_GT(lateMs.size(), 100U);
    std::sort(lateMs.begin(), lateMs.end());
    const double median = lateMs[lateMs.size() / 2];
    std::printf("[ position ] recorded minus reported, %zu samples: min %.1f ms, median %.1f ms, "
                "max %.1f ms\n",
                lateMs.size(), lateMs.front(), median, lateMs.back());
    // PipeWire hands the monitor to the recorder a graph quantum later (see the server script),
    // in pieces of a quantum, and reports the stream's time once a quantum: with long quanta the
    // position it gives wanders about a straight line by up to 0.4 of a quantum, and the median
    // lands on one side of the lag or the other as the sound's start falls in the first quantum
    // (at 8192 frames, 186 ms: 39 ms early or 31 ms late, run after run; once 49 ms early).
    const double monitorLag = qEnvironmentVariableIntValue("KAVREL_TEST_MONITOR_LAG_MS");
    EXPECT_LE(std::abs(median - monitorLag), std::max(20.0, monitorLag / 3))
        << "monitor lag " << monitorLag << " ms";
    EXPECT_EQ(player.PlayedFrames(), 0) << "closed";
}

} // namespace

namespace {

// Faults of the sound server while the player plays, or before it starts. The player runs in a
// child process (this test program, running only the Child case) on a private server of its own,
// which the test then kills, ends or freezes: the child must close cleanly with a message that
// says what happened, report the loss on the next Start, and exit normally, all in good time.

const char* const FaultChildVariable = "KAVREL_AUDIO_FAULT_CHILD";

double MsSince(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// Tries to start the player and prints what happened and how long it took.
void StartAndReport(TMPCPlay& player)
{
    const auto begin = Clock::now();
    try {
        player.Start();
        std::printf("start: no error\n");
    } catch (const EMPCPlayError& e) {
        std::printf("start: %s (%.0f ms)\n", e.what(), MsSince(begin));
    }
    std::fflush(stdout);
}

TEST(SoundServerFaultChild, Run)
{
    const QString mode = qEnvironmentVariable(FaultChildVariable);
    if (mode.isEmpty()) {
        GTEST_SKIP() << "runs only as the child of the SoundServerFault tests";
    }
    App();
    TQtEventPoster poster;
    const auto made = Clock::now();
    TMPCPlay player(std::make_unique<TPulseWaveOutDevice>(), poster);
    std::printf("created: %zu outputs (%.0f ms)\n", player.DeviceNames().size(), MsSince(made));
    SetStereo(player);
    std::size_t frame = 0;
    int fills = 0;
    player.OnStash = [&](TMPCPlay&, std::span<std::int16_t> buffer, int& count, bool&) {
        for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
            buffer[i] = buffer[i + 1] = Sine(440, 44100, frame++, 10000);
        }
        if (++fills == 14) {
            std::printf("playing\n");
            std::fflush(stdout);
        }
        count = static_cast<int>(buffer.size());
    };
    int closed = 0;
    player.OnClosed = [&](TMPCPlay&) { ++closed; };
    if (mode == "frozen-at-start") {
        StartAndReport(player);
        EXPECT_FALSE(player.IsOpen());
        return;
    }
    if (mode == "keeps-playing") {
        // Says what it hears every 250 ms for 11 s, or why it stopped: long enough that after
        // a 2 s freeze, the 3 s allowed to recover and the slow start of a long quantum, the
        // positions still cover seconds of playback. A server just started on a loaded machine
        // may miss the 2 s an open waits for; the freeze is what is tested here, so the open is
        // tried up to three times.
        for (int attempt = 1;; ++attempt) {
            try {
                player.Start();
                break;
            } catch (const EMPCPlayError& e) {
                std::printf("start %d: %s\n", attempt, e.what());
                if (attempt == 3) {
                    throw;
                }
            }
        }
        const auto begin = Clock::now();
        while (closed == 0 && MsSince(begin) < 11000) {
            RunFor(250);
            std::printf("heard %lld\n", static_cast<long long>(player.PlayedFrames()));
            std::fflush(stdout);
        }
        std::printf("%s: %s\n", closed > 0 ? "closed" : "done", player.LastDeviceError().c_str());
        return;
    }
    player.Start();
    ASSERT_TRUE(RunUntil([&] { return closed > 0; }, 15000)) << "no OnClosed after the fault";
    EXPECT_FALSE(player.IsOpen());
    std::printf("closed: %s\n", player.LastDeviceError().c_str());
    std::fflush(stdout);
    StartAndReport(player);
}

// Runs the Child case on server with mode, calling act once the child has said wait_for; returns
// what the child said and the times (from act) at which each line arrived.
struct TChildRun {
    QByteArray said;
    std::vector<std::pair<double, QByteArray>> lines;
    bool ended = false;
    int exitCode = -1;
    bool normalExit = false;

    double LineAt(const char* prefix) const
    {
        for (const auto& [ms, line] : lines) {
            if (line.startsWith(prefix)) {
                return ms;
            }
        }
        return -1;
    }
};

TChildRun RunChild(const TPrivateServer& server, const char* mode, const char* waitFor,
                   const std::function<void()>& act)
{
    TChildRun run;
    QProcessEnvironment env = server.ClientEnvironment();
    env.insert(FaultChildVariable, mode);
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=SoundServerFaultChild.Run"});
    if (!child.waitForStarted(5000)) {
        return run;
    }
    Clock::time_point acted = Clock::now();
    bool done = waitFor == nullptr;
    if (done) {
        act();
        acted = Clock::now();
    }
    QByteArray partial;
    const auto begin = Clock::now();
    while (child.state() == QProcess::Running && MsSince(begin) < 30000) {
        child.waitForReadyRead(20);
        partial += child.readAllStandardOutput();
        qsizetype end = 0;
        while ((end = partial.indexOf('\n')) >= 0) {
            QByteArray line = partial.left(end);
            partial.remove(0, end + 1);
            run.said += line + '\n';
            run.lines.emplace_back(MsSince(acted), line);
            if (!done && line.startsWith(waitFor)) {
                done = true;
                act();
                acted = Clock::now();
            }
        }
    }
    run.ended = child.state() == QProcess::NotRunning || child.waitForFinished(1000);
    run.said += partial + child.readAllStandardOutput();
    if (!run.ended) {
        child.kill();
        child.waitForFinished(5000);
    }
    run.normalExit = child.exitStatus() == QProcess::NormalExit;
    run.exitCode = child.exitCode();
    return run;
}

class SoundServerFault : public SoundPath, public ::testing::WithParamInterface<int> {};

TEST_P(SoundServerFault, WhilePlayingClosesCleanlyAndStartFailsClearly)
{
    const int signal = GetParam();
    TPrivateServer server;
    ASSERT_TRUE(server.Start()) << server.Errors().toStdString();
    ASSERT_GT(server.Pid(), 0);
    TChildRun run = RunChild(server, "while-playing", "playing", [&] {
        ASSERT_EQ(::kill(static_cast<pid_t>(server.Pid()), signal), 0);
    });
    ASSERT_TRUE(run.ended) << "the player hung after the fault:\n" << run.said.toStdString();
    EXPECT_TRUE(run.normalExit) << run.said.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.said.toStdString();
    EXPECT_TRUE(run.said.contains("[  PASSED  ] 1 test")) << run.said.toStdString();
    EXPECT_TRUE(run.said.contains(signal == SIGSTOP
                                      ? "closed: The connection to the sound system was lost: "
                                        "the sound server stopped answering."
                                      : "closed: The connection to the sound system was lost: "
                                        "the sound server went away."))
        << run.said.toStdString();
    EXPECT_TRUE(run.said.contains("start: WaveOutOpen:")) << run.said.toStdString();
    const double closedAt = run.LineAt("closed:");
    const double startedAt = run.LineAt("start:");
    EXPECT_LT(closedAt, signal == SIGSTOP ? 4000 : 1000) << run.said.toStdString();
    EXPECT_LT(startedAt - closedAt, 3000) << run.said.toStdString();
    std::printf("[ fault    ] %s while playing: closed after %.0f ms, next Start failed %.0f ms "
                "later\n%s",
                strsignal(signal), closedAt, startedAt - closedAt, run.said.toStdString().c_str());
}

INSTANTIATE_TEST_SUITE_P(Signals, SoundServerFault, ::testing::Values(SIGKILL, SIGTERM, SIGSTOP),
                         [](const auto& p) {
                             return std::string(p.param == SIGKILL   ? "Killed"
                                                : p.param == SIGTERM ? "Terminated"
                                                                     : "Frozen");
                         });

// A server that is frozen before the program starts costs one bounded wait: the player is made
// (its device list is empty) and Start fails with a clear message, neither hangs.
TEST_F(SoundPath, FrozenServerAtStartCostsOneBoundedWait)
{
    TPrivateServer server;
    ASSERT_TRUE(server.Start()) << server.Errors().toStdString();
    ASSERT_GT(server.Pid(), 0);
    ASSERT_EQ(::kill(static_cast<pid_t>(server.Pid()), SIGSTOP), 0);
    TChildRun run = RunChild(server, "frozen-at-start", nullptr, [] {});
    ASSERT_TRUE(run.ended) << "the player hung:\n" << run.said.toStdString();
    EXPECT_TRUE(run.normalExit && run.exitCode == 0) << run.said.toStdString();
    EXPECT_TRUE(run.said.contains("created: 0 outputs")) << run.said.toStdString();
    EXPECT_TRUE(run.said.contains("start: WaveOutOpen:")) << run.said.toStdString();
    EXPECT_TRUE(run.said.contains("the sound server did not answer within 2 s"))
        << run.said.toStdString();
    EXPECT_LT(run.LineAt("start:"), 3500) << run.said.toStdString();
    std::printf("[ fault    ] frozen before start\n%s", run.said.toStdString().c_str());
}

// The program's own ring (ten blocks of 10 ms) starts playing on any server, and what is heard is
// whole: a server that holds back a long quantum gets a longer ring from its own figures.
TEST_F(SoundPath, ShortRingStartsAndPlaysWhole)
{
    TMonitorRecorder recorder;
    ASSERT_TRUE(recorder.Start());
    TQtEventPoster poster;
    TMPCPlay player(std::make_unique<TPulseWaveOutDevice>(), poster);
    SetStereo(player, 882, 10);
    TFeed feed;
    feed.values = SineAndNoise(2 * 44100);
    feed.Attach(player);
    bool closed = false;
    player.OnClosed = [&](TMPCPlay&) { closed = true; };
    const auto started = Clock::now();
    player.Start();
    ASSERT_TRUE(RunUntil([&] { return player.PlayedFrames() > 0 || closed; }, 3000))
        << "nothing heard within 3 s";
    const double firstMs = MsSince(started);
    ASSERT_TRUE(RunUntil([&] { return closed; }, 6000)) << "2 s of sound did not end";
    EXPECT_TRUE(player.LastDeviceError().empty()) << player.LastDeviceError();
    RunFor(300);
    recorder.Stop();
    TSound sound = SoundOf(recorder.Values());
    EXPECT_TRUE(sound.values == feed.values)
        << "heard " << sound.values.size() / 2 << " of " << feed.values.size() / 2 << " frames";
    EXPECT_EQ(sound.silentFrames, 0U) << "a gap inside the sound";
    std::printf("[ ring     ] first heard after %.0f ms; ring in use %.0f ms; underruns %lld\n",
                firstMs, player.RingSeconds() * 1000.0, static_cast<long long>(player.Underruns()));
}

// A sound server frozen for a while in the middle of playback (a loaded or resuming machine):
// afterwards playback goes on, or ends within 3 s with a message; it never stalls silently.
struct TFreezeCase {
    const char* program; // as the server script names it; "pulse/" is the socket's server
    int ms;
};

class FrozenWhilePlaying : public SoundPath, public ::testing::WithParamInterface<TFreezeCase> {};

TEST_P(FrozenWhilePlaying, PlaysOnOrStopsWithAMessage)
{
    const TFreezeCase& c = GetParam();
    TPrivateServer server;
    ASSERT_TRUE(server.Start()) << server.Errors().toStdString();
    const qint64 pid = std::string(c.program) == "pulse" ? server.Pid() : server.PidOf(c.program);
    if (pid <= 0) {
        GTEST_SKIP() << "this server has no " << c.program;
    }
    TChildRun run = RunChild(server, "keeps-playing", "playing", [&] {
        ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGSTOP), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(c.ms));
        ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGCONT), 0);
    });
    ASSERT_TRUE(run.ended) << "the player hung:\n" << run.said.toStdString();
    EXPECT_TRUE(run.normalExit && run.exitCode == 0) << run.said.toStdString();
    const double closedAt = run.LineAt("closed:");
    if (closedAt >= 0) {
        EXPECT_LT(closedAt, 3000) << run.said.toStdString();
        EXPECT_FALSE(run.said.contains("closed: \n")) << "stopped without a message";
    } else {
        // From 3 s after the freeze to the end, the heard position keeps pace with the clock:
        // at least 80 % of the time between the first and the last report (the position moves
        // in steps of up to a server quantum, 186 ms at 8192 frames), over at least 3 s.
        long long from = -1;
        long long to = -1;
        double fromMs = 0;
        double toMs = 0;
        for (const auto& [ms, line] : run.lines) {
            if (line.startsWith("heard ") && ms >= 3000) {
                const long long frames = line.mid(6).toLongLong();
                if (from < 0) {
                    from = frames;
                    fromMs = ms;
                }
                to = frames;
                toMs = ms;
            }
        }
        ASSERT_GE(toMs - fromMs, 3000) << "too little reported after the freeze:\n"
                                       << run.said.toStdString();
        EXPECT_GE(static_cast<double>(to - from), 0.8 * (toMs - fromMs) * 44.1)
            << "playback did not go on:\n"
            << run.said.toStdString();
    }
    std::printf("[ freeze   ] %s stopped for %d ms: %s\n", c.program, c.ms,
                closedAt >= 0 ? "closed" : "played on");
}

INSTANTIATE_TEST_SUITE_P(
    Servers, FrozenWhilePlaying,
    ::testing::Values(TFreezeCase{"pulse", 1000}, TFreezeCase{"pulse", 2000},
                      TFreezeCase{"pipewire", 1000}, TFreezeCase{"pipewire", 2000}),
    [](const auto& p) {
        return std::string(p.param.program == std::string("pulse") ? "SocketServer" : "Graph") +
               std::to_string(p.param.ms) + "ms";
    });

} // namespace
