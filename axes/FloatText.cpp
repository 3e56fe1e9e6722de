#include "axes/FloatText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kavrel {

namespace {

// Digits and decimal exponent of a finite, non-zero |value| rounded to `digits` significant
// digits: value = 0.d1d2d3... x 10^(exponent + 1), i.e. d1 stands at 10^exponent.
struct TDecimal {
    std::string digits;
    int exponent = 0;
};

TDecimal Decompose(double magnitude, int digits)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", digits - 1, magnitude);
    TDecimal d;
    const std::string text(buffer);
    const auto e = text.find('e');
    for (std::size_t i = 0; i < e; ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            d.digits.push_back(text[i]);
        }
    }
    d.exponent = std::atoi(text.c_str() + e + 1);
    return d;
}

std::string NonFiniteText(double value)
{
    if (std::isnan(value)) {
        return "NAN";
    }
    return value < 0 ? "-INF" : "INF";
}

} // namespace

std::string GeneralFloatText(double value, char decimalSeparator)
{
    if (!std::isfinite(value)) {
        return NonFiniteText(value);
    }
    if (value == 0) {
        return "0";
    }
    TDecimal d = Decompose(std::fabs(value), 15);
    while (d.digits.size() > 1 && d.digits.back() == '0') {
        d.digits.pop_back();
    }
    std::string text = value < 0 ? "-" : "";
    const int count = static_cast<int>(d.digits.size());
    if (d.exponent < -5 || d.exponent >= 15) {
        text += d.digits[0];
        if (count > 1) {
            text += decimalSeparator;
            text.append(d.digits, 1, std::string::npos);
        }
        text += 'E';
        text += std::to_string(d.exponent);
    } else if (d.exponent < 0) {
        text += '0';
        text += decimalSeparator;
        text.append(static_cast<std::size_t>(-d.exponent - 1), '0');
        text += d.digits;
    } else {
        const int whole = d.exponent + 1;
        if (count <= whole) {
            text += d.digits;
            text.append(static_cast<std::size_t>(whole - count), '0');
        } else {
            text.append(d.digits, 0, static_cast<std::size_t>(whole));
            text += decimalSeparator;
            text.append(d.digits, static_cast<std::size_t>(whole), std::string::npos);
        }
    }
    return text;
}

std::string ScientificFloatText(double value, char decimalSeparator)
{
    if (!std::isfinite(value)) {
        return NonFiniteText(value);
    }
    std::string text = std::signbit(value) && value != 0 ? "-" : "";
    TDecimal d;
    if (value == 0) {
        d.digits = "00000000";
    } else {
        d = Decompose(std::fabs(value), 8);
    }
    text += d.digits[0];
    text += decimalSeparator;
    text.append(d.digits, 1, std::string::npos);
    text += 'E';
    text += std::to_string(d.exponent);
    return text;
}

std::string EightDigitText(double value, char decimalSeparator)
{
    const std::string scientific = ScientificFloatText(value, decimalSeparator);
    double back = 0;
    if (!ParseFloatText(scientific, decimalSeparator, back)) {
        return scientific;
    }
    std::string general = GeneralFloatText(back, decimalSeparator);
    return general.size() <= scientific.size() ? general : scientific;
}

bool ParseFloatText(std::string_view text, char decimalSeparator, double& value)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    // Rebuild the number in the form from_chars reads, checking its grammar on the way:
    // [sign] digits [separator digits] [E [sign] digits], with a digit before or after the
    // separator.
    std::string plain;
    std::size_t i = 0;
    auto isDigit = [&](std::size_t k) {
        return k < text.size() && text[k] >= '0' && text[k] <= '9';
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            plain += '-';
        }
        ++i;
    }
    std::size_t mantissaDigits = 0;
    while (isDigit(i)) {
        plain += text[i++];
        ++mantissaDigits;
    }
    if (i < text.size() && text[i] == decimalSeparator) {
        plain += '.';
        ++i;
        while (isDigit(i)) {
            plain += text[i++];
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            plain += text[i++];
        }
        if (!isDigit(i)) {
            return false;
        }
        while (isDigit(i)) {
            plain += text[i++];
        }
    }
    if (i != text.size()) {
        return false;
    }
    double parsed = 0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), parsed);
    if (result.ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow is not a number we can use.
        const auto e = plain.find('e');
        if (e != std::string::npos && plain.find('-', e) != std::string::npos) {
            value = plain.front() == '-' ? -0.0 : 0.0;
            return true;
        }
        return false;
    }
    if (result.ec != std::errc() || result.ptr != plain.data() + plain.size() ||
        !std::isfinite(parsed)) {
        return false;
    }
    value = parsed;
    return true;
}

} // namespace kavrel
