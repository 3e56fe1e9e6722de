#include "axes/TAxisModel.h"

#include "AxisFakes.h"
#include "axes/EAxisError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace kavrel {
namespace {

using testing::TFakeDialog;
using testing::TFakeHost;

struct TPermissions {
    bool lo, hi, mid;
};

TAxisModel& Prepare(TAxisModel& axis, TFakeHost& host, tposition position, int length,
                    TPermissions allow)
{
    axis.SetHost(&host);
    axis.SetPosition(position);
    if (position == tposition::posleft || position == tposition::posright) {
        axis.SetSize(40, length);
    } else {
        axis.SetSize(length, 24);
    }
    axis.SetAllowLoScroll(allow.lo);
    axis.SetAllowHiScroll(allow.hi);
    axis.SetAllowMidScroll(allow.mid);
    return axis;
}

int Press(TAxisModel& axis, int c, TMouseButton button = TMouseButton::mbLeft)
{
    if (axis.IsVertical()) {
        axis.MouseDown(button, ssLeft, 20, c);
    } else {
        axis.MouseDown(button, ssLeft, c, 12);
    }
    return axis.DragMode();
}

void Move(TAxisModel& axis, int c, TShiftState shift = ssLeft)
{
    if (axis.IsVertical()) {
        axis.MouseMove(shift, 20, c);
    } else {
        axis.MouseMove(shift, c, 12);
    }
}

TEST(AxisDrag, PressCoordinateKeepsElevenPixelsFromTheEnds)
{
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, tposition::posleft, 100, {true, true, false});
    const std::pair<int, int> cases[] = {{3, 11},  {10, 11}, {11, 11}, {50, 50},
                                         {89, 89}, {90, 89}, {97, 89}, {-40, 11}};
    for (const auto& [at, stored] : cases) {
        Press(axis, at);
        EXPECT_EQ(axis.PressCoordinate(), stored) << at;
    }
}

struct TModeCase {
    TPermissions allow;
    bool vertical;
    int c;
    int mode;
    int cursor;
};

class AxisModeTest : public ::testing::TestWithParam<TModeCase> {};

// Axis length 90: thirds at 30 and 60, half at 45.
TEST_P(AxisModeTest, RegionChoosesModeAndCursor)
{
    const auto& p = GetParam();
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, p.vertical ? tposition::posleft : tposition::posunder, 90, p.allow);
    Move(axis, p.c, 0);
    EXPECT_EQ(axis.Cursor(), p.cursor);
    EXPECT_EQ(Press(axis, p.c), p.mode);
}

INSTANTIATE_TEST_SUITE_P(Regions, AxisModeTest,
                         ::testing::Values(TModeCase{{true, false, false}, true, 50, 1, crVLower},
                                           TModeCase{{true, false, true}, true, 15, 1, crVLower},
                                           TModeCase{{false, true, false}, true, 50, 3, crVUpper},
                                           TModeCase{{false, false, true}, true, 50, 0, crDefault},
                                           TModeCase{{true, true, true}, true, 20, 3, crVUpper},
                                           TModeCase{{true, true, true}, true, 30, 2, crVMiddle},
                                           TModeCase{{true, true, true}, true, 45, 2, crVMiddle},
                                           TModeCase{{true, true, true}, true, 60, 2, crVMiddle},
                                           TModeCase{{true, true, true}, true, 70, 1, crVLower},
                                           TModeCase{{true, true, false}, true, 44, 3, crVUpper},
                                           TModeCase{{true, true, false}, true, 45, 1, crVLower},
                                           TModeCase{{true, false, false}, false, 50, 1, crHLower},
                                           TModeCase{{false, true, false}, false, 20, 3, crHUpper},
                                           TModeCase{
                                               {false, false, false}, false, 20, 0, crDefault},
                                           TModeCase{{true, true, true}, false, 20, 1, crHLower},
                                           TModeCase{{true, true, true}, false, 45, 2, crHMiddle},
                                           TModeCase{{true, true, true}, false, 61, 3, crHUpper},
                                           TModeCase{{true, true, false}, false, 44, 1, crHLower},
                                           TModeCase{{true, true, false}, false, 45, 3, crHUpper}));

