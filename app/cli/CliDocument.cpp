// The document's commands: analyze, export and play. They use the sound document and the export
// exactly as the main window does, with the filter and gain values of the stored settings (as the
// window restores them at its first activation) unless the command line gives others.

#include "app/cli/Cli.h"
#include "app/cli/CliSpan.h"
#include "app/cli/CliSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/NativeName.h"
#include "app/cli/TStopSignal.h"
#include "app/core/ControlMapping.h"
#include "app/core/FilterSettingsFile.h"
#include "app/core/LevelAnalysis.h"
#include "app/core/Loudness.h"
#include "app/core/SoundExport.h"
#include "app/core/TSoundDocument.h"
#include "audio/EMPCPlayError.h"
#include "audio/pulse/TPulseWaveOutDevice.h"
#include "audio/qt/TQtEventPoster.h"
#include "settings/TProgId.h"
#include "settings/TZELFile.h"
#include "sound/TWav.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavrel::cli {

namespace {

// The gains and filter parameters as the window holds them (linear factors, Hz).
using TControls = TFilterSettings;

// The values the sliders give at their initial positions.
TControls InitialControls()
{
    TControls c;
    c.RawGain = GainFromSlider(GainSliderRange.Initial);
    c.FilterGain = GainFromSlider(GainSliderRange.Initial);
    c.PoleF0 = F0FromSlider(F0SliderRange.Initial);
    c.PoleBW = c.PoleF0 / QFromSlider(QSliderRange.Initial);
    c.ZeroF0 = F0FromSlider(F0SliderRange.Initial);
    c.ZeroBW = c.ZeroF0 / QFromSlider(QSliderRange.Initial);
    return c;
}

// Puts stored values through the sliders as the window does when it restores them, so that
// what is in force is what the sliders would show; a value with no slider position leaves its
// slider at the initial one.
TControls SnapToSliders(const TControls& v)
{
    TControls c;
    c.RawGain = GainFromSlider(SliderFromGain(v.RawGain).value_or(GainSliderRange.Initial));
    c.FilterGain = GainFromSlider(SliderFromGain(v.FilterGain).value_or(GainSliderRange.Initial));
    c.PoleF0 = F0FromSlider(SliderFromF0(v.PoleF0).value_or(F0SliderRange.Initial));
    c.PoleBW =
        c.PoleF0 / QFromSlider(SliderFromQ(v.PoleF0, v.PoleBW).value_or(QSliderRange.Initial));
    c.ZeroF0 = F0FromSlider(SliderFromF0(v.ZeroF0).value_or(F0SliderRange.Initial));
    c.ZeroBW =
        c.ZeroF0 / QFromSlider(SliderFromQ(v.ZeroF0, v.ZeroBW).value_or(QSliderRange.Initial));
    return c;
}

// The stored settings when the settings file exists, else the sliders' initial values.
TControls StoredControls()
{
    TControls c = InitialControls();
    TProgId id;
    id.SetCompany("MorvaneData");
    id.SetProductName("Kavrel");
    id.SetVersion("0.0.0.2");
    TZELFile file;
    file.SetProgId(&id);
    file.SetSettingsFileName("settings.zelfile");
    file.SetFileVersion("0.0");
    std::filesystem::path path;
    try {
        path = std::filesystem::path(file.GetDefaultFileName()).parent_path() /
               "Kavrelsettings.zelfile";
    } catch (const EZELfileError&) {
        return c; // no private folder: no settings to trust
    }
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return c;
    if (!file.LoadFromFile(path.string())) {
        PrintWarning(path.string(), "cannot read the settings file; using the initial values");
        return c;
    }
    // An item of another type under one of our keys counts as missing, as in the window.
    const std::string section = "Settings";
    const auto read = [&](const char* key, double current) {
        try {
            return file.ReadFloat(section, key, current);
        } catch (const EZELfileError& e) {
            PrintWarning(path.string(), std::string("the item ") + section + "/" + key +
                                            " cannot be used (" + e.what() +
                                            "); using the initial value");
            return current;
        }
    };
    c.RawGain = read("RawGain", c.RawGain);
    c.FilterGain = read("FilterGain", c.FilterGain);
    c.PoleF0 = read("PoleF0", c.PoleF0);
    c.PoleBW = read("PoleBW", c.PoleBW);
    c.ZeroF0 = read("ZeroF0", c.ZeroF0);
    c.ZeroBW = read("ZeroBW", c.ZeroBW);
    return SnapToSliders(c);
}

// The filter options common to export and play.
struct TFilterOptions {
    QCommandLineOption FilterGain{"filter-gain", "Filter gain in dB.", "DB"};
    QCommandLineOption PoleF0{"pole-f0", "Pole centre frequency in Hz.", "HZ"};
    QCommandLineOption PoleQ{"pole-q", "Pole Q (centre frequency / bandwidth).", "Q"};
    QCommandLineOption ZeroF0{"zero-f0", "Zero centre frequency in Hz.", "HZ"};
    QCommandLineOption ZeroQ{"zero-q", "Zero Q (centre frequency / bandwidth).", "Q"};

