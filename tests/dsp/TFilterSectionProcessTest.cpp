#include "tests/dsp/FilterTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace kavrel::test {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::vector<double> Filter(TFilterSection& s, const std::vector<double>& in)
{
    std::vector<double> out;
    out.reserve(in.size());
    for (const double x : in)
        out.push_back(s.Process(x));
    return out;
}

std::vector<double> Impulse(std::size_t n, double height = 1.0)
{
    std::vector<double> v(n, 0.0);
    v[0] = height;
    return v;
}

std::vector<double> Noise(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> d(-32768.0, 32767.0);
    std::vector<double> v(n);
    for (double& x : v)
        x = d(gen);
    return v;
}

// Impulse response of the pole half alone, 1 / ((1 - p z^-1)(1 - p* z^-1)) with p = r·e^(jθ)
// taken from the section's stored a1, a2: r^n·sin((n+1)θ)/sin θ.
long double PoleImpulse(const TFilterSection& s, long double n)
{
    const long double r = std::sqrt(-static_cast<long double>(s.a2()));
    const long double theta = std::acos(static_cast<long double>(s.a1()) / (2.0L * r));
    return std::pow(r, n) * std::sin((n + 1.0L) * theta) / std::sin(theta);
}

class ImpulseResponse : public testing::TestWithParam<FormSection> {};

TEST_P(ImpulseResponse, OfThePoleHalfIsTheDampedResonance)
{
    TFilterSection s = MakeFormSection(GetParam(), 0.5);
    s.SetFilterType(tfiltertype::ftpole);
    const std::vector<double> h = Filter(s, Impulse(20000));
    const long double peak = 0.5L * s.a0() / std::sin(std::acos(s.a1() / (2 * std::sqrt(-s.a2()))));
    for (std::size_t n = 0; n < h.size(); ++n) {
        const long double expected = 0.5L * s.a0() * PoleImpulse(s, static_cast<long double>(n));
        ASSERT_NEAR(h[n], static_cast<double>(expected), 1e-11 * static_cast<double>(peak))
            << "n = " << n;
    }
}

TEST_P(ImpulseResponse, OfTheZeroHalfIsItsThreeCoefficients)
{
    TFilterSection s = MakeFormSection(GetParam(), 0.5);
    s.SetFilterType(tfiltertype::ftzero);
    const std::vector<double> h = Filter(s, Impulse(6, 2.0));
    const std::vector<double> expected{0.5 * (s.b0() * 2.0),
                                       0.5 * (s.b0() * (s.b1() * 2.0)),
                                       0.5 * (s.b0() * (s.b2() * 2.0)),
                                       0,
                                       0,
                                       0};
    EXPECT_EQ(h, expected);
}

TEST_P(ImpulseResponse, OfBothHalvesIsTheZerosAppliedToTheResonance)
{
    TFilterSection s = MakeFormSection(GetParam(), 0.5);
    const std::vector<double> h = Filter(s, Impulse(20000));
    const auto g = [&](long double n) {
        return n < 0 ? 0.0L : static_cast<long double>(s.a0()) * PoleImpulse(s, n);
    };
    long double peak = 0;
    std::vector<long double> expected(h.size());
    for (std::size_t i = 0; i < h.size(); ++i) {
        const auto n = static_cast<long double>(i);
        expected[i] = 0.5L * s.b0() * (g(n) + s.b1() * g(n - 1) + s.b2() * g(n - 2));
        peak = std::max(peak, std::fabs(expected[i]));
    }
    for (std::size_t n = 0; n < h.size(); ++n)
        ASSERT_NEAR(h[n], static_cast<double>(expected[n]), 1e-10 * static_cast<double>(peak))
            << "n = " << n;
}

INSTANTIATE_TEST_SUITE_P(FormSections, ImpulseResponse, testing::Values(kForm1, kForm2));

TEST(FilterSectionProcess, NoneScalesByGainAndLeavesTheDelayLineAlone)
{
    TFilterSection s = MakeFormSection(kForm2, 0.25);
    TFilterSection fresh = s;
    s.SetFilterType(tfiltertype::ftnone);
    EXPECT_EQ(Filter(s, {4.0, -8.0, 1e4}), (std::vector<double>{1.0, -2.0, 2.5e3}));
    s.SetFilterType(tfiltertype::ftboth);
    EXPECT_EQ(Filter(s, Impulse(50)), Filter(fresh, Impulse(50)));
}

