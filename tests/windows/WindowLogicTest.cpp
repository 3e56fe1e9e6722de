#include "app/windows/ShortNumber.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace kavrel {
namespace {

struct ShortCase {
    double value;
    const char* text;
};

class ShortNumberTest : public testing::TestWithParam<ShortCase> {};

TEST_P(ShortNumberTest, FourSignificantDigitsInTheShorterForm)
{
    EXPECT_EQ(ShortNumberText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, ShortNumberTest,
    testing::Values(ShortCase{1, "1"}, ShortCase{0.316227766, "0.3162"},
                    ShortCase{31.6227766, "31.62"}, ShortCase{1000, "1000"},
                    ShortCase{0.01, "0.01"}, ShortCase{10, "10"}, ShortCase{0.1, "0.1"},
                    ShortCase{3.16227766, "3.162"}, ShortCase{158.489319, "158.5"},
                    ShortCase{9.99951, "10"}, ShortCase{0, "0"}, ShortCase{-0.5, "-0.5"},
                    // Where the plain form gets longer than the scientific one.
                    ShortCase{12345678, "1.235E7"}, ShortCase{0.00001234, "1.234E-5"},
                    ShortCase{0.000001, "1E-6"}));

TEST(ShortNumberTextTest, UsesTheGivenDecimalSeparator)
{
    EXPECT_EQ(ShortNumberText(0.316227766, ','), "0,3162");
    EXPECT_EQ(ShortNumberText(0.00001234, ','), "1,234E-5");
    EXPECT_EQ(ShortNumberText(1000, ','), "1000");
}

} // namespace
} // namespace kavrel

#include "app/windows/Pictures.h"

#include <QImage>

namespace kavrel {
namespace {

// Pixels that are not fully transparent.
int InkedPixels(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) != 0;
    return n;
}

TEST(PicturesTest, SixToolbarImagesAtOneAndTwoTimesScale)
{
    for (int i = 0; i < 6; ++i) {
        const QIcon icon = ToolbarIcon(i);
        ASSERT_FALSE(icon.isNull()) << i;
        const QPixmap one = icon.pixmap(QSize(16, 16), 1.0);
        const QPixmap two = icon.pixmap(QSize(16, 16), 2.0);
        EXPECT_EQ(one.size(), QSize(16, 16)) << i;
        EXPECT_EQ(two.size(), QSize(32, 32)) << i;
        // The 2x picture covers about four times the pixels of the 1x one.
        const int inkOne = InkedPixels(one.toImage());
        const int inkTwo = InkedPixels(two.toImage());
        EXPECT_GT(inkOne, 16) << i;
        EXPECT_GT(inkTwo, 3 * inkOne) << i;
        EXPECT_LT(inkOne, 16 * 16) << i;
    }
    EXPECT_TRUE(ToolbarIcon(6).isNull());
    EXPECT_TRUE(ToolbarIcon(-1).isNull());
}

TEST(PicturesTest, LampsAreRoundOnATransparentGround)
{
    for (bool red : {false, true}) {
        const QImage lamp = LampPixmap(red).toImage();
        EXPECT_EQ(lamp.size(), QSize(37, 34));
        EXPECT_EQ(qAlpha(lamp.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(lamp.pixel(36, 33)), 0);
        const QRgb centre = lamp.pixel(20, 20);
        EXPECT_EQ(qAlpha(centre), 255);
        if (red)
            EXPECT_GT(qRed(centre), 2 * qGreen(centre));
        else
            EXPECT_GT(qGreen(centre), 2 * qRed(centre));
        EXPECT_EQ(LampPixmap(red, 2.0).size(), QSize(74, 68));
    }
}

} // namespace
} // namespace kavrel
