#include "axes/TAxisModel.h"

#include "AxisFakes.h"
#include "axes/AxisTicks.h"
#include "axes/EAxisError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace kavrel {
namespace {

using testing::TFakeCanvas;
using testing::TFakeHost;
using testing::TLine;

// An axis sized and placed like the ones of the main window, measuring with the fake metrics.
class AxisModelTest : public ::testing::Test {
protected:
    void Place(tposition position, int width, int height)
    {
        axis.SetHost(&host);
        axis.SetPosition(position);
        axis.SetSize(width, height);
    }

    std::vector<double> TickValues()
    {
        std::vector<double> values;
        for (const auto& t : axis.Ticks()) {
            values.push_back(t.Value);
        }
        return values;
    }

    std::vector<std::string> TickLabels()
    {
        std::vector<std::string> labels;
        for (int i = 0; i < axis.TickCount(); ++i) {
            labels.push_back(axis.TickLabel(i));
        }
        return labels;
    }

    TFakeHost host;
    TAxisModel axis;
    int changed = 0;
};

TEST_F(AxisModelTest, NewAxis)
{
    EXPECT_EQ(axis.Width(), 200);
    EXPECT_EQ(axis.Height(), 200);
    EXPECT_EQ(axis.LoValue(), 0);
    EXPECT_EQ(axis.HiValue(), 1);
    EXPECT_EQ(axis.TickMarkSize(), 5);
    EXPECT_EQ(axis.TickSpaceAim(), 40);
    EXPECT_EQ(axis.Position(), tposition::posleft);
    EXPECT_EQ(axis.MinLoValue(), -1e300);
    EXPECT_EQ(axis.MaxHiValue(), 1e300);
    EXPECT_EQ(axis.MinValueDifference(), 0);
    EXPECT_EQ(axis.MaxValueDifference(), 1e300);
    EXPECT_TRUE(axis.AllowLoScroll());
    EXPECT_TRUE(axis.AllowHiScroll());
    EXPECT_FALSE(axis.AllowMidScroll());
    EXPECT_FALSE(axis.AllowDoubleClick());
    EXPECT_FALSE(axis.Logarithmic());

    TAxisModel bare(TAxisDefaults::Bare);
    EXPECT_EQ(bare.MaxValueDifference(), 0);
    EXPECT_FALSE(bare.AllowLoScroll());
    EXPECT_EQ(bare.StoredHiValue(), 1);
    EXPECT_EQ(bare.LoValue(), 0);
    EXPECT_EQ(bare.HiValue(), 0) << "all limits 0 hold the range at 0";
}

TEST_F(AxisModelTest, LowValueReadingRule)
{
    struct TCase {
        bool isInteger;
        double stored, minLo, maxLo, expected;
    };
    const TCase cases[] = {
        {false, 5, 0, 3, 3},      {false, -1, 0, 3, 0},    {false, 1.25, 0, 3, 1.25},
        {true, 2.5, -10, 10, 2},  {true, 3.5, -10, 10, 4}, {true, -2.5, -10, 10, -2},
        {true, -3, -2.5, 10, -2}, {true, 9, -10, 7.5, 7},  {true, 1.4, -10, 10, 1},
    };
    for (const auto& c : cases) {
        TAxisModel a;
        a.SetIsInteger(c.isInteger);
        a.SetMinLoValue(c.minLo);
        a.SetMaxLoValue(c.maxLo);
        a.SetLoValueNoEvent(c.stored);
        EXPECT_EQ(a.LoValue(), c.expected) << c.stored << " in " << c.minLo << ".." << c.maxLo;
    }
}

TEST_F(AxisModelTest, HighValueClampsInOrderAndTheLastBoundWins)
{
    axis.SetRange(0, 50);
    axis.SetMaxHiValue(1e300);
    axis.SetRange(0, 50);
    EXPECT_EQ(axis.HiValue(), 50);
    axis.SetMaxValueDifference(10);
    EXPECT_EQ(axis.HiValue(), 10);
    axis.SetHiValueNoEvent(50);
    axis.SetMaxHiValue(20);
    axis.SetHiValueNoEvent(50);
    EXPECT_EQ(axis.HiValue(), 10) << "the difference bound comes after the high bounds";
    axis.SetMinValueDifference(15);
    EXPECT_EQ(axis.HiValue(), 15) << "minimum difference is applied last, over MaxValueDifference";
    // The differences are taken from the stored low value, not the clamped one.
    axis.SetMinValueDifference(0);
    axis.SetMaxValueDifference(1e300);
    axis.SetMaxHiValue(1e300);
    axis.SetMaxLoValue(1);
    axis.SetRange(5, 5.5);
    EXPECT_EQ(axis.LoValue(), 1);
    EXPECT_EQ(axis.HiValue(), 5.5);
    axis.SetHiValueNoEvent(4);
    EXPECT_EQ(axis.HiValue(), 5) << "at least stored low + MinValueDifference";
}

TEST_F(AxisModelTest, IntegerHighValue)
{
    axis.SetIsInteger(true);
    axis.SetRange(0, 2.5);
    EXPECT_EQ(axis.HiValue(), 2);
    axis.SetRange(0, 10);
    axis.SetMaxValueDifference(3.7);
    EXPECT_EQ(axis.HiValue(), 3) << "floor of low + difference";
    axis.SetRange(0.4, 0.2);
    axis.SetMinValueDifference(1.2);
    EXPECT_EQ(axis.HiValue(), 2) << "ceiling of stored low + difference";
}

TEST_F(AxisModelTest, PublicSettersFireOnlyOnChange)
{
    axis.OnScaleChanged = [this](TAxisModel& sender) {
        EXPECT_EQ(&sender, &axis);
        EXPECT_TRUE(sender.InEvent());
        ++changed;
    };
    axis.SetLoValue(0);
    axis.SetHiValue(1);
    EXPECT_EQ(changed, 0);
    axis.SetLoValue(-1);
    EXPECT_EQ(changed, 1);
    axis.SetHiValue(2);
    EXPECT_EQ(changed, 2);
    EXPECT_FALSE(axis.InEvent());
    axis.SetLoValueNoEvent(-5);
    axis.SetHiValueNoEvent(5);
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(axis.LoValue(), -5);
}

TEST_F(AxisModelTest, SetRangeFiresOnceWhenEitherEndChanges)
{
    axis.OnScaleChanged = [this](TAxisModel&) { ++changed; };
    axis.SetRange(0, 1);
    EXPECT_EQ(changed, 0);
    axis.SetRange(-2, 3);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(axis.LoValue(), -2);
    EXPECT_EQ(axis.HiValue(), 3);
    axis.SetRange(-2, 4);
    EXPECT_EQ(changed, 2);
}

TEST_F(AxisModelTest, HandlerThatSetsTheRangeDoesNotFireAgain)
{
    axis.OnScaleChanged = [this](TAxisModel& a) {
        ++changed;
        a.SetRange(5, 6);
        a.SetLoValue(5.5);
        a.SetHiValue(7);
    };
    axis.SetLoValue(0.5);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(axis.LoValue(), 5.5);
    EXPECT_EQ(axis.HiValue(), 7);
}

TEST_F(AxisModelTest, GuardIsClearedWhenAHandlerThrows)
{
    axis.OnScaleChanged = [this](TAxisModel&) {
        ++changed;
        throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(axis.SetLoValue(0.5), std::runtime_error);
    EXPECT_FALSE(axis.InEvent());
    EXPECT_THROW(axis.SetRange(0.1, 0.9), std::runtime_error);
    EXPECT_EQ(changed, 2) << "the second change fired again";
}

TEST_F(AxisModelTest, LimitSettersPullTheRangeInsideAndFire)
{
    axis.SetRange(0, 10);
    axis.OnScaleChanged = [this](TAxisModel&) { ++changed; };
    axis.SetMaxValueDifference(4);
    EXPECT_EQ(axis.HiValue(), 4);
    EXPECT_EQ(axis.StoredHiValue(), 4);
    EXPECT_EQ(changed, 1);
    axis.SetMinLoValue(1);
    EXPECT_EQ(axis.StoredLoValue(), 1);
    EXPECT_EQ(changed, 2);
    axis.SetMaxHiValue(3);
    EXPECT_EQ(axis.StoredHiValue(), 3);
    EXPECT_EQ(changed, 3);
    axis.SetMinValueDifference(3);
    EXPECT_EQ(axis.StoredHiValue(), 4) << "HiValue = LoValue + 3";
    EXPECT_EQ(axis.HiValue(), 4) << "the difference beats MaxHiValue";
    EXPECT_EQ(changed, 4);
    axis.SetMaxLoValue(0.5);
    EXPECT_EQ(axis.StoredLoValue(), 0.5);
    EXPECT_EQ(changed, 5);
    // The stored high value moves up, but what HiValue reads stays 3.5: nothing to report.
    axis.SetMinHiValue(9);
    EXPECT_EQ(axis.StoredHiValue(), 9);
    EXPECT_EQ(axis.HiValue(), 3.5);
    EXPECT_EQ(changed, 5);
    // No stored value lies outside the new limits: nothing is pulled, nothing fires.
    axis.SetMaxLoValue(0.75);
    axis.SetMinLoValue(-5);
    EXPECT_EQ(changed, 5);
}

TEST_F(AxisModelTest, LogarithmicNeedsPositiveEnds)
{
    try {
        axis.SetLogarithmic(true);
        FAIL() << "no error for a zero low value";
    } catch (const EAxisError& e) {
        EXPECT_STREQ(e.what(), "LoValue=0, must be >0 for log scale!");
    }
    EXPECT_FALSE(axis.Logarithmic());

    axis.SetRange(1, -0.5);
    try {
        axis.SetLogarithmic(true);
        FAIL() << "no error for a negative high value";
    } catch (const EAxisError& e) {
        EXPECT_STREQ(e.what(), "HiValue=-0.5, must be >0 for log scale!");
    }
    EXPECT_FALSE(axis.Logarithmic());

    axis.SetRange(1, 100);
    axis.SetLogarithmic(true);
    EXPECT_TRUE(axis.Logarithmic());
    axis.SetDecimalSeparator(',');
    try {
        axis.SetLoValue(-2.5);
        FAIL();
    } catch (const EAxisError& e) {
        EXPECT_STREQ(e.what(), "LoValue=-2,5, must be >0 for log scale!");
    }
    EXPECT_EQ(axis.StoredLoValue(), -2.5) << "the refused value stays stored";
    EXPECT_THROW(axis.SetHiValueNoEvent(0), EAxisError);
    axis.SetLogarithmic(false);
    EXPECT_FALSE(axis.Logarithmic());
}

TEST_F(AxisModelTest, NotANumberIsNotTaken)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    axis.SetRange(-1, 1);
    axis.SetLoValue(nan);
    axis.SetHiValue(nan);
    EXPECT_EQ(axis.LoValue(), -1);
    EXPECT_EQ(axis.HiValue(), 1);
}

// ---- mapping ----

TEST_F(AxisModelTest, VerticalMappingPutsLowValuesAtTheBottom)
{
    Place(tposition::posleft, 43, 101);
    axis.SetRange(0, 1);
    EXPECT_EQ(axis.ValueToPixel(0), 100);
    EXPECT_EQ(axis.ValueToPixel(1), 0);
    EXPECT_EQ(axis.ValueToPixel(0.25), 75);
    EXPECT_EQ(axis.ValueToPixel(2), 0);
    EXPECT_EQ(axis.RawValueToPixel(2), -100);
    EXPECT_EQ(axis.RawValueToPixel(-1), 200);
    EXPECT_DOUBLE_EQ(axis.PixelToValue(75), 0.25);
    EXPECT_EQ(axis.PixelToValue(-50), 1) << "clamped to HiValue";
    EXPECT_EQ(axis.PixelToValue(500), 0) << "clamped to LoValue";
    axis.SetReverse(true);
    EXPECT_EQ(axis.ValueToPixel(0), 0);
    EXPECT_EQ(axis.ValueToPixel(1), 100);
    EXPECT_DOUBLE_EQ(axis.PixelToValue(25), 0.25);
    // Pixels round to nearest with halves to even: 256 pixel steps make exact halves.
    axis.SetReverse(false);
    axis.SetSize(43, 257);
    EXPECT_EQ(axis.ValueToPixel(0.5 / 256), 256);
    EXPECT_EQ(axis.ValueToPixel(1.5 / 256), 254);
    EXPECT_EQ(axis.ValueToPixel(2.5 / 256), 254);
}

TEST_F(AxisModelTest, HorizontalMapping)
{
    Place(tposition::posunder, 577, 24);
    axis.SetRange(0, 1);
    EXPECT_EQ(axis.ValueToPixel(0), 0);
    EXPECT_EQ(axis.ValueToPixel(0.5), 288);
    EXPECT_EQ(axis.ValueToPixel(1), 576);
    EXPECT_DOUBLE_EQ(axis.PixelToValue(144), 0.25);
    for (int p = 0; p < 577; p += 7) {
        EXPECT_EQ(axis.ValueToPixel(axis.PixelToValue(p)), p);
    }
    axis.SetReverse(true);
    EXPECT_EQ(axis.ValueToPixel(0), 576);
    EXPECT_DOUBLE_EQ(axis.PixelToValue(432), 0.25);
}

TEST_F(AxisModelTest, LogarithmicMapping)
{
    Place(tposition::posunder, 301, 24);
    axis.SetRange(10, 10000);
    axis.SetLogarithmic(true);
    EXPECT_EQ(axis.ValueToPixel(10), 0);
    EXPECT_EQ(axis.ValueToPixel(100), 100);
    EXPECT_EQ(axis.ValueToPixel(1000), 200);
    EXPECT_EQ(axis.RawValueToPixel(100000), 400);
    EXPECT_EQ(axis.RawValueToPixel(0), 0) << "log of zero falls back to 0";
    EXPECT_EQ(axis.RawValueToPixel(-5), 0);
    EXPECT_NEAR(axis.PixelToValue(150), std::sqrt(10.0) * 100, 1e-9);
    axis.SetPosition(tposition::posleft);
    axis.SetSize(40, 301);
    EXPECT_EQ(axis.ValueToPixel(100), 200);
    EXPECT_EQ(axis.RawValueToPixel(-5), 300) << "fallback 0, then mirrored";
}

TEST_F(AxisModelTest, DegenerateRangesAndSizesFallBack)
{
    Place(tposition::posleft, 40, 100);
    axis.SetRange(3, 3);
    EXPECT_EQ(axis.RawValueToPixel(3), 99);
    EXPECT_EQ(axis.PixelToValue(10), 3);
    axis.SetRange(2, 5);
    axis.SetSize(40, 1);
    EXPECT_EQ(axis.ValueToPixel(4), 0);
    EXPECT_EQ(axis.PixelToValue(0), 2) << "L = 1: 0, clamped up to LoValue";
    axis.SetSize(40, 0);
    EXPECT_EQ(axis.ValueToPixel(4), 0);
    EXPECT_GE(axis.TickCount(), 0);
}

TEST_F(AxisModelTest, ExtremeRangesNeverOverflow)
{
    Place(tposition::posunder, 577, 24);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct TRange {
        double lo, hi;
    };
    const TRange ranges[] = {{-1e300, 1e300},   {0, 1e-300},         {1e300, 1e300},
                             {-1e-300, 1e-300}, {-1.7e308, 1.7e308}, {5e-324, 1e-323},
                             {1, 1 + 1e-15}};
    for (const auto& r : ranges) {
        axis.SetRange(r.lo, r.hi);
        for (double v : {0.0, 1.0, -1.0, 1e300, -1e300, inf, -inf, nan, r.lo, r.hi}) {
            const int p = axis.ValueToPixel(v);
            EXPECT_GE(p, 0);
            EXPECT_LE(p, 576);
        }
        for (int p : {0, 288, 576, -1, 100000, INT_MAX, INT_MIN}) {
            const double v = axis.PixelToValue(p);
            EXPECT_TRUE(std::isfinite(v));
        }
        EXPECT_LE(axis.TickCount(), 4 * 577 + 8) << r.lo << ".." << r.hi;
        TFakeCanvas canvas;
        axis.Paint(canvas);
    }
    axis.SetRange(0, 1e-300);
    EXPECT_EQ(axis.ValueToPixel(1), 0) << "a pixel beyond int falls back to 0";
    EXPECT_EQ(axis.ValueToPixel(0.5e-300), 288);
}

// ---- linear layout ----

TEST_F(AxisModelTest, TimeAxisOf577Pixels)
{
    Place(tposition::posunder, 577, 24);
    axis.SetRange(0, 1);
    ASSERT_EQ(axis.TickCount(), 12);
    const auto& ticks = axis.Ticks();
    for (int i = 0; i < 12; ++i) {
        EXPECT_NEAR(ticks[static_cast<std::size_t>(i)].Value, 0.1 * i, 1e-12);
    }
    EXPECT_EQ(ticks[0].Label, "0");
    EXPECT_EQ(ticks[3].Label, "0.3");
    EXPECT_EQ(ticks[10].Label, "1");
    EXPECT_EQ(ticks[11].Label, "1.1") << "a tick beyond HiValue is kept";
    EXPECT_EQ(ticks[5].Pixel, 288);
    EXPECT_EQ(ticks[11].Pixel, 576) << "and its pixel clamps to the end";
}

TEST_F(AxisModelTest, AmplitudeAxisOf105PixelsLabelsOnlyZero)
{
    Place(tposition::posleft, 43, 105);
    axis.SetRange(-1, 1);
    EXPECT_EQ(TickValues(), (std::vector<double>{-1, 0, 1, 2}));
    EXPECT_EQ(TickLabels(), (std::vector<std::string>{"-1", "0", "1", "2"}));
    TFakeCanvas canvas;
    axis.Paint(canvas);
    ASSERT_EQ(canvas.texts.size(), 1U);
    EXPECT_EQ(canvas.texts[0].text, "0");
    EXPECT_EQ(canvas.texts[0].x, 43 - 5 - 5 - 7);
    EXPECT_EQ(canvas.texts[0].y, 52 - 6);
    // Every tick has its mark, the one beyond the range at the end pixel.
    ASSERT_EQ(canvas.lines.size(), 4U);
    EXPECT_EQ(canvas.lines[0], (TLine{38, 104, 43, 104}));
    EXPECT_EQ(canvas.lines[1], (TLine{38, 52, 43, 52}));
    EXPECT_EQ(canvas.lines[3], (TLine{38, 0, 43, 0}));
}

TEST_F(AxisModelTest, NoiseAroundZeroIsLabelledZero)
{
    Place(tposition::posunder, 4001, 24);
    axis.SetTickSpaceAim(1);
    axis.SetRange(-6.8, 1);
    bool sawNoise = false;
    for (const auto& t : axis.Ticks()) {
        if (t.Value != 0 && std::fabs(t.Value) < 1e-12) {
            sawNoise = true;
            EXPECT_EQ(t.Label, "0");
        }
    }
    EXPECT_TRUE(sawNoise) << "the range should make a tick that misses zero by rounding";
}

TEST_F(AxisModelTest, LinearLayoutFallbacks)
{
    Place(tposition::posunder, 577, 24);
    axis.SetRange(4, 4);
    EXPECT_EQ(TickValues(), (std::vector<double>{0, 0, 0})) << "step 0: three ticks at 0";
    EXPECT_EQ(TickLabels(), (std::vector<std::string>{"0", "0", "0"}));
    axis.SetRange(0, 1);
    axis.SetTickSpaceAim(0);
    EXPECT_EQ(axis.TickCount(), 4) << "3 provisional ticks, step N(1/3) = 0.5";
    axis.SetTickSpaceAim(-40);
    EXPECT_EQ(axis.TickCount(), 3) << "negative count: step 1";
    // A short axis gets no provisional tick, so the step falls back to 1; a wide range then
    // must not produce one tick per unit.
    axis.SetTickSpaceAim(40);
    axis.SetSize(30, 24);
    axis.SetRange(0, 1e9);
    EXPECT_LE(axis.TickCount(), 4 * 30 + 8);
    axis.SetRange(0, 2);
    EXPECT_EQ(TickValues(), (std::vector<double>{0, 1, 2, 3}));
}

// Where the aimed spacing would put labels against each other the next coarser nice step is
// taken; where they fit, the aimed step stays.
TEST_F(AxisModelTest, CrowdedLabelsTakeACoarserStep)
{
    struct TCase {
        tposition position;
        int length;
        double lo, hi;
        int aim;
        double step;
    };
    const TCase cases[] = {
        {tposition::posunder, 1455, 0, 12, 40, 0.5}, // aimed 0.2: "10.2" is wider than 24 px
        {tposition::posunder, 577, 0, 1, 40, 0.1},   // fits: the aimed step
        {tposition::posleft, 400, -1, 1, 40, 0.2},   // fits
        {tposition::posleft, 400, -1, 1, 10, 0.1},   // aimed 0.05: 10 px for 13 px high labels
    };
    for (const TCase& c : cases) {
        const bool vertical = c.position == tposition::posleft;
        Place(c.position, vertical ? 43 : c.length, vertical ? c.length : 24);
        axis.SetTickSpaceAim(c.aim);
        axis.SetRange(c.lo, c.hi);
        const auto values = TickValues();
        ASSERT_GE(values.size(), 2U);
        EXPECT_NEAR(values[1] - values[0], c.step, 1e-9) << c.length << " aim " << c.aim;

        TFakeCanvas canvas;
        axis.Paint(canvas);
        std::vector<std::pair<int, int>> spans;
        for (const auto& t : canvas.texts) {
            if (t.text == axis.AxisText()) {
                continue;
            }
            spans.push_back(vertical ? std::pair{t.y, t.y + 13}
                                     : std::pair{t.x, t.x + 7 * static_cast<int>(t.text.size())});
        }
        std::sort(spans.begin(), spans.end());
        for (std::size_t i = 1; i < spans.size(); ++i) {
            EXPECT_GE(spans[i].first, spans[i - 1].second + (vertical ? 0 : 7)) << c.length;
        }
    }
}

TEST_F(AxisModelTest, TickLabelOutOfRange)
{
    Place(tposition::posunder, 577, 24);
    try {
        axis.TickLabel(12);
        FAIL();
    } catch (const EAxisError& e) {
        EXPECT_STREQ(e.what(), "Tickmark index out of range:12");
    }
    try {
        axis.TickLabel(-1);
        FAIL();
    } catch (const EAxisError& e) {
        EXPECT_STREQ(e.what(), "Tickmark index out of range:-1");
    }
    EXPECT_NO_THROW(axis.TickLabel(11));
}

// ---- logarithmic layout ----

TEST_F(AxisModelTest, LogarithmicDecade)
{
    Place(tposition::posunder, 577, 24);
    axis.SetRange(1, 10);
    axis.SetLogarithmic(true);
    const auto values = TickValues();
    const std::vector<double> expected{2, 3, 4, 5, 6, 7, 8, 9, 10, 20};
    ASSERT_EQ(values.size(), expected.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_NEAR(values[i], expected[i], 1e-9);
    }
    EXPECT_EQ(TickLabels(),
              (std::vector<std::string>{"2", "3", "4", "5", "6", "7", "8", "9", "10", ""}))
        << "20 lies beyond the end, where the label of 10 already stands";
    EXPECT_EQ(axis.Ticks()[0].Pixel, 173);
    EXPECT_EQ(axis.Ticks()[9].Pixel, 749) << "logarithmic pixels are not clamped";
}

TEST_F(AxisModelTest, SmallRatioUsesLinearLayoutWithLogarithmicPositions)
{
    Place(tposition::posunder, 577, 24);
    axis.SetRange(1, 3);
    axis.SetLogarithmic(true);
    const auto& ticks = axis.Ticks();
    ASSERT_GE(ticks.size(), 11U);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_NEAR(ticks[i].Value, 1 + 0.2 * static_cast<double>(i), 1e-12);
    }
    EXPECT_EQ(ticks[1].Label, "1.2");
    EXPECT_EQ(ticks[5].Pixel, 363) << "2 sits at log(2)/log(3) of the axis";
}

