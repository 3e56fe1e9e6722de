#include "sound/TWav.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace kavrel {
namespace {

// Channel c, sample i holds 100·c + i + 1, so every value says where it came from.
TWav Numbered(std::int32_t channels, std::int64_t length)
{
    TWav wav;
    wav.SetChannels(channels);
    wav.SetLength(length);
    for (std::int32_t c = 0; c < channels; ++c)
        for (std::int64_t i = 0; i < length; ++i)
            wav.SetSample(c, i, static_cast<std::int16_t>(100 * std::int64_t{c} + i + 1));
    return wav;
}

TEST(TWav, StartsEmpty)
{
    const TWav wav;
    EXPECT_EQ(wav.Channels(), 0);
    EXPECT_EQ(wav.Length(), 0);
    EXPECT_EQ(wav.SampleRate(), 0);
    EXPECT_EQ(wav.Duration(), 0.0);
    EXPECT_EQ(wav.Encoding(), TWavEncoding::None);
    EXPECT_EQ(wav.EncodingName(), "none");
    EXPECT_FALSE(wav.Truncated());
}

TEST(TWav, DurationAndTotalRate)
{
    TWav wav = Numbered(3, 66150);
    EXPECT_EQ(wav.Duration(), 0.0); // no rate yet
    wav.SetSampleRate(44100);
    EXPECT_DOUBLE_EQ(wav.Duration(), 1.5);
    EXPECT_EQ(wav.TotalRate(), 132300);
}

TEST(TWav, ChangingTheShapeKeepsWhatFitsAndZeroesTheRest)
{
    TWav wav = Numbered(2, 4);
    wav.SetLength(6);
    EXPECT_EQ(wav.Sample(1, 3), 104);
    EXPECT_EQ(wav.Sample(0, 4), 0);
    EXPECT_EQ(wav.Sample(1, 5), 0);
    wav.SetChannels(3);
    ASSERT_EQ(wav.ChannelSamples(2).size(), 6u);
    for (std::int16_t s : wav.ChannelSamples(2))
        EXPECT_EQ(s, 0);
    wav.SetLength(2);
    wav.SetChannels(1);
    EXPECT_EQ(wav.Channels(), 1);
    EXPECT_EQ(wav.Length(), 2);
    EXPECT_EQ(wav.Sample(0, 1), 2);
    // Growing again after shrinking must not bring old values back.
    wav.SetLength(4);
    EXPECT_EQ(wav.Sample(0, 2), 0);
    EXPECT_EQ(wav.Sample(0, 3), 0);
    wav.SetLength(-5);
    EXPECT_EQ(wav.Length(), 0);
}

TEST(TWav, ClearLeavesNoChannelsOfOneSample)
{
    TWav wav = Numbered(2, 10);
    wav.SetSampleRate(8000);
    wav.Clear();
    EXPECT_EQ(wav.Channels(), 0);
    EXPECT_EQ(wav.Length(), 1);
    EXPECT_EQ(wav.SampleRate(), 8000);
    EXPECT_TRUE(wav.ChannelSamples(0).empty());
    wav.SetChannels(2);
    EXPECT_EQ(wav.Sample(1, 0), 0);
}

struct TExtract {
    const char* name;
    std::vector<std::int32_t> channels;
    std::int64_t start;
    std::int64_t count;
    std::vector<std::int16_t> expected;
};

void PrintTo(const TExtract& c, std::ostream* os)
{
    *os << c.name;
}

class BlockExtract : public ::testing::TestWithParam<TExtract> {};

// On a sound of 2 channels × 4 samples: 1 2 3 4 / 101 102 103 104.
TEST_P(BlockExtract, InterleavesInListOrderWithZerosOutside)
{
    const TWav wav = Numbered(2, 4);
    const TExtract& c = GetParam();
    EXPECT_EQ(wav.BlockExtract(c.channels, c.start, c.count), c.expected);
    std::vector<std::int16_t> out(c.expected.size(), 999);
    wav.BlockExtract(c.channels, c.start, out);
    EXPECT_EQ(out, c.expected);
}

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockExtract,
    ::testing::Values(TExtract{"Inside", {0, 1}, 1, 2, {2, 102, 3, 103}},
                      TExtract{"Reversed", {1, 0}, 0, 2, {101, 1, 102, 2}},
                      TExtract{"Repeated", {1, 1}, 3, 1, {104, 104}},
                      TExtract{"BeforeTheStart", {0, 1}, -2, 3, {0, 0, 0, 0, 1, 101}},
                      TExtract{"PastTheEnd", {0}, 2, 4, {3, 4, 0, 0}},
                      TExtract{"AroundEverything", {0}, -1, 6, {0, 1, 2, 3, 4, 0}},
                      TExtract{"NoSuchChannel", {0, 2, -1}, 0, 1, {1, 0, 0}},
                      TExtract{"FarAway", {0}, kMax, 2, {0, 0}},
                      TExtract{"FarBefore", {0}, kMin, 2, {0, 0}},
                      TExtract{"NoFrames", {0}, 0, 0, {}}));

TEST(TWav, BlockExtractIntoAPartialFrameZeroesTheRest)
{
    const TWav wav = Numbered(2, 4);
    std::vector<std::int16_t> out(5, 999);
    const std::array<std::int32_t, 2> channels{0, 1};
    wav.BlockExtract(channels, 0, out);
    EXPECT_EQ(out, (std::vector<std::int16_t>{1, 101, 2, 102, 0}));
}

} // namespace
} // namespace kavrel

TEST(TWavSetLengthUnset, KeepsWhatFitsLikeSetLength)
{
    kavrel::TWav w;
    w.SetChannels(2);
    w.SetLength(3);
    for (std::int64_t i = 0; i < 3; ++i) {
        w.SetSample(0, i, static_cast<std::int16_t>(i + 1));
        w.SetSample(1, i, static_cast<std::int16_t>(-i - 1));
    }
    w.SetLengthUnset(5);
    ASSERT_EQ(w.Length(), 5);
    ASSERT_EQ(w.ChannelSamples(1).size(), 5U);
    for (std::int64_t i = 0; i < 3; ++i) {
        EXPECT_EQ(w.Sample(0, i), i + 1);
        EXPECT_EQ(w.Sample(1, i), -i - 1);
    }
    w.SetLengthUnset(2);
    EXPECT_EQ(w.Length(), 2);
    EXPECT_EQ(w.Sample(1, 1), -2);
    w.SetLengthUnset(-4);
    EXPECT_EQ(w.Length(), 0);
    EXPECT_TRUE(w.ChannelSamples(0).empty());
}