TEST(AxisDrag, CursorUsesTheUnclampedCoordinate)
{
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, tposition::posleft, 90, {true, true, true});
    Move(axis, 5, 0);
    EXPECT_EQ(axis.Cursor(), crVUpper);
    Move(axis, 88, 0);
    EXPECT_EQ(axis.Cursor(), crVLower);
    // During a drag the cursor stays what it was at the press.
    Press(axis, 45);
    Move(axis, 5, ssLeft);
    EXPECT_EQ(axis.Cursor(), crVLower);
}

TEST(AxisDrag, LowEndExampleFromTheAmplitudeAxis)
{
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, tposition::posleft, 99, {true, true, false});
    axis.SetRange(-1, 1);
    ASSERT_EQ(Press(axis, 80), 1);
    Move(axis, 40);
    EXPECT_DOUBLE_EQ(axis.StoredLoValue(), -3);
    EXPECT_DOUBLE_EQ(axis.LoValue(), -3);
    EXPECT_DOUBLE_EQ(axis.HiValue(), 1);

    axis.SetRange(-1, 1);
    axis.SetMinLoValue(-1);
    Press(axis, 80);
    Move(axis, 40);
    EXPECT_DOUBLE_EQ(axis.StoredLoValue(), -3);
    EXPECT_DOUBLE_EQ(axis.LoValue(), -1) << "MinLoValue holds";
}

struct TDragCase {
    const char* name;
    tposition position;
    bool logarithmic;
    int length;
    TPermissions allow;
    int press, move;
    double lo, hi;
};

class AxisDragFormulaTest : public ::testing::TestWithParam<TDragCase> {};

TEST_P(AxisDragFormulaTest, MoveSetsTheRangeFromThePressValues)
{
    const auto& p = GetParam();
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, p.position, p.length, p.allow);
    if (p.logarithmic) {
        axis.SetRange(1, 100);
        axis.SetLogarithmic(true);
    } else {
        axis.SetRange(0, 10);
    }
    Press(axis, p.press);
    // An intermediate move must not change what the final one computes.
    Move(axis, (p.press + p.move) / 2 + 3);
    Move(axis, p.move);
    EXPECT_NEAR(axis.LoValue(), p.lo, 1e-9 * std::fabs(p.lo) + 1e-12) << p.name;
    EXPECT_NEAR(axis.HiValue(), p.hi, 1e-9 * std::fabs(p.hi) + 1e-12) << p.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AxisDragFormulaTest,
    ::testing::Values(
        TDragCase{
            "vertical high", tposition::posleft, false, 100, {true, true, false}, 20, 50, 0, 16},
        TDragCase{"vertical high past the end",
                  tposition::posleft,
                  false,
                  100,
                  {true, true, false},
                  20,
                  95,
                  0,
                  80},
        TDragCase{"vertical low near the top",
                  tposition::posleft,
                  false,
                  100,
                  {true, true, false},
                  80,
                  2,
                  -70,
                  10},
        TDragCase{
            "vertical middle", tposition::posright, false, 90, {true, true, true}, 45, 54, 1, 11},
        TDragCase{"horizontal low",
                  tposition::posunder,
                  false,
                  200,
                  {true, true, false},
                  50,
                  100,
                  -5,
                  10},
        TDragCase{"horizontal high",
                  tposition::posover,
                  false,
                  200,
                  {true, true, false},
                  150,
                  100,
                  0,
                  15},
        TDragCase{"horizontal high to the left end",
                  tposition::posunder,
                  false,
                  200,
                  {true, true, false},
                  150,
                  3,
                  0,
                  150},
        TDragCase{
            "horizontal middle", tposition::posunder, false, 90, {true, true, true}, 45, 54, -1, 9},
        TDragCase{"log vertical high",
                  tposition::posleft,
                  true,
                  100,
                  {true, true, false},
                  20,
                  50,
                  1,
                  1584.8931924611134},
        TDragCase{"log vertical low",
                  tposition::posleft,
                  true,
                  100,
                  {true, true, false},
                  80,
                  40,
                  0.01,
                  100},
        TDragCase{"log vertical middle",
                  tposition::posleft,
                  true,
                  90,
                  {true, true, true},
                  45,
                  54,
                  1.5848931924611136,
                  158.48931924611135},
        TDragCase{"log horizontal low",
                  tposition::posunder,
                  true,
                  200,
                  {true, true, false},
                  50,
                  100,
                  0.1,
                  100},
        TDragCase{"log horizontal high",
                  tposition::posunder,
                  true,
                  200,
                  {true, true, false},
                  150,
                  100,
                  1,
                  1000},
        TDragCase{"log horizontal middle",
                  tposition::posunder,
                  true,
                  90,
                  {true, true, true},
                  45,
                  54,
                  0.63095734448019325,
                  63.095734448019336}));