TEST_F(AxisModelTest, ThinningKeepsHigherPriorityLabels)
{
    // 1..1000 on 120 pixels: 40 pixels a decade, too little room for every label.
    Place(tposition::posunder, 120, 24);
    axis.SetRange(1, 1000);
    axis.SetLogarithmic(true);
    std::vector<std::string> kept;
    for (const auto& t : axis.Ticks()) {
        if (!t.Label.empty()) {
            kept.push_back(t.Label);
        }
    }
    // Decades come first, then the twos and fives where they fit.
    EXPECT_NE(std::find(kept.begin(), kept.end(), "10"), kept.end());
    EXPECT_NE(std::find(kept.begin(), kept.end(), "100"), kept.end());
    EXPECT_NE(std::find(kept.begin(), kept.end(), "1000"), kept.end());
    EXPECT_EQ(std::find(kept.begin(), kept.end(), "9"), kept.end());
    EXPECT_EQ(std::find(kept.begin(), kept.end(), "90"), kept.end());
    // No two kept labels overlap.
    std::vector<std::pair<int, int>> spans;
    for (const auto& t : axis.Ticks()) {
        if (!t.Label.empty()) {
            const int w = 7 * static_cast<int>(t.Label.size());
            spans.emplace_back(std::clamp(t.Pixel - w / 2, 0, 119),
                               std::clamp(t.Pixel + w / 2, 0, 119));
        }
    }
    for (std::size_t i = 1; i < spans.size(); ++i) {
        EXPECT_LT(spans[i - 1].second, spans[i].first);
    }
}

