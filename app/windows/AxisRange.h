#pragma once

namespace kavrel {

class TAxis;

// After a drag of axis's middle both ends may lie past its limits (a drag stores them as they
// come): shifts the range back inside, keeping its width where it fits, and clamps what does
// not. For an owner's OnScaleChanging and OnScaleChanged; fires nothing.
void KeepRangeInLimits(TAxis& axis);

} // namespace kavrel
