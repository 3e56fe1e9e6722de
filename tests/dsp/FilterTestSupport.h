#pragma once

// Shared helpers of the filter section tests: the two sections of the main window's stored form,
// set up in the order the form loads them, and floating-point distance in units in the last place.

#include "dsp/TFilterSection.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ostream>

namespace kavrel {

inline void PrintTo(tfiltertype t, std::ostream* os)
{
    static const char* const names[] = {"ftnone", "ftpole", "ftzero", "ftboth"};
    const int i = static_cast<int>(t);
    if (i >= 0 && i < 4)
        *os << names[i];
    else
        *os << "tfiltertype(" << i << ")";
}

} // namespace kavrel

namespace kavrel::test {

struct FormSection {
    double poleF0, poleBW, zeroF0, zeroBW;
};

inline void PrintTo(const FormSection& f, std::ostream* os)
{
    *os << "pole " << f.poleF0 << "/" << f.poleBW << " zero " << f.zeroF0 << "/" << f.zeroBW;
}

inline constexpr FormSection kForm1{50.0, 50.0, 100.0, 100.0};
inline constexpr FormSection kForm2{200.0, 20.0, 200.0, 200.0};
inline constexpr double kFormRate = 44100.0;

// Loads a section the way a stored form does: F0/BW after the flag, the rate and type last.
inline TFilterSection MakeFormSection(const FormSection& f, double gain = 1.0)
{
    TFilterSection s;
    s.SetGain(gain);
    s.SetUseF0BW(true);
    s.SetPoleBW(f.poleBW);
    s.SetPoleF0(f.poleF0);
    s.SetZeroBW(f.zeroBW);
    s.SetZeroF0(f.zeroF0);
    s.SetSampFreq(kFormRate);
    s.SetFilterType(tfiltertype::ftboth);
    return s;
}

// Distance between two finite doubles in units in the last place.
inline std::int64_t UlpDistance(double a, double b)
{
    const auto key = [](double v) {
        const auto bits = std::bit_cast<std::int64_t>(v);
        return bits < 0 ? INT64_MIN - bits : bits;
    };
    const std::int64_t d = key(a) - key(b);
    return d < 0 ? -d : d;
}

inline bool SameBits(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

} // namespace kavrel::test