TEST_F(AxisModelTest, MusicScaleTicksOnNaturalNotes)
{
    Place(tposition::posunder, 1000, 24);
    axis.SetRange(100, 1000);
    axis.SetLogarithmic(true);
    axis.SetMusicScale(true);
    const auto& ticks = axis.Ticks();
    ASSERT_GT(ticks.size(), 20U);
    bool sawA4 = false, sawC4 = false;
    for (const auto& t : ticks) {
        const int pc = axisticks::PitchClass(t.Value);
        EXPECT_TRUE(pc == 0 || pc == 2 || pc == 4 || pc == 5 || pc == 7 || pc == 9 || pc == 11)
            << t.Value;
        if (std::fabs(t.Value - 440) < 1e-6) {
            sawA4 = true;
            EXPECT_EQ(t.Label, "A4");
        }
        if (std::fabs(t.Value - 261.6256) < 1e-3) {
            sawC4 = true;
            EXPECT_EQ(t.Label, "C4");
        }
    }
    EXPECT_TRUE(sawA4);
    EXPECT_TRUE(sawC4);
    EXPECT_GT(ticks.back().Value, 1000);
    EXPECT_LE(ticks[ticks.size() - 2].Value, 1000);
    // The first tick is the note after LoValue: 100 Hz lies between G2 and A2.
    EXPECT_EQ(axisticks::NoteName(ticks.front().Value), "A2");
    // Music scale also applies to a ratio of 4 or less.
    axis.SetRange(400, 500);
    EXPECT_EQ(axisticks::NoteName(axis.Ticks().front().Value), "A4");
}

