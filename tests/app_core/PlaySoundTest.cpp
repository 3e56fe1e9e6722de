// `kavrel play` on the real sound path: a private PulseAudio server with a null sink (started by
// the test command, which sets KAVREL_TEST_PULSE) whose monitor is recorded with parec. What is
// heard must be the file's own samples within the dither (±1), in order, without a gap or a
// channel swap, and must end where the command says.

#include "tests/app_core/TestSounds.h"
#include "tests/support/SoundPathSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace kavrel;
using namespace kavrel::testing_sounds;
using namespace kavrel::testing_sound;

namespace {

struct TRun {
    int exitCode = -1;
    std::string errors;
    std::vector<std::int16_t> recorded;
};

// Runs `kavrel play` with args while recording; onStarted may act on the running process.
TRun PlayAndRecord(const QStringList& args, int timeoutMs,
                   const std::function<void(QProcess&)>& onStarted = {})
{
    App();
    TRun run;
    TMonitorRecorder monitor;
    EXPECT_TRUE(monitor.Start()) << "parec did not deliver the monitor";
    QProcess kavrel;
    kavrel.start(QString(KAVREL_BINARY_DIR) + "/app/kavrel", QStringList{"play"} + args);
    EXPECT_TRUE(kavrel.waitForStarted(5000));
    if (onStarted)
        onStarted(kavrel);
    EXPECT_TRUE(RunUntil([&] { return kavrel.state() == QProcess::NotRunning; }, timeoutMs))
        << "kavrel play did not end";
    if (kavrel.state() != QProcess::NotRunning) {
        kavrel.kill();
        kavrel.waitForFinished(2000);
    }
    run.exitCode = kavrel.exitStatus() == QProcess::NormalExit ? kavrel.exitCode() : -1;
    run.errors = kavrel.readAllStandardError().toStdString();
    RunFor(400); // the last block's way through the server
    monitor.Stop();
    run.recorded = monitor.Values();
    return run;
}

// Interleaved frames as the file holds them.
std::vector<std::int16_t> Interleaved(const TWav& w, std::int64_t from, std::int64_t count)
{
    std::vector<std::int16_t> v;
    for (std::int64_t f = from; f < from + count; ++f)
        for (std::int32_t c = 0; c < w.Channels(); ++c)
            v.push_back(f < w.Length() ? w.Sample(c, f) : std::int16_t{0});
    return v;
}

// Where `expected` begins in the recording: the first place where its first 256 frames match
// within ±1.
std::optional<std::size_t> Find(const std::vector<std::int16_t>& rec,
                                const std::vector<std::int16_t>& expected)
{
    const std::size_t probe = std::min<std::size_t>(512, expected.size());
    for (std::size_t off = 0; off + probe <= rec.size(); off += 2) {
        bool match = true;
        for (std::size_t k = 0; k < probe && match; ++k)
            match = std::abs(rec[off + k] - expected[k]) <= 1;
        if (match)
            return off;
    }
    return std::nullopt;
}

// The recording holds expected from its start on, within ±1, then silence.
void ExpectHeard(const std::vector<std::int16_t>& rec, const std::vector<std::int16_t>& expected)
{
    const auto off = Find(rec, expected);
    ASSERT_TRUE(off.has_value()) << "the sound's start is not in the recording (" << rec.size()
                                 << " values)";
    ASSERT_GE(rec.size(), *off + expected.size() + 2 * 4410) << "the recording ends early";
    for (std::size_t k = 0; k < expected.size(); ++k)
        ASSERT_LE(std::abs(rec[*off + k] - expected[k]), 1)
            << "value " << k << " (frame " << k / 2 << ", channel " << k % 2 << ")";
    // Nothing more is played after the end: a tenth of a second of silence follows.
    for (std::size_t k = expected.size(); k < expected.size() + 2 * 4410; ++k)
        ASSERT_LE(std::abs(rec[*off + k]), 1) << "after the end, value " << k;
}

class PlaySoundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* pulse = std::getenv("KAVREL_TEST_PULSE");
        if (pulse == nullptr || std::string(pulse) != "1")
            GTEST_SKIP() << "needs the test sound server (KAVREL_TEST_PULSE=1)";
    }

    // A stereo file whose channels differ: noise on the left, a sine with noise on the right.
    std::string StereoFile(const TScratchFolder& dir, std::size_t frames, int amplitude = 9000)
    {
        auto right = SineWave(frames, 1000.0, 44100.0, amplitude * 0.6);
        const auto hiss = Noise(frames, amplitude / 4, 21);
        for (std::size_t i = 0; i < frames; ++i)
            right[i] = static_cast<std::int16_t>(right[i] + hiss[i]);
        m_wav = MakeWav(44100, {Noise(frames, amplitude, 20), right});
        const std::string path = dir.File("stereo.wav");
        m_wav.WriteFile(path);
        return path;
    }

    TWav m_wav;
};

