#include "sound/TWav.h"

#include "tests/sound/WavTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavrel {
namespace {

using test::Fixture;
using test::TScratchFolder;

std::vector<std::byte> Bytes(std::initializer_list<int> values)
{
    std::vector<std::byte> bytes;
    for (int v : values)
        bytes.push_back(static_cast<std::byte>(v));
    return bytes;
}

TEST(TWavWrite, HeaderIsTheFortyFourBytesOfSixteenBitPcm)
{
    TWav wav;
    wav.SetSampleRate(44100);
    wav.SetChannels(2);
    wav.SetLength(2);
    wav.SetSample(0, 0, 1);
    wav.SetSample(1, 0, -2);
    wav.SetSample(0, 1, 0x1234);
    wav.SetSample(1, 1, -32768);
    const std::vector<std::byte> expected = Bytes(
        {'R',  'I',  'F',  'F',  44,   0,    0,    0,   'W', 'A', 'V', 'E', // 36 + 8 data bytes
         'f',  'm',  't',  ' ',  16,   0,    0,    0,   1,   0,   2,   0,   // PCM, 2 channels
         0x44, 0xAC, 0,    0,    0x10, 0xB1, 0x02, 0,   4,   0,   16,  0,   // 44100, 176400, 4, 16
         'd',  'a',  't',  'a',  8,    0,    0,    0,                       // 8 data bytes
         1,    0,    0xFE, 0xFF, 0x34, 0x12, 0x00, 0x80});                  // interleaved
    EXPECT_EQ(wav.ToBytes(), expected);
}

TEST(TWavWrite, NoChannelsGivesAnEmptyDataChunk)
{
    TWav wav;
    wav.SetSampleRate(8000);
    wav.Clear();
    const std::vector<std::byte> bytes = wav.ToBytes();
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(bytes[4], std::byte{36});
    EXPECT_EQ(bytes[22], std::byte{0}); // channels
    EXPECT_EQ(bytes[32], std::byte{0}); // block align
    EXPECT_EQ(bytes[40], std::byte{0}); // data size
}

TEST(TWavWrite, SixteenBitStereoRoundTripsByteForByte)
{
    // The fixture was written by sox with the canonical 44-byte header.
    TScratchFolder folder;
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(Fixture("pcm16-stereo.wav")));
    const std::string copy = folder.File("copy.wav");
    ASSERT_TRUE(wav.WriteFile(copy));
    EXPECT_EQ(test::ReadBytes(copy), test::ReadBytes(Fixture("pcm16-stereo.wav")));
}

class RoundTrips : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(RoundTrips, EveryChannelCount)
{
    const std::int32_t channels = GetParam();
    TWav wav;
    wav.SetSampleRate(96000);
    wav.SetChannels(channels);
    wav.SetLength(5000);
    std::mt19937 random(static_cast<unsigned>(channels));
    std::uniform_int_distribution<int> value(-32768, 32767);
    for (std::int32_t c = 0; c < channels; ++c)
        for (std::int16_t& s : wav.MutableChannelSamples(c))
            s = static_cast<std::int16_t>(value(random));

    TScratchFolder folder;
    ASSERT_TRUE(wav.WriteFile(folder.File("x.wav")));
    TWav back;
    ASSERT_TRUE(back.ReadFile(folder.File("x.wav")));
    EXPECT_EQ(back.Encoding(), TWavEncoding::Pcm16);
    EXPECT_EQ(back.SampleRate(), 96000);
    ASSERT_EQ(back.Channels(), channels);
    ASSERT_EQ(back.Length(), 5000);
    for (std::int32_t c = 0; c < channels; ++c) {
        const auto a = wav.ChannelSamples(c);
        const auto b = back.ChannelSamples(c);
        ASSERT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end())) << "channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Channels, RoundTrips, ::testing::Values(1, 2, 3, 6));

TEST(TWavWrite, MoreChannelsThanABlockHoldsStillWritesEveryFrame)
{
    TWav wav;
    wav.SetSampleRate(1000);
    wav.SetChannels(20000);
    wav.SetLength(3);
    wav.SetSample(19999, 2, 77);
    wav.SetSample(0, 1, -5);
    const std::vector<std::byte> bytes = wav.ToBytes();
    ASSERT_EQ(bytes.size(), 44u + 20000u * 3u * 2u);
    TWav back;
    ASSERT_TRUE(back.Read(TWavSource::FromMemory(bytes), "many.wav"));
    ASSERT_EQ(back.Channels(), 20000);
    ASSERT_EQ(back.Length(), 3);
    EXPECT_EQ(back.Sample(19999, 2), 77);
    EXPECT_EQ(back.Sample(0, 1), -5);
}

struct TUnwritable {
    const char* name;
    std::int32_t channels;
    std::int32_t rate;
    const char* reason;
};

void PrintTo(const TUnwritable& c, std::ostream* os)
{
    *os << c.name;
}

class RefusesWhatAWaveFileCannotHold : public ::testing::TestWithParam<TUnwritable> {};

TEST_P(RefusesWhatAWaveFileCannotHold, AndLeavesTheTargetAlone)
{
    TScratchFolder folder;
    const std::string target = folder.File("keep.wav");
    test::WriteBytes(target, Bytes({'o', 'l', 'd'}));
    TWav wav;
    wav.SetSampleRate(GetParam().rate);
    wav.SetChannels(GetParam().channels);
    wav.SetLength(1);
    try {
        wav.WriteFile(target);
        FAIL() << "no error";
    } catch (const EWavError& e) {
        EXPECT_EQ(e.FileName(), target);
        EXPECT_NE(e.Reason().find(GetParam().reason), std::string::npos) << e.what();
    }
    EXPECT_EQ(test::ReadBytes(target), Bytes({'o', 'l', 'd'}));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"keep.wav"});
}

