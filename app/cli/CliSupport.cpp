#include "app/cli/CliSupport.h"

#include "app/cli/Cli.h"
#include "app/cli/NativeName.h"

#include <QCoreApplication>

#include <cstdio>
#include <stdexcept>

namespace kavrel::cli {

void PrintError(const QString& message)
{
    std::fprintf(stderr, "kavrel: %s\n", NativeName(message).c_str());
}

std::string OutputFileName(const QString& typed)
{
    if (typed.isEmpty())
        throw std::runtime_error("the name of the file to write is empty; name the file to write");
    return NativeName(typed);
}

void PrintWarning(const std::string& file, const std::string& text)
{
    if (!text.empty())
        std::fprintf(stderr, "kavrel: %s: warning: %s\n", file.c_str(), text.c_str());
}

namespace {

// QCommandLineParser names the program by its path; the help reads "kavrel info ..." instead.
QString HelpText(const QCommandLineParser& parser, const QStringList& args)
{
    QString text = parser.helpText();
    const QString program = QCoreApplication::arguments().value(0);
    const QString usage = QStringLiteral("Usage: ");
    if (text.startsWith(usage + program))
        text.replace(usage.size(), program.size(), QStringLiteral("kavrel ") + args.value(1));
    return text;
}

}  // namespace

std::optional<int> ParseCommand(QCommandLineParser& parser, const QStringList& args,
                                qsizetype minPositional, qsizetype maxPositional)
{
    const QCommandLineOption help(QStringList{"h", "help"}, "Show this help.");
    parser.addOption(help);
    // args[0] is the program, args[1] the sub-command; the parser sees the sub-command as the
    // program name so that its help reads "Usage: info FILE".
    const QStringList own = args.mid(1);
    if (!parser.parse(own)) {
        QString error = parser.errorText();
        if (!parser.unknownOptionNames().isEmpty())
            error += QString(" (a file name that begins with '-' goes after '--', as in "
                             "'kavrel %1 -- -name.wav')")
                         .arg(args.value(1));
        PrintError(error);
        std::fputs(HelpText(parser, args).toLocal8Bit().constData(), stderr);
        return ExitUsage;
    }
    if (parser.isSet(help)) {
        std::fputs(HelpText(parser, args).toLocal8Bit().constData(), stdout);
        return ExitOk;
    }
    const qsizetype n = parser.positionalArguments().size();
    if (n < minPositional || n > maxPositional) {
        PrintError(n < minPositional ? QString("missing argument") : QString("too many arguments"));
        std::fputs(HelpText(parser, args).toLocal8Bit().constData(), stderr);
        return ExitUsage;
    }
    return std::nullopt;
}

}  // namespace kavrel::cli
