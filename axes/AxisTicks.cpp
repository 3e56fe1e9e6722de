#include "axes/AxisTicks.h"

#include <cmath>
#include <limits>
#include <string>

namespace kavrel::axisticks {

namespace {

const double kSqrt2 = std::sqrt(2.0);
const double kSqrt10 = std::sqrt(10.0);
const double kSqrt50 = std::sqrt(50.0);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double FlooredMod(double a, double m)
{
    double r = std::fmod(a, m);
    if (r < 0) {
        r += m;
    }
    return r;
}

} // namespace

double NiceNumber(double x)
{
    if (x == 0) {
        return 0;
    }
    if (!(x > 0) || !std::isfinite(x)) {
        return kNaN;
    }
    const double k = std::floor(std::log10(x));
    const double power = std::pow(10.0, k);
    const double m = x / power;
    if (!std::isfinite(m) || power == 0) {
        return kNaN;
    }
    double factor = 10;
    if (m < kSqrt2) {
        factor = 1;
    } else if (m < kSqrt10) {
        factor = 2;
    } else if (m < kSqrt50) {
        factor = 5;
    }
    const double result = factor * power;
    return std::isfinite(result) ? result : kNaN;
}

double NextNiceStep(double step)
{
    if (!(step > 0) || !std::isfinite(step)) {
        return kNaN;
    }
    const double power = std::pow(10.0, std::floor(std::log10(step)));
    const double m = std::nearbyint(step / power);
    const double factor = m < 2 ? 2 : (m < 5 ? 5 : 10);
    const double next = factor * power;
    return std::isfinite(next) && next > step ? next : kNaN;
}

double NextLogTick(double x)
{
    if (!(x > 0) || !std::isfinite(x)) {
        return 0;
    }
    const double c = x * 1.0000001;
    double k = std::trunc(std::log10(c));
    if (x < 0.99) {
        k -= 1;
    }
    const double u = std::pow(10.0, k);
    if (!(u > 0) || !std::isfinite(u)) {
        return 0;
    }
    const double next = u * (std::trunc(x / u + 1e-10) + 1);
    return std::isfinite(next) ? next : 0;
}

double NoteNumber(double frequency)
{
    return 12 * std::log2(frequency / 440) + 69;
}

bool IsSharpNote(long long note)
{
    return FlooredMod(7.0 * static_cast<double>(note) + 18, 12) < 5;
}

double NextMusicTick(double frequency)
{
    if (!(frequency > 0) || !std::isfinite(frequency)) {
        return 0;
    }
    const double n = NoteNumber(frequency * 1.0000000001);
    if (!std::isfinite(n)) {
        return 0;
    }
    const double a = std::floor(n);
    double note = a + 1;
    if (FlooredMod(7 * note + 18, 12) < 5) {
        note += 1;
    }
    const double next = 440 * std::exp2((note - 69) / 12);
    return std::isfinite(next) && next > 0 ? next : 0;
}

std::string NoteName(double frequency)
{
    static const char* const kNames[12] = {"Ab", "A",  "Bb", "B", "C",  "C#",
                                           "D",  "Eb", "E",  "F", "F#", "G"};
    if (!(frequency > 0)) {
        return "-";
    }
    const double n = std::nearbyint(NoteNumber(frequency) + 4);
    if (!std::isfinite(n) || std::fabs(n) > 1e15) {
        return "-";
    }
    const int index = static_cast<int>(FlooredMod(n + 120, 12));
    const long long octave = static_cast<long long>(std::floor((n + 104) / 12)) - 10;
    return std::string(kNames[index]) + std::to_string(octave);
}

int PitchClass(double frequency)
{
    if (!(frequency > 0)) {
        return -1;
    }
    const double n = std::nearbyint(NoteNumber(frequency) + 120);
    if (!std::isfinite(n)) {
        return -1;
    }
    return static_cast<int>(FlooredMod(n, 12));
}

} // namespace kavrel::axisticks
