#include "app/windows/ShortNumber.h"

#include "axes/FloatText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace kavrel {

namespace {

std::string NonFiniteText(double v)
{
    if (std::isnan(v))
        return "NAN";
    return v < 0 ? "-INF" : "INF";
}

// Locale-independent on purpose: the window runs under the user's C locale.
// Splits |v| into its first `digits` significant digits and the decimal exponent of the first.
void Decompose(double v, int digits, std::string& mantissa, int& exponent)
{
    char buf[64];
    const auto end = std::to_chars(buf, buf + sizeof buf, std::fabs(v),
                                   std::chars_format::scientific, digits - 1)
                         .ptr;
    mantissa.clear();
    const char* p = buf;
    for (; p != end && *p != 'e'; ++p)
        if (*p != '.')
            mantissa += *p;
    exponent = 0;
    if (p != end)
        std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
}

std::string ExponentText(int exponent)
{
    return "E" + std::string(exponent < 0 ? "-" : "") + std::to_string(std::abs(exponent));
}

} // namespace

std::string ShortNumberText(double v, char decimalSeparator)
{
    if (!std::isfinite(v))
        return NonFiniteText(v);
    constexpr int significant = 4;
    std::string scientific;
    double rounded = 0;
    if (v == 0) {
        scientific = "0.000E0";
    } else {
        std::string digits;
        int exponent = 0;
        Decompose(v, significant, digits, exponent);
        scientific = (std::signbit(v) ? "-" : "") + digits.substr(0, 1) + "." + digits.substr(1) +
                     ExponentText(exponent);
        char buf[64];
        const auto end =
            std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, significant - 1)
                .ptr;
        std::from_chars(buf, end, rounded);
    }
    std::string text = GeneralFloatText(rounded);
    if (text.size() > scientific.size())
        text = scientific;
    std::replace(text.begin(), text.end(), '.', decimalSeparator);
    return text;
}

} // namespace kavrel
