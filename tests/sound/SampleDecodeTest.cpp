// The vector decoders give the values of the one-sample conversions: every 24-bit value on every
// path the processor runs, floats at the edges of the range, and runs of any length.

#include "sound/detail/SampleDecode.h"
#include "sound/detail/SampleConversion.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <vector>

using namespace kavrel::detail;

namespace {

TEST(SampleDecode, EveryPathDecodesEvery24BitValue)
{
    constexpr std::size_t count = std::size_t{1} << 24;
    std::vector<std::byte> in(3 * count);
    std::vector<std::int16_t> expected(count);
    for (std::size_t i = 0; i < count; ++i) {
        // Successive values far apart, so that each vector holds both signs and both roundings.
        const auto u = static_cast<std::uint32_t>(i * 0x9E3779u) & 0xFFFFFFu;
        for (int b = 0; b < 3; ++b)
            in[3 * i + static_cast<std::size_t>(b)] = static_cast<std::byte>(u >> (8 * b));
        expected[i] = RoundShift<8>(static_cast<std::int32_t>(u << 8) >> 8);
    }
    const std::vector<TDecodePath> paths = Decode24Paths();
    EXPECT_STREQ(paths.back().Name, "base");
    for (const TDecodePath& path : paths) {
        std::vector<std::int16_t> got(count);
        path.Run(in.data(), count, got.data());
        EXPECT_EQ(got, expected) << path.Name;
        // Short runs from odd places end inside a vector and must not write past their end.
        for (const std::size_t n : {0U, 1U, 9U, 15U, 17U, 40U}) {
            std::vector<std::int16_t> part(n + 1, 0x5a5a);
            path.Run(in.data() + 3 * 5, n, part.data());
            for (std::size_t i = 0; i < n; ++i)
                ASSERT_EQ(part[i], expected[5 + i]) << path.Name << " " << n << " " << i;
            EXPECT_EQ(part[n], 0x5a5a) << path.Name << " " << n;
        }
    }
}

TEST(SampleDecode, FloatsGiveTheValuesOfFromFloat)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> edges = {0.0,
                                       -0.0,
                                       1.0,
                                       -1.0,
                                       0.5 / 32768,
                                       1.5 / 32768,
                                       -2.5 / 32768,
                                       32766.5 / 32768,
                                       32766.9 / 32768,
                                       32767.5 / 32768,
                                       -32767.5 / 32768,
                                       -32768.5 / 32768,
                                       1e30,
                                       -1e30,
                                       1e35,
                                       -1e35,
                                       inf,
                                       -inf,
                                       nan,
                                       std::numeric_limits<float>::denorm_min(),
                                       0.123456789,
                                       -0.7};
    // Every edge in every lane position, with a tail that ends inside a vector.
    std::vector<double> values;
    for (int shift = 0; shift < 9; ++shift)
        for (std::size_t i = 0; i < edges.size(); ++i)
            values.push_back(edges[(i + static_cast<std::size_t>(shift)) % edges.size()]);
    values.resize(values.size() - 3);

    std::vector<std::byte> in32(4 * values.size());
    std::vector<std::byte> in64(8 * values.size());
    std::vector<std::int16_t> expected32;
    std::vector<std::int16_t> expected64;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto f = static_cast<float>(values[i]);
        std::memcpy(in32.data() + 4 * i, &f, 4);
        std::memcpy(in64.data() + 8 * i, &values[i], 8);
        expected32.push_back(FromFloat(static_cast<double>(f)));
        expected64.push_back(FromFloat(values[i]));
    }
    std::vector<std::int16_t> got(values.size());
    DecodeFloat32(in32.data(), values.size(), got.data());
    EXPECT_EQ(got, expected32);
    DecodeFloat64(in64.data(), values.size(), got.data());
    EXPECT_EQ(got, expected64);
}

TEST(SampleDecode, DeinterleavesAnyChannelCount)
{
    for (std::size_t channels = 1; channels <= 9; ++channels) {
        for (const std::size_t frames : {0U, 1U, 7U, 8U, 21U}) {
            std::vector<std::int16_t> in(channels * frames);
            for (std::size_t i = 0; i < in.size(); ++i)
                in[i] = static_cast<std::int16_t>(i * 7919 - 30000);
            std::vector<std::vector<std::int16_t>> out(channels,
                                                       std::vector<std::int16_t>(frames + 1, 1));
            std::vector<std::int16_t*> outs;
            for (auto& o : out)
                outs.push_back(o.data());
            Deinterleave16(reinterpret_cast<const std::byte*>(in.data()), frames, channels,
                           outs.data());
            for (std::size_t c = 0; c < channels; ++c) {
                for (std::size_t f = 0; f < frames; ++f)
                    ASSERT_EQ(out[c][f], in[f * channels + c]) << channels << " " << frames;
                EXPECT_EQ(out[c][frames], 1) << channels << " " << frames;
            }
        }
    }
}

} // namespace
