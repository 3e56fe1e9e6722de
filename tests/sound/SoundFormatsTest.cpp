#include "sound/TWav.h"
#include "sound/TWavScan.h"
#include "sound/TWavStream.h"

#include "tests/sound/WavTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>

#include <sys/resource.h>

namespace kavrel {
namespace {

using test::Content;
using test::kFixtureFrames;

std::string Format(const std::string& name)
{
    return test::Fixture("formats/" + name);
}

// Index of the first sample where a and b differ, or -1; channel counts and lengths must agree.
std::int64_t FirstDifference(const TWav& a, const TWav& b, std::int64_t frames)
{
    for (std::int32_t c = 0; c < a.Channels(); ++c)
        for (std::int64_t i = 0; i < frames; ++i)
            if (a.Sample(c, i) != b.Sample(c, i))
                return i;
    return -1;
}

class ReadsLosslessFormat : public ::testing::TestWithParam<const char*> {};

TEST_P(ReadsLosslessFormat, TheKnownContentBitForBit)
{
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(Format(GetParam())));
    EXPECT_EQ(wav.Channels(), 2);
    EXPECT_EQ(wav.SampleRate(), 44100);
    ASSERT_EQ(wav.Length(), kFixtureFrames);
    EXPECT_EQ(wav.Encoding(), TWavEncoding::Pcm16);
    EXPECT_FALSE(wav.Truncated());
    int wrong = 0;
    for (std::int32_t c = 0; c < 2; ++c)
        for (std::int64_t i = 0; i < kFixtureFrames; ++i)
            wrong += wav.Sample(c, i) != Content(c, i);
    EXPECT_EQ(wrong, 0);