TEST(AxisDrag, OnlyTheLeftButtonChangesTheRangeButEveryMoveReports)
{
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, tposition::posleft, 100, {true, true, false});
    int changing = 0;
    axis.OnScaleChanging = [&](TAxisModel& a) {
        EXPECT_TRUE(a.InEvent());
        ++changing;
    };
    Press(axis, 20, TMouseButton::mbRight);
    Move(axis, 50, ssRight);
    EXPECT_EQ(axis.HiValue(), 1);
    EXPECT_EQ(changing, 1);
    Move(axis, 50, ssLeft);
    EXPECT_DOUBLE_EQ(axis.HiValue(), 1.6);
    EXPECT_EQ(changing, 2);
    axis.MouseUp(TMouseButton::mbRight, 0, 20, 50);
    Move(axis, 60, 0);
    EXPECT_EQ(changing, 2) << "no drag after the release";
}

TEST(AxisDrag, ReleaseAlwaysReportsTheChange)
{
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, tposition::posunder, 200, {true, true, false});
    int changed = 0;
    axis.OnScaleChanged = [&](TAxisModel&) { ++changed; };
    Press(axis, 50, TMouseButton::mbRight);
    axis.MouseUp(TMouseButton::mbRight, 0, 50, 12);
    EXPECT_EQ(changed, 1) << "fired although nothing changed";
    EXPECT_EQ(axis.DragMode(), 0);
    axis.MouseUp(TMouseButton::mbLeft, 0, 50, 12);
    EXPECT_EQ(changed, 2) << "a release without a press fires too";
}

TEST(AxisDrag, WithoutPermissionsNothingHappens)
{
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, tposition::posleft, 100, {false, false, true});
    int events = 0;
    axis.OnScaleChanged = [&](TAxisModel&) { ++events; };
    axis.OnScaleChanging = [&](TAxisModel&) { ++events; };
    for (int c : {5, 30, 50, 95}) {
        Move(axis, c, 0);
        EXPECT_EQ(axis.Cursor(), crDefault);
    }
    EXPECT_EQ(Press(axis, 20), 0);
    Move(axis, 60);
    axis.MouseUp(TMouseButton::mbLeft, 0, 20, 60);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(axis.LoValue(), 0);
    EXPECT_EQ(axis.HiValue(), 1);
}

TEST(AxisDrag, LogarithmicUnderflowLeavesTheRange)
{
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, tposition::posleft, 1000, {true, true, false});
    axis.SetRange(1e-300, 1);
    axis.SetLogarithmic(true);
    ASSERT_EQ(Press(axis, 989), 1);
    EXPECT_NO_THROW(Move(axis, 10));
    EXPECT_EQ(axis.LoValue(), 1e-300) << "(1e-300)^98.9 underflows: nothing set";
    Move(axis, 989);
    EXPECT_DOUBLE_EQ(axis.LoValue(), 1e-300);
    Move(axis, 999);
    EXPECT_NEAR(std::log10(axis.LoValue()), -300 * 989.0 / 999, 1e-9);
    EXPECT_TRUE(axis.Logarithmic());
}

