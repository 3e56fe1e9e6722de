#include "sound/TWav.h"
#include "sound/TWavScan.h"

#include "tests/sound/WavTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kavrel {
namespace {

using test::Content;
using test::ContentHigh8;
using test::Fixture;
using test::kFixtureFrames;

struct TGoodFile {
    const char* file;
    TWavEncoding encoding;
    std::int32_t channels;
    std::int32_t rate;
    bool high8; // content with the low byte cleared
};

void PrintTo(const TGoodFile& c, std::ostream* os)
{
    *os << c.file;
}

class ReadsKnownContent : public ::testing::TestWithParam<TGoodFile> {};

TEST_P(ReadsKnownContent, EverySampleAsWritten)
{
    const TGoodFile& c = GetParam();
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(Fixture(c.file)));
    EXPECT_EQ(wav.Encoding(), c.encoding);
    EXPECT_EQ(wav.Channels(), c.channels);
    EXPECT_EQ(wav.SampleRate(), c.rate);
    EXPECT_EQ(wav.Length(), kFixtureFrames);
    EXPECT_FALSE(wav.Truncated());
    EXPECT_EQ(wav.FileName(), Fixture(c.file));
    int wrong = 0;
    for (std::int32_t ch = 0; ch < c.channels; ++ch)
        for (std::int64_t i = 0; i < kFixtureFrames; ++i) {
            const std::int16_t expected = c.high8 ? ContentHigh8(ch, i) : Content(ch, i);
            if (wav.Sample(ch, i) != expected && ++wrong < 5)
                ADD_FAILURE() << "channel " << ch << " sample " << i << ": " << wav.Sample(ch, i)
                              << " instead of " << expected;
        }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, ReadsKnownContent,
    ::testing::Values(TGoodFile{"pcm8-stereo.wav", TWavEncoding::Pcm8, 2, 22050, true},
                      TGoodFile{"pcm16-stereo.wav", TWavEncoding::Pcm16, 2, 44100, false},
                      TGoodFile{"pcm16-4ch.wav", TWavEncoding::Pcm16, 4, 48000, false},
                      TGoodFile{"pcm24-mono.wav", TWavEncoding::Pcm24, 1, 8000, false},
                      TGoodFile{"pcm24-stereo.wav", TWavEncoding::Pcm24, 2, 44100, false},
                      TGoodFile{"pcm24-stereo-plain.wav", TWavEncoding::Pcm24, 2, 44100, false},
                      TGoodFile{"pcm32-stereo.wav", TWavEncoding::Pcm32, 2, 44100, false},
                      TGoodFile{"pcm32-stereo-plain.wav", TWavEncoding::Pcm32, 2, 44100, false},
                      TGoodFile{"float32-stereo.wav", TWavEncoding::Float32, 2, 44100, false},
                      TGoodFile{"float64-mono.wav", TWavEncoding::Float64, 1, 8000, false},
                      TGoodFile{"extensible-pcm16-stereo.wav", TWavEncoding::Pcm16, 2, 44100,
                                false}));

INSTANTIATE_TEST_SUITE_P(
    OddButReadable, ReadsKnownContent,
    ::testing::Values(TGoodFile{"list-before-data.wav", TWavEncoding::Pcm16, 2, 44100, false},
                      TGoodFile{"list-after-data.wav", TWavEncoding::Pcm16, 2, 44100, false},
                      TGoodFile{"odd-chunk-before-data.wav", TWavEncoding::Pcm16, 2, 44100, false},
                      TGoodFile{"odd-chunk-without-pad.wav", TWavEncoding::Pcm16, 2, 44100, false},
                      TGoodFile{"junk-before-fmt.wav", TWavEncoding::Pcm16, 2, 44100, false},
                      TGoodFile{"long-fmt-chunk.wav", TWavEncoding::Pcm16, 2, 44100, false},
                      TGoodFile{"block-align-zero.wav", TWavEncoding::Pcm16, 2, 44100, false},
                      TGoodFile{"riff-size-zero.wav", TWavEncoding::Pcm16, 2, 44100, false},
                      TGoodFile{"odd-data-size.wav", TWavEncoding::Pcm16, 2, 44100, false}));

struct TRounding {
    const char* file;
    std::vector<std::int16_t> expected;
};

void PrintTo(const TRounding& c, std::ostream* os)
{
    *os << c.file;
}