TEST_F(AxisModelTest, WideLogarithmicRangesStayBounded)
{
    Place(tposition::posunder, 577, 24);
    axis.SetRange(1e-300, 1e300);
    axis.SetLogarithmic(true);
    EXPECT_GT(axis.TickCount(), 5000);
    EXPECT_LE(axis.TickCount(), 100000);
    axis.SetMusicScale(true);
    EXPECT_GT(axis.TickCount(), 1000);
    EXPECT_LE(axis.TickCount(), 100000);
    TFakeCanvas canvas;
    axis.Paint(canvas);
    EXPECT_EQ(canvas.lines.size(), static_cast<std::size_t>(axis.TickCount()));
    EXPECT_EQ(axis.ValueToPixel(1), 288) << "the quotient 1e600 must not break the mapping";
    EXPECT_NEAR(std::log10(axis.PixelToValue(432)), 150, 1e-9);
}

// ---- painting ----

TEST_F(AxisModelTest, PaintsAVerticalAxisOnTheLeft)
{
    Place(tposition::posleft, 43, 105);
    axis.SetRange(-1, 1);
    axis.SetAxisText("[V]");
    axis.SetBackgroundColor(0x123456);
    TFakeCanvas canvas;
    axis.Paint(canvas);
    ASSERT_EQ(canvas.fills.size(), 1U);
    EXPECT_EQ(canvas.fills[0], (TLine{0, 0, 43, 105}));
    EXPECT_EQ(canvas.fillColor, 0x123456U);
    ASSERT_NE(canvas.Find("[V]"), nullptr);
    EXPECT_EQ(canvas.Find("[V]")->x, 0);
    EXPECT_EQ(canvas.Find("[V]")->y, 0);
    EXPECT_NE(canvas.Find("0"), nullptr);
    EXPECT_TRUE(canvas.inverted.empty());
}

