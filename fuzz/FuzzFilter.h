#pragma once

// The filter the fuzzers export through: both parts of the section, so that every step of the
// export's arithmetic runs.

#include "dsp/TFilterSection.h"

namespace kavrel::fuzz {

inline TFilterSection ExportFilter()
{
    TFilterSection s;
    s.SetFilterType(tfiltertype::ftboth);
    s.SetUseF0BW(true);
    s.SetSampFreq(44100.0);
    s.SetPoleBW(50.0);
    s.SetPoleF0(100.0);
    s.SetZeroBW(200.0);
    s.SetZeroF0(300.0);
    return s;
}

} // namespace kavrel::fuzz
