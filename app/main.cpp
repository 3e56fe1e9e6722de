// The command-line program. The windows are a program of their own (WindowMain.cpp), which this
// one runs in its place when no command is given, so that the commands start without loading
// Qt's widget, GUI and display libraries.
#include "app/cli/Cli.h"

#ifdef KAVREL_WINDOW_PROGRAM
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>
#endif

namespace {

#ifdef KAVREL_WINDOW_PROGRAM
// Runs the window program with these arguments, argv[0] included (the window system names the
// program by it), in this process: beside this program as built, or where it is installed
// relative to it (KAVREL_WINDOW_PROGRAM). Returns only when it cannot be run.
int RunWindows(char** argv)
{
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
    if (dir.empty() || dir.front() != '/') {
        // Never a program of that name from the working folder.
        std::fputs("kavrel: cannot find the window program: where kavrel lies is unknown "
                   "(/proc/self/exe)\n",
                   stderr);
        return kavrel::cli::ExitFailure;
    }
    dir.erase(dir.find_last_of('/') + 1);
    std::string program;
    for (const char* place : {"kavrel-window", KAVREL_WINDOW_PROGRAM}) {
        program = dir + place;
        if (::access(program.c_str(), X_OK) == 0)
            break;
    }
    ::execv(program.c_str(), argv);
    const int error = errno;
    std::fprintf(stderr, "kavrel: cannot start the window program %s: %s\n", program.c_str(),
                 std::strerror(error));
    return kavrel::cli::ExitFailure;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (kavrel::cli::IsCommand(argv[1]) || kavrel::cli::IsUnknownCommand(argv[1])))
        return kavrel::cli::Run(argc, argv);
#ifdef KAVREL_WINDOW_PROGRAM
    return RunWindows(argv);
#else
    return kavrel::cli::Run(1, argv);
#endif
}
