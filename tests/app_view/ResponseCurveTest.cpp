#include "app/view/ResponseCurve.h"

#include "dsp/TFilterSection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

namespace kavrel {
namespace {

struct TDesign {
    double Fs, PoleF0, PoleBW, ZeroF0, ZeroBW, Gain;
};

TFilterSection Section(const TDesign& d)
{
    TFilterSection s;
    s.SetUseF0BW(true);
    s.SetSampFreq(d.Fs);
    s.SetPoleF0(d.PoleF0);
    s.SetPoleBW(d.PoleBW);
    s.SetZeroF0(d.ZeroF0);
    s.SetZeroBW(d.ZeroBW);
    s.SetGain(d.Gain);
    s.SetFilterType(tfiltertype::ftboth);
    return s;
}

// The response worked out from the pole and zero positions: a pole pair at radius
// exp(-π·BW/fs) and angle ±2π·F0/fs, a zero pair likewise, each half scaled to gain 1 at 0 Hz.
double AnalyticDb(const TDesign& d, double hz)
{
    using C = std::complex<double>;
    const double pi = std::numbers::pi;
    const C z = std::polar(1.0, 2 * pi * hz / d.Fs);
    const auto pair = [&](double f0, double bw, C at) {
        const C r = std::polar(std::exp(-pi * bw / d.Fs), 2 * pi * f0 / d.Fs);
        return (at - r) * (at - std::conj(r));
    };
    const C zeros = pair(d.ZeroF0, d.ZeroBW, z) / pair(d.ZeroF0, d.ZeroBW, 1.0);
    const C poles = pair(d.PoleF0, d.PoleBW, z) / pair(d.PoleF0, d.PoleBW, 1.0);
    return 20 * std::log10(d.Gain * std::abs(zeros / poles));
}

class ResponseCurveValues : public testing::TestWithParam<TDesign> {};

TEST_P(ResponseCurveValues, FollowTheAnalyticResponseOnALogScale)
{
    const TDesign d = GetParam();
    const TFilterSection s = Section(d);
    const auto curve = ResponseCurve(s, 301);
    ASSERT_EQ(curve.size(), 301u);
    EXPECT_DOUBLE_EQ(curve.front().Hz, 10.0);
    EXPECT_DOUBLE_EQ(curve.back().Hz, d.Fs / 2);
    const double ratio = std::pow(d.Fs / 2 / 10.0, 1.0 / 300);
    for (std::size_t k = 0; k < curve.size(); ++k) {
        if (k > 0) {
            EXPECT_NEAR(curve[k].Hz / curve[k - 1].Hz, ratio, 1e-9);
        }
        EXPECT_NEAR(curve[k].Db, AnalyticDb(d, curve[k].Hz), 1e-6) << curve[k].Hz << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Designs, ResponseCurveValues,
    testing::Values(TDesign{44100, 100, 100, 100, 100, 0.316227766}, // sliders at rest
                    TDesign{44100, 50, 50, 100, 100, 1.0},
                    TDesign{48000, 1000, 100, 10, 100, 10.0},  // sharp peak, wide zero
                    TDesign{8000, 200, 2000, 1000, 100, 0.01}, // wide pole, sharp notch
                    TDesign{22050, 10, 1, 1000, 10000, 1.0}));

// Independent of any formula: a sine run through the section comes out scaled by the curve.
TEST(ResponseCurve, MatchesTheGainOfASineThroughTheFilter)
{
    TFilterSection s = Section({44100, 300, 60, 2000, 400, 0.5});
    const auto curve = ResponseCurve(s, 40);
    for (std::size_t k : {5u, 20u, 31u}) {
        const double hz = curve[k].Hz;
        s.Reset();
        double peak = 0;
        const int n = 44100;
        for (int i = 0; i < n; ++i) {
            const double y = s.Process(std::sin(2 * std::numbers::pi * hz * i / 44100));
            if (i > n / 2)
                peak = std::max(peak, std::abs(y));
        }
        EXPECT_NEAR(20 * std::log10(peak), curve[k].Db, 0.05) << hz << " Hz";
    }
}

TEST(ResponseCurve, MarksPeakAndNotch)
{
    // A narrow pole at 1 kHz and a narrow zero at 100 Hz: the curve's highest point lies at the
    // pole, its lowest at the zero.
    const TFilterSection s = Section({44100, 1000, 20, 100, 5, 1.0});
    const auto curve = ResponseCurve(s, 2000);
    const auto hi =
        std::max_element(curve.begin(), curve.end(), [](auto& a, auto& b) { return a.Db < b.Db; });
    const auto lo =
        std::min_element(curve.begin(), curve.end(), [](auto& a, auto& b) { return a.Db < b.Db; });
    EXPECT_NEAR(hi->Hz, 1000, 5);
    EXPECT_NEAR(lo->Hz, 100, 1);
    EXPECT_GT(hi->Db, 20);
    EXPECT_LT(lo->Db, -20);
}

TEST(ResponseCurve, EmptyWithoutARange)
{
    TFilterSection s = Section({44100, 100, 100, 100, 100, 1});
    EXPECT_TRUE(ResponseCurve(s, 1).empty());
    EXPECT_TRUE(ResponseCurve(s, 10, 30000).empty());
    s.SetSampFreq(20);
    EXPECT_TRUE(ResponseCurve(s, 10).empty());
    s.SetSampFreq(NAN);
    EXPECT_TRUE(ResponseCurve(s, 10).empty());
}

struct TRangeCase {
    std::vector<double> Db;
    double Lo, Hi;
};

class ResponseDbRangeCases : public testing::TestWithParam<TRangeCase> {};

TEST_P(ResponseDbRangeCases, WholeStepsAroundTheCurve)
{
    std::vector<TResponsePoint> curve;
    for (double db : GetParam().Db)
        curve.push_back({100, db});
    const TDbRange r = ResponseDbRange(curve);
    EXPECT_EQ(r.Lo, GetParam().Lo);
    EXPECT_EQ(r.Hi, GetParam().Hi);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResponseDbRangeCases,
    testing::Values(TRangeCase{{}, -10, 10}, TRangeCase{{0, 0}, -10, 10},
                    TRangeCase{{-3.5, 12.1}, -10, 20}, TRangeCase{{-10, 10}, -10, 10},
                    TRangeCase{{-300, 5}, -120, 10}, TRangeCase{{200, 300}, 110, 120},
                    TRangeCase{{-300, -250}, -120, -110}, TRangeCase{{NAN, 4}, 0, 10}));

} // namespace
} // namespace kavrel
