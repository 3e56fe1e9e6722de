#pragma once

#include "settings/tdata.h"

#include <string>

namespace kavrel {

// One item of the settings file: a value addressed by section and key.
struct tnode {
    std::string Section;
    std::string Key;
    tdata Data;

    friend bool operator==(const tnode&, const tnode&) = default;
};

} // namespace kavrel