class ConvertsToSixteenBits : public ::testing::TestWithParam<TRounding> {};

// Nearest, halves to even, saturating at both ends; NaN reads as silence.
TEST_P(ConvertsToSixteenBits, RoundsAndSaturates)
{
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(Fixture(GetParam().file)));
    const std::span<const std::int16_t> got = wav.ChannelSamples(0);
    EXPECT_EQ(std::vector<std::int16_t>(got.begin(), got.end()), GetParam().expected);
}

const std::vector<std::int16_t> kFloatExpected{0,      2,     0,      32767, 32767, -32768,
                                               -32768, 32767, -32768, 0,     8192,  32766};

INSTANTIATE_TEST_SUITE_P(
    Encodings, ConvertsToSixteenBits,
    ::testing::Values(TRounding{"round-pcm24-mono.wav",
                                {0, 2, 1, 2, 0, -2, 32767, 32767, 32767, -32768}},
                      TRounding{"round-pcm32-mono.wav", {0, 2, 1, 32767, 32767, -32768, 0}},
                      TRounding{"round-float32-mono.wav", kFloatExpected},
                      TRounding{"round-float64-mono.wav", kFloatExpected}));

TEST(TWavRead, EightBitIsUnsignedAroundOneTwentyEight)
{
    // Byte 0x00 is full negative scale, 0x80 silence, 0xFF one step below full positive.
    const std::vector<std::byte> bytes = {
        std::byte{'R'},  std::byte{'I'},  std::byte{'F'}, std::byte{'F'},  std::byte{39},
        std::byte{0},    std::byte{0},    std::byte{0},   std::byte{'W'},  std::byte{'A'},
        std::byte{'V'},  std::byte{'E'},  std::byte{'f'}, std::byte{'m'},  std::byte{'t'},
        std::byte{' '},  std::byte{16},   std::byte{0},   std::byte{0},    std::byte{0},
        std::byte{1},    std::byte{0},    std::byte{1},   std::byte{0},    std::byte{0x40},
        std::byte{0x1F}, std::byte{0},    std::byte{0},   std::byte{0x40}, std::byte{0x1F},
        std::byte{0},    std::byte{0},    std::byte{1},   std::byte{0},    std::byte{8},
        std::byte{0},    std::byte{'d'},  std::byte{'a'}, std::byte{'t'},  std::byte{'a'},
        std::byte{3},    std::byte{0},    std::byte{0},   std::byte{0},    std::byte{0x00},
        std::byte{0x80}, std::byte{0xFF}, std::byte{0}};
    TWav wav;
    ASSERT_TRUE(wav.Read(TWavSource::FromMemory(bytes), "eight.wav"));
    ASSERT_EQ(wav.Length(), 3);
    EXPECT_EQ(wav.Sample(0, 0), -32768);
    EXPECT_EQ(wav.Sample(0, 1), 0);
    EXPECT_EQ(wav.Sample(0, 2), 32512);
}

struct TTruncated {
    const char* file;
    std::int64_t frames;
};

void PrintTo(const TTruncated& c, std::ostream* os)
{
    *os << c.file;
}

class KeepsWhatTheFileHolds : public ::testing::TestWithParam<TTruncated> {};

TEST_P(KeepsWhatTheFileHolds, WholeFramesAndATruncationMark)
{
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(Fixture(GetParam().file)));
    EXPECT_TRUE(wav.Truncated());
    EXPECT_EQ(wav.Channels(), 2);
    ASSERT_EQ(wav.Length(), GetParam().frames);
    for (std::int64_t i = 0; i < wav.Length(); ++i) {
        ASSERT_EQ(wav.Sample(0, i), Content(0, i)) << i;
        ASSERT_EQ(wav.Sample(1, i), Content(1, i)) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, KeepsWhatTheFileHolds,
                         ::testing::Values(TTruncated{"truncated-data.wav", kFixtureFrames - 1},
                                           TTruncated{"huge-data-size.wav", 10},
                                           TTruncated{"header-only.wav", 0}));

struct TBroken {
    const char* file;
    const char* reason; // a part of the message
};

void PrintTo(const TBroken& c, std::ostream* os)
{
    *os << c.file;
}

class RefusesBrokenFile : public ::testing::TestWithParam<TBroken> {};

