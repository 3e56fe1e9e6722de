#pragma once

#include <string>
#include <string_view>

// Number texts of the axis: the general float text (shortest form with up to 15 significant
// digits), the fixed scientific pattern and the 8-digit tick label. Every function takes the
// decimal separator, so the window layer can pass the user's locale.
namespace kavrel {

// Up to 15 significant digits, shortest form; plain decimal unless the decimal exponent is below
// -5 or at least 15, then mantissa, "E" and exponent (minus only when negative): "1E-6", "1.5E20".
// Non-finite values give "NAN", "INF" and "-INF".
std::string GeneralFloatText(double value, char decimalSeparator = '.');

// The pattern "0.0000000E-0": one digit, separator, seven digits, "E", exponent (sign only when
// negative): 1234.5 gives "1.2345000E3".
std::string ScientificFloatText(double value, char decimalSeparator = '.');

// At most 8 significant digits: the shorter of ScientificFloatText and the general text of the
// number read back from it (the general text when both are as long).
std::string EightDigitText(double value, char decimalSeparator = '.');

// Parses a decimal number with the given separator (also "E" exponents, surrounding blanks
// allowed). False when the text is not a finite number.
bool ParseFloatText(std::string_view text, char decimalSeparator, double& value);

} // namespace kavrel
