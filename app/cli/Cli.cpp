#include "app/cli/Cli.h"

#include "app/cli/CliSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/NativeName.h"

#include <QCoreApplication>

#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include <sys/stat.h>

namespace kavrel::cli {

namespace {

struct Command {
    const char* name;
    const char* synopsis;
    int (*run)(const QStringList&);
};

constexpr std::array kCommands{
    Command{"info", "info FILE                 one line about a sound file", &RunInfo},
    Command{"convert", "convert IN OUT [options]  write IN as 16-bit PCM (FLAC for OUT.flac)",
            &RunConvert},
    Command{"analyze", "analyze FILE              RMS, peak and crest level of each channel",
            &RunAnalyze},
    Command{"export", "export IN OUT [options]   write IN through the Vesk filter, normalised",
            &RunExport},
    Command{"play", "play FILE [options]       play FILE through the sound output, looping",
            &RunPlay},
    Command{"devices", "devices                   list the sound outputs play --device takes",
            &RunDevices},
};

void PrintUsage(std::FILE* to)
{
    std::fputs("Usage: kavrel [--palette dark|light] [--play] [FILE]\n"
               "                               open the window (with FILE loaded, playing\n"
               "                               with --play), in the desktop's colours or the\n"
               "                               dark or light ones\n"
               "       kavrel COMMAND ARGS...  run a command without a display\n"
               "       kavrel --version        print the version\n"
               "Commands:\n",
               to);
    for (const Command& c : kCommands)
        std::fprintf(to, "  %s\n", c.synopsis);
    std::fputs("Run 'kavrel COMMAND --help' for a command's options.\n", to);
}

bool IsHelpWord(const char* word)
{
    return std::strcmp(word, "help") == 0 || std::strcmp(word, "--help") == 0 ||
           std::strcmp(word, "-h") == 0;
}

} // namespace

bool IsCommand(const char* word)
{
    if (word == nullptr)
        return false;
    if (IsHelpWord(word) || std::strcmp(word, "--version") == 0)
        return true;
    for (const Command& c : kCommands)
        if (std::strcmp(word, c.name) == 0)
            return true;
    return false;
}

bool IsUnknownCommand(const char* word)
{
    if (word == nullptr || word[0] == '-' || IsCommand(word))
        return false;
    struct stat info {};
    return ::stat(word, &info) != 0;
}

int Run(int argc, char** argv)
{
    if (argc < 2 || IsHelpWord(argv[1])) {
        PrintUsage(stdout);
        return argc < 2 ? ExitUsage : ExitOk;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::puts("kavrel " KAVREL_VERSION);
        return ExitOk;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kavrel");
    // The words as given, byte for byte: a file name need not be UTF-8.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args.append(TextFromNative(argv[i]));
    for (const Command& c : kCommands) {
        if (args.value(1) != QLatin1String(c.name))
            continue;
        try {
            return c.run(args);
        } catch (const std::bad_alloc&) {
            PrintError(QString("%1: not enough memory").arg(args.value(1)));
            return ExitFailure;
        } catch (const std::exception& e) {
            PrintError(TextFromNative(e.what()));
            return ExitFailure;
        }
    }
    PrintError(QString("unknown command '%1' (nor a file to open)").arg(args.value(1)));
    PrintUsage(stderr);
    return ExitUsage;
}

} // namespace kavrel::cli