    void AddTo(QCommandLineParser& parser) const
    {
        parser.addOptions({FilterGain, PoleF0, PoleQ, ZeroF0, ZeroQ});
    }
};

class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The option's value as a finite number (any number when positive is false, else > 0).
std::optional<double> NumberOption(const QCommandLineParser& parser,
                                   const QCommandLineOption& option, bool positive)
{
    if (!parser.isSet(option))
        return std::nullopt;
    const QString text = parser.value(option);
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || (positive && !(v > 0.0)))
        throw EUsage(
            QString("--%1: '%2' is not %3")
                .arg(option.names().constFirst(), text, positive ? "a positive number" : "a number")
                .toStdString());
    return v;
}

// The stored controls with the command line's filter options applied.
TControls ControlsFromOptions(const QCommandLineParser& parser, const TFilterOptions& o)
{
    TControls c = StoredControls();
    if (auto db = NumberOption(parser, o.FilterGain, false))
        c.FilterGain = std::pow(10.0, *db / 20.0);
    const double poleQ = NumberOption(parser, o.PoleQ, true).value_or(c.PoleF0 / c.PoleBW);
    c.PoleF0 = NumberOption(parser, o.PoleF0, true).value_or(c.PoleF0);
    c.PoleBW = c.PoleF0 / poleQ;
    const double zeroQ = NumberOption(parser, o.ZeroQ, true).value_or(c.ZeroF0 / c.ZeroBW);
    c.ZeroF0 = NumberOption(parser, o.ZeroF0, true).value_or(c.ZeroF0);
    c.ZeroBW = c.ZeroF0 / zeroQ;
    return c;
}

// Sets a section's gain and design through its setters, in the window's order.
void ApplyTo(TFilterSection& s, const TControls& c)
{
    s.SetGain(c.FilterGain);
    s.SetPoleF0(c.PoleF0);
    s.SetPoleBW(c.PoleBW);
    s.SetZeroF0(c.ZeroF0);
    s.SetZeroBW(c.ZeroBW);
}

// FilterSection1 as the main window creates it.
TFilterSection FormFilterSection1()
{
    TFilterSection s;
    s.SetFilterType(tfiltertype::ftboth);
    s.SetUseF0BW(true);
    s.SetSampFreq(44100.0);
    s.SetPoleBW(50.0);
    s.SetPoleF0(50.0);
    s.SetZeroBW(100.0);
    s.SetZeroF0(100.0);
    return s;
}

// The format of a regular file whose header counts its frames; none for anything else (a pipe,
// a header without a count), which is then read whole.
std::optional<TWavScanFormat> CountedFormat(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const TWavScanFormat format = ProbeFormat(path);
    if (format.Frames <= 0 || format.SampleRate <= 0)
        return std::nullopt;
    return format;
}

int UsageError(const QCommandLineParser& parser, const std::exception& e)
{
    PrintError(QString::fromStdString(e.what()));
    std::fputs(parser.helpText().toLocal8Bit().constData(), stderr);
    return ExitUsage;
}

