#pragma once

// The magnitude response of a filter section for plotting against a logarithmic frequency axis.

#include <vector>

namespace kavrel {

class TFilterSection;

struct TResponsePoint {
    double Hz = 0;
    double Db = 0;
};

// Lowest frequency of the plotted response, Hz.
inline constexpr double ResponseLowHz = 10.0;

// `count` frequencies spaced evenly on a logarithmic scale from lowHz to half the section's
// sample rate, both ends included, with the section's magnitude in dB at each (its transfer
// function with its gain, as it filters). Empty when count < 2 or half the rate is not above
// lowHz.
std::vector<TResponsePoint> ResponseCurve(const TFilterSection& section, int count,
                                          double lowHz = ResponseLowHz);

// A dB range for showing `curve`: its lowest and highest value widened to whole multiples of
// stepDb, at least one step apart and inside floorDb … ceilingDb. {-stepDb, stepDb} for an empty
// curve.
struct TDbRange {
    double Lo = 0;
    double Hi = 0;
};
TDbRange ResponseDbRange(const std::vector<TResponsePoint>& curve, double stepDb = 10.0,
                         double floorDb = -120.0, double ceilingDb = 120.0);

} // namespace kavrel
