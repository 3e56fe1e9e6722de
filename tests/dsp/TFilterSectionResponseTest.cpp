#include "tests/dsp/FilterTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <string>

namespace kavrel::test {
namespace {

using Complex = std::complex<long double>;
constexpr long double kPi = std::numbers::pi_v<long double>;

// Response measured on the running section: drive it with a sine until the transient has died
// away, then fit y = A·sin(ωn) + B·cos(ωn) by least squares; the response is A + jB.
std::complex<double> Measure(TFilterSection s, double hz)
{
    const long double w = 2.0L * kPi * hz / s.SampFreq();
    const int settle = 40000;
    const int fit = 20000;
    long double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
    for (int n = 0; n < settle + fit; ++n) {
        const long double sn = std::sin(w * n);
        const long double cn = std::cos(w * n);
        const double y = s.Process(static_cast<double>(sn));
        if (n < settle)
            continue;
        ss += sn * sn;
        cc += cn * cn;
        sc += sn * cn;
        ys += y * sn;
        yc += y * cn;
    }
    const long double det = ss * cc - sc * sc;
    return {static_cast<double>((ys * cc - yc * sc) / det),
            static_cast<double>((yc * ss - ys * sc) / det)};
}

// The response written from the design parameters alone: each half as the product of its two
// first-order factors at p = r·e^(±jθ), r = exp(-π·BW/fs), θ = 2π·F0/fs, normalised to 1 at 0 Hz.
Complex PairFactor(long double f0, long double bw, long double fs, Complex zInv)
{
    const Complex p = std::polar(std::exp(-kPi * bw / fs), 2.0L * kPi * f0 / fs);
    return (1.0L - p * zInv) * (1.0L - std::conj(p) * zInv) / ((1.0L - p) * (1.0L - std::conj(p)));
}

Complex Analytic(const FormSection& f, tfiltertype type, long double gain, long double hz)
{
    const Complex zInv = std::polar(1.0L, -2.0L * kPi * hz / kFormRate);
    const Complex poles = 1.0L / PairFactor(f.poleF0, f.poleBW, kFormRate, zInv);
    const Complex zeros = PairFactor(f.zeroF0, f.zeroBW, kFormRate, zInv);
    switch (type) {
    case tfiltertype::ftpole:
        return gain * poles;
    case tfiltertype::ftzero:
        return gain * zeros;
    default:
        return gain * poles * zeros;
    }
}

class FrequencyResponse
    : public testing::TestWithParam<std::tuple<FormSection, tfiltertype, double>> {};

TEST_P(FrequencyResponse, AgreesWithTheRunningSectionAndTheDesign)
{
    const auto& [form, type, hz] = GetParam();
    TFilterSection s = MakeFormSection(form, 0.7);
    s.SetFilterType(type);
    const std::complex<double> h = s.Response(hz);

    const std::complex<double> measured = Measure(s, hz);
    EXPECT_LE(std::abs(measured - h), 1e-9 * std::abs(h))
        << "measured " << measured << " response " << h;

    const Complex analytic = Analytic(form, type, 0.7L, hz);
    EXPECT_LE(std::abs(Complex(h) - analytic), 1e-9L * std::abs(analytic))
        << "analytic " << analytic.real() << "," << analytic.imag() << " response " << h;

    EXPECT_NEAR(s.MagnitudeDb(hz), static_cast<double>(20.0L * std::log10(std::abs(analytic))),
                1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Sweep, FrequencyResponse,
    testing::Combine(testing::Values(kForm1, kForm2),
                     testing::Values(tfiltertype::ftpole, tfiltertype::ftzero, tfiltertype::ftboth),
                     testing::Values(20.0, 50.0, 100.0, 200.0, 1000.0, 7000.0, 21000.0)),
    [](const auto& p) {
        const FormSection& form = std::get<0>(p.param);
        return std::string(form.poleF0 == kForm1.poleF0 ? "s1" : "s2") + "_type" +
               std::to_string(static_cast<int>(std::get<1>(p.param))) + "_" +
               std::to_string(static_cast<int>(std::get<2>(p.param)));
    });

TEST(FilterSectionResponse, AtZeroHertzIsTheGain)
{
    for (const FormSection& f : {kForm1, kForm2}) {
        TFilterSection s = MakeFormSection(f, 0.5);
        for (const tfiltertype t :
             {tfiltertype::ftpole, tfiltertype::ftzero, tfiltertype::ftboth}) {
            s.SetFilterType(t);
            EXPECT_NEAR(s.Response(0.0).real(), 0.5, 1e-12);
            EXPECT_EQ(s.Response(0.0).imag(), 0.0);
            EXPECT_NEAR(s.MagnitudeDb(0.0), 20.0 * std::log10(0.5), 1e-10);
        }
    }
}

TEST(FilterSectionResponse, FollowsTheFilterTypeAndGain)
{
    TFilterSection s = MakeFormSection(kForm2, 2.0);
    s.SetFilterType(tfiltertype::ftnone);
    EXPECT_EQ(s.Response(1234.0), std::complex<double>(2.0, 0.0));
    s.SetFilterType(static_cast<tfiltertype>(7));
    EXPECT_EQ(s.Response(1234.0), std::complex<double>(0.0, 0.0));
    EXPECT_EQ(s.MagnitudeDb(1234.0), -300.0);
}

TEST(FilterSectionResponse, UsesTheCurrentRate)
{
    TFilterSection s;
    s.SetFilterType(tfiltertype::ftzero);
    s.Setb0(0.5);
    s.Setb1(0.0);
    s.Setb2(1.0); // zeros at a quarter of the rate
    s.SetSampFreq(8000.0);
    EXPECT_LT(std::abs(s.Response(2000.0)), 1e-15);
    EXPECT_NEAR(std::abs(s.Response(1000.0)), 0.5 * std::numbers::sqrt2, 1e-15);
    s.SetSampFreq(4000.0);
    EXPECT_LT(std::abs(s.Response(1000.0)), 1e-15);
}

struct DbLimit {
    const char* name;
    double gain;
    double rate;
    double expected;
};

void PrintTo(const DbLimit& c, std::ostream* os)
{
    *os << c.name;
}

class MagnitudeLimits : public testing::TestWithParam<DbLimit> {};

TEST_P(MagnitudeLimits, StayWithinThreeHundredDecibels)
{
    const DbLimit& c = GetParam();
    TFilterSection s = MakeFormSection(kForm1, c.gain);
    s.SetSampFreq(c.rate);
    EXPECT_EQ(s.MagnitudeDb(100.0), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, MagnitudeLimits,
    testing::Values(DbLimit{"ZeroGain", 0.0, 44100.0, -300.0},
                    DbLimit{"InfiniteGain", std::numeric_limits<double>::infinity(), 44100.0,
                            300.0},
                    DbLimit{"HugeGain", 1e200, 44100.0, 300.0},
                    DbLimit{"NaNGain", std::numeric_limits<double>::quiet_NaN(), 44100.0, -300.0},
                    DbLimit{"RateZero", 1.0, 0.0, -300.0}),
    [](const testing::TestParamInfo<DbLimit>& i) { return std::string(i.param.name); });

TEST(FilterSectionResponse, IsNotANumberWithoutARate)
{
    TFilterSection s = MakeFormSection(kForm1);
    s.SetSampFreq(0.0);
    EXPECT_TRUE(std::isnan(s.Response(100.0).real()));
}

} // namespace
} // namespace kavrel::test