TEST_F(PlaySoundTest, OnceThroughTheFileIsHeardSampleForSample)
{
    TScratchFolder dir;
    const std::string path = StereoFile(dir, 66150); // 1.5 s
    const TRun run = PlayAndRecord({QString::fromStdString(path), "--raw-gain", "0"}, 20000);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    ExpectHeard(run.recorded, Interleaved(m_wav, 0, m_wav.Length()));
}

TEST_F(PlaySoundTest, FromAndSecondsChooseThePartAndTheLoopGoesOnFromTheStartWithoutAGap)
{
    TScratchFolder dir;
    const std::string path = StereoFile(dir, 13230); // 0.3 s
    // From 0.1 s for 0.7 s: on to the end, then straight on from the start, without a gap.
    const std::int64_t limit = 30870;
    std::vector<std::int16_t> expected;
    for (std::int64_t i = 0; i < limit; ++i) {
        const auto frame = Interleaved(m_wav, (4410 + i) % m_wav.Length(), 1);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    expected.resize(static_cast<std::size_t>(limit) * 2);
    const TRun run = PlayAndRecord(
        {QString::fromStdString(path), "--raw-gain", "0", "--from", "0.1", "--seconds", "0.7"},
        20000);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    ExpectHeard(run.recorded, expected);
}

TEST_F(PlaySoundTest, OverloadIsReportedAndCtrlCStopsCleanly)
{
    TScratchFolder dir;
    const std::string path = StereoFile(dir, 441000, 20000); // 10 s, loud
    QElapsedTimer clock;
    const TRun run = PlayAndRecord({QString::fromStdString(path), "--raw-gain", "20"}, 8000,
                                   [&clock](QProcess& p) {
                                       RunUntil([] { return false; }, 1000);
                                       clock.start();
                                       ::kill(static_cast<pid_t>(p.processId()), SIGINT);
                                   });
    EXPECT_LT(clock.elapsed(), 3000) << "Ctrl+C did not stop playback promptly";
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.errors.find("overload"), std::string::npos) << run.errors;
    // Something was heard, and it was clamped at full scale rather than wrapped.
    std::size_t loud = 0;
    for (std::int16_t v : run.recorded)
        loud += std::abs(static_cast<int>(v)) >= 32765;
    EXPECT_GT(loud, 1000U);
}

// No server to play on: the command fails at once and says which file and why.
TEST_F(PlaySoundTest, NoSoundServerIsReportedWithTheFileName)
{
    TScratchFolder dir;
    const std::string path = StereoFile(dir, 4410);
    QProcess kavrel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_SERVER", QString::fromStdString("unix:" + dir.File("no-server")));
    kavrel.setProcessEnvironment(env);
    kavrel.start(QString(KAVREL_BINARY_DIR) + "/app/kavrel",
                 {"play", QString::fromStdString(path)});
    ASSERT_TRUE(kavrel.waitForFinished(10000));
    EXPECT_EQ(kavrel.exitCode(), 1);
    const std::string errors = kavrel.readAllStandardError().toStdString();
    EXPECT_EQ(errors.rfind("kavrel: " + path + ": WaveOutOpen:", 0), 0U) << errors;
    EXPECT_NE(errors.find("could not connect to the sound server"), std::string::npos) << errors;
}

} // namespace