TEST(AxisDrag, SetterErrorsAreSwallowed)
{
    // A logarithmic axis whose low bound reads negative: each move asks for a negative low
    // value, which the setter refuses; the drag goes on.
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, tposition::posunder, 200, {true, true, true});
    axis.SetRange(1, 100);
    axis.SetLogarithmic(true);
    axis.SetLogarithmic(false);
    axis.SetMaxLoValue(-2);
    axis.SetRange(4, 100);
    axis.SetLogarithmic(true);
    ASSERT_EQ(axis.LoValue(), -2);
    ASSERT_EQ(Press(axis, 100), 2);
    // Horizontal middle drag with t = -1/200 * ... : Hi = 100 * (-50)^(-t), NaN for most t;
    // with the pointer back at the press t = 0: Hi = 100, Lo = -2 * 1 -> refused.
    EXPECT_NO_THROW(Move(axis, 100));
    EXPECT_EQ(axis.StoredLoValue(), -2) << "the refused value is stored, as the setter does";
    EXPECT_NO_THROW(Move(axis, 120));
    int changed = 0;
    axis.OnScaleChanged = [&](TAxisModel&) { ++changed; };
    EXPECT_NO_THROW(axis.MouseUp(TMouseButton::mbLeft, 0, 120, 12));
    EXPECT_EQ(changed, 1);
}

TEST(AxisDrag, HandlerErrorsPassOnAndClearTheGuard)
{
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, tposition::posleft, 100, {true, true, false});
    axis.OnScaleChanging = [](TAxisModel&) { throw std::runtime_error("changing failed"); };
    axis.OnScaleChanged = [](TAxisModel&) { throw std::runtime_error("changed failed"); };
    Press(axis, 20);
    EXPECT_THROW(Move(axis, 30), std::runtime_error);
    EXPECT_FALSE(axis.InEvent());
    EXPECT_THROW(axis.MouseUp(TMouseButton::mbLeft, 0, 20, 30), std::runtime_error);
    EXPECT_FALSE(axis.InEvent());
    EXPECT_EQ(axis.DragMode(), 0);
}

TEST(AxisDrag, ExtremeRangesAndTinyAxes)
{
    for (int length : {0, 1, 5, 21, 400}) {
        for (bool logarithmic : {false, true}) {
            TFakeHost host;
            TAxisModel axis;
            Prepare(axis, host, length % 2 ? tposition::posleft : tposition::posunder, length,
                    {true, true, true});
            axis.SetRange(logarithmic ? 1e-300 : -1e300, 1e300);
            axis.SetLogarithmic(logarithmic);
            for (int press : {-5, 0, length / 2, length + 5}) {
                Press(axis, press);
                for (int move : {-1000, 0, 10, length / 3, length, 100000}) {
                    Move(axis, move);
                    EXPECT_FALSE(std::isnan(axis.LoValue()));
                    EXPECT_FALSE(std::isnan(axis.HiValue()));
                    // HiValue follows the stored low value, which a drag may push past the
                    // limits; LoValue itself always reads inside them.
                    EXPECT_GE(axis.LoValue(), -1e300);
                    EXPECT_LE(axis.LoValue(), 1e300);
                    const int p = axis.ValueToPixel(axis.HiValue());
                    EXPECT_GE(p, 0);
                    EXPECT_LE(p, std::max(length - 1, 0));
                }
                axis.MouseUp(TMouseButton::mbLeft, 0, 0, 0);
                axis.SetRange(logarithmic ? 1e-300 : -1e300, 1e300);
            }
        }
    }
}

class AxisDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        axis.SetHost(&host);
        axis.SetLimitDialog(&dialog);
        axis.SetAllowDoubleClick(true);
        axis.SetRange(-1, 1);
        axis.OnScaleChanged = [this](TAxisModel&) { ++changed; };
    }

    TFakeHost host;
    TFakeDialog dialog;
    TAxisModel axis;
    int changed = 0;
};

