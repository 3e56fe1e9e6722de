#pragma once

#include <string>

// Number texts of the filter controls' labels.

namespace kavrel {

// v rounded to four significant digits and written in the shorter of the general text and the
// scientific form "d.dddE[-]x": 1 -> "1", 0.316227766 -> "0.3162", 31.6227766 -> "31.62".
// decimalSeparator replaces the "." (the window passes the user's locale's).
std::string ShortNumberText(double v, char decimalSeparator = '.');

} // namespace kavrel
