#pragma once

#include <QString>

namespace kavrel {

// Puts the application in the Fusion style with a dark or a light palette ("dark", "light"), so
// that the windows can be seen, and tested, in either without a desktop that provides it.
// Returns false for another name and changes nothing then.
bool UsePalette(const QString& name);

} // namespace kavrel