// Nanoseconds on the monotonic clock, which the timing lines of `play --timing` are in.
long long MonotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Plays path as the window does until the limit or Ctrl+C; the exit code.
// output: an output's name or description as `kavrel devices` lists them; empty: the default.
// span: the region to loop (the whole sound when none); fromSeconds: where to start (the
// region's start when none).
int PlayFile(const std::string& path, const TControls& controls, bool useFilter,
             std::optional<double> fromSeconds, const std::optional<TSecondsSpan>& span,
             std::optional<double> playSeconds, const QString& timingPath,
             const std::string& output)
{
    TQtEventPoster poster;
    TSoundDocument doc(std::make_unique<TPulseWaveOutDevice>(), poster);
    doc.LoadSoundFile(path);
    const TWav& sound = doc.SourceWav();
    PrintWarning(path, sound.ReadWarning());
    if (sound.Channels() <= 0 || sound.Length() <= 0 || sound.SampleRate() <= 0) {
        PrintError(TextFromNative(path + ": holds no sound to play"));
        return ExitFailure;
    }
    doc.SetRawGain(controls.RawGain);
    doc.SetUseFilter(useFilter);
    ApplyTo(doc.FilterSection1(), controls);
    ApplyTo(doc.FilterSection2(), controls);
    TFrameSpan loop{0, sound.Length()};
    if (span) {
        try {
            loop = SpanFrames(*span, sound.SampleRate(), sound.Length());
        } catch (const ESpanError& e) {
            PrintError(QString::fromStdString(e.what()));
            return ExitUsage;
        }
        doc.SetLoop(loop);
    }
    doc.SetPlayPos(static_cast<std::int32_t>(loop.First));
    if (fromSeconds)
        doc.SetPlayPosSeconds(*fromSeconds);

    const double rate = sound.SampleRate();
    // Once through the loop by default, from where it starts.
    const std::int64_t startFrame = doc.NextBlockPos();
    const double limitFrames = playSeconds ? std::nearbyint(*playSeconds * rate)
                                           : static_cast<double>(loop.End - startFrame);
    // At least one frame, at most what a 64-bit count holds.
    const auto limit = static_cast<std::int64_t>(std::clamp(limitFrames, 1.0, 9.0e18));

    int exitCode = ExitOk;
    std::int64_t fed = 0;
    double blockTime = 0.0;
    bool red = false;
    // The document fills each block; the limit ends the last one early and lets the player
    // close after it has been heard.
    // --timing: when each block is filled and with which frame it starts, and the frame heard
    // every few milliseconds, so that a recording of the output can be held against them.
    std::FILE* timing = nullptr;
    if (!timingPath.isEmpty()) {
        timing = std::fopen(QFile::encodeName(timingPath).constData(), "w");
        if (timing == nullptr)
            throw std::runtime_error(timingPath.toStdString() +
                                     ": cannot write: " + std::strerror(errno));
    }
    const struct TCloseTiming {
        std::FILE*& file;
        ~TCloseTiming()
        {
            if (file != nullptr)
                std::fclose(file);
        }
    } closeTiming{timing};
    QTimer heardTimer;
    heardTimer.setInterval(5);
    std::int64_t underruns = 0;
    QObject::connect(&heardTimer, &QTimer::timeout, [&] {
        if (doc.Playing())
            std::fprintf(timing, "heard %lld %d\n", MonotonicNs(), doc.HeardPos());
        if (const std::int64_t now = doc.MPCPlay1().Underruns(); now != underruns) {
            underruns = now;
            std::fprintf(timing, "underruns %lld %lld\n", MonotonicNs(),
                         static_cast<long long>(now));
        }
    });
    const auto noteRing = [&](const TMPCPlay& player) {
        if (timing != nullptr)
            std::fprintf(timing, "ring %lld %lld\n", MonotonicNs(),
                         static_cast<long long>(player.RingBuffers()) *
                             (player.nChunkSamples() / player.nChans()));
    };
    doc.MPCPlay1().OnRingGrown = noteRing;
    doc.MPCPlay1().OnStash = [&](TMPCPlay& sender, std::span<std::int16_t> buffer, int& count,
                                 bool& finished) {
        blockTime = doc.PlayPos() / rate;
        if (timing != nullptr) {
            // The frame the block starts at: PlayPos, taken into the loop as the feed does.
            std::fprintf(timing, "fill %lld %d %d\n", MonotonicNs(), doc.NextBlockPos(),
                         count / sender.nChans());
        }
        doc.MPCPlay1Stash(sender, buffer, count, finished);
        const int chans = sender.nChans();
        if (fed + count / chans >= limit) {
            count = static_cast<int>((limit - fed) * chans);
            finished = true;
        }
        fed += count / chans;
    };
    doc.OnOverload = [&](TSoundDocument&, bool overloaded) {
        if (overloaded && !red)
            std::fprintf(stderr,
                         "kavrel: overload at %.2f s: the red lamp is on; reduce the raw "
                         "and/or filtered gain\n",
                         blockTime);
        red = overloaded;
    };
    doc.OnPlayStopped = [](TSoundDocument&) { QCoreApplication::quit(); };
    poster.OnException = [&](TQtEventPoster&, const std::exception& e) {
        PrintError(QString::fromLocal8Bit(e.what()));
        exitCode = ExitFailure;
        QCoreApplication::quit();
    };

    TStopSignal stopSignal;
    bool stopping = false;
    QObject::connect(&stopSignal.Notifier(), &QSocketNotifier::activated, [&] {
        stopSignal.Drain();
        if (stopping)
            return;
        stopping = true;
        doc.StopPlay();
        // The device's close notice ends the loop; should it never come, this does.
        QTimer::singleShot(2000, [] { QCoreApplication::quit(); });
    });

    std::string outputKey = output;
    for (const TMPCPlay::TOutput& o : doc.MPCPlay1().Outputs())
        if (o.Description == output && o.Key != output)
            outputKey = o.Key;
    doc.MPCPlay1().SetOutputKey(outputKey);
    try {
        doc.StartPlay();
    } catch (const EMPCPlayError& e) {
        // The output could not be opened ("WaveOutOpen: …"): say which file was to be played.
        const std::string what = e.what();
        PrintError(TextFromNative(what.starts_with(path + ": ") ? what : path + ": " + what));
        return ExitFailure;
    }
    if (doc.MPCPlay1().OutputMissing())
        PrintError(QString::fromStdString("output device '" + output +
                                          "' not found; playing on the default output"));
    if (timing != nullptr) {
        noteRing(doc.MPCPlay1());
        heardTimer.start();
    }
    QCoreApplication::exec();
    if (timing != nullptr)
        std::fprintf(stderr, "kavrel: ring in use: %.0f ms (%d blocks), underruns: %lld\n",
                     doc.MPCPlay1().RingSeconds() * 1000.0, doc.MPCPlay1().RingBuffers(),
                     static_cast<long long>(doc.MPCPlay1().Underruns()));
    if (doc.Playing())
        doc.StopPlay();
    if (!doc.MPCPlay1().LastDeviceError().empty()) {
        PrintError(
            TextFromNative(path + ": playback stopped: " + doc.MPCPlay1().LastDeviceError()));
        return ExitFailure;
    }
    return exitCode;
}

} // namespace

