#pragma once

#include "settings/TProgId.h"

#include <filesystem>

namespace kavrel {

// The folder where a program keeps its per-user files, and whether it is the regular one.
struct TProgramFolder {
    // Empty when there is no private folder: the files are then not kept.
    std::filesystem::path Folder;
    // False when the regular folder could not be found or made and a fallback is used.
    bool Regular = false;
};

// What the program says, once, when it has no private folder.
constexpr const char* NoProgramFolderText =
    "the settings are not saved: neither XDG_CONFIG_HOME nor HOME names a folder that only this "
    "user can write to";

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path, else
// $HOME/.config. Empty when neither can be determined. Creates nothing.
std::filesystem::path UserConfigFolder();

// <config folder>/<company>/<product name>/<version>, created if missing. When that fails, falls
// back to the user's home folder (Regular = false). Only a private folder is used: one of this
// user's that no other user can write to, below folders where no other user can put anything in
// its way (a shared folder such as /tmp only when sticky), reached through no link that another
// user planted in a shared folder. Without one the folder is empty.
TProgramFolder ProgramFolder(const TProgId& id);

// Whether `folder` is private in the sense of ProgramFolder.
bool IsPrivateFolder(const std::filesystem::path& folder);

} // namespace kavrel
