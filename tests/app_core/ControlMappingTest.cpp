// The filter controls' sliders and the values they stand for, both ways.

#include "app/core/ControlMapping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

namespace kavrel {
namespace {

TEST(ControlMappingTest, InitialAndEndPositions)
{
    EXPECT_NEAR(GainFromSlider(GainSliderRange.Initial), 0.316227766, 1e-9);
    EXPECT_NEAR(GainFromSlider(-40), 0.01, 1e-12);
    EXPECT_NEAR(GainFromSlider(20), 10, 1e-12);
    EXPECT_NEAR(F0FromSlider(0), 10, 1e-12);
    EXPECT_NEAR(F0FromSlider(50), 100, 1e-10);
    EXPECT_NEAR(F0FromSlider(100), 1000, 1e-9);
    EXPECT_NEAR(QFromSlider(-100), 0.1, 1e-12);
    EXPECT_NEAR(QFromSlider(0), 1, 0);
    EXPECT_NEAR(QFromSlider(100), 10, 1e-12);
}

TEST(ControlMappingTest, InverseReturnsEveryPosition)
{
    for (int p = GainSliderRange.Min; p <= GainSliderRange.Max; ++p)
        EXPECT_EQ(SliderFromGain(GainFromSlider(p)), p);
    for (int p = F0SliderRange.Min; p <= F0SliderRange.Max; ++p)
        EXPECT_EQ(SliderFromF0(F0FromSlider(p)), p);
    for (int p = QSliderRange.Min; p <= QSliderRange.Max; ++p) {
        const double f0 = F0FromSlider(37);
        EXPECT_EQ(SliderFromQ(f0, f0 / QFromSlider(p)), p);
    }
}

TEST(ControlMappingTest, InverseRoundsToNearestAndClamps)
{
    EXPECT_EQ(SliderFromGain(0.5), -6); // -6.02 dB
    EXPECT_EQ(SliderFromGain(1e-9), -40);
    EXPECT_EQ(SliderFromGain(1e9), 20);
    EXPECT_EQ(SliderFromGain(std::numeric_limits<double>::min()), -40);
    EXPECT_EQ(SliderFromF0(1e12), 100);
    EXPECT_EQ(SliderFromF0(1), 0);
    EXPECT_EQ(SliderFromQ(100, 1e-300), 100);
    EXPECT_EQ(SliderFromQ(100, 1e300), -100);
}

TEST(ControlMappingTest, ValuesWithoutAPositionLeaveTheSlider)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double bad : {0.0, -0.0, -1.0, inf, -inf, nan}) {
        EXPECT_EQ(SliderFromGain(bad), std::nullopt) << bad;
        EXPECT_EQ(SliderFromF0(bad), std::nullopt) << bad;
        EXPECT_EQ(SliderFromQ(bad, 100), std::nullopt) << bad;
        EXPECT_EQ(SliderFromQ(100, bad), std::nullopt) << bad;
    }
}

} // namespace
} // namespace kavrel