// The error names the file and the problem, and the sound loaded before is kept whole.
TEST_P(RefusesBrokenFile, WithAMessageAndKeepsTheOldSound)
{
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(Fixture("pcm24-mono.wav")));
    const std::string path = Fixture(GetParam().file);
    try {
        wav.ReadFile(path);
        FAIL() << "no error";
    } catch (const EWavError& e) {
        EXPECT_EQ(e.FileName(), path);
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        EXPECT_NE(e.Reason().find(GetParam().reason), std::string::npos) << e.Reason();
    }
    EXPECT_EQ(wav.Channels(), 1);
    EXPECT_EQ(wav.SampleRate(), 8000);
    EXPECT_EQ(wav.Length(), kFixtureFrames);
    EXPECT_EQ(wav.Encoding(), TWavEncoding::Pcm24);
    EXPECT_EQ(wav.FileName(), Fixture("pcm24-mono.wav"));
    for (std::int64_t i = 0; i < kFixtureFrames; ++i)
        ASSERT_EQ(wav.Sample(0, i), Content(0, i));
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusesBrokenFile,
    ::testing::Values(
        TBroken{"empty.wav", "empty"}, TBroken{"one-byte.wav", "not a wave file"},
        TBroken{"riff-only.wav", "too short"}, TBroken{"not-riff.wav", "not a wave file"},
        TBroken{"rifx.wav", "RIFX"}, TBroken{"not-wave.wav", "'AVI '"},
        TBroken{"no-fmt.wav", "before the fmt chunk"},
        TBroken{"fmtx-tag.wav", "before the fmt chunk"}, TBroken{"no-data.wav", "no data chunk"},
        TBroken{"fmt-too-short.wav", "fmt chunk is too short"},
        TBroken{"fmt-cut-off.wav", "ends inside its fmt chunk"},
        TBroken{"channels-zero.wav", "channel count is 0"},
        TBroken{"bits-zero.wav", "PCM with 0 bits"}, TBroken{"bits-48.wav", "PCM with 48 bits"},
        TBroken{"float-16bit.wav", "float with 16 bits"},
        TBroken{"huge-chunk-before-data.wav", "no data chunk"},
        TBroken{"huge-fmt-size.wav", "no data chunk"}, TBroken{"rate-too-high.wav", "out of range"},
        TBroken{"rate-zero.wav", "the sample rate is 0 Hz"},
        TBroken{"rf64.wav", "RF64/BW64 files are not supported"},
        TBroken{"bw64.wav", "RF64/BW64 files are not supported"},
        TBroken{"format-tag-zero.wav", "unsupported encoding unknown (format tag 0x0000)"},
        TBroken{"extensible-short.wav", "extensible fmt chunk is too short"},
        TBroken{"extensible-unknown-guid.wav",
                "unknown extensible sub-format {11110001-1111-1111-1111-"},
        TBroken{"extensible-alaw.wav", "A-law"}, TBroken{"mulaw-stereo.wav", "mu-law"},
        TBroken{"adpcm-stereo.wav", "Microsoft ADPCM"},
        TBroken{"no-such-file.wav", "cannot open the file"}, TBroken{"", "is a folder"}));

TEST(TWavRead, AbsurdChannelCountAllocatesOnlyWhatIsThere)
{
    // 65535 channels of 16 bits and 64 bytes of data: not one whole frame.
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(Fixture("channels-65535.wav")));
    EXPECT_EQ(wav.Channels(), 65535);
    EXPECT_EQ(wav.Length(), 0);
    EXPECT_FALSE(wav.Truncated());
}

// A stream that can neither seek nor tell its size, like a pipe.
TWavSource Stream(const std::vector<std::byte>& bytes)
{
    TWavSource memory = TWavSource::FromMemory(bytes);
    TWavSource stream;
    stream.Read = memory.Read;
    return stream;
}

class ReadsFromAnySource : public ::testing::TestWithParam<const char*> {};

