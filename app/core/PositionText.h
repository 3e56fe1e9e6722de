#pragma once

#include <string>

namespace kavrel {

// The position readout of the status bar: "0:01.250 / 0:08.000", the position and the sound's
// duration in minutes, seconds and milliseconds (rounded half to even), both with hours in front
// ("1:02:03.500") when the duration reaches an hour. Negative or non-finite values show as 0.
std::string PositionText(double seconds, double duration);
// A region of a sound of that duration, as the readout shows it after the position:
// "[0:01.000 - 0:02.000]".
std::string RegionText(double first, double end, double duration);

} // namespace kavrel
