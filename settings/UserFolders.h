#pragma once

#include "settings/TProgId.h"

#include <filesystem>

namespace kavrel {

// The folder where a program keeps its per-user files, and whether it is the regular one.
struct TProgramFolder {
    std::filesystem::path Folder;
    // False when the regular folder could not be found or made and a fallback is used.
    bool Regular = false;
};

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path, else
// $HOME/.config. Empty when neither can be determined. Creates nothing.
std::filesystem::path UserConfigFolder();

// <config folder>/<company>/<product name>/<version>, created if missing. When that fails, falls
// back to the user's home folder, and without one to the temporary folder (Regular = false).
TProgramFolder ProgramFolder(const TProgId& id);

} // namespace kavrel
