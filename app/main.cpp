#include "app/cli/Cli.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc > 1 && kavrel::cli::IsCommand(argv[1]))
        return kavrel::cli::Run(argc, argv);
    // The window comes with the main window's code; until then only the commands exist.
    return kavrel::cli::Run(1, argv);
}
