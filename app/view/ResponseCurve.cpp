#include "app/view/ResponseCurve.h"

#include "dsp/TFilterSection.h"

#include <algorithm>
#include <cmath>

namespace kavrel {

std::vector<TResponsePoint> ResponseCurve(const TFilterSection& section, int count, double lowHz)
{
    std::vector<TResponsePoint> curve;
    const double highHz = section.SampFreq() / 2.0;
    if (count < 2 || !(lowHz > 0.0) || !std::isfinite(highHz) || !(highHz > lowHz))
        return curve;
    curve.reserve(static_cast<std::size_t>(count));
    const double span = std::log(highHz / lowHz);
    for (int k = 0; k < count; ++k) {
        const double hz =
            k == count - 1 ? highHz : lowHz * std::exp(span * k / static_cast<double>(count - 1));
        curve.push_back(TResponsePoint{hz, section.MagnitudeDb(hz)});
    }
    return curve;
}

TDbRange ResponseDbRange(const std::vector<TResponsePoint>& curve, double stepDb, double floorDb,
                         double ceilingDb)
{
    double lo = INFINITY;
    double hi = -INFINITY;
    for (const TResponsePoint& p : curve) {
        if (!std::isfinite(p.Db))
            continue;
        lo = std::min(lo, p.Db);
        hi = std::max(hi, p.Db);
    }
    if (!(stepDb > 0.0) || !std::isfinite(stepDb))
        stepDb = 10.0;
    if (!(lo <= hi))
        return TDbRange{-stepDb, stepDb};
    lo = std::floor(lo / stepDb) * stepDb;
    hi = std::ceil(hi / stepDb) * stepDb;
    if (hi <= lo) {
        lo -= stepDb;
        hi += stepDb;
    }
    lo = std::max(lo, floorDb);
    hi = std::min(hi, ceilingDb);
    if (hi <= lo) {
        if (lo >= ceilingDb) {
            hi = ceilingDb;
            lo = ceilingDb - stepDb;
        } else {
            lo = floorDb;
            hi = floorDb + stepDb;
        }
    }
    return TDbRange{lo, hi};
}

} // namespace kavrel