    // The streaming scan hands out the same samples, with the length known before the first.
    TWavScanFormat format;
    bool truncated = true;
    std::vector<std::int16_t> scanned;
    ASSERT_TRUE(ScanWavFile(
        Format(GetParam()), format,
        [&](std::span<const std::int16_t> block) {
            EXPECT_EQ(format.Frames, kFixtureFrames);
            scanned.insert(scanned.end(), block.begin(), block.end());
        },
        truncated));
    EXPECT_FALSE(truncated);
    EXPECT_EQ(scanned, wav.BlockExtract(std::vector<std::int32_t>{0, 1}, 0, kFixtureFrames));
}

INSTANTIATE_TEST_SUITE_P(Containers, ReadsLosslessFormat,
                         ::testing::Values("pcm16-stereo.flac", "pcm16-stereo.aiff",
                                           "pcm16-stereo.aifc", "pcm16-stereo.caf",
                                           "pcm16-stereo.w64", "pcm16-stereo.rf64",
                                           "pcm16-stereo-bw64.wav"));

TEST(SoundFormats, A24BitFlacLoadsAsTheSame24BitWaveFile)
{
    TWav flac;
    TWav wave;
    ASSERT_TRUE(flac.ReadFile(Format("pcm24-stereo.flac")));
    ASSERT_TRUE(wave.ReadFile(Format("pcm24-stereo.wav")));
    EXPECT_EQ(flac.Encoding(), TWavEncoding::Pcm24);
    ASSERT_EQ(flac.Channels(), 2);
    ASSERT_EQ(flac.Length(), wave.Length());
    EXPECT_EQ(FirstDifference(flac, wave, wave.Length()), -1);
    // The low bytes round: the file is not simply its top 16 bits.
    EXPECT_NE(FirstDifference(
                  flac,
                  [] {
                      TWav top;
                      top.ReadFile(test::Fixture("pcm16-stereo.wav"));
                      return top;
                  }(),
                  kFixtureFrames),
              -1);
}

struct TLossy {
    const char* file;
    TWavEncoding encoding;
};

void PrintTo(const TLossy& c, std::ostream* os)
{
    *os << c.file;
}

class ReadsLossyFormat : public ::testing::TestWithParam<TLossy> {};

TEST_P(ReadsLossyFormat, WithinTheCodecsErrorOfTheSource)
{
    TWav source;
    TWav coded;
    ASSERT_TRUE(source.ReadFile(Format("tone-stereo.wav")));
    ASSERT_TRUE(coded.ReadFile(Format(GetParam().file)));
    EXPECT_EQ(coded.Encoding(), GetParam().encoding);
    EXPECT_EQ(coded.SampleRate(), 48000);
    ASSERT_EQ(coded.Channels(), 2);
    EXPECT_EQ(coded.Length(), source.Length());
    const std::int64_t frames = std::min(coded.Length(), source.Length());
    // The tone at half of full scale; the codecs' error lies 30 dB or more below it (MP3 at
    // 192 kbit/s the closest), while a shift by one sample already comes within 25 dB.
    for (std::int32_t c = 0; c < 2; ++c) {
        double signal = 0.0;
        double error = 0.0;
        for (std::int64_t i = 0; i < frames; ++i) {
            const double s = source.Sample(c, i);
            signal += s * s;
            error += (coded.Sample(c, i) - s) * (coded.Sample(c, i) - s);
        }
        EXPECT_LT(10.0 * std::log10(error / signal), -28.0) << "channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, ReadsLossyFormat,
                         ::testing::Values(TLossy{"tone-stereo.ogg", TWavEncoding::Vorbis},
                                           TLossy{"tone-stereo.opus", TWavEncoding::Opus},
                                           TLossy{"tone-stereo.mp3", TWavEncoding::Mpeg}));

TEST(SoundFormats, BrokenFilesAreRefusedOrCutShortNamingTheFile)
{
    struct TBroken {
        const char* file;
        const char* reason;
    };
    for (const TBroken& b :
         {TBroken{"not-sound.flac", "not a sound file"},
          TBroken{"tag-only.flac", "not a sound file"}, TBroken{"missing.ogg", "No such file"},
          TBroken{"tone-first-frame-cut.mp3", "damaged or cut short"}}) {
        TWav wav;
        wav.ReadFile(Format("pcm16-stereo.flac"));
        try {
            wav.ReadFile(Format(b.file));
            ADD_FAILURE() << b.file << " was read";
        } catch (const EWavError& e) {
            EXPECT_EQ(e.FileName(), Format(b.file));
            EXPECT_NE(e.Reason().find(b.reason), std::string::npos) << e.what();
        }
        EXPECT_EQ(wav.Length(), kFixtureFrames) << "a failed read left the sound changed";
    }

    // Cut off in the middle: the frames that decode are kept, as for a wave file that ends early,
    // and the read says so (from memory, from the file and counting only alike). A last Ogg
    // granule position of 0 disagrees with what decodes: the sound is read and marked too.
    TWav source;
    ASSERT_TRUE(source.ReadFile(Format("tone-stereo.wav")));
    for (const char* name : {"tone-cut-off.flac", "tone-cut-off.ogg", "tone-cut-off.opus",
                             "tone-cut-off.mp3", "tone-granule-zero.ogg"}) {
        TWav cut;
        ASSERT_TRUE(cut.ReadFile(Format(name))) << name;
        EXPECT_TRUE(cut.Truncated()) << name;
        EXPECT_GT(cut.Length(), source.Length() / 4) << name;
        TWavScanFormat counted;
        bool truncated = false;
        ASSERT_TRUE(ScanWavFile(Format(name), counted, {}, truncated));
        EXPECT_TRUE(truncated) << name;
        EXPECT_EQ(counted.Frames, cut.Length()) << name;
    }
    TWav lossless;
    ASSERT_TRUE(lossless.ReadFile(Format("tone-cut-off.flac")));
    EXPECT_LT(lossless.Length(), source.Length());
    EXPECT_EQ(FirstDifference(lossless, source, lossless.Length()), -1);
    TWav zero;
    ASSERT_TRUE(zero.ReadFile(Format("tone-granule-zero.ogg")));
    EXPECT_GE(zero.Length(), source.Length());

    // Damaged last frames (files the fuzzers made): the read and the scan, which ask the decoder a
    // different number of times, agree on what the file holds and whether it is damaged.
    for (const char* name : {"bad-frame-mono.flac", "bad-end-stereo.mp3"}) {
        TWav damaged;
        ASSERT_TRUE(damaged.ReadFile(Format(name))) << name;
        TWavScanFormat damagedFormat;
        bool damagedScan = false;
        ASSERT_TRUE(ScanWavFile(Format(name), damagedFormat, {}, damagedScan)) << name;
        EXPECT_EQ(damagedScan, damaged.Truncated()) << name;
        EXPECT_EQ(damagedFormat.Frames, damaged.Length()) << name;
    }
    TWav damagedFlac;
    ASSERT_TRUE(damagedFlac.ReadFile(Format("bad-frame-mono.flac")));
    EXPECT_TRUE(damagedFlac.Truncated());
}

TEST(SoundFormats, SavingToAFlacNameWritesTheSame16BitSamples)
{
    test::TScratchFolder dir;
    TWav sound;
    ASSERT_TRUE(sound.ReadFile(Format("pcm24-stereo.wav")));
    ASSERT_TRUE(sound.WriteFile(dir.File("out.wav")));
    ASSERT_TRUE(sound.WriteFile(dir.File("out.FLAC")));
    EXPECT_EQ(test::ReadBytes(dir.File("out.FLAC")).at(0), std::byte{'f'});

    // Streamed, as the export writes.
    const std::vector<std::int16_t> all =
        sound.BlockExtract(std::vector<std::int32_t>{0, 1}, 0, sound.Length());
    ASSERT_TRUE(WriteWavStream(dir.File("stream.flac"),
                               TWavStreamFormat{2, sound.SampleRate(), sound.Length()},
                               [&](std::int64_t first) {
                                   // Blocks of 7 frames, so that block and FLAC frame edges differ.
                                   const auto at = static_cast<std::size_t>(first) * 2;
                                   return std::span<const std::int16_t>(all).subspan(
                                       at, std::min<std::size_t>(14, all.size() - at));
                               }));

    TWav wave;
    ASSERT_TRUE(wave.ReadFile(dir.File("out.wav")));
    for (const char* name : {"out.FLAC", "stream.flac"}) {
        TWav flac;
        ASSERT_TRUE(flac.ReadFile(dir.File(name)));
        EXPECT_EQ(flac.Encoding(), TWavEncoding::Pcm16) << name;
        EXPECT_EQ(flac.SampleRate(), wave.SampleRate()) << name;
        ASSERT_EQ(flac.Channels(), wave.Channels()) << name;
        ASSERT_EQ(flac.Length(), wave.Length()) << name;
        EXPECT_EQ(FirstDifference(flac, wave, wave.Length()), -1) << name;
    }

    // What FLAC cannot hold is refused before anything is written; a cancel leaves nothing.
    TWav wide;
    wide.SetSampleRate(44100);
    wide.SetChannels(9);
    wide.SetLength(10);
    EXPECT_THROW(wide.WriteFile(dir.File("wide.flac")), EWavError);
    // Nor is a wave file written under another format's name.
    EXPECT_THROW(sound.WriteFile(dir.File("out.ogg")), EWavError);
    EXPECT_FALSE(sound.WriteFile(dir.File("out.FLAC"), [](double) { return false; }));
    TWav again;
    ASSERT_TRUE(again.ReadFile(dir.File("out.FLAC")));
    EXPECT_EQ(FirstDifference(again, wave, wave.Length()), -1);
    EXPECT_EQ(dir.Entries().size(), 3u);
}

// A FLAC write that fails on the way (a full disk, a file size limit) says why in the program's
// own words with the file's name, not in the library's, nor as a later failure of its encoder.
TEST(SoundFormats, AFailedFlacWriteSaysWhyNamingTheFile)
{
    test::TScratchFolder dir;
    TWav sound;
    sound.SetSampleRate(44100);
    sound.SetChannels(2);
    sound.SetLength(44100);
    std::uint32_t x = 1;
    for (std::int32_t c = 0; c < 2; ++c)
        for (std::int64_t i = 0; i < sound.Length(); ++i) {
            x = x * 1664525u + 1013904223u;
            sound.SetSample(c, i, static_cast<std::int16_t>(x >> 16));
        }
    std::filesystem::create_symlink("/dev/full", dir.File("full.flac"));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (const auto& [name, reason] : {std::pair{"full.flac", "No space left on device"},
                                       std::pair{"limited.flac", "File too large"}}) {
        rlimit small = saved;
        small.rlim_cur = std::string(name) == "limited.flac" ? 65536 : saved.rlim_cur;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        std::string message;
        try {
            sound.WriteFile(dir.File(name));
        } catch (const EWavError& e) {
            message = e.what();
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(message, dir.File(name) + ": cannot write the file: " + reason) << message;
    }
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"full.flac"});
}

} // namespace
} // namespace kavrel