TEST_F(AxisModelTest, PaintsAVerticalAxisOnTheRight)
{
    Place(tposition::posright, 43, 201);
    axis.SetRange(-1, 1);
    axis.SetAxisText("[V]");
    TFakeCanvas canvas;
    axis.Paint(canvas);
    EXPECT_EQ(canvas.Find("[V]")->x, 43 - 21);
    // 200 pixels: 5 ticks of 0.5; -1 at the bottom has no room, 1 at the top is under the text.
    ASSERT_NE(canvas.Find("0"), nullptr);
    EXPECT_EQ(canvas.Find("0")->x, 6);
    EXPECT_EQ(canvas.Find("0")->y, 100 - 6);
    EXPECT_NE(canvas.Find("0.5"), nullptr);
    EXPECT_EQ(canvas.Find("1"), nullptr);
    EXPECT_EQ(canvas.Find("-1"), nullptr);
    EXPECT_EQ(canvas.lines.front(), (TLine{0, 200, 5, 200}));
}

TEST_F(AxisModelTest, PaintsHorizontalAxes)
{
    Place(tposition::posunder, 577, 24);
    axis.SetAxisText("[s]");
    TFakeCanvas under;
    axis.Paint(under);
    EXPECT_EQ(under.Find("[s]")->x, 577 - 21);
    EXPECT_EQ(under.Find("[s]")->y, 5);
    EXPECT_EQ(under.Find("0"), nullptr) << "would stick out on the left";
    ASSERT_NE(under.Find("0.1"), nullptr);
    EXPECT_EQ(under.Find("0.1")->x, 58 - 10);
    EXPECT_EQ(under.Find("0.1")->y, 5);
    EXPECT_NE(under.Find("0.9"), nullptr);
    EXPECT_EQ(under.Find("1"), nullptr) << "would run into the axis text";
    EXPECT_EQ(under.lines[1], (TLine{58, 0, 58, 5}));

    axis.SetPosition(tposition::posover);
    TFakeCanvas over;
    axis.Paint(over);
    EXPECT_EQ(over.Find("[s]")->y, 19 - 13);
    EXPECT_EQ(over.Find("0.1")->y, 19 - 13);
    EXPECT_EQ(over.lines[1], (TLine{58, 19, 58, 24}));
}