TEST(FilterSectionProcess, UnknownTypesGiveSilenceAndLeaveTheDelayLineAlone)
{
    for (const int type : {-1, 4, 255}) {
        TFilterSection s = MakeFormSection(kForm1);
        TFilterSection reference = s;
        Filter(s, Impulse(10));
        Filter(reference, Impulse(10));
        s.SetFilterType(static_cast<tfiltertype>(type));
        EXPECT_EQ(Filter(s, Noise(5, 1)), std::vector<double>(5, 0.0)) << type;
        s.SetFilterType(tfiltertype::ftboth);
        EXPECT_EQ(Filter(s, Noise(100, 2)), Filter(reference, Noise(100, 2))) << type;
    }
}

TEST(FilterSectionProcess, ResetClearsTheDelayLine)
{
    for (const tfiltertype type : {tfiltertype::ftpole, tfiltertype::ftzero, tfiltertype::ftboth}) {
        TFilterSection s = MakeFormSection(kForm2);
        s.SetFilterType(type);
        TFilterSection fresh = s;
        Filter(s, Noise(300, 3));
        s.Reset();
        EXPECT_EQ(Filter(s, Impulse(300)), Filter(fresh, Impulse(300)));
    }
}

// A sample whose result is not finite comes out as 0 and the section goes on as if it had never
// seen that sample.
struct BadSample {
    const char* name;
    double gain;
    double sample;
};

void PrintTo(const BadSample& c, std::ostream* os)
{
    *os << c.name;
}

class NonFiniteResults : public testing::TestWithParam<std::tuple<BadSample, tfiltertype>> {};