TEST_F(AxisDialogTest, CancelKeepsTheRangeAndFiresOnce)
{
    dialog.confirm = false;
    dialog.typedLow = 5;
    dialog.typedHigh = 6;
    axis.DoubleClick();
    EXPECT_EQ(dialog.executions, 1);
    EXPECT_EQ(dialog.shownLow, -1);
    EXPECT_EQ(dialog.shownHigh, 1);
    EXPECT_EQ(axis.LoValue(), -1);
    EXPECT_EQ(axis.HiValue(), 1);
    EXPECT_EQ(changed, 1);
}

TEST_F(AxisDialogTest, OkWithNewValuesFiresTwice)
{
    dialog.confirm = true;
    dialog.typedLow = -0.5;
    dialog.typedHigh = 0.25;
    axis.DoubleClick();
    EXPECT_EQ(axis.LoValue(), -0.5);
    EXPECT_EQ(axis.HiValue(), 0.25);
    EXPECT_EQ(changed, 2);
}

TEST_F(AxisDialogTest, OkWithTheSameValuesFiresOnce)
{
    dialog.confirm = true;
    dialog.typedLow = -1;
    dialog.typedHigh = 1;
    axis.DoubleClick();
    EXPECT_EQ(changed, 1);
}

TEST_F(AxisDialogTest, DoubleClickNeedsPermissionAndEndsADrag)
{
    axis.SetAllowDoubleClick(false);
    axis.DoubleClick();
    EXPECT_EQ(dialog.executions, 0);
    EXPECT_EQ(changed, 0);
    axis.SetAllowDoubleClick(true);
    axis.MouseDown(TMouseButton::mbLeft, ssLeft, 20, 20);
    ASSERT_NE(axis.DragMode(), 0);
    axis.DoubleClick();
    EXPECT_EQ(axis.DragMode(), 0);
}

TEST_F(AxisDialogTest, RefusedValueFromTheDialogReachesTheCaller)
{
    axis.SetRange(1, 10);
    axis.SetLogarithmic(true);
    changed = 0;
    dialog.confirm = true;
    dialog.typedLow = 0;
    dialog.typedHigh = 10;
    EXPECT_THROW(axis.DoubleClick(), EAxisError);
    EXPECT_FALSE(axis.InEvent());
}

TEST_F(AxisDialogTest, AxisTextRetitlesTheDialog)
{
    axis.SetAxisText("[s]");
    EXPECT_EQ(dialog.axisText, "[s]");
}

TEST_F(AxisDialogTest, TypedEndsAreSwappedOrRefusedWhenTheLimitsLeaveNoRange)
{
    // Time axis of a 3 s sound: the high end is capped at 3, the low end is not.
    axis.SetMinLoValue(0);
    axis.SetMaxHiValue(3);
    dialog.confirm = true;
    // Typed low, typed high, range after: swapped; taken; both beyond the cap (5..5): refused.
    const double cases[][4] = {{2, 1, 1, 2}, {1.5, 2.5, 1.5, 2.5}, {5, 6, 1.5, 2.5}};
    for (const auto& c : cases) {
        dialog.typedLow = c[0];
        dialog.typedHigh = c[1];
        axis.DoubleClick();
        EXPECT_TRUE(axis.LoValue() == c[2] && axis.HiValue() == c[3]) << c[0] << " " << c[1];
    }
}

TEST(AxisDrag, NoDragLeavesAnEmptyOrInvertedRange)
{
    // As the main window's time axis: low end free upwards, high end capped at the sound's end.
    TFakeHost host;
    TAxisModel axis;
    Prepare(axis, host, tposition::posunder, 300, {true, true, true});
    axis.SetMinLoValue(0);
    axis.SetMaxHiValue(3);
    axis.SetRange(0, 3);
    const std::pair<int, int> drags[] = {{150, -3000}, {150, 3000}, {20, 3000}, {280, -3000}};
    for (int round = 0; round < 3; ++round)
        for (const auto& [from, to] : drags) {
            Press(axis, from);
            const int step = to > from ? 50 : -50;
            for (int x = from; (to - x) * step > 0; x += step) {
                Move(axis, x);
                ASSERT_TRUE(axis.RangeUsable()) << from << " -> " << x;
            }
            axis.MouseUp(TMouseButton::mbLeft, 0, to, 12);
        }
}

} // namespace
} // namespace kavrel