INSTANTIATE_TEST_SUITE_P(
    Sounds, RefusesWhatAWaveFileCannotHold,
    ::testing::Values(TUnwritable{"TooManyChannels", 40000, 44100, "40000 channels"},
                      TUnwritable{"ByteRateOverflows", 32767, 2'000'000'000, "more than"},
                      TUnwritable{"NegativeRate", 2, -1, "negative"}));

TEST(TWavWrite, MissingFolderIsAClearError)
{
    TScratchFolder folder;
    const std::string target = folder.File("no/such/folder/x.wav");
    TWav wav;
    try {
        wav.WriteFile(target);
        FAIL() << "no error";
    } catch (const EWavError& e) {
        EXPECT_EQ(e.FileName(), target);
        EXPECT_NE(e.Reason().find("No such file or directory"), std::string::npos) << e.what();
    }
}

TEST(TWavWrite, TheLongestFileNameStillGetsATemporaryFile)
{
    TScratchFolder folder;
    const std::string target = folder.File(std::string(251, 'n') + ".wav");
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(Fixture("pcm16-stereo.wav")));
    ASSERT_TRUE(wav.WriteFile(target));
    EXPECT_EQ(test::ReadBytes(target), test::ReadBytes(Fixture("pcm16-stereo.wav")));
    EXPECT_EQ(folder.Entries().size(), 1u);
}

TEST(TWavWrite, FolderAsTargetIsAClearError)
{
    TScratchFolder folder;
    TWav wav;
    EXPECT_THROW(wav.WriteFile(folder.Path().string()), EWavError);
    EXPECT_TRUE(std::filesystem::is_directory(folder.Path()));
}

TEST(TWavWrite, UnwritableFolderLeavesTheOldFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not hold for root";
    TScratchFolder folder;
    const std::string target = folder.File("keep.wav");
    test::WriteBytes(target, Bytes({'o', 'l', 'd'}));
    ::chmod(folder.Path().c_str(), 0500);
    TWav wav;
    EXPECT_THROW(wav.WriteFile(target), EWavError);
    ::chmod(folder.Path().c_str(), 0700);
    EXPECT_EQ(test::ReadBytes(target), Bytes({'o', 'l', 'd'}));
}

TEST(TWavWrite, CancelLeavesTheTargetAndNoTemporaryFile)
{
    TScratchFolder folder;
    const std::string target = folder.File("keep.wav");
    test::WriteBytes(target, Bytes({'o', 'l', 'd'}));
    TWav wav;
    wav.SetChannels(2);
    wav.SetLength(3'000'000);
    int calls = 0;
    EXPECT_FALSE(wav.WriteFile(target, [&](double) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(test::ReadBytes(target), Bytes({'o', 'l', 'd'}));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"keep.wav"});
}

TEST(TWavWrite, ProgressReachesOne)
{
    TScratchFolder folder;
    TWav wav;
    wav.SetChannels(2);
    wav.SetLength(3'000'000);
    std::vector<double> fractions;
    ASSERT_TRUE(wav.WriteFile(folder.File("x.wav"), [&](double f) {
        fractions.push_back(f);
        return true;
    }));
    ASSERT_GE(fractions.size(), 2u);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_EQ(fractions.back(), 1.0);
}

TEST(TWavWrite, ReplacingKeepsPermissionsAndFollowsLinks)
{
    TScratchFolder folder;
    const std::string real = folder.File("real.wav");
    const std::string link = folder.File("link.wav");
    test::WriteBytes(real, Bytes({'o', 'l', 'd'}));
    ::chmod(real.c_str(), 0640);
    std::filesystem::create_symlink(real, link);

    TWav wav;
    ASSERT_TRUE(wav.ReadFile(Fixture("pcm16-stereo.wav")));
    ASSERT_TRUE(wav.WriteFile(link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(test::ReadBytes(real), test::ReadBytes(Fixture("pcm16-stereo.wav")));
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(TWavWrite, APipeIsWrittenToAndNotReplaced)
{
    TScratchFolder folder;
    const std::string pipe = folder.File("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // A reader that never blocks: with it open the writer can open the pipe, and the file fits
    // in the pipe's buffer.
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(Fixture("pcm16-stereo.wav")));
    ASSERT_TRUE(wav.WriteFile(pipe));
    std::vector<std::byte> got(4096);
    const ssize_t n = ::read(reader, got.data(), got.size());
    ::close(reader);
    got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    EXPECT_EQ(got, test::ReadBytes(Fixture("pcm16-stereo.wav")));
    struct stat info {};
    ASSERT_EQ(::stat(pipe.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(TWavWrite, OverTheFileItWasReadFrom)
{
    TScratchFolder folder;
    const std::string path = folder.File("same.wav");
    std::filesystem::copy_file(Fixture("pcm24-stereo.wav"), path);
    TWav wav;
    ASSERT_TRUE(wav.ReadFile(path));
    ASSERT_TRUE(wav.WriteFile());
    TWav back;
    ASSERT_TRUE(back.ReadFile(path));
    EXPECT_EQ(back.Encoding(), TWavEncoding::Pcm16);
    EXPECT_EQ(back.ToBytes(), wav.ToBytes());
}

} // namespace
} // namespace kavrel
