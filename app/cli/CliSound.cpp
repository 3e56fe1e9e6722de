// The sound-file commands: info and convert.

#include "app/cli/Cli.h"
#include "app/cli/CliSupport.h"
#include "app/cli/Commands.h"
#include "sound/TWav.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <string>

namespace kavrel::cli {

namespace {

std::string FileName(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

} // namespace

int RunInfo(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Prints one line about a sound file (wave, FLAC, Ogg Vorbis, "
                                     "Opus, MP3, AIFF, CAF, W64, RF64): channels, sample rate, "
                                     "frames per channel, duration in seconds, the stored "
                                     "encoding, and whether the file ends before its data.");
    parser.addPositionalArgument("FILE", "The sound file.");
    if (const std::optional<int> done = ParseCommand(parser, args, 1, 1))
        return *done;

    TWav wav;
    wav.ReadFile(FileName(parser.positionalArguments().at(0)));
    // QString::number ignores the locale, so the line reads the same everywhere.
    const QString line =
        QString("channels=%1 rate=%2 frames=%3 duration=%4 format=%5 truncated=%6\n")
            .arg(wav.Channels())
            .arg(wav.SampleRate())
            .arg(wav.Length())
            .arg(QString::number(wav.Duration(), 'f', 6))
            .arg(QString::fromLatin1(wav.EncodingName().data(),
                                     static_cast<qsizetype>(wav.EncodingName().size())))
            .arg(wav.Truncated() ? "yes" : "no");
    std::fputs(line.toLocal8Bit().constData(), stdout);
    return ExitOk;
}

int RunConvert(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Reads a sound file of any format the program opens and writes it as 16-bit PCM: a wave "
        "file, or FLAC when OUT ends in \".flac\". OUT is replaced only once it is complete.");
    parser.addPositionalArgument("IN", "The sound file to read.");
    parser.addPositionalArgument("OUT", "The 16-bit wave or FLAC file to write.");
    if (const std::optional<int> done = ParseCommand(parser, args, 2, 2))
        return *done;

    const QStringList files = parser.positionalArguments();
    TWav wav;
    wav.ReadFile(FileName(files.at(0)));
    if (wav.Truncated())
        PrintError(QString("%1: warning: the file ends before its data does; converting the %2 "
                           "frames it holds")
                       .arg(files.at(0))
                       .arg(wav.Length()));
    wav.WriteFile(FileName(files.at(1)));
    return ExitOk;
}

} // namespace kavrel::cli
