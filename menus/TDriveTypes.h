#pragma once

#include "menus/TDriveType.h"

#include <string>

namespace kavrel {

// Tells the kind of storage an absolute path lies on.
class TDriveTypes {
public:
    virtual ~TDriveTypes() = default;
    virtual TDriveType DriveTypeOf(const std::string& path) const = 0;
};

} // namespace kavrel
