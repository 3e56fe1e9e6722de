#include "tests/dsp/FilterTestSupport.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace kavrel::test {
namespace {

struct Snapshot {
    double a0, a1, a2, b0, b1, b2, poleF0, poleBW, zeroF0, zeroBW, fs;
    bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const TFilterSection& s)
{
    return {s.a0(),     s.a1(),     s.a2(),     s.b0(),     s.b1(),      s.b2(),
            s.PoleF0(), s.PoleBW(), s.ZeroF0(), s.ZeroBW(), s.SampFreq()};
}

TEST(FilterSectionDefaults, MatchTheStoredFormDefaults)
{
    const TFilterSection s;
    EXPECT_EQ(Take(s), (Snapshot{1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 16000.0}));
    EXPECT_EQ(s.Gain(), 1.0);
    EXPECT_FALSE(s.UseF0BW());
    EXPECT_EQ(s.FilterType(), tfiltertype::ftboth);
}

// The coefficients of the main window's two sections, as listed with the stored form. Each must
// come out within 4 units in the last place, or within half a unit of the last digit listed when
// the listing carries fewer digits than a double holds.
struct WorkedCase {
    const char* name;
    FormSection form;
    double (TFilterSection::*get)() const noexcept;
    const char* listed;
};

void PrintTo(const WorkedCase& c, std::ostream* os)
{
    *os << c.name;
}

class WorkedCoefficients : public testing::TestWithParam<WorkedCase> {};

int SignificantDigits(const std::string& text)
{
    int digits = 0;
    bool leading = true;
    for (const char c : text) {
        if (c == 'e' || c == 'E')
            break;
        if (c < '0' || c > '9')
            continue;
        if (c == '0' && leading)
            continue;
        leading = false;
        ++digits;
    }
    return digits;
}

TEST_P(WorkedCoefficients, ComeOutWithinDoubleRounding)
{
    const WorkedCase& c = GetParam();
    const TFilterSection s = MakeFormSection(c.form);
    const double listed = std::strtod(c.listed, nullptr);
    const double got = (s.*c.get)();

    const double ulp = std::nextafter(std::fabs(listed), DBL_MAX) - std::fabs(listed);
    const double halfDigit = 0.5 * std::pow(10.0, std::floor(std::log10(std::fabs(listed))) + 1 -
                                                      SignificantDigits(c.listed));
    const auto allowed = std::max<std::int64_t>(4, std::llround(std::ceil(halfDigit / ulp)));
    EXPECT_LE(UlpDistance(got, listed), allowed)
        << c.name << ": got " << std::hexfloat << got << " listed " << listed;
}

INSTANTIATE_TEST_SUITE_P(
    FormSections, WorkedCoefficients,
    testing::Values(WorkedCase{"s1_a0", kForm1, &TFilterSection::a0, "6.3209781634543e-05"},
                    WorkedCase{"s1_a1", kForm1, &TFilterSection::a1, "1.992838311419088"},
                    WorkedCase{"s1_a2", kForm1, &TFilterSection::a2, "-0.9929015212007221"},
                    WorkedCase{"s1_b0", kForm1, &TFilterSection::b0, "3969.234550765305"},
                    WorkedCase{"s1_b1", kForm1, &TFilterSection::b1, "-1.985601493058236"},
                    WorkedCase{"s1_b2", kForm1, &TFilterSection::b2, "0.9858534308027079"},
                    WorkedCase{"s2_a0", kForm2, &TFilterSection::a0, "0.000812790937293695"},
                    WorkedCase{"s2_a1", kForm2, &TFilterSection::a1, "1.996341747937095"},
                    WorkedCase{"s2_a2", kForm2, &TFilterSection::a2, "-0.9971545388743885"},
                    WorkedCase{"s2_b0", kForm2, &TFilterSection::b0, "999.4409169588976"},
                    WorkedCase{"s2_b1", kForm2, &TFilterSection::b1, "-1.97090642762968"},
                    WorkedCase{"s2_b2", kForm2, &TFilterSection::b2, "0.9719069870254697"}),
    [](const testing::TestParamInfo<WorkedCase>& i) { return std::string(i.param.name); });

TEST(FilterSectionDesign, BothHalvesHaveUnityGainAtZeroHertzExactly)
{
    for (const FormSection& f : {kForm1, kForm2}) {
        const TFilterSection s = MakeFormSection(f);
        EXPECT_EQ(s.a0() / (1.0 - s.a1() - s.a2()), 1.0);
        EXPECT_EQ(s.b0() * (1.0 + s.b1() + s.b2()), 1.0);
    }
}

TEST(FilterSectionDesign, StoredCoefficientsAssignedFirstAreReplacedByTheDesign)
{
    // A stored form assigns the coefficients before the flag; they must not survive.
    TFilterSection s;
    s.Seta0(0.5);
    s.Seta1(0.25);
    s.Seta2(-0.125);
    s.Setb0(2.0);
    s.Setb1(0.75);
    s.Setb2(0.5);
    s.SetUseF0BW(true);
    s.SetPoleBW(kForm2.poleBW);
    s.SetPoleF0(kForm2.poleF0);
    s.SetZeroBW(kForm2.zeroBW);
    s.SetZeroF0(kForm2.zeroF0);
    s.SetSampFreq(kFormRate);
    EXPECT_EQ(Take(s), Take(MakeFormSection(kForm2)));
}

TEST(FilterSectionDesign, NewRateRedesignsAsIfDesignedAtThatRate)
{
    TFilterSection direct;
    direct.SetUseF0BW(true);
    direct.SetSampFreq(48000.0);
    direct.SetPoleF0(kForm1.poleF0);
    direct.SetPoleBW(kForm1.poleBW);
    direct.SetZeroF0(kForm1.zeroF0);
    direct.SetZeroBW(kForm1.zeroBW);

    TFilterSection later = MakeFormSection(kForm1);
    later.SetSampFreq(48000.0);
    EXPECT_EQ(Take(later), Take(direct));
}

TEST(FilterSectionDesign, NewRateLeavesAHalfWithAZeroF0OrBWAsItWas)
{
    TFilterSection s;
    s.SetUseF0BW(true);
    s.SetPoleBW(50.0);  // PoleF0 stays 0
    s.SetZeroF0(300.0); // ZeroBW stays 0
    const Snapshot before = Take(s);
    s.SetSampFreq(44100.0);
    Snapshot expected = before;
    expected.fs = 44100.0;
    EXPECT_EQ(Take(s), expected);
}

TEST(FilterSectionDesign, NewRateWithoutF0BWStoresTheRateOnly)
{
    TFilterSection s;
    s.Seta1(1.5);
    s.Seta2(-0.8);
    s.Setb1(-1.2);
    s.Setb2(0.7);
    Snapshot expected = Take(s);
    s.SetSampFreq(8000.0);
    expected.fs = 8000.0;
    EXPECT_EQ(Take(s), expected);
}

TEST(FilterSectionDesign, SwitchingTheFlagRecomputesNothing)
{
    TFilterSection s = MakeFormSection(kForm1);
    const Snapshot designed = Take(s);
    s.SetUseF0BW(false);
    EXPECT_EQ(Take(s), designed);
    s.Seta1(1.0);
    const Snapshot direct = Take(s);
    s.SetUseF0BW(true);
    EXPECT_EQ(Take(s), direct);
}

// Each setter of the kind that the flag does not select must change nothing at all.
struct IgnoredSetter {
    const char* name;
    bool useF0BW;
    std::function<void(TFilterSection&)> set;
};

void PrintTo(const IgnoredSetter& c, std::ostream* os)
{
    *os << c.name;
}

class IgnoredSetters : public testing::TestWithParam<IgnoredSetter> {};

TEST_P(IgnoredSetters, LeaveEveryPropertyAsItWas)
{
    const IgnoredSetter& c = GetParam();
    TFilterSection s = MakeFormSection(kForm2);
    s.SetUseF0BW(c.useF0BW);
    const Snapshot before = Take(s);
    c.set(s);
    EXPECT_EQ(Take(s), before) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    WrongMode, IgnoredSetters,
    testing::Values(IgnoredSetter{"a0", true, [](TFilterSection& s) { s.Seta0(0.3); }},
                    IgnoredSetter{"a1", true, [](TFilterSection& s) { s.Seta1(0.3); }},
                    IgnoredSetter{"a2", true, [](TFilterSection& s) { s.Seta2(-0.3); }},
                    IgnoredSetter{"b0", true, [](TFilterSection& s) { s.Setb0(0.3); }},
                    IgnoredSetter{"b1", true, [](TFilterSection& s) { s.Setb1(0.3); }},
                    IgnoredSetter{"b2", true, [](TFilterSection& s) { s.Setb2(0.3); }},
                    IgnoredSetter{"PoleF0", false, [](TFilterSection& s) { s.SetPoleF0(1000.0); }},
                    IgnoredSetter{"PoleBW", false, [](TFilterSection& s) { s.SetPoleBW(1000.0); }},
                    IgnoredSetter{"ZeroF0", false, [](TFilterSection& s) { s.SetZeroF0(1000.0); }},
                    IgnoredSetter{"ZeroBW", false, [](TFilterSection& s) { s.SetZeroBW(1000.0); }}),
    [](const testing::TestParamInfo<IgnoredSetter>& i) { return std::string(i.param.name); });

// A design that cannot be computed leaves pass-through coefficients in that half and keeps the
// value just set.
struct FailedDesign {
    const char* name;
    std::function<void(TFilterSection&)> set;
    bool polesPass, zerosPass;
    std::function<bool(const TFilterSection&)> valueKept;
};

void PrintTo(const FailedDesign& c, std::ostream* os)
{
    *os << c.name;
}

class FailedDesigns : public testing::TestWithParam<FailedDesign> {};

TEST_P(FailedDesigns, FallBackToPassThrough)
{
    const FailedDesign& c = GetParam();
    TFilterSection s = MakeFormSection(kForm1);
    const TFilterSection good = s;
    c.set(s);
    const Snapshot got = Take(s);
    if (c.polesPass) {
        EXPECT_EQ(got.a0, 1.0);
        EXPECT_EQ(got.a1, 0.0);
        EXPECT_EQ(got.a2, 0.0);
    } else {
        EXPECT_EQ(got.a1, good.a1());
    }
    if (c.zerosPass) {
        EXPECT_EQ(got.b0, 1.0);
        EXPECT_EQ(got.b1, 0.0);
        EXPECT_EQ(got.b2, 0.0);
    } else {
        EXPECT_EQ(got.b1, good.b1());
    }
    EXPECT_TRUE(c.valueKept(s));
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedDesigns,
    testing::Values(
        FailedDesign{"RateZero", [](TFilterSection& s) { s.SetSampFreq(0.0); }, true, true,
                     [](const TFilterSection& s) { return s.SampFreq() == 0.0; }},
        FailedDesign{"RateNaN", [](TFilterSection& s) { s.SetSampFreq(kNaN); }, true, true,
                     [](const TFilterSection& s) { return std::isnan(s.SampFreq()); }},
        FailedDesign{"PoleF0NaN", [](TFilterSection& s) { s.SetPoleF0(kNaN); }, true, false,
                     [](const TFilterSection& s) { return std::isnan(s.PoleF0()); }},
        FailedDesign{"PoleF0Inf", [](TFilterSection& s) { s.SetPoleF0(kInf); }, true, false,
                     [](const TFilterSection& s) { return s.PoleF0() == kInf; }},
        // exp(7123) fits the extended format but not a double.
        FailedDesign{"PoleBWBeyondDouble", [](TFilterSection& s) { s.SetPoleBW(-5e7); }, true,
                     false, [](const TFilterSection& s) { return s.PoleBW() == -5e7; }},
        FailedDesign{"PoleBWBeyondExtended", [](TFilterSection& s) { s.SetPoleBW(-1e9); }, true,
                     false, [](const TFilterSection& s) { return s.PoleBW() == -1e9; }},
        FailedDesign{"ZeroBWBeyondDouble", [](TFilterSection& s) { s.SetZeroBW(-5e7); }, false,
                     true, [](const TFilterSection& s) { return s.ZeroBW() == -5e7; }},
        FailedDesign{"ZeroF0NaN", [](TFilterSection& s) { s.SetZeroF0(kNaN); }, false, true,
                     [](const TFilterSection& s) { return std::isnan(s.ZeroF0()); }},
        // Both zeros on the unit circle at 0 Hz: 1 + b1 + b2 is 0, so b0 has no value.
        FailedDesign{
            "ZerosAtDC",
            [](TFilterSection& s) {
                s.SetZeroF0(0.0);
                s.SetZeroBW(0.0);
            },
            false, true,
            [](const TFilterSection& s) { return s.ZeroF0() == 0.0 && s.ZeroBW() == 0.0; }}),
    [](const testing::TestParamInfo<FailedDesign>& i) { return std::string(i.param.name); });

TEST(FilterSectionDesign, RecoversFromAFailedDesign)
{
    TFilterSection s = MakeFormSection(kForm2);
    s.SetSampFreq(0.0);
    s.SetSampFreq(kFormRate);
    EXPECT_EQ(Take(s), Take(MakeFormSection(kForm2)));
}

// Setting coefficients directly back-computes the F0/BW that the design would turn into them.
struct RoundTrip {
    double fs, f0, bw;
    double f0Tolerance = 1e-6;
};

void PrintTo(const RoundTrip& c, std::ostream* os)
{
    *os << "fs " << c.fs << " F0 " << c.f0 << " BW " << c.bw;
}

class BackComputation : public testing::TestWithParam<RoundTrip> {};

TEST_P(BackComputation, InvertsTheDesign)
{
    const RoundTrip& c = GetParam();
    TFilterSection designed;
    designed.SetUseF0BW(true);
    designed.SetSampFreq(c.fs);
    designed.SetPoleF0(c.f0);
    designed.SetPoleBW(c.bw);
    designed.SetZeroF0(c.f0);
    designed.SetZeroBW(c.bw);

    TFilterSection direct;
    direct.SetSampFreq(c.fs);
    direct.Seta0(designed.a0());
    direct.Seta1(designed.a1());
    direct.Seta2(designed.a2());
    direct.Setb0(designed.b0());
    direct.Setb1(designed.b1());
    direct.Setb2(designed.b2());
    EXPECT_NEAR(direct.PoleF0(), c.f0, c.f0Tolerance);
    EXPECT_NEAR(direct.PoleBW(), c.bw, 1e-6);
    EXPECT_NEAR(direct.ZeroF0(), c.f0, c.f0Tolerance);
    EXPECT_NEAR(direct.ZeroBW(), c.bw, 1e-6);
}

// Next to a double pole at 0 Hz the arc cosine turns a rounding error of the coefficients into a
// square-root-sized error of F0: about fs/(2π)·sqrt(2·ε), some 1e-4 Hz.
INSTANTIATE_TEST_SUITE_P(Pairs, BackComputation,
                         testing::Values(RoundTrip{44100, 50, 50}, RoundTrip{44100, 200, 20},
                                         RoundTrip{16000, 1000, 300}, RoundTrip{48000, 12000, 2000},
                                         RoundTrip{8000, 3990, 5}, RoundTrip{22050, 0, 100, 2e-4},
                                         RoundTrip{44100, 500, 0}, RoundTrip{44100, 700, -40}));

TEST(FilterSectionBackComputation, UsesTheCurrentRate)
{
    TFilterSection s;
    s.SetSampFreq(1000.0);
    s.Seta2(-1.0);
    s.Seta1(0.0); // poles at ±j on the unit circle: a quarter of the rate, no bandwidth
    EXPECT_NEAR(s.PoleF0(), 250.0, 1e-9);
    EXPECT_EQ(s.PoleBW(), 0.0);
    EXPECT_FALSE(std::signbit(s.PoleBW()));
}

struct NoPair {
    const char* name;
    double c1, c2; // a1, a2 for the poles; b1, b2 for the zeros
};

void PrintTo(const NoPair& c, std::ostream* os)
{
    *os << c.name;
}

class NoConjugatePair : public testing::TestWithParam<NoPair> {};

TEST_P(NoConjugatePair, SetsF0AndBWToZero)
{
    const NoPair& c = GetParam();
    TFilterSection s;
    s.SetSampFreq(44100.0);
    s.Seta2(-0.9);
    s.Seta1(1.5);
    s.Setb2(0.9);
    s.Setb1(-1.5);
    ASSERT_NE(s.PoleF0(), 0.0);
    ASSERT_NE(s.ZeroF0(), 0.0);

    s.Seta1(c.c1);
    s.Seta2(c.c2);
    EXPECT_EQ(s.PoleF0(), 0.0);
    EXPECT_EQ(s.PoleBW(), 0.0);
    EXPECT_TRUE(SameBits(s.a1(), c.c1));

    s.Setb1(-c.c1);
    s.Setb2(-c.c2);
    EXPECT_EQ(s.ZeroF0(), 0.0);
    EXPECT_EQ(s.ZeroBW(), 0.0);
    EXPECT_TRUE(SameBits(s.b2(), -c.c2));
}

INSTANTIATE_TEST_SUITE_P(Coefficients, NoConjugatePair,
                         testing::Values(NoPair{"PositiveA2", 0.5, 0.25},
                                         NoPair{"ZeroA2", 0.5, 0.0}, NoPair{"RealPoles", 1.9, -0.8},
                                         NoPair{"NaN", kNaN, -0.5},
                                         NoPair{"InfiniteA2", 0.5, -kInf}),
                         [](const testing::TestParamInfo<NoPair>& i) {
                             return std::string(i.param.name);
                         });

TEST(FilterSectionBackComputation, ScaleCoefficientsLeaveF0AndBWAlone)
{
    TFilterSection s;
    s.Seta2(-0.9);
    s.Seta1(1.5);
    s.Setb2(0.8);
    s.Setb1(-1.2);
    const Snapshot before = Take(s);
    s.Seta0(7.0);
    s.Setb0(-3.0);
    EXPECT_EQ(s.PoleF0(), before.poleF0);
    EXPECT_EQ(s.PoleBW(), before.poleBW);
    EXPECT_EQ(s.ZeroF0(), before.zeroF0);
    EXPECT_EQ(s.ZeroBW(), before.zeroBW);
    EXPECT_EQ(s.a0(), 7.0);
    EXPECT_EQ(s.b0(), -3.0);
}

} // namespace
} // namespace kavrel::test
