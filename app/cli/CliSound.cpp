// The sound-file commands: info and convert.

#include "app/cli/Cli.h"
#include "app/cli/CliSpan.h"
#include "app/cli/CliSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/NativeName.h"
#include "sound/TWav.h"
#include "sound/TWavScan.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <string>

namespace kavrel::cli {

namespace {

// The frames of span (within the sound) as a sound of their own.
TWav FramesOf(const TWav& wav, const TFrameSpan& span)
{
    TWav part;
    part.SetSampleRate(wav.SampleRate());
    part.SetChannels(wav.Channels());
    part.SetLength(span.Frames());
    for (std::int32_t c = 0; c < wav.Channels(); ++c) {
        const auto from = wav.ChannelSamples(c).subspan(static_cast<std::size_t>(span.First),
                                                        static_cast<std::size_t>(span.Frames()));
        std::copy(from.begin(), from.end(), part.MutableChannelSamples(c).begin());
    }
    return part;
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
    parser.setApplicationDescription(
        "Reads a sound file of any format the program opens and writes it as 16-bit PCM: a wave "
        "file, or FLAC when OUT ends in \".flac\". OUT is replaced only once it is complete.");
    parser.addPositionalArgument("IN", "The sound file to read.");
    parser.addPositionalArgument("OUT", "The 16-bit wave or FLAC file to write.");
    const TSpanOptions spanOptions;
    spanOptions.AddTo(parser);
    if (const std::optional<int> done = ParseCommand(parser, args, 2, 2))
        return *done;

    const QStringList files = parser.positionalArguments();
    try {
        const std::optional<TSecondsSpan> seconds = SpanFromOptions(parser, spanOptions);
        const std::string out = OutputFileName(files.at(1));
        const std::string in = NativeName(files.at(0));
        TWav wav;
        wav.ReadFile(in);
        PrintWarning(in, wav.ReadWarning());
        if (seconds)
            wav = FramesOf(wav, SpanFrames(*seconds, wav.SampleRate(), wav.Length()));
        wav.WriteFile(out);
    } catch (const ESpanError& e) {
        PrintError(QString::fromStdString(e.what()));
        return ExitUsage;
    }
    return ExitOk;
}

} // namespace kavrel::cli
