#pragma once

// The command-line face of kavrel: `kavrel <command> ...` runs without a display.
// Exit codes: 0 success, 1 failure (message on stderr naming the file and the reason), 2 usage.

namespace kavrel::cli {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// True when argv[1] names one of the sub-commands (or asks for help on them).
bool IsCommand(const char* word);

// True when argv[1] is neither a command nor an option nor an existing file: an unknown command
// (Run says so, exit 2), not a file for the window to open.
bool IsUnknownCommand(const char* word);

// Runs the sub-command named by argv[1]. Needs no QCoreApplication; creates one itself.
int Run(int argc, char** argv);

} // namespace kavrel::cli
