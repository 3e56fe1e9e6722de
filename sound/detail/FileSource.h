#pragma once

#include "sound/TWavSource.h"

#include <string>

namespace kavrel::detail {

// A source reading the file at `path`; the file stays open as long as a copy of the source
// lives. Throws EWavError naming the file when it cannot be opened.
TWavSource OpenFileSource(const std::string& path);

// "No such file or directory" and the like for an errno value.
std::string SystemReason(int error);

} // namespace kavrel::detail
