// Choosing an output on the real sound path: a second null sink is loaded on the private test
// server, the player is pointed at it by its name, and both sinks' monitors are recorded.

#include "audio/TMPCPlay.h"
#include "audio/pulse/TPulseWaveOutDevice.h"
#include "audio/qt/TQtEventPoster.h"
#include "tests/support/SoundPathSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace kavrel;
using namespace kavrel::testing_sound;

namespace {

// Runs pactl with args; its standard output, trimmed.
QString Pactl(const QStringList& args)
{
    QProcess pactl;
    pactl.start("pactl", args);
    pactl.waitForFinished(5000);
    return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
}

// How many frames of the recording sound (are not silent).
std::size_t SoundingFrames(const std::vector<std::int16_t>& rec)
{
    std::size_t frames = 0;
    for (std::size_t i = 0; i + 1 < rec.size(); i += 2)
        frames += rec[i] != 0 || rec[i + 1] != 0;
    return frames;
}

TEST(OutputChoice, TheChosenSinkGetsTheSoundAndAMissingOneFallsBackToTheDefault)
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE"))
        GTEST_SKIP() << "KAVREL_TEST_PULSE is not set: no test sound server";
    App();
    const QString module =
        Pactl({"load-module", "module-null-sink", "sink_name=kavrelsecond", "norewinds=1",
               "rate=44100", "channels=2", "sink_properties=device.description=Second"});
    ASSERT_FALSE(module.isEmpty()) << "the second sink could not be loaded";
    struct TUnload {
        QString Module;
        ~TUnload() { Pactl({"unload-module", Module}); }
    } unload{module};

    TQtEventPoster poster;
    TMPCPlay player(std::make_unique<TPulseWaveOutDevice>(), poster);
    const std::vector<TMPCPlay::TOutput> outputs = player.Outputs();
    const auto second = std::find_if(outputs.begin(), outputs.end(),
                                     [](const auto& o) { return o.Key == "kavrelsecond"; });
    ASSERT_NE(second, outputs.end());
    EXPECT_EQ(second->Description, "Second");

    // Half a second of a 500 Hz tone, stereo, on whichever sink is chosen.
    const auto play = [&](const std::string& key, const char* expectedSink) {
        TMonitorRecorder heard;
        TMonitorRecorder other;
        const char* otherSink =
            std::string(expectedSink) == "kavreltest" ? "kavrelsecond" : "kavreltest";
        ASSERT_TRUE(heard.Start(expectedSink));
        ASSERT_TRUE(other.Start(otherSink));
        player.SetnChans(2);
        player.SetsfTot(2 * 44100);
        player.SetnChunkSamples(4096);
        player.SetnBuffers(12);
        player.SetOutputKey(key);
        std::size_t frame = 0;
        player.OnStash = [&](TMPCPlay&, std::span<std::int16_t> buffer, int& count,
                             bool& finished) {
            count = 0;
            for (; frame < 22050 && static_cast<std::size_t>(count) + 1 < buffer.size(); ++frame) {
                const auto v = static_cast<std::int16_t>(
                    std::lround(12000 * std::sin(2 * std::numbers::pi * 500 *
                                                     static_cast<double>(frame) / 44100.0 +
                                                 0.5)));
                buffer[static_cast<std::size_t>(count++)] = v;
                buffer[static_cast<std::size_t>(count++)] = v;
            }
            finished = frame >= 22050;
        };
        bool closed = false;
        player.OnClosed = [&](TMPCPlay&) { closed = true; };
        player.Start();
        ASSERT_TRUE(RunUntil([&] { return closed; }, 10000)) << "the player never closed";
        RunFor(300);
        heard.Stop();
        other.Stop();
        EXPECT_GE(SoundingFrames(heard.Values()), 22000u) << expectedSink;
        EXPECT_EQ(SoundingFrames(other.Values()), 0u) << otherSink;
    };

    play("kavrelsecond", "kavrelsecond");
    EXPECT_FALSE(player.OutputMissing());
    play("kavrel-no-such-sink", "kavreltest");
    EXPECT_TRUE(player.OutputMissing());
}

} // namespace
