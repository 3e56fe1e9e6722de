#pragma once

// The six values of the filter controls kept in a file of their own, so that a user can keep and
// recall a setting. The file has the settings file's format and keys (section "Settings"), so
// the program's own settings file loads as one too.

#include "settings/TProgId.h"

#include <string>

namespace kavrel {

// The values in force, as the document holds them: linear gains, centre frequencies and
// bandwidths in Hz.
struct TFilterSettings {
    double RawGain = 1.0;
    double FilterGain = 1.0;
    double PoleF0 = 100.0;
    double PoleBW = 100.0;
    double ZeroF0 = 100.0;
    double ZeroBW = 100.0;
};

// Writes settings to path (safely: an old file stays whole when the write fails), its header
// filled from progId. Raises EZELfileError "<path>: <problem>".
void SaveFilterSettings(const std::string& path, const TFilterSettings& settings,
                        const TProgId& progId);

// Reads the six values of path. All six must be there, be numbers, and be above zero and finite
// (a gain of 0 and a frequency of 0 have no slider position). Raises EZELfileError
// "<path>: <problem>" when the file cannot be read, is not a settings file or fails any of that.
TFilterSettings LoadFilterSettings(const std::string& path);

} // namespace kavrel
