#include "axes/FloatText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kavrel {
namespace {

struct TGeneralCase {
    double value;
    const char* text;
};

class GeneralFloatTextTest : public ::testing::TestWithParam<TGeneralCase> {};

TEST_P(GeneralFloatTextTest, WritesShortestFormWithFifteenDigits)
{
    EXPECT_EQ(GeneralFloatText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, GeneralFloatTextTest,
    ::testing::Values(TGeneralCase{0, "0"}, TGeneralCase{-0.0, "0"}, TGeneralCase{1, "1"},
                      TGeneralCase{-2.5, "-2.5"}, TGeneralCase{0.1, "0.1"},
                      TGeneralCase{0.1 + 0.2, "0.3"}, TGeneralCase{1.0 / 3, "0.333333333333333"},
                      TGeneralCase{2.0 / 3, "0.666666666666667"},
                      TGeneralCase{123456.789, "123456.789"}, TGeneralCase{1e-5, "0.00001"},
                      TGeneralCase{1.25e-5, "0.0000125"}, TGeneralCase{1e-6, "1E-6"},
                      TGeneralCase{-1.5e-7, "-1.5E-7"}, TGeneralCase{1.5e20, "1.5E20"},
                      TGeneralCase{999999999999999, "999999999999999"}, TGeneralCase{1e15, "1E15"},
                      TGeneralCase{9999999999999999.0, "1E16"}, TGeneralCase{1e300, "1E300"},
                      TGeneralCase{-1e-300, "-1E-300"}, TGeneralCase{100, "100"},
                      TGeneralCase{1200.5, "1200.5"}));

TEST(FloatText, UsesTheGivenDecimalSeparator)
{
    EXPECT_EQ(GeneralFloatText(0.5, ','), "0,5");
    EXPECT_EQ(GeneralFloatText(1.5e-7, ','), "1,5E-7");
    EXPECT_EQ(ScientificFloatText(1234.5, ','), "1,2345000E3");
    EXPECT_EQ(EightDigitText(0.25, ','), "0,25");
}

TEST(FloatText, NonFiniteValuesHaveTexts)
{
    EXPECT_EQ(GeneralFloatText(std::numeric_limits<double>::quiet_NaN()), "NAN");
    EXPECT_EQ(GeneralFloatText(std::numeric_limits<double>::infinity()), "INF");
    EXPECT_EQ(GeneralFloatText(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(FloatText, ScientificPattern)
{
    EXPECT_EQ(ScientificFloatText(1234.5), "1.2345000E3");
    EXPECT_EQ(ScientificFloatText(0.001), "1.0000000E-3");
    EXPECT_EQ(ScientificFloatText(-9.999999999), "-1.0000000E1");
    EXPECT_EQ(ScientificFloatText(0), "0.0000000E0");
    EXPECT_EQ(ScientificFloatText(1e300), "1.0000000E300");
}

TEST(FloatText, EightDigitLabelTakesTheShorterText)
{
    EXPECT_EQ(EightDigitText(0.1), "0.1");
    EXPECT_EQ(EightDigitText(0.30000000000000004), "0.3");
    EXPECT_EQ(EightDigitText(1.0 / 3), "0.33333333");
    EXPECT_EQ(EightDigitText(123456789), "123456790");
    EXPECT_EQ(EightDigitText(1e-7), "1E-7");
    // Plain decimal would be longer than the pattern here.
    EXPECT_EQ(EightDigitText(1.2345678e-5), "1.2345678E-5");
    EXPECT_EQ(EightDigitText(-2), "-2");
}

TEST(FloatText, ParsesNumbersWithTheSeparator)
{
    struct TCase {
        const char* text;
        char separator;
        bool ok;
        double value;
    };
    const TCase cases[] = {
        {"1.5", '.', true, 1.5},  {" -2 ", '.', true, -2},  {"1,5", ',', true, 1.5},
        {"1,5", '.', false, 0},   {"1.5", ',', false, 0},   {".5", '.', true, 0.5},
        {"3.", '.', true, 3},     {"1E3", '.', true, 1000}, {"2.5e-3", '.', true, 0.0025},
        {"+7", '.', true, 7},     {"", '.', false, 0},      {"-", '.', false, 0},
        {"1e", '.', false, 0},    {"abc", '.', false, 0},   {"1.5x", '.', false, 0},
        {"1e999", '.', false, 0}, {"1e-999", '.', true, 0}, {"nan", '.', false, 0},
        {"inf", '.', false, 0},   {"High", '.', false, 0},  {"0x10", '.', false, 0},
    };
    for (const auto& c : cases) {
        double value = -123;
        EXPECT_EQ(ParseFloatText(c.text, c.separator, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(value, c.value) << c.text;
        } else {
            EXPECT_EQ(value, -123) << "failed parse must not write: " << c.text;
        }
    }
}

TEST(FloatText, GeneralTextReadsBackToTheSameFifteenDigits)
{
    for (double v : {0.1, 1.0 / 7, 12345.678901234, 6.02214076e23, 1.602176634e-19, 440.0}) {
        double back = 0;
        ASSERT_TRUE(ParseFloatText(GeneralFloatText(v), '.', back));
        EXPECT_NEAR(back, v, std::fabs(v) * 1e-14);
    }
}

} // namespace
} // namespace kavrel