TEST_F(AxisModelTest, AutosizeFitsTheFont)
{
    Place(tposition::posleft, 43, 105);
    axis.SetAutosize(true);
    EXPECT_EQ(axis.Width(), 35 + 5);
    EXPECT_EQ(host.resizedWidth, 40);
    axis.SetTickMarkSize(8);
    EXPECT_EQ(axis.Width(), 43);
    axis.SetPosition(tposition::posunder);
    axis.FontChanged();
    EXPECT_EQ(axis.Height(), 13 * 4 / 3 + 8);
    EXPECT_EQ(host.resizedHeight, 25);
}

// ---- marker ----

TEST_F(AxisModelTest, MarkerMovesByInversion)
{
    Place(tposition::posunder, 101, 24);
    axis.SetRange(0, 1);
    axis.SetMarkerVisible(true);
    axis.SetMarkerValue(0.3);
    host.inverted.clear();
    TFakeCanvas canvas;
    axis.Paint(canvas);
    ASSERT_EQ(canvas.inverted.size(), 1U);
    EXPECT_EQ(canvas.inverted[0], (TLine{30, 0, 30, 24}));
    EXPECT_TRUE(axis.MarkerDrawn());

    const int invalidations = host.invalidations;
    axis.SetMarkerValue(0.5);
    ASSERT_EQ(host.inverted.size(), 2U);
    EXPECT_EQ(host.inverted[0], (TLine{30, 0, 30, 24})) << "erase the old line";
    EXPECT_EQ(host.inverted[1], (TLine{50, 0, 50, 24})) << "draw the new one";
    EXPECT_EQ(host.invalidations, invalidations) << "no repaint";
    EXPECT_EQ(axis.MarkerPixel(), 50);

    // A move within the same pixel keeps the value and draws nothing.
    axis.SetMarkerValue(0.502);
    EXPECT_EQ(host.inverted.size(), 2U);
    EXPECT_DOUBLE_EQ(axis.MarkerValue(), 0.502);

    axis.SetMarkerPixel(70);
    EXPECT_DOUBLE_EQ(axis.MarkerValue(), 0.7);
    EXPECT_EQ(host.inverted.size(), 4U);
}

