// Scanning a file block by block hands over exactly the samples that reading it loads.

#include "sound/TWavScan.h"
#include "tests/sound/WavTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include <string>
#include <sys/stat.h>
#include <vector>

using namespace kavrel;
using kavrel::test::Fixture;

namespace {

TEST(ScanWavFile, GivesTheSamplesReadFileLoadsForEveryEncoding)
{
    for (const char* name : {"pcm16-stereo.wav", "pcm16-4ch.wav", "pcm24-mono.wav",
                             "pcm24-stereo.wav", "pcm32-stereo-plain.wav", "float32-stereo.wav",
                             "float64-mono.wav", "extensible-pcm16-stereo.wav",
                             "list-after-data.wav", "odd-data-size.wav", "header-only.wav"}) {
        TWav wav;
        ASSERT_TRUE(wav.ReadFile(Fixture(name))) << name;
        TWavScanFormat format;
        std::vector<std::int16_t> scanned;
        bool truncated = true;
        ASSERT_TRUE(ScanWavFile(
            Fixture(name), format,
            [&](std::span<const std::int16_t> block) {
                EXPECT_EQ(block.size() % static_cast<std::size_t>(format.Channels), 0U) << name;
                scanned.insert(scanned.end(), block.begin(), block.end());
            },
            truncated))
            << name;
        EXPECT_EQ(format.Channels, wav.Channels()) << name;
        EXPECT_EQ(format.SampleRate, wav.SampleRate()) << name;
        EXPECT_EQ(format.Encoding, wav.Encoding()) << name;
        EXPECT_EQ(truncated, wav.Truncated()) << name;
        EXPECT_EQ(format.Frames, wav.Length()) << name;
        std::vector<std::int16_t> loaded;
        for (std::int64_t i = 0; i < wav.Length(); ++i)
            for (std::int32_t c = 0; c < wav.Channels(); ++c)
                loaded.push_back(wav.Sample(c, i));
        EXPECT_EQ(scanned, loaded) << name;
    }
}

TEST(ScanWavFile, RaisesWhatReadFileRaisesAndCancels)
{
    TWavScanFormat format;
    bool truncated = false;
    const auto ignore = [](std::span<const std::int16_t>) {};
    EXPECT_THROW(ScanWavFile(Fixture("not-riff.wav"), format, ignore, truncated), EWavError);
    EXPECT_THROW(ScanWavFile(Fixture("no-such-file.wav"), format, ignore, truncated), EWavError);
    EXPECT_FALSE(ScanWavFile(Fixture("pcm16-stereo.wav"), format, ignore, truncated,
                             [](double) { return false; }));
}

// Without a sink only the sizes are read (info): the same frames and truncation mark as loading,
// from a file (which is not read past its header) and from a pipe (read through, never kept).
TEST(ScanWavFile, WithoutASinkCountsWhatReadFileLoads)
{
    for (const char* name : {"pcm16-stereo.wav", "pcm24-mono.wav", "odd-data-size.wav",
                             "truncated-data.wav", "huge-data-size.wav", "header-only.wav"}) {
        TWav wav;
        ASSERT_TRUE(wav.ReadFile(Fixture(name))) << name;
        for (const bool pipe : {false, true}) {
            std::string path = Fixture(name);
            kavrel::test::TScratchFolder folder;
            std::thread feeder;
            if (pipe) {
                path = folder.File("pipe");
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
                feeder = std::thread([path, name] {
                    const std::vector<std::byte> bytes = kavrel::test::ReadBytes(Fixture(name));
                    kavrel::test::WriteBytes(path, bytes);
                });
            }
            TWavScanFormat format;
            bool truncated = !wav.Truncated();
            const bool done = ScanWavFile(path, format, {}, truncated);
            if (feeder.joinable())
                feeder.join();
            ASSERT_TRUE(done) << name;
            EXPECT_EQ(format.Frames, wav.Length()) << name << (pipe ? " (pipe)" : "");
            EXPECT_EQ(truncated, wav.Truncated()) << name << (pipe ? " (pipe)" : "");
            EXPECT_EQ(format.Channels, wav.Channels()) << name;
        }
    }
}

} // namespace