int RunAnalyze(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Print the levels of every channel of a sound file.");
    parser.addPositionalArgument("FILE", "The sound file (wave, FLAC, Ogg, Opus, MP3, AIFF …).");
    if (auto code = ParseCommand(parser, args, 1, 1))
        return *code;
    // Only the levels and the loudness are needed, so the samples are not kept.
    const std::string file = NativeName(parser.positionalArguments().constFirst());
    std::string warning;
    const std::string text = FileAnalysisText(file, &warning);
    std::fputs(text.c_str(), stdout);
    PrintWarning(file, warning);
    return ExitOk;
}

int RunExport(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Write IN through the Vesk filter, normalised to full scale, to OUT. Values not given "
        "come from the stored settings.");
    parser.addPositionalArgument("IN", "The sound file to read.");
    parser.addPositionalArgument("OUT", "The 16-bit file to write: FLAC when it ends in \".flac\", "
                                        "a wave file otherwise.");
    const TFilterOptions options;
    options.AddTo(parser);
    const TSpanOptions spanOptions;
    spanOptions.AddTo(parser);
    if (auto code = ParseCommand(parser, args, 2, 2))
        return *code;
    TControls controls;
    std::optional<TSecondsSpan> seconds;
    try {
        controls = ControlsFromOptions(parser, options);
        seconds = SpanFromOptions(parser, spanOptions);
    } catch (const std::runtime_error& e) {
        return UsageError(parser, e);
    }
    const QStringList files = parser.positionalArguments();
    const std::string out = OutputFileName(files.at(1));
    const std::string in = NativeName(files.at(0));
    TFilterSection filter = FormFilterSection1();
    ApplyTo(filter, controls);
    TDitherRandom dither;
    std::string warning;
    try {
        if (!seconds) {
            // The same bits as loading the file and exporting it, with the filter following the
            // read.
            ExportFilteredFile(in, filter, out, dither, {}, &warning);
        } else if (const std::optional<TWavScanFormat> format = CountedFormat(in)) {
            // The region's frames from the file's header: read as the whole file is.
            ExportFilteredFile(in, filter, out, dither, {}, &warning,
                               SpanFrames(*seconds, format->SampleRate, format->Frames));
        } else {
            TWav source;
            source.ReadFile(in);
            warning = source.ReadWarning();
            TWav scratch;
            ExportFiltered(source, filter, scratch, out, dither, {},
                           SpanFrames(*seconds, source.SampleRate(), source.Length()));
        }
    } catch (const ESpanError& e) {
        PrintError(QString::fromStdString(e.what()));
        return ExitUsage;
    }
    PrintWarning(in, warning);
    return ExitOk;
}