TEST_P(ReadsFromAnySource, SameSoundFromFileMemoryAndStream)
{
    const std::string path = Fixture(GetParam());
    TWav fromFile;
    ASSERT_TRUE(fromFile.ReadFile(path));
    const std::vector<std::byte> bytes = test::ReadBytes(path);
    TWav fromMemory;
    TWav fromStream;
    ASSERT_TRUE(fromMemory.Read(TWavSource::FromMemory(bytes), "memory"));
    ASSERT_TRUE(fromStream.Read(Stream(bytes), "stream"));
    for (const TWav* other : {&fromMemory, &fromStream}) {
        EXPECT_EQ(other->Channels(), fromFile.Channels());
        EXPECT_EQ(other->Length(), fromFile.Length());
        EXPECT_EQ(other->Truncated(), fromFile.Truncated());
        EXPECT_EQ(other->ToBytes(), fromFile.ToBytes());
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ReadsFromAnySource,
                         ::testing::Values("pcm16-stereo.wav", "list-before-data.wav",
                                           "junk-before-fmt.wav", "odd-data-size.wav",
                                           "odd-chunk-without-pad.wav", "truncated-data.wav",
                                           "huge-data-size.wav", "header-only-mono.wav",
                                           "pcm24-stereo.wav"));

TWav LongStereo(std::int64_t frames)
{
    TWav wav;
    wav.SetSampleRate(44100);
    wav.SetChannels(2);
    wav.SetLength(frames);
    for (std::int64_t i = 0; i < frames; ++i) {
        wav.SetSample(0, i, static_cast<std::int16_t>(i * 7));
        wav.SetSample(1, i, static_cast<std::int16_t>(-i));
    }
    return wav;
}

TEST(TWavRead, ReportsProgressUpToOne)
{
    const std::vector<std::byte> bytes = LongStereo(3'000'000).ToBytes();
    std::vector<double> fractions;
    TWav wav;
    ASSERT_TRUE(wav.Read(TWavSource::FromMemory(bytes), "long.wav", [&](double f) {
        fractions.push_back(f);
        return true;
    }));
    ASSERT_GE(fractions.size(), 2u);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_GT(fractions.front(), 0.0);
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_EQ(wav.Length(), 3'000'000);
}

TEST(TWavRead, CancelLeavesTheOldSound)
{
    const std::vector<std::byte> bytes = LongStereo(3'000'000).ToBytes();
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(Fixture("float64-mono.wav")));
    int calls = 0;
    EXPECT_FALSE(
        wav.Read(TWavSource::FromMemory(bytes), "long.wav", [&](double) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(wav.Channels(), 1);
    EXPECT_EQ(wav.Length(), kFixtureFrames);
    EXPECT_EQ(wav.Encoding(), TWavEncoding::Float64);
    EXPECT_EQ(wav.FileName(), Fixture("float64-mono.wav"));
    EXPECT_EQ(wav.Sample(0, 10), Content(0, 10));
}

TEST(TWavRead, EmptyNameRereadsTheCurrentFile)
{
    TWav wav;
    EXPECT_THROW(wav.ReadFile(), EWavError);
    ASSERT_TRUE(wav.ReadFile(Fixture("pcm16-stereo.wav")));
    wav.SetSample(0, 0, 5);
    ASSERT_TRUE(wav.ReadFile());
    EXPECT_EQ(wav.Sample(0, 0), Content(0, 0));
}

// A file past 4 GB (sparse here) holds more than its 32-bit data size can state: what the size
// states is read, and the reader says the rest was left.
TEST(TWavRead, DataPastWhatTheHeaderCanStateIsFlagged)
{
    test::TScratchFolder folder;
    const std::string path = folder.File("over-4gb.wav");
    std::filesystem::copy_file(Fixture("pcm16-stereo.wav"), path);
    std::filesystem::resize_file(path, (std::uint64_t{1} << 32) + 4096);
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(path));
    EXPECT_EQ(wav.Length(), kFixtureFrames);
    EXPECT_TRUE(wav.Oversized());
    EXPECT_NE(wav.ReadWarning().find("4 GB"), std::string::npos) << wav.ReadWarning();
    TWavScanFormat format;
    bool truncated = true;
    ASSERT_TRUE(ScanWavFile(path, format, {}, truncated));
    EXPECT_TRUE(format.Oversized);
    EXPECT_FALSE(truncated);
    EXPECT_EQ(format.Frames, kFixtureFrames);

    ASSERT_TRUE(wav.ReadFile(Fixture("pcm16-stereo.wav")));
    EXPECT_FALSE(wav.Oversized());
    EXPECT_EQ(wav.ReadWarning(), "");
}

} // namespace
} // namespace kavrel