TEST_F(AxisModelTest, MarkerOnAVerticalAxis)
{
    Place(tposition::posleft, 43, 101);
    axis.SetMarkerVisible(true);
    TFakeCanvas canvas;
    axis.Paint(canvas);
    axis.SetMarkerValue(0.25);
    ASSERT_EQ(host.inverted.size(), 2U);
    EXPECT_EQ(host.inverted[0], (TLine{0, 100, 43, 100}));
    EXPECT_EQ(host.inverted[1], (TLine{0, 75, 43, 75}));
}

TEST_F(AxisModelTest, HiddenMarkerIsStoredButNotDrawn)
{
    Place(tposition::posunder, 101, 24);
    TFakeCanvas canvas;
    axis.Paint(canvas);
    axis.SetMarkerValue(0.4);
    EXPECT_TRUE(host.inverted.empty());
    EXPECT_EQ(axis.MarkerValue(), 0.4);
    EXPECT_TRUE(canvas.inverted.empty());
}

TEST_F(AxisModelTest, MarkerIgnoredWhileInvisibleOrInEvent)
{
    Place(tposition::posunder, 101, 24);
    axis.SetMarkerVisible(true);
    axis.SetVisible(false);
    axis.SetMarkerValue(0.4);
    EXPECT_EQ(axis.MarkerValue(), 0);
    EXPECT_TRUE(host.inverted.empty());
    axis.SetVisible(true);
    axis.OnScaleChanged = [](TAxisModel& a) {
        a.SetMarkerValue(0.9);
        a.SetPosition(tposition::posleft);
    };
    axis.SetHiValue(2);
    EXPECT_EQ(axis.MarkerValue(), 0);
    EXPECT_EQ(axis.Position(), tposition::posunder);
}

TEST_F(AxisModelTest, RangeChangeKeepsTheMarkerInside)
{
    Place(tposition::posunder, 101, 24);
    axis.SetRange(0, 10);
    axis.SetMarkerValue(2);
    axis.SetLoValue(3);
    EXPECT_EQ(axis.MarkerValue(), 3);
    axis.SetHiValue(2.5);
    EXPECT_EQ(axis.MarkerValue(), 3) << "HiValue reads 3 (at least stored low)";
    axis.SetRange(0, 10);
    axis.SetMarkerValue(8);
    axis.SetHiValue(5);
    EXPECT_EQ(axis.MarkerValue(), 5);
}

TEST_F(AxisModelTest, SettersRequestRepaints)
{
    Place(tposition::posunder, 101, 24);
    int before = host.invalidations;
    axis.SetLoValue(0.5);
    EXPECT_GT(host.invalidations, before);
    before = host.invalidations;
    axis.SetMarkerVisible(true);
    EXPECT_GT(host.invalidations, before);
    before = host.invalidations;
    axis.SetAxisText("[s]");
    axis.SetReverse(true);
    axis.SetTickSpaceAim(30);
    EXPECT_GE(host.invalidations, before + 3);
}

} // namespace
} // namespace kavrel
