// The wave-file commands: info and convert.

#include "app/cli/Cli.h"
#include "app/cli/CliSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/NativeName.h"
#include "sound/TWav.h"
#include "sound/TWavScan.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <string>

namespace kavrel::cli {

int RunInfo(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Prints one line about a wave file: channels, sample rate, "
                                     "frames per channel, duration in seconds, the stored "
                                     "encoding, and whether the file ends before its data.");
    parser.addPositionalArgument("FILE", "The wave file.");
    if (const std::optional<int> done = ParseCommand(parser, args, 1, 1))
        return *done;

    // The header and the sizes only: the samples are counted (skipped in a file), never kept.
    const std::string file = NativeName(parser.positionalArguments().at(0));
    TWavScanFormat format;
    bool truncated = false;
    ScanWavFile(file, format, {}, truncated);
    const double duration =
        format.SampleRate > 0 ? static_cast<double>(format.Frames) / format.SampleRate : 0.0;
    const std::string_view encoding = EncodingName(format.Encoding);
    // QString::number ignores the locale, so the line reads the same everywhere.
    const QString line =
        QString("channels=%1 rate=%2 frames=%3 duration=%4 format=%5 truncated=%6\n")
            .arg(format.Channels)
            .arg(format.SampleRate)
            .arg(format.Frames)
            .arg(QString::number(duration, 'f', 6))
            .arg(QString::fromLatin1(encoding.data(), static_cast<qsizetype>(encoding.size())))
            .arg(truncated ? "yes" : "no");
    std::fputs(line.toLocal8Bit().constData(), stdout);
    // The line says when the file is cut short; that it holds more than its header states, only
    // this warning does.
    PrintWarning(file, ReadWarningText(false, format.Oversized, format.Frames));
    return ExitOk;
}

int RunConvert(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Reads a wave file of any PCM or float encoding and writes it "
                                     "as 16-bit PCM. OUT is replaced only once it is complete.");
    parser.addPositionalArgument("IN", "The wave file to read.");
    parser.addPositionalArgument("OUT", "The 16-bit wave file to write.");
    if (const std::optional<int> done = ParseCommand(parser, args, 2, 2))
        return *done;

    const QStringList files = parser.positionalArguments();
    const std::string out = OutputFileName(files.at(1));
    const std::string in = NativeName(files.at(0));
    TWav wav;
    wav.ReadFile(in);
    PrintWarning(in, wav.ReadWarning());
    wav.WriteFile(out);
    return ExitOk;
}

} // namespace kavrel::cli
