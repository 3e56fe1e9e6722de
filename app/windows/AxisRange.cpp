#include "app/windows/AxisRange.h"

#include "axes/TAxisModel.h"
#include "axes/qt/TAxis.h"

#include <algorithm>

namespace kavrel {

void KeepRangeInLimits(TAxis& axis)
{
    TAxisModel& m = axis.Model();
    double lo = m.StoredLoValue();
    double hi = m.StoredHiValue();
    const double width = hi - lo;
    if (hi > m.MaxHiValue()) {
        hi = m.MaxHiValue();
        lo = hi - width;
    }
    if (lo < m.MinLoValue()) {
        lo = m.MinLoValue();
        hi = lo + width;
    }
    lo = std::clamp(lo, m.MinLoValue(), std::max(m.MinLoValue(), m.MaxLoValue()));
    hi = std::clamp(hi, m.MinHiValue(), std::max(m.MinHiValue(), m.MaxHiValue()));
    if (lo != m.StoredLoValue())
        m.SetLoValueNoEvent(lo);
    if (hi != m.StoredHiValue())
        m.SetHiValueNoEvent(hi);
}

} // namespace kavrel