TEST_P(NonFiniteResults, GiveZeroAndLeaveTheDelayLineAsItWas)
{
    const auto& [bad, type] = GetParam();
    TFilterSection s = MakeFormSection(kForm1, bad.gain);
    s.SetFilterType(type);
    TFilterSection reference = s;
    const std::vector<double> before = Noise(40, 4);
    const std::vector<double> after = Noise(400, 5);

    EXPECT_EQ(Filter(s, before), Filter(reference, before));
    EXPECT_EQ(s.Process(bad.sample), 0.0);
    const std::vector<double> got = Filter(s, after);
    EXPECT_EQ(got, Filter(reference, after));
    EXPECT_NE(got.back(), 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, NonFiniteResults,
    testing::Combine(testing::Values(BadSample{"NaN", 1.0, kNaN}, BadSample{"PlusInf", 1.0, kInf},
                                     BadSample{"MinusInf", 1.0, -kInf},
                                     BadSample{"Overflow", 1e295, 1e20}),
                     testing::Values(tfiltertype::ftnone, tfiltertype::ftpole, tfiltertype::ftzero,
                                     tfiltertype::ftboth)),
    [](const auto& i) {
        return std::string(std::get<0>(i.param).name) + "_type" +
               std::to_string(static_cast<int>(std::get<1>(i.param)));
    });

TEST(FilterSectionProcess, AnUnstableSectionRecoversOnceRedesigned)
{
    // Poles outside the unit circle drive the delay line towards overflow; the last finite state
    // is kept, so a stable design afterwards decays from it instead of staying silent.
    TFilterSection s;
    s.SetSampFreq(44100.0);
    s.SetFilterType(tfiltertype::ftpole);
    s.Seta1(0.0);
    s.Seta2(-4.0);
    for (int i = 0; i < 2000; ++i)
        s.Process(i == 0 ? 1.0 : 0.0);
    EXPECT_EQ(s.Process(0.0), 0.0);
    s.Seta2(-0.5);
    const double y = s.Process(0.0);
    EXPECT_TRUE(std::isfinite(y));
    EXPECT_NE(y, 0.0);
    for (int i = 0; i < 5000; ++i)
        s.Process(0.0);
    EXPECT_EQ(s.Process(1.0), 1.0); // the old state has decayed to nothing
}

// The block form must give exactly the bits of the per-sample form, state included.
class BlockForm : public testing::TestWithParam<int> {};

std::vector<double> MixedInput()
{
    std::vector<double> in = Noise(3000, 6);
    in[100] = kNaN;
    in[1500] = 1e305;
    in[1501] = -kInf;
    return in;
}

TEST_P(BlockForm, MatchesThePerSampleFormBitForBit)
{
    TFilterSection proto = MakeFormSection(kForm2, 3.0);
    proto.SetFilterType(static_cast<tfiltertype>(GetParam()));
    const std::vector<double> in = MixedInput();

    TFilterSection perSample = proto;
    std::vector<double> expected = Filter(perSample, in);
    expected.push_back(perSample.Process(1.0));

    TFilterSection outOfPlace = proto;
    TFilterSection inPlace = proto;
    std::vector<double> out(in.size() + 1, -7.0);
    std::vector<double> buf = in;
    buf.push_back(1.0);
    std::size_t pos = 0;
    for (const std::size_t len : {0u, 1u, 7u, 1000u, 1992u}) {
        outOfPlace.ProcessBlock(std::span(in).subspan(pos, len), std::span(out).subspan(pos, len));
        inPlace.ProcessBlock(std::span(buf).subspan(pos, len));
        pos += len;
    }
    ASSERT_EQ(pos, in.size());
    out.back() = outOfPlace.Process(1.0);
    inPlace.ProcessBlock(std::span(buf).subspan(pos, 1));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(SameBits(out[i], expected[i])) << "out of place, sample " << i;
        ASSERT_TRUE(SameBits(buf[i], expected[i])) << "in place, sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Types, BlockForm, testing::Values(0, 1, 2, 3, 9));

TEST(FilterSectionBlockForm, ProcessesOnlyAsManySamplesAsBothSpansHold)
{
    TFilterSection s = MakeFormSection(kForm1);
    TFilterSection reference = s;
    const std::vector<double> in = Noise(10, 7);
    std::vector<double> out(6, -1.0);
    s.ProcessBlock(in, std::span(out).first(4));
    const std::vector<double> expected = Filter(reference, {in.begin(), in.begin() + 4});
    EXPECT_EQ(std::vector<double>(out.begin(), out.begin() + 4), expected);
    EXPECT_EQ(out[4], -1.0);
    EXPECT_EQ(s.Process(0.5), reference.Process(0.5));

    std::vector<double> longOut(20, -1.0);
    s.ProcessBlock(std::span(in).first(3), longOut);
    EXPECT_EQ(longOut[3], -1.0);
    EXPECT_EQ(s.Process(0.5), (Filter(reference, {in[0], in[1], in[2], 0.5}).back()));
}

// A redesign mid-stream: the block runs from the one delay line through the old and the new
// design and fades between them; with nothing redesigned it is the plain block form.
TEST(FilterSectionBlockForm, FromAnotherDesignFadesToThisOneAndEndsOnItsOwnRun)
{
    const TFilterSection was = MakeFormSection(kForm1, 2.0);
    TFilterSection now = was;
    const std::vector<double> lead = Noise(50, 8);
    Filter(now, lead);
    const std::vector<double> in = Noise(441, 9);
    std::vector<double> out(in.size());
    TFilterSection plain = now;
    std::vector<double> expected = Filter(plain, in);
    TFilterSection same = now;
    same.ProcessBlockFrom(was, in, out);
    for (std::size_t i = 0; i < in.size(); ++i)
        ASSERT_TRUE(SameBits(out[i], expected[i])) << i;
    ASSERT_TRUE(SameBits(same.Process(0.5), plain.Process(0.5)));

    TFilterSection oldRun = now; // the delay line with the old design
    TFilterSection newRun = now;
    newRun.SetPoleF0(400.0); // the setters keep the delay line
    newRun.SetZeroBW(30.0);
    newRun.SetGain(0.5);
    TFilterSection fading = newRun;
    fading.ProcessBlockFrom(was, in, out);
    oldRun.SetGain(0.5); // the gain is the section's own on both sides
    for (std::size_t i = 0; i < in.size(); ++i) {
        const double y0 = oldRun.Process(in[i]);
        const double y1 = newRun.Process(in[i]);
        ASSERT_NEAR(out[i], y0 + (y1 - y0) * TFilterSection::Fade(i, in.size()), 1e-6) << i;
    }
    EXPECT_EQ(TFilterSection::Fade(in.size() - 1, in.size()), 1.0);
    EXPECT_LT(TFilterSection::Fade(0, in.size()), 1e-4);
    EXPECT_TRUE(SameBits(fading.Process(0.5), newRun.Process(0.5)));
}

} // namespace
} // namespace kavrel::test