int RunPlay(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Play a sound file through the sound output, looping at its end, as the window plays it; "
        "with --start or --end, looping that region as the window loops a region. Ctrl+C stops "
        "it. Values not given come from the stored settings.");
    parser.addPositionalArgument("FILE", "The sound file.");
    const QCommandLineOption seconds("seconds", "Play for S seconds (default: once through).", "S");
    const QCommandLineOption from("from",
                                  "Start at S seconds into the file (default: at the "
                                  "start of the region, or of the file).",
                                  "S");
    const QCommandLineOption useFilter("use-filter", "Hear the filtered sound.");
    const QCommandLineOption rawGain("raw-gain", "Gain of the unfiltered sound in dB.", "DB");
    const QCommandLineOption device("device",
                                    "Play on the output NAME (a name or description as 'kavrel "
                                    "devices' lists them); the default output if it is not there.",
                                    "NAME");
    const QCommandLineOption timing(
        "timing",
        "Write to FILE, for measuring: 'fill NS FRAME FRAMES' as each block is filled "
        "(monotonic clock in ns, the frame it starts at), 'heard NS FRAME' every 5 ms, "
        "'ring NS FRAMES' for the ring in use and 'underruns NS COUNT' as they change; at the "
        "end the ring and the underruns are printed.",
        "FILE");
    parser.addOptions({seconds, from, useFilter, rawGain, device, timing});
    const TFilterOptions options;
    options.AddTo(parser);
    const TSpanOptions spanOptions;
    spanOptions.AddTo(parser);
    if (auto code = ParseCommand(parser, args, 1, 1))
        return *code;
    TControls controls;
    std::optional<double> playSeconds;
    std::optional<double> fromSeconds;
    std::optional<TSecondsSpan> span;
    try {
        controls = ControlsFromOptions(parser, options);
        if (auto db = NumberOption(parser, rawGain, false))
            controls.RawGain = std::pow(10.0, *db / 20.0);
        playSeconds = NumberOption(parser, seconds, true);
        fromSeconds = NumberOption(parser, from, false);
        if (fromSeconds && *fromSeconds < 0.0)
            throw EUsage("--from: must not be negative");
        span = SpanFromOptions(parser, spanOptions);
    } catch (const std::runtime_error& e) {
        return UsageError(parser, e);
    }
    const std::string path = NativeName(parser.positionalArguments().constFirst());
    int code = ExitFailure;
    try {
        code = PlayFile(path, controls, parser.isSet(useFilter), fromSeconds, span, playSeconds,
                        parser.value(timing), parser.value(device).toStdString());
    } catch (const std::bad_alloc&) {
        PrintError(TextFromNative(path + ": not enough memory"));
    } catch (const std::exception& e) {
        PrintError(TextFromNative(e.what()));
    }
    return code;
}

} // namespace kavrel::cli
